#include "interchange.h"

#include "atomicfile.h"
#include "csvfile.h"
#include "equationfile.h"
#include "matrixmarket.h"
#include "store/equationstore.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <limits>

#include <unistd.h>

using namespace TextPieces;

namespace {

Interchange::Outcome failure(const QString &text)
{
    Interchange::Outcome out;
    out.failed = true;
    out.error = text;
    return out;
}

QString in(const QString &path, const QString &text)
{
    return path + QStringLiteral(": ") + text;
}

QString atLine(const QString &path, long long line, const QString &text)
{
    return in(path, QStringLiteral("line %1: ").arg(line) + text);
}

long long physicalMemory()
{
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0)
        return mulSat(pages, page);
#endif
    return std::numeric_limits<long long>::max();
}

// line: where the size came from.
bool allocate(const QString &path, long long line, EquationStore &store, long long n, Interchange::Outcome *out)
{
    const QString refusal = Interchange::memoryRefusal(n);
    if (!refusal.isEmpty()) {
        *out = failure(atLine(path, line, refusal));
        return false;
    }
    store.N = int(n);
    if (!store.reallocate()) {
        *out = failure(QStringLiteral("not enough memory for %1 equations").arg(n));
        return false;
    }
    return true;
}

void zeroRows(const EquationStore &store)
{
    for (int i = 0; i < store.N; ++i)
        std::fill(store.coef[i], store.coef[i] + store.N, 0.0);
}

Interchange::Outcome openMatrixMarket(const QString &path, const QString &rhsPath, EquationStore &store,
                                      int threads)
{
    QString error;
    TextFile file;
    MatrixMarket::Header h;
    if (!file.open(path, &error))
        return failure(error);
    if (!MatrixMarket::readHeader(file.begin(), file.end(), &h, &error))
        return failure(in(path, error));
    const long long n = h.rows;
    const long long sizeLine = h.bodyLine - 1;
    const bool augmented = h.cols == n + 1;
    if (!augmented && h.cols != n)
        return failure(atLine(path, sizeLine, QStringLiteral("a %1 x %2 matrix is not a system: N x N with a right-hand-side "
                                               "file, or N x (N+1) with the right-hand side as its last column")
                                    .arg(h.rows).arg(h.cols)));
    if (augmented && !rhsPath.isEmpty())
        return failure(atLine(path, sizeLine, QStringLiteral("the %1 x %2 matrix holds the right-hand side already; "
                                               "no right-hand-side file is read")
                                    .arg(h.rows).arg(h.cols)));
    if (!augmented && rhsPath.isEmpty())
        return failure(atLine(path, sizeLine, QStringLiteral("a %1 x %1 matrix needs its right-hand side from a second file")
                                    .arg(n)));
    if (n < 2)
        return failure(atLine(path, sizeLine, QStringLiteral("a system needs at least 2 equations, not %1").arg(n)));
    TextFile rhsFile;
    MatrixMarket::Header r;
    if (!augmented) {
        if (!rhsFile.open(rhsPath, &error))
            return failure(error);
        if (!MatrixMarket::readHeader(rhsFile.begin(), rhsFile.end(), &r, &error))
            return failure(in(rhsPath, error));
        if (r.rows != n || r.cols != 1)
            return failure(atLine(rhsPath, r.bodyLine - 1, QStringLiteral("a %1 x %2 matrix is not the right-hand side of %3 "
                                                      "equations (%3 x 1)")
                                           .arg(r.rows).arg(r.cols).arg(n)));
    }
    Interchange::Outcome out;
    if (!allocate(path, sizeLine, store, n, &out))
        return out;
    if (h.layout == MatrixMarket::Layout::Coordinate) {
        zeroRows(store);
        if (augmented)
            std::fill(store.rhs, store.rhs + n, 0.0);
    }
    DenseColumns matrix{store.coef, n, augmented ? store.rhs : nullptr};
    if (!MatrixMarket::readBody(h, file.end(), matrix, threads, &error))
        return failure(in(path, error));
    if (!augmented) {
        if (r.layout == MatrixMarket::Layout::Coordinate)
            std::fill(store.rhs, store.rhs + n, 0.0);
        if (!MatrixMarket::readBody(r, rhsFile.end(), DenseColumns{nullptr, 0, store.rhs}, threads, &error))
            return failure(in(rhsPath, error));
    }
    return out;
}

Interchange::Outcome openCsv(const QString &path, EquationStore &store, int threads)
{
    QString error;
    TextFile file;
    CsvFile::Shape shape;
    if (!file.open(path, &error))
        return failure(error);
    if (!CsvFile::readShape(file.begin(), file.end(), &shape, &error))
        return failure(in(path, error));
    const long long n = shape.cols - 1;
    Interchange::Outcome out;
    if (!allocate(path, shape.bodyLine, store, n, &out))
        return out;
    if (!CsvFile::readBody(shape, file.end(), n, DenseColumns{store.coef, n, store.rhs}, threads, &error))
        return failure(in(path, error));
    return out;
}

