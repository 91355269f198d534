// tarvix-mpi: one system of equations spread over the processes of an MPI
// job and solved with ScaLAPACK.
//
// Every process holds only its own blocks of the block-cyclic distribution
// (column-major, as ScaLAPACK wants them) and reads and writes them straight
// from and to the binary file with collective MPI-IO. Every decision that
// ends the run is taken by all processes together, so that they all end with
// the same exit code; only rank 0 prints.
#include "scalapack.h"
#include "solver/trust.h"
#include "store/equationstore.h"

#include <mpi.h>

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include <unistd.h>

namespace {

enum ExitCode { Success = 0, Invalid = 1, BadFile = 2, Incorrect = 3, Usage = 64 };

// Largest N: 8 N (N + 1) bytes stay far inside a 64-bit offset.
constexpr long long kMaxN = 100000000;
// Default block size of the distribution (measured best for pdgesv here).
constexpr int kDefaultBlock = 64;
// The most a process holds of a file band while reading or writing it.
constexpr long long kBandBytes = 32LL << 20;

const char *const kHelp =
    "Usage: mpirun -n P tarvix-mpi COMMAND ARGUMENTS [OPTIONS]\n"
    "\n"
    "Solve and generate systems of linear equations in binary Tarvix files\n"
    "(.btrx) with all the processes of an MPI job: each holds only its own\n"
    "blocks of the matrix.\n"
    "\n"
    "Commands:\n"
    "  solve FILE [--output OUT] [--report] [--grid RxC] [--block NB]\n"
    "                             Solve the system in FILE with ScaLAPACK (LU with\n"
    "                             partial pivoting), refine the answer and check it\n"
    "                             like tarvix-cli. Prints the solution, one value\n"
    "                             per line, with the shortest text that reads back\n"
    "                             to the same number, or writes OUT: the system\n"
    "                             with the solution in its \"Solution\" section.\n"
    "                             --report: print to standard error the method,\n"
    "                             backward error, HPL ratio (passes below 16), the\n"
    "                             condition estimate (rcond) and refinement steps.\n"
    "                             --grid RxC: the process grid (R*C = P; default\n"
    "                             the squarest with R <= C). --block NB: the block\n"
    "                             size of the distribution (default 64).\n"
    "  generate N OUT [--seed S]  Write the random system of N equations that\n"
    "                             tarvix-cli generate writes, byte for byte.\n"
    "  help, --help, -h           Show this text.\n"
    "\n"
    "Exit status: 0 success; 1 the system is not valid; 2 a file could not be\n"
    "read or written, or is corrupt, or memory ran out; 3 no trustworthy\n"
    "solution (the reason goes to standard error); 64 wrong usage. Every\n"
    "process ends with the same status; rank 0 prints the errors, one line\n"
    "each. An output file is replaced only by a complete new one.\n";

int g_rank = 0;
int g_size = 1;
bool g_blacs = false; // a process grid was opened

void errorLine(const QString &text)
{
    if (g_rank != 0)
        return;
    std::fprintf(stderr, "tarvix-mpi: %s\n", text.simplified().toLocal8Bit().constData());
    std::fflush(stderr);
}

int usage(const QString &text)
{
    errorLine(text);
    if (g_rank == 0)
        std::fprintf(stderr, "Try 'tarvix-mpi --help'.\n");
    return Usage;
}

// Whatever ends one process unexpectedly ends the whole job.
[[noreturn]] void terminateHandler()
{
    static const char text[] = "tarvix-mpi: out of memory or internal error; ending every process\n";
    const ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
    Q_UNUSED(written)
    MPI_Abort(MPI_COMM_WORLD, BadFile);
    std::_Exit(BadFile);
}

bool anyRank(bool mine)
{
    int in = mine ? 1 : 0, out = 0;
    MPI_Allreduce(&in, &out, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    return out != 0;
}

int agreedCode(int code)
{
    MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return code;
}

QString mpiError(int code)
{
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    MPI_Error_string(code, text, &length);
    return QString::fromLocal8Bit(text, length);
}

QString shortest(double v)
{
    char num[32];
    return QString::fromLatin1(num, int(std::to_chars(num, num + sizeof num, v).ptr - num));
}

// The benchmark generator of tarvix-cli: the classic linear congruential
// one, each number from one step. jump() goes ahead any number of steps in
// O(log steps), so every process starts at its own first number.
class RandomCoefficients
{
public:
    explicit RandomCoefficients(quint32 seed) : m_state(seed) {}
    void jump(unsigned long long steps)
    {
        quint32 mul = 214013u, add = 2531011u; // the step map, squared as we go
        quint32 accMul = 1u, accAdd = 0u;
        for (; steps; steps >>= 1) {
            if (steps & 1u) {
                accMul = accMul * mul;
                accAdd = accAdd * mul + add;
            }
            add = add * mul + add;
            mul = mul * mul;
        }
        m_state = m_state * accMul + accAdd;
    }
    double next()
    {
        m_state = m_state * 214013u + 2531011u;
        double x = int((m_state >> 16) & 0x7fffu) * 1e8 / 32767.0;
        if (x < 5e7)
            x = -(x * (2.0 - x / 1e8));
        if (EquationStore::isZero(x))
            x = 123456.0;
        return x;
    }

private:
    quint32 m_state;
};

QByteArray encodeString(const QString &text)
{
    QByteArray bytes(4 + 2 * text.size(), Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(2 * text.size()), bytes.data());
    qToBigEndian<quint16>(text.utf16(), text.size(), bytes.data() + 4);
    return bytes;
}

QByteArray fileHeader(long long n)
{
    return encodeString(QStringLiteral("Tarvix " TARVIX_VERSION)) + encodeString(QString::number(n))
           + encodeString(QStringLiteral("8"));
}

// Where the parts of a binary equation file lie.
struct Layout
{
    long long n = 0;
    MPI_Offset rows = 0;     // the first row's first number
    MPI_Offset solution = 0; // the first number of the solution section
};

// Reads the string field at *pos (rank 0 alone): 0 read, 1 the file ends
// first, 2 not a string.
int readStringAt(MPI_File fh, MPI_Offset size, MPI_Offset *pos, QString *text)
{
    *text = QString();
    unsigned char count[4];
    if (*pos + 4 > size
        || MPI_File_read_at(fh, *pos, count, 4, MPI_BYTE, MPI_STATUS_IGNORE) != MPI_SUCCESS)
        return 1;
    *pos += 4;
    const quint32 bytes = qFromBigEndian<quint32>(count);
    if (bytes == 0xFFFFFFFFu)
        return 0;
    if ((bytes & 1u) || bytes > (1u << 20))
        return 2;
    if (*pos + MPI_Offset(bytes) > size)
        return 1;
    QByteArray b(int(bytes), Qt::Uninitialized);
    if (MPI_File_read_at(fh, *pos, b.data(), int(bytes), MPI_BYTE, MPI_STATUS_IGNORE) != MPI_SUCCESS)
        return 1;
    *pos += bytes;
    *text = QString(int(bytes / 2), Qt::Uninitialized);
    qFromBigEndian<quint16>(b.constData(), bytes / 2, text->data());
    return 0;
}

// Checks the file's header and size on rank 0; the outcome goes to all.
int readLayout(MPI_File fh, const QString &path, Layout *layout)
{
    int code = Success;
    long long values[3] = {0, 0, 0};
    if (g_rank == 0) {
        MPI_Offset size = 0;
        MPI_File_get_size(fh, &size);
        MPI_Offset pos = 0;
        QString header, nText, bytes;
        int status = readStringAt(fh, size, &pos, &header);
        if (status == 0)
            status = readStringAt(fh, size, &pos, &nText);
        if (status == 0)
            status = readStringAt(fh, size, &pos, &bytes);
        bool nOk = false;
        const long long n = nText.simplified().toLongLong(&nOk, 10);
        QString why;
        if (!header.simplified().contains(QLatin1String("Tarvix")))
            why = QStringLiteral("no Tarvix header");
        else if (!nOk || n < 2)
            why = QStringLiteral("the number of variables is missing or below 2");
        else if (n > kMaxN)
            why = QStringLiteral("%1 variables are more than tarvix-mpi handles").arg(n);
        else if (status != 0)
            why = QStringLiteral("the file is too small for %1 variables").arg(n);
        else if (bytes.simplified() != QLatin1String("8"))
            why = QStringLiteral("the numbers are not 8 bytes long");
        if (why.isEmpty()) {
            layout->rows = pos;
            pos += MPI_Offset(8) * n * (n + 1);
            QString marker;
            status = readStringAt(fh, size, &pos, &marker);
            if (status == 1)
                why = QStringLiteral("the file is too small for %1 variables").arg(n);
            else if (status != 0 || marker.simplified() != QLatin1String("Solution"))
                why = QStringLiteral("the solution marker is missing");
            else if (pos + 8 * n > size)
                why = QStringLiteral("the file ends too early");
            values[0] = n;
            values[1] = layout->rows;
            values[2] = pos;
        }
        if (!why.isEmpty()) {
            errorLine(QStringLiteral("%1 is corrupt: %2").arg(path, why));
            code = BadFile;
        }
    }
    MPI_Bcast(values, 3, MPI_LONG_LONG, 0, MPI_COMM_WORLD);
    layout->n = values[0];
    layout->rows = values[1];
    layout->solution = values[2];
    return agreedCode(code);
}

// The process grid and this process's share of an n x n matrix on it.
struct Grid
{
    int context = -1;
    int rows = 1, columns = 1, myRow = 0, myColumn = 0;
    int n = 0, nb = kDefaultBlock;
    int localRows = 0, localColumns = 0;
    int localColumnsRhs = 0;  // of the n x (n + 1) rows of the file
    int rhsColumn = 0;        // the process column holding the right-hand side
    int lld = 1;
    int descA[9] = {}, descV[9] = {};
    MPI_Comm rowComm = MPI_COMM_NULL, columnComm = MPI_COMM_NULL;

    bool holdsVector() const { return myColumn == rhsColumn; }
    long long globalRow(int local) const
    {
        return (long long)(local / nb) * rows * nb + (long long)myRow * nb + local % nb;
    }
    long long globalColumn(int local) const
    {
        return (long long)(local / nb) * columns * nb + (long long)myColumn * nb + local % nb;
    }
    size_t localSize() const { return size_t(localRows) * size_t(localColumns); }
};

void openGrid(Grid &g, int n, int nb, int rows, int columns)
{
    g.n = n;
    g.nb = nb;
    Cblacs_get(-1, 0, &g.context);
    Cblacs_gridinit(&g.context, "Row", rows, columns);
    g_blacs = true;
    Cblacs_gridinfo(g.context, &g.rows, &g.columns, &g.myRow, &g.myColumn);
    const int zero = 0, n1 = n + 1;
    g.localRows = numroc_(&n, &nb, &g.myRow, &zero, &g.rows);
    g.localColumns = numroc_(&n, &nb, &g.myColumn, &zero, &g.columns);
    g.localColumnsRhs = numroc_(&n1, &nb, &g.myColumn, &zero, &g.columns);
    g.rhsColumn = (n / nb) % g.columns;
    g.lld = std::max(1, g.localRows);
    int info = 0, one = 1;
    descinit_(g.descA, &n, &n, &nb, &nb, &zero, &zero, &g.context, &g.lld, &info);
    descinit_(g.descV, &n, &one, &nb, &nb, &zero, &g.rhsColumn, &g.context, &g.lld, &info);
    MPI_Comm_split(MPI_COMM_WORLD, g.myRow, g.myColumn, &g.rowComm);
    MPI_Comm_split(MPI_COMM_WORLD, g.myColumn, g.myRow, &g.columnComm);
}

void closeGrid(Grid &g)
{
    if (g.rowComm != MPI_COMM_NULL)
        MPI_Comm_free(&g.rowComm);
    if (g.columnComm != MPI_COMM_NULL)
        MPI_Comm_free(&g.columnComm);
    if (g.context >= 0)
        Cblacs_gridexit(g.context);
}

// The file's rows go through in bands of whole cycles of the row
// distribution, each process holding at most kBandBytes of one.
long long bandRows(const Grid &g)
{
    const long long cycle = (long long)g.rows * g.nb;
    const long long cycles = (g.n + cycle - 1) / cycle;
    const long long widest = std::max<long long>(1, (g.n + 1 + g.nb * g.columns - 1) / (g.nb * g.columns) * g.nb);
    const long long fit = std::max<long long>(1, kBandBytes / (8LL * g.nb * widest));
    return cycle * std::max<long long>(1, std::min(std::max<long long>(1, cycles / 16), fit));
}

// Moves the n x (n + 1) rows of the file between it and the distributed
// matrix a (column-major, lld) and right-hand side b, band by band with
// collective calls. False on a read or write error on any process.
bool transferRows(MPI_File fh, const Layout &layout, Grid &g, double *a, double *b, bool write,
                  QString *error)
{
    const long long band = bandRows(g);
    const int n1 = g.n + 1;
    std::vector<double> buffer(size_t(band / g.rows) * size_t(std::max(1, g.localColumnsRhs)));
    bool ok = true;
    for (long long g0 = 0; g0 < g.n; g0 += band) {
        const int h = int(std::min<long long>(band, g.n - g0));
        const int sizes[2] = {h, n1};
        const int distribs[2] = {MPI_DISTRIBUTE_CYCLIC, MPI_DISTRIBUTE_CYCLIC};
        const int dargs[2] = {g.nb, g.nb};
        const int psizes[2] = {g.rows, g.columns};
        MPI_Datatype pieces;
        MPI_Type_create_darray(g.rows * g.columns, g.myRow * g.columns + g.myColumn, 2, sizes,
                               distribs, dargs, psizes, MPI_ORDER_C, MPI_DOUBLE, &pieces);
        MPI_Type_commit(&pieces);
        int rc = MPI_File_set_view(fh, layout.rows + MPI_Offset(8) * g0 * n1, MPI_DOUBLE, pieces,
                                   "native", MPI_INFO_NULL);
        const int zero = 0;
        const int lr = numroc_(&h, &g.nb, &g.myRow, &zero, &g.rows);
        const int lc = g.localColumnsRhs;
        const size_t base = size_t(g0 / g.rows);
        const bool rhsHere = lc > g.localColumns;
        const int count = lr * lc;
        if (write) {
            for (int c = 0; c < g.localColumns; ++c)
                for (int l = 0; l < lr; ++l)
                    buffer[size_t(l) * lc + c] = a[base + l + size_t(c) * g.lld];
            if (rhsHere)
                for (int l = 0; l < lr; ++l)
                    buffer[size_t(l) * lc + g.localColumns] = b[base + l];
            qToBigEndian<quint64>(buffer.data(), count, buffer.data());
        }
        MPI_Status status;
        if (rc == MPI_SUCCESS)
            rc = write ? MPI_File_write_all(fh, buffer.data(), count, MPI_DOUBLE, &status)
                       : MPI_File_read_all(fh, buffer.data(), count, MPI_DOUBLE, &status);
        int done = 0;
        if (rc == MPI_SUCCESS)
            MPI_Get_count(&status, MPI_DOUBLE, &done);
        MPI_Type_free(&pieces);
        if (rc != MPI_SUCCESS || done != count) {
            if (ok && error)
                *error = rc != MPI_SUCCESS ? mpiError(rc) : QStringLiteral("the file ends too early");
            ok = false;
        }
        if (!write && ok) {
            qFromBigEndian<quint64>(buffer.data(), count, buffer.data());
            for (int c = 0; c < g.localColumns; ++c)
                for (int l = 0; l < lr; ++l)
                    a[base + l + size_t(c) * g.lld] = buffer[size_t(l) * lc + c];
            if (rhsHere)
                for (int l = 0; l < lr; ++l)
                    b[base + l] = buffer[size_t(l) * lc + g.localColumns];
        }
    }
    MPI_File_set_view(fh, 0, MPI_BYTE, MPI_BYTE, "native", MPI_INFO_NULL);
    return !anyRank(!ok);
}

// Memory of this process for the solve, and whether the processes on each
// machine find that much available there.
bool memoryFits(const Grid &g, long long *need, long long *available)
{
    *need = 16LL * (long long)g.localSize() + 8LL * (bandRows(g) / g.rows) * g.localColumnsRhs
            + 80LL * g.n + 64LL * (g.localRows + g.localColumns + 4 * g.nb) + (32LL << 20);
    MPI_Comm node;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, g_rank, MPI_INFO_NULL, &node);
    long long onNode = 0;
    MPI_Allreduce(need, &onNode, 1, MPI_LONG_LONG, MPI_SUM, node);
    long long avail = -1;
    if (FILE *f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %lld kB", &avail) == 1) {
                avail *= 1024;
                break;
            }
        std::fclose(f);
    }
    MPI_Comm_free(&node);
    const bool fits = avail < 0 || onNode <= avail;
    long long least = avail < 0 ? LLONG_MAX : avail;
    MPI_Allreduce(MPI_IN_PLACE, &least, 1, MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
    *available = least;
    return !anyRank(!fits);
}

// Row scales of the distributed matrix: each local row's largest magnitude
// and sum of magnitudes over the whole row.
void rowNorms(const Grid &g, const double *a, std::vector<double> &rowMax, std::vector<double> &rowSum)
{
    rowMax.assign(size_t(g.localRows), 0.0);
    rowSum.assign(size_t(g.localRows), 0.0);
    for (int c = 0; c < g.localColumns; ++c) {
        const double *col = a + size_t(c) * g.lld;
        for (int l = 0; l < g.localRows; ++l) {
            const double v = std::fabs(col[l]);
            rowSum[size_t(l)] += v;
            rowMax[size_t(l)] = std::max(rowMax[size_t(l)], v);
        }
    }
    if (g.localRows > 0) {
        MPI_Allreduce(MPI_IN_PLACE, rowMax.data(), g.localRows, MPI_DOUBLE, MPI_MAX, g.rowComm);
        MPI_Allreduce(MPI_IN_PLACE, rowSum.data(), g.localRows, MPI_DOUBLE, MPI_SUM, g.rowComm);
    } else {
        MPI_Allreduce(MPI_IN_PLACE, rowMax.data(), 0, MPI_DOUBLE, MPI_MAX, g.rowComm);
        MPI_Allreduce(MPI_IN_PLACE, rowSum.data(), 0, MPI_DOUBLE, MPI_SUM, g.rowComm);
    }
}

QString plainList(const std::vector<int> &flags)
{
    QStringList parts;
    int count = 0;
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i] && ++count <= 10)
            parts << QString::number(i + 1);
    return parts.join(QStringLiteral(", ")) + (count > 10 ? QStringLiteral(" and more") : QString());
}

