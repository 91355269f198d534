#ifndef FUZZCOMMON_H
#define FUZZCOMMON_H

// Shared set-up of the reader harnesses: an application object, no log
// output, and the input opened from memory the way the program opens a file
// (header and size check, then the readers), with and without worker
// threads.
#include "files/equationfile.h"
#include "store/equationstore.h"

#include "threads/mythreads.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace FuzzCommon {

inline void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void initialise()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    qInstallMessageHandler(quiet);
    static QCoreApplication app(argc, argv);
}

inline QString inputPath(const char *suffix)
{
    const QString dir = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                   : QDir::tempPath();
    return dir + QStringLiteral("/tarvix-fuzz-%1%2").arg(QCoreApplication::applicationPid())
        .arg(QString::fromLatin1(suffix));
}

// Opens the bytes as the file named by kindPath (".trx" or ".btrx"). Every
// third input runs as if the system refused all worker threads.
inline EquationFile::Outcome openFromMemory(const QString &kindPath, const uint8_t *data, size_t size,
                                            EquationStore &store, EquationFile::Options opt)
{
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (!buffer.open(QIODevice::ReadOnly))
        std::abort();
    opt.device = &buffer;
    MyThreads::failNextStarts(size % 3 == 0 ? 1000 : 0);
    const EquationFile::Outcome out = EquationFile::open(kindPath, store, opt);
    MyThreads::failNextStarts(0);
    return out;
}

inline bool same(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// A store read successfully is saved and read again; what comes back must
// be what was saved (text: once through "%.15g" the values are stable).
inline void checkRoundTrip(EquationStore &first, const QString &path, int processors, bool twice)
{
    EquationFile::Options opt;
    opt.processors = processors;
    if (EquationFile::save(path, first, first.fileSol, opt).failed)
        std::abort();
    EquationStore second;
    if (EquationFile::open(path, second, opt).failed || second.N != first.N)
        std::abort();
    EquationStore *a = &second;
    EquationStore third;
    if (twice) {
        if (EquationFile::save(path, second, second.fileSol, opt).failed)
            std::abort();
        if (EquationFile::open(path, third, opt).failed || third.N != second.N)
            std::abort();
    }
    EquationStore &b = twice ? third : second;
    if (!twice)
        a = &first;
    for (int i = 0; i < b.N; ++i) {
        for (int j = 0; j < b.N; ++j)
            if (!same(a->coef[i][j], b.coef[i][j]))
                std::abort();
        if (!same(a->rhs[i], b.rhs[i]) || !same(a->fileSol[i], b.fileSol[i]))
            std::abort();
    }
}

} // namespace FuzzCommon

#endif
