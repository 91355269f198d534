// Equation file speed: text save/open and binary save/open, beside a
// single-threaded printf/strtod reference on the same values. "open" reads
// into freshly allocated arrays, "reopen" into the same arrays again. The
// Matrix Market (dense array) and CSV rows also show strtod over the very
// bytes of their own file (shortest round-trip text, up to 17 digits).
//
//   bench_files [--sizes 1000,4000] [--threads 2] [--dir /tmp]
#include "files/equationfile.h"
#include "files/interchange.h"
#include "store/equationstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

void fill(EquationStore &s, int n)
{
    quint32 state = 12345u;
    auto next = [&state]() {
        state = state * 214013u + 2531011u;
        double x = ((state >> 16) & 0x7fff) * 1e8 / 32767.0;
        if (x < 5e7)
            x = -(x * (2.0 - x / 1e8));
        // vary the magnitudes a little, as measured data would
        return x / double(1u << (state & 15u));
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            s.coef[i][j] = next();
        s.rhs[i] = next();
        s.customSol[i] = next();
    }
}

// strtod alone over the numbers of an exchange file, one thread: the lines
// before the first number are skipped, one separator after each number.
double strtodRate(const QString &path, int skipLines, double numbers)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = f.readAll();
    const char *p = bytes.constData();
    for (int k = 0; k < skipLines; ++k)
        p = static_cast<const char *>(std::memchr(p, '\n', size_t(bytes.constData() + bytes.size() - p))) + 1;
    QElapsedTimer t;
    t.start();
    double sum = 0.0;
    char *end = nullptr;
    for (double k = 0; k < numbers; ++k) {
        sum += std::strtod(p, &end);
        p = end + 1;
    }
    const double secs = seconds(t);
    return sum == 0.123 ? 0 : numbers / secs;
}