// One file replaced atomically with what write puts on the open device.
Interchange::Outcome writeFile(const QString &path, const std::function<bool(QIODevice *)> &write)
{
    const AtomicFile::Result r = AtomicFile::replace(path, [&](const QString &temp, QString *error) {
        QFile file(temp);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
            return false;
        }
        const bool ok = write(&file) && file.flush() && file.error() == QFileDevice::NoError;
        if (!ok)
            *error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return ok;
    });
    Interchange::Outcome out;
    out.failed = !r.ok;
    out.error = r.error;
    return out;
}

} // namespace

namespace Interchange {

Kind kindOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mtx"))
        return Kind::MatrixMarket;
    if (suffix == QLatin1String("csv"))
        return Kind::Csv;
    return EquationFile::isBinaryName(path) ? Kind::Binary : Kind::Text;
}

QString memoryRefusal(long long n)
{
    if (n > std::numeric_limits<int>::max())
        return QStringLiteral("%1 equations are more than the program can hold").arg(n);
    // The rows, the right-hand side, three solutions and the row pointers.
    const long long bytes = addSat(mulSat(mulSat(n, n), 8), mulSat(n, 5 * 8));
    const long long memory = physicalMemory();
    if (bytes > memory)
        return QStringLiteral("a system of %1 equations needs %2 MB of memory; this computer has %3 MB")
            .arg(n).arg(bytes / (1024 * 1024) + 1).arg(memory / (1024 * 1024));
    return QString();
}

bool needsRightHandSide(const QString &path)
{
    if (kindOf(path) != Kind::MatrixMarket)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The banner and comments come first; the size line is the first other
    // line that is not blank.
    for (int lines = 0; lines < 100000 && !f.atEnd(); ++lines) {
        const QByteArray line = f.readLine(1 << 16).trimmed();
        if (line.isEmpty() || line.startsWith('%'))
            continue;
        const QList<QByteArray> sizes = line.simplified().split(' ');
        return sizes.size() >= 2 && sizes.at(0) == sizes.at(1);
    }
    return false;
}

Outcome open(const QString &path, const QString &rhsPath, EquationStore &store, int threads)
{
    switch (kindOf(path)) {
    case Kind::MatrixMarket:
        return openMatrixMarket(path, rhsPath, store, threads);
    case Kind::Csv:
        if (!rhsPath.isEmpty())
            return failure(in(path, QStringLiteral("a CSV file holds the whole system; no right-hand-side file is read")));
        return openCsv(path, store, threads);
    default:
        return failure(in(path, QStringLiteral("not a Matrix Market (.mtx) or CSV (.csv) file")));
    }
}

Outcome save(const QString &path, const QString &rhsPath, const EquationStore &store, int threads,
             bool coordinate)
{
    const long long n = store.N;
    switch (kindOf(path)) {
    case Kind::MatrixMarket:
        if (rhsPath.isEmpty())
            return writeFile(path, [&](QIODevice *d) {
                return MatrixMarket::write(d, DenseColumns{store.coef, n, store.rhs}, n, n + 1, coordinate, threads);
            });
        if (kindOf(rhsPath) != Kind::MatrixMarket)
            return failure(in(rhsPath, QStringLiteral("the right-hand side of a .mtx matrix goes to a .mtx file")));
        {
            const Outcome matrix = writeFile(path, [&](QIODevice *d) {
                return MatrixMarket::write(d, DenseColumns{store.coef, n, nullptr}, n, n, coordinate, threads);
            });
            if (matrix.failed)
                return matrix;
        }
        return writeFile(rhsPath, [&](QIODevice *d) {
            return MatrixMarket::write(d, DenseColumns{nullptr, 0, store.rhs}, n, 1, coordinate, threads);
        });
    case Kind::Csv:
        if (!rhsPath.isEmpty())
            return failure(in(path, QStringLiteral("a CSV file holds the whole system; no right-hand-side file is written")));
        return writeFile(path, [&](QIODevice *d) {
            return CsvFile::write(d, DenseColumns{store.coef, n, store.rhs}, n, n + 1, threads);
        });
    default:
        return failure(in(path, QStringLiteral("not a Matrix Market (.mtx) or CSV (.csv) file")));
    }
}

Outcome saveColumn(const QString &path, const double *values, int n, int threads)
{
    const DenseColumns column{nullptr, 0, const_cast<double *>(values)};
    switch (kindOf(path)) {
    case Kind::MatrixMarket:
        return writeFile(path, [&](QIODevice *d) { return MatrixMarket::write(d, column, n, 1, false, threads); });
    case Kind::Csv:
        return writeFile(path, [&](QIODevice *d) { return CsvFile::write(d, column, n, 1, threads); });
    default:
        return failure(in(path, QStringLiteral("not a Matrix Market (.mtx) or CSV (.csv) file")));
    }
}

} // namespace Interchange
