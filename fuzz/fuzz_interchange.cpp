// libFuzzer harness: any bytes as a ".mtx" or ".csv" system (the first byte
// picks which), read with one or two threads; a system that opens must come
// back bit for bit from the same format.
#include "files/interchange.h"
#include "fuzzcommon.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzCommon::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const bool csv = size > 0 && (data[0] & 1);
    static const QString mtx = FuzzCommon::inputPath(".mtx"), csvPath = FuzzCommon::inputPath(".csv");
    static const QString again = FuzzCommon::inputPath("-again.mtx"), againCsv = FuzzCommon::inputPath("-again.csv");
    const QString &path = csv ? csvPath : mtx;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    const int threads = 1 + int(size % 2);
    EquationStore first;
    if (Interchange::open(path, QString(), first, threads).failed)
        return 0;
    const QString &back = csv ? againCsv : again;
    EquationStore second;
    if (Interchange::save(back, QString(), first, threads).failed
        || Interchange::open(back, QString(), second, threads).failed || second.N != first.N)
        std::abort();
    for (int i = 0; i < first.N; ++i) {
        for (int j = 0; j < first.N; ++j)
            if (!FuzzCommon::same(first.coef[i][j], second.coef[i][j]))
                std::abort();
        if (!FuzzCommon::same(first.rhs[i], second.rhs[i]))
            std::abort();
    }
    return 0;
}