void row(const char *what, int n, double secs, double numbers, double bytes, double reference)
{
    const double rate = numbers / secs;
    std::printf("%5d  %-12s %9.3f s  %12.0f num/s", n, what, secs, rate);
    if (bytes > 0)
        std::printf("  %8.1f MB/s", bytes / secs / 1e6);
    else
        std::printf("  %13s", "");
    if (reference > 0)
        std::printf("  %12.0f num/s  x%.2f", reference, rate / reference);
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    QList<int> sizes{1000, 4000};
    int threads = 2;
    QString dir = QDir::tempPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString &s : args.at(i + 1).split(QLatin1Char(',')))
                sizes << s.toInt();
        } else if (args.at(i) == QLatin1String("--threads")) {
            threads = args.at(i + 1).toInt();
        } else if (args.at(i) == QLatin1String("--dir")) {
            dir = args.at(i + 1);
        }
    }
    EquationFile::Options opt;
    opt.processors = threads < 1 ? 1 : threads;
    std::printf("processors (workers as the program sets them): %d\n", opt.processors);
    std::printf("%5s  %-12s %11s  %16s  %13s  %18s\n", "n", "operation", "time", "rate", "", "reference (1 thread)");

    for (int n : sizes) {
        EquationStore s;
        s.N = n;
        if (!s.reallocate())
            return 1;
        fill(s, n);
        const double numbers = double(n) * (n + 1) + n;

        // Reference: one thread, snprintf "%.15g" builds the text, strtod
        // parses it back.
        std::string text;
        text.reserve(size_t(numbers) * 24);
        QElapsedTimer t;
        t.start();
        char buf[64];
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                text.append(buf, size_t(std::snprintf(buf, sizeof buf, "%.15g", s.coef[i][j])));
                text.push_back('\t');
            }
            text.append(buf, size_t(std::snprintf(buf, sizeof buf, "%.15g", s.rhs[i])));
            text.push_back('\n');
        }
        for (int j = 0; j < n; ++j) {
            text.append(buf, size_t(std::snprintf(buf, sizeof buf, "%.15g", s.customSol[j])));
            text.push_back('\t');
        }
        const double refFormat = numbers / seconds(t);
        t.restart();
        double sum = 0.0;
        const char *p = text.c_str();
        char *end = nullptr;
        for (double k = 0; k < numbers; ++k) {
            sum += std::strtod(p, &end);
            p = end;
        }
        const double refParse = numbers / seconds(t);
        if (sum == 0.123)
            std::printf(" ");

        const QString textPath = dir + QStringLiteral("/bench_files_%1.trx").arg(n);
        const QString binPath = dir + QStringLiteral("/bench_files_%1.btrx").arg(n);

        t.restart();
        EquationFile::Outcome o = EquationFile::writeText(textPath, s.coef, s.rhs, s.customSol, n, opt);
        const double saveText = seconds(t);
        if (o.failed)
            return 2;
        row("text save", n, saveText, numbers, double(QFileInfo(textPath).size()), refFormat);

        EquationStore r;
        r.N = n;
        r.reallocate();
        t.restart();
        o = EquationFile::readText(textPath, r.coef, r.rhs, r.fileSol, n, opt);
        const double openText = seconds(t);
        if (o.failed)
            return 3;
        row("text open", n, openText, numbers, double(QFileInfo(textPath).size()), refParse);
        // The same into arrays already in use (a window that has this N, as
        // in the program's own benchmark): no first-touch page faults.
        t.restart();
        o = EquationFile::readText(textPath, r.coef, r.rhs, r.fileSol, n, opt);
        const double reopenText = seconds(t);
        if (o.failed)
            return 3;
        row("text reopen", n, reopenText, numbers, double(QFileInfo(textPath).size()), refParse);

        t.restart();
        o = EquationFile::writeBinary(binPath, s.coef, s.rhs, s.customSol, n, opt);
        const double saveBin = seconds(t);
        if (o.failed)
            return 4;
        const double binBytes = double(QFileInfo(binPath).size());
        row("binary save", n, saveBin, numbers, binBytes, 0);

        t.restart();
        o = EquationFile::readBinary(binPath, r.coef, r.rhs, r.fileSol, n, opt);
        const double openBin = seconds(t);
        if (o.failed)
            return 5;
        row("binary open", n, openBin, numbers, binBytes, 0);

        for (int i = 0; i < n; ++i)
            if (r.coef[i][n - 1] != s.coef[i][n - 1] || r.fileSol[i] != s.customSol[i])
                return 6;
        QFile::remove(textPath);
        QFile::remove(binPath);

        // The exchange formats: the augmented system, n x (n+1) numbers.
        const double cells = double(n) * (n + 1);
        for (const char *ext : {"mtx", "csv"}) {
            const QString path = dir + QStringLiteral("/bench_files_%1.").arg(n) + QLatin1String(ext);
            const bool mtx = ext[0] == 'm';
            t.restart();
            Interchange::Outcome x = Interchange::save(path, QString(), s, opt.processors);
            const double save = seconds(t);
            if (x.failed)
                return 7;
            const double bytes = double(QFileInfo(path).size());
            row(mtx ? "mtx save" : "csv save", n, save, cells, bytes, refFormat);
            EquationStore e;
            t.restart();
            x = Interchange::open(path, QString(), e, opt.processors);
            const double open = seconds(t);
            if (x.failed || e.N != n)
                return 8;
            const double own = strtodRate(path, mtx ? 3 : 0, cells);
            row(mtx ? "mtx open" : "csv open", n, open, cells, bytes, refParse);
            row(mtx ? "  vs file" : "  vs file", n, open, cells, bytes, own);
            for (int i = 0; i < n; ++i)
                if (std::memcmp(e.coef[i], s.coef[i], sizeof(double) * size_t(n)) != 0 || e.rhs[i] != s.rhs[i])
                    return 9;
            QFile::remove(path);
        }
    }
    return 0;
}