// The checks of tarvix-cli that need no comparison of rows with each
// other: values that are not finite, a zero right-hand side, rows and
// columns of zeros. Prints the findings; false when there are any.
bool validate(const Grid &g, const double *a, const double *b, const std::vector<double> &rowMax)
{
    long long firstBad = LLONG_MAX;
    for (int c = 0; c < g.localColumns; ++c)
        for (int l = 0; l < g.localRows; ++l)
            if (!std::isfinite(a[l + size_t(c) * g.lld]))
                firstBad = std::min(firstBad, g.globalRow(l) * (g.n + 1) + g.globalColumn(c));
    double rhsMax = 0.0;
    if (g.holdsVector())
        for (int l = 0; l < g.localRows; ++l) {
            if (!std::isfinite(b[l]))
                firstBad = std::min(firstBad, g.globalRow(l) * (g.n + 1) + g.n);
            rhsMax = std::max(rhsMax, std::fabs(b[l]));
        }
    MPI_Allreduce(MPI_IN_PLACE, &firstBad, 1, MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
    if (firstBad != LLONG_MAX) {
        const long long row = firstBad / (g.n + 1), col = firstBad % (g.n + 1);
        errorLine(QStringLiteral("invalid system: equation %1, %2 is infinite or not a number")
                      .arg(row + 1)
                      .arg(col == g.n ? QStringLiteral("the right-hand side")
                                      : QStringLiteral("variable %1").arg(col + 1)));
        return false;
    }
    MPI_Allreduce(MPI_IN_PLACE, &rhsMax, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    std::vector<int> zeroRows(size_t(g.n), 0), zeroColumns(size_t(g.n), 0);
    if (g.myColumn == 0)
        for (int l = 0; l < g.localRows; ++l)
            zeroRows[size_t(g.globalRow(l))] = EquationStore::isZero(rowMax[size_t(l)]);
    std::vector<double> colMax(size_t(std::max(1, g.localColumns)), 0.0);
    for (int c = 0; c < g.localColumns; ++c)
        for (int l = 0; l < g.localRows; ++l)
            colMax[size_t(c)] = std::max(colMax[size_t(c)], std::fabs(a[l + size_t(c) * g.lld]));
    MPI_Allreduce(MPI_IN_PLACE, colMax.data(), g.localColumns, MPI_DOUBLE, MPI_MAX, g.columnComm);
    if (g.myRow == 0)
        for (int c = 0; c < g.localColumns; ++c)
            zeroColumns[size_t(g.globalColumn(c))] = EquationStore::isZero(colMax[size_t(c)]);
    MPI_Allreduce(MPI_IN_PLACE, zeroRows.data(), g.n, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, zeroColumns.data(), g.n, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    bool valid = true;
    if (EquationStore::isZero(rhsMax)) {
        errorLine(QStringLiteral("invalid system: every right-hand-side value is zero"));
        valid = false;
    }
    if (std::count(zeroRows.begin(), zeroRows.end(), 1) > 0) {
        errorLine(QStringLiteral("invalid system: equations with only zero coefficients: ") + plainList(zeroRows));
        valid = false;
    }
    if (std::count(zeroColumns.begin(), zeroColumns.end(), 1) > 0) {
        errorLine(QStringLiteral("invalid system: variables with only zero coefficients: ") + plainList(zeroColumns));
        valid = false;
    }
    return valid;
}

// The backward error of the trust check for the distributed x: the larger
// of the plain and the row-equilibrated normwise one. r receives Ax - b.
double backwardError(const Grid &g, const double *a, const double *b, const double *x, double *r,
                     const std::vector<double> &rowMax, const std::vector<double> &rowSum)
{
    const int one = 1;
    const double plus = 1.0, minus = -1.0;
    std::copy(b, b + g.localRows, r);
    pdgemv_("N", &g.n, &g.n, &plus, a, &one, &one, g.descA, x, &one, &one, g.descV, &one, &minus,
            r, &one, &one, g.descV, &one);
    // r, |A|, |x|, |b| and their row-scaled forms; NaN is counted apart.
    double m[7] = {0, 0, 0, 0, 0, 0, 0};
    int nan = 0;
    if (g.holdsVector())
        for (int l = 0; l < g.localRows; ++l) {
            const double ri = std::fabs(r[l]), bi = std::fabs(b[l]), s = rowMax[size_t(l)];
            nan |= std::isnan(ri) || !std::isfinite(x[l]);
            m[0] = std::max(m[0], ri);
            m[1] = std::max(m[1], rowSum[size_t(l)]);
            m[2] = std::max(m[2], std::fabs(x[l]));
            m[3] = std::max(m[3], bi);
            if (s > 0.0) {
                m[4] = std::max(m[4], ri / s);
                m[5] = std::max(m[5], rowSum[size_t(l)] / s);
                m[6] = std::max(m[6], bi / s);
            }
        }
    MPI_Allreduce(MPI_IN_PLACE, m, 7, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, &nan, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (nan)
        return std::numeric_limits<double>::quiet_NaN();
    if (m[0] == 0.0)
        return 0.0;
    return std::max(m[0] / (m[1] * m[2] + m[3]), m[4] / (m[5] * m[2] + m[6]));
}

// Every process opens the same temporary file beside out (rank 0's name,
// a stale one removed first), so that an interrupted run never leaves half
// a file under out's own name; false, with the message, when one cannot.
bool openBeside(const QString &out, QByteArray *name, MPI_File *fh)
{
    const QFileInfo info(out);
    *name = (info.absolutePath() + QStringLiteral("/.") + info.fileName()
             + QStringLiteral(".part%1").arg(qint64(::getpid()))).toLocal8Bit();
    int length = name->size();
    MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
    name->resize(length);
    MPI_Bcast(name->data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
    if (g_rank == 0)
        std::remove(name->constData());
    MPI_Barrier(MPI_COMM_WORLD);
    const int rc = MPI_File_open(MPI_COMM_WORLD, name->constData(), MPI_MODE_CREATE | MPI_MODE_WRONLY,
                                 MPI_INFO_NULL, fh);
    if (anyRank(rc != MPI_SUCCESS)) {
        errorLine(QStringLiteral("could not write %1: %2").arg(out, mpiError(rc)));
        if (rc == MPI_SUCCESS)
            MPI_File_close(fh);
        return false;
    }
    return true;
}

// Writes the system with solution x (the whole vector, on every process)
// to a file beside out, renamed to out once it is complete.
int writeSystem(const QString &out, const Layout &in, Grid &g, const double *a, const double *b,
                const std::vector<double> &x)
{
    QByteArray name;
    MPI_File fh;
    if (!openBeside(out, &name, &fh))
        return BadFile;
    int rc = MPI_SUCCESS;
    Layout layout = in;
    const QByteArray head = fileHeader(g.n);
    layout.rows = head.size();
    bool ok = true;
    if (g_rank == 0)
        ok = MPI_File_write_at(fh, 0, head.constData(), head.size(), MPI_BYTE, MPI_STATUS_IGNORE) == MPI_SUCCESS;
    QString error;
    ok = !anyRank(!ok) && transferRows(fh, layout, g, const_cast<double *>(a), const_cast<double *>(b), true, &error);
    if (ok && g_rank == 0) {
        QByteArray tail = encodeString(QStringLiteral("Solution"));
        const int at = tail.size();
        tail.resize(at + 8 * g.n);
        qToBigEndian<quint64>(x.data(), g.n, tail.data() + at);
        const MPI_Offset pos = layout.rows + MPI_Offset(8) * g.n * (g.n + 1);
        ok = MPI_File_write_at(fh, pos, tail.constData(), tail.size(), MPI_BYTE, MPI_STATUS_IGNORE) == MPI_SUCCESS;
    }
    ok = !anyRank(!ok);
    rc = MPI_File_close(&fh);
    ok = !anyRank(!ok || rc != MPI_SUCCESS);
    if (ok && g_rank == 0 && std::rename(name.constData(), out.toLocal8Bit().constData()) != 0) {
        ok = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (g_rank == 0 && !ok) {
        errorLine(QStringLiteral("could not write %1: %2")
                      .arg(out, error.isEmpty() ? QStringLiteral("a process could not write its rows") : error));
        std::remove(name.constData());
    }
    return agreedCode(ok ? Success : BadFile);
}

// Hager/Higham estimate of rcond of the factored matrix B (its 1-norm
// given), the same iteration as tarvix-cli's, on distributed vectors.
double estimateRcond(const Grid &g, const double *lu, const int *ipiv, double normB)
{
    const int n = g.n, one = 1;
    const int local = g.holdsVector() ? g.localRows : 0;
    auto solve = [&](const char *trans, std::vector<double> &v) {
        int info = 0;
        pdgetrs_(trans, &n, &one, lu, &one, &one, g.descA, ipiv, v.data(), &one, &one, g.descV, &info);
    };
    auto sum = [](double v) {
        MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
        return v;
    };
    auto norm1 = [&](const std::vector<double> &v) {
        double s = 0.0;
        for (int l = 0; l < local; ++l)
            s += std::fabs(v[size_t(l)]);
        return sum(s);
    };
    const size_t size = size_t(std::max(1, g.localRows));
    std::vector<double> x(size, 1.0 / n), y(x), z(size);
    solve("N", y);
    double est = norm1(y);
    for (int iter = 0; iter < 5 && n > 1 && std::isfinite(est); ++iter) {
        for (int l = 0; l < local; ++l)
            z[size_t(l)] = y[size_t(l)] >= 0.0 ? 1.0 : -1.0;
        solve("T", z);
        struct { double value; int index; } best{-1.0, 0};
        double zx = 0.0;
        for (int l = 0; l < local; ++l) {
            zx += z[size_t(l)] * x[size_t(l)];
            if (std::fabs(z[size_t(l)]) > best.value)
                best = {std::fabs(z[size_t(l)]), int(g.globalRow(l))};
        }
        MPI_Allreduce(MPI_IN_PLACE, &best, 1, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
        zx = sum(zx);
        if (iter > 0 && best.value <= zx)
            break;
        for (int l = 0; l < local; ++l)
            x[size_t(l)] = g.globalRow(l) == best.index ? 1.0 : 0.0;
        y = x;
        solve("N", y);
        const double next = norm1(y);
        if (!(next > est)) {
            if (std::isnan(next))
                est = next;
            break;
        }
        est = next;
    }
    if (n > 1 && std::isfinite(est)) {
        for (int l = 0; l < local; ++l) {
            const long long i = g.globalRow(l);
            y[size_t(l)] = (i % 2 ? -1.0 : 1.0) * (1.0 + double(i) / (n - 1));
        }
        solve("N", y);
        est = std::fmax(est, 2.0 * norm1(y) / (3.0 * n));
    }
    if (std::isnan(est))
        return est;
    if (std::isinf(est) || !(normB > 0.0))
        return 0.0;
    return 1.0 / (normB * est);
}

void printReport(const SolveTrust &t, const Grid &g)
{
    errorLine(QStringLiteral("report: method: partial pivoting (ScaLAPACK pdgesv, %1 x %2 processes, blocks of %3)")
                  .arg(g.rows).arg(g.columns).arg(g.nb));
    errorLine(QStringLiteral("report: backward error: %1").arg(shortest(t.backwardError)));
    errorLine(QStringLiteral("report: HPL ratio: %1 (passes below 16)").arg(shortest(t.hplRatio)));
    errorLine(QStringLiteral("report: condition estimate (rcond): %1").arg(shortest(t.rcond)));
    errorLine(QStringLiteral("report: refinement steps: %1").arg(t.refinementSteps));
}

struct SolveOptions
{
    QString output;
    bool report = false;
    int gridRows = 0, gridColumns = 0;
    int block = kDefaultBlock;
};

int solveOpen(MPI_File &fh, const QString &path, const SolveOptions &opt)
{
    Layout layout;
    if (int rc = readLayout(fh, path, &layout))
        return rc;
    Grid g;
    int rows = opt.gridRows, columns = opt.gridColumns;
    if (rows == 0) {
        rows = 1;
        for (int r = 1; r * r <= g_size; ++r)
            if (g_size % r == 0)
                rows = r;
        columns = g_size / rows;
    }
    openGrid(g, int(layout.n), opt.block, rows, columns);
    struct Closer { Grid &g; ~Closer() { closeGrid(g); } } closer{g};

    long long need = 0, available = 0;
    if (!memoryFits(g, &need, &available)) {
        errorLine(QStringLiteral("out of memory: not enough memory for %1 equations on %2 processes: "
                                 "each needs about %3 MB, the machine has %4 MB available")
                      .arg(g.n).arg(g_size).arg(need >> 20).arg(available >> 20));
        return BadFile;
    }
    std::unique_ptr<double[]> a, lu;
    const size_t vec = size_t(std::max(1, g.localRows));
    std::vector<double> b, x, r;
    bool allocated = true;
    try {
        a.reset(new double[std::max<size_t>(1, g.localSize())]);
        lu.reset(new double[std::max<size_t>(1, g.localSize())]);
        b.assign(vec, 0.0);
        x.assign(vec, 0.0);
        r.assign(vec, 0.0);
    } catch (const std::bad_alloc &) {
        allocated = false;
    }
    if (anyRank(!allocated)) {
        errorLine(QStringLiteral("out of memory: not enough memory for %1 equations on %2 processes")
                      .arg(g.n).arg(g_size));
        return BadFile;
    }
    QString error;
    if (!transferRows(fh, layout, g, a.get(), b.data(), false, &error)) {
        errorLine(QStringLiteral("cannot read %1: %2").arg(path, error));
        return BadFile;
    }
    MPI_File_close(&fh);

    std::vector<double> rowMax, rowSum;
    rowNorms(g, a.get(), rowMax, rowSum);
    if (!validate(g, a.get(), b.data(), rowMax))
        return Invalid;

    // The rows divided by their largest magnitudes are factored: the
    // condition estimate is then that of the row-equilibrated matrix, as in
    // tarvix-cli, and the solution the same.
    for (int c = 0; c < g.localColumns; ++c)
        for (int l = 0; l < g.localRows; ++l)
            lu[l + size_t(c) * g.lld] = a[l + size_t(c) * g.lld] / rowMax[size_t(l)];
    if (g.holdsVector())
        for (int l = 0; l < g.localRows; ++l)
            x[size_t(l)] = b[size_t(l)] / rowMax[size_t(l)];
    const int one = 1;
    std::vector<double> work(size_t(std::max(1, g.localColumns)));
    const double anorm = pdlange_("1", &g.n, &g.n, lu.get(), &one, &one, g.descA, work.data());
    std::vector<int> ipiv(size_t(g.localRows + g.nb));
    int info = 0;
    pdgesv_(&g.n, &one, lu.get(), &one, &one, g.descA, ipiv.data(), x.data(), &one, &one, g.descV, &info);

    SolveTrust trust;
    trust.method = SolveTrust::PartialPivoting;
    if (info > 0) {
        // An exactly zero pivot: no solution.
        trust.rcond = 0.0;
        if (opt.report)
            printReport(trust, g);
        errorLine(QStringLiteral("the solution is not correct: %1").arg(trust.reason()));
        return Incorrect;
    }
    trust.rcond = estimateRcond(g, lu.get(), ipiv.data(), anorm);
    // Refinement: x -= (RA)^-1 R (Ax - b) while the backward error halves,
    // at most twice; the best x is kept.
    double err = backwardError(g, a.get(), b.data(), x.data(), r.data(), rowMax, rowSum);
    std::vector<double> y(vec);
    while (trust.refinementSteps < 2 && err > 0.0 && std::isfinite(err)) {
        if (g.holdsVector())
            for (int l = 0; l < g.localRows; ++l)
                r[size_t(l)] /= rowMax[size_t(l)];
        pdgetrs_("N", &g.n, &one, lu.get(), &one, &one, g.descA, ipiv.data(), r.data(), &one, &one, g.descV, &info);
        for (int l = 0; l < g.localRows; ++l)
            y[size_t(l)] = x[size_t(l)] - r[size_t(l)];
        ++trust.refinementSteps;
        const double next = backwardError(g, a.get(), b.data(), y.data(), r.data(), rowMax, rowSum);
        if (!(next < err))
            break;
        x.swap(y);
        const bool halved = next <= err * 0.5;
        err = next;
        if (!halved)
            break;
    }
    trust.backwardError = err;
    trust.hplRatio = Trust::hplRatio(err, g.n);

    // The whole solution on every process: each value comes from its one
    // holder; -0.0 added to anything leaves it as it is.
    std::vector<double> whole(size_t(g.n), -0.0);
    if (g.holdsVector())
        for (int l = 0; l < g.localRows; ++l)
            whole[size_t(g.globalRow(l))] = x[size_t(l)];
    MPI_Allreduce(MPI_IN_PLACE, whole.data(), g.n, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);

    if (opt.output.isEmpty()) {
        if (g_rank == 0) {
            std::vector<char> text;
            text.reserve(size_t(g.n) * 26);
            char number[32];
            for (double v : whole) {
                text.insert(text.end(), number, std::to_chars(number, number + sizeof number, v).ptr);
                text.push_back('\n');
            }
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        }
    } else if (int rc = writeSystem(opt.output, layout, g, a.get(), b.data(), whole)) {
        return rc;
    }
    if (opt.report)
        printReport(trust, g);
    if (!trust.trusted()) {
        errorLine(QStringLiteral("the solution is not correct: %1").arg(trust.reason()));
        return Incorrect;
    }
    if (trust.digitsLost())
        errorLine(QStringLiteral("warning: %1").arg(trust.warning()));
    return Success;
}

int runSolve(const QString &path, const SolveOptions &opt)
{
    // Rank 0 names what is wrong with the path; then all open it together.
    int code = Success;
    if (g_rank == 0) {
        const QFileInfo info(path);
        QFile probe(path);
        QString why;
        if (info.exists() && !info.isFile())
            why = QStringLiteral("not a regular file (a folder, pipe or device)");
        else if (!probe.open(QIODevice::ReadOnly))
            why = probe.errorString();
        if (!why.isEmpty()) {
            errorLine(QStringLiteral("cannot open %1: %2").arg(path, why));
            code = BadFile;
        }
    }
    if (agreedCode(code))
        return BadFile;
    MPI_File fh;
    const int rc = MPI_File_open(MPI_COMM_WORLD, path.toLocal8Bit().constData(), MPI_MODE_RDONLY,
                                 MPI_INFO_NULL, &fh);
    if (anyRank(rc != MPI_SUCCESS)) {
        errorLine(QStringLiteral("cannot open %1: %2").arg(path, mpiError(rc)));
        if (rc == MPI_SUCCESS)
            MPI_File_close(&fh);
        return BadFile;
    }
    const int result = solveOpen(fh, path, opt);
    if (fh != MPI_FILE_NULL)
        MPI_File_close(&fh);
    return result;
}

// Every process computes and writes its share of the rows; rank 0 adds the
// header and the zero solution section.
int runGenerate(long long n, const QString &out, quint32 seed)
{
    const QByteArray head = fileHeader(n);
    const long long first = n * g_rank / g_size, end = n * (g_rank + 1) / g_size;
    const long long rowValues = n + 1;
    const long long chunkRows = std::max<long long>(1, (4LL << 20) / (8 * rowValues));
    long long rounds = (end - first + chunkRows - 1) / chunkRows;
    MPI_Allreduce(MPI_IN_PLACE, &rounds, 1, MPI_LONG_LONG, MPI_MAX, MPI_COMM_WORLD);

    QByteArray name;
    MPI_File fh;
    if (!openBeside(out, &name, &fh))
        return BadFile;
    int rc = MPI_SUCCESS;
    bool ok = true;
    std::vector<quint64> buffer;
    try {
        buffer.resize(size_t(std::min(chunkRows, std::max<long long>(1, end - first)) * rowValues));
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    RandomCoefficients random(seed);
    random.jump((unsigned long long)(first * rowValues));
    long long row = first;
    for (long long round = 0; !anyRank(!ok) && round < rounds; ++round) {
        const long long rows = std::max<long long>(0, std::min(chunkRows, end - row));
        double *values = reinterpret_cast<double *>(buffer.data());
        for (long long k = 0; k < rows * rowValues; ++k)
            values[k] = random.next();
        qToBigEndian<quint64>(buffer.data(), rows * rowValues, buffer.data());
        const MPI_Offset at = head.size() + MPI_Offset(8) * row * rowValues;
        rc = MPI_File_write_at_all(fh, at, buffer.data(), int(rows * rowValues * 8), MPI_BYTE, MPI_STATUS_IGNORE);
        ok = rc == MPI_SUCCESS;
        row += rows;
    }
    if (ok && g_rank == 0) {
        QByteArray tail = encodeString(QStringLiteral("Solution"));
        tail.append(QByteArray(int(8 * n), '\0'));
        ok = MPI_File_write_at(fh, 0, head.constData(), head.size(), MPI_BYTE, MPI_STATUS_IGNORE) == MPI_SUCCESS
             && MPI_File_write_at(fh, head.size() + MPI_Offset(8) * n * rowValues, tail.constData(),
                                  tail.size(), MPI_BYTE, MPI_STATUS_IGNORE) == MPI_SUCCESS;
    }
    ok = !anyRank(!ok);
    const int closed = MPI_File_close(&fh);
    ok = !anyRank(!ok || closed != MPI_SUCCESS);
    QString error = rc != MPI_SUCCESS ? mpiError(rc) : QStringLiteral("a process could not write its rows");
    if (ok && g_rank == 0 && std::rename(name.constData(), out.toLocal8Bit().constData()) != 0) {
        ok = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!ok && g_rank == 0) {
        errorLine(QStringLiteral("could not write %1: %2").arg(out, error));
        std::remove(name.constData());
    }
    return agreedCode(ok ? Success : BadFile);
}

bool toInt(const QString &text, long long min, long long max, long long *value)
{
    bool ok = false;
    const long long v = text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max || text.startsWith(QLatin1Char('+')))
        return false;
    *value = v;
    return true;
}

int run(const QStringList &all)
{
    QStringList args = all;
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    auto help = [] {
        if (g_rank == 0)
            std::fputs(kHelp, stdout);
        return Success;
    };
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h"))
        return help();
    QStringList positional;
    SolveOptions opt;
    long long seed = -1;
    const bool solve = command == QLatin1String("solve");
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        QString v;
        auto value = [&] {
            if (i + 1 >= args.size())
                return false;
            v = args.at(++i);
            return true;
        };
        long long number = 0;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            return help();
        } else if (a == QLatin1String("--output") && solve) {
            if (!value() || v.isEmpty())
                return usage(QStringLiteral("--output needs a file name"));
            opt.output = v;
        } else if (a == QLatin1String("--report") && solve) {
            opt.report = true;
        } else if (a == QLatin1String("--grid") && solve) {
            const QStringList parts = value() ? v.split(QLatin1Char('x')) : QStringList();
            long long r = 0, c = 0;
            if (parts.size() != 2 || !toInt(parts.at(0), 1, g_size, &r) || !toInt(parts.at(1), 1, g_size, &c)
                || r * c != g_size)
                return usage(QStringLiteral("--grid needs RxC with R*C = %1, the number of processes").arg(g_size));
            opt.gridRows = int(r);
            opt.gridColumns = int(c);
        } else if (a == QLatin1String("--block") && solve) {
            if (!value() || !toInt(v, 1, 4096, &number))
                return usage(QStringLiteral("--block needs a number from 1 to 4096"));
            opt.block = int(number);
        } else if (a == QLatin1String("--seed") && command == QLatin1String("generate")) {
            if (!value() || !toInt(v, 0, 4294967295LL, &seed))
                return usage(QStringLiteral("--seed needs a number from 0 to 4294967295"));
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option %1 for %2").arg(a, command));
        } else {
            positional << a;
        }
    }
    const int wanted = solve ? 1 : command == QLatin1String("generate") ? 2 : 0;
    if (wanted == 0)
        return usage(QStringLiteral("unknown command %1").arg(command));
    if (positional.size() != wanted)
        return usage(QStringLiteral("%1 needs %2 argument(s)").arg(command).arg(wanted));
    if (solve)
        return runSolve(positional.at(0), opt);
    long long n = 0;
    if (!toInt(positional.at(0), 2, kMaxN, &n))
        return usage(QStringLiteral("generate needs a number of equations from 2 to %1").arg(kMaxN));
    if (seed < 0) {
        seed = std::time(nullptr) % 60;
        MPI_Bcast(&seed, 1, MPI_LONG_LONG, 0, MPI_COMM_WORLD);
    }
    return runGenerate(n, positional.at(1), quint32(seed));
}

} // namespace

int main(int argc, char *argv[])
{
    std::set_terminate(terminateHandler);
    std::signal(SIGXFSZ, SIG_IGN);
    MPI_Init(&argc, &argv);
    MPI_Comm_rank(MPI_COMM_WORLD, &g_rank);
    MPI_Comm_size(MPI_COMM_WORLD, &g_size);
    // The processes share the machine's cores: one BLAS thread each.
    if (openblas_set_num_threads)
        openblas_set_num_threads(1);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const int rc = run(args);
    if (g_blacs)
        Cblacs_exit(1);
    MPI_Finalize();
    return rc;
}
