// tarvix-cli: equation files and the solver without a window.
//
// Reads the preferences file when there is one and never writes anything
// into the application-data folder.
#include "clidevices.h"
#include "cliprogress.h"
#include "files/equationfile.h"
#include "files/filestring.h"
#include "files/interchange.h"
#include "files/numtext.h"
#include "env/environment.h"
#include "prefs/userprefs.h"
#include "solver/solverun.h"
#include "solver/validate.h"
#include "store/equationstore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <QStringList>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <new>
#include <vector>

#include <unistd.h>

namespace {

enum ExitCode { Success = 0, Invalid = 1, BadFile = 2, Incorrect = 3, Usage = 64 };

// Largest N generate accepts: the file's 8 N (N + 1) bytes stay far inside
// a 64-bit offset. The machine's memory is checked before the rows are made.
constexpr int kMaxGenerate = 100000000;

const char *const kHelp =
    "Usage: tarvix-cli COMMAND ARGUMENTS [OPTIONS]\n"
    "\n"
    "Solve, check, convert and generate systems of linear equations. The kind\n"
    "of every file comes from its extension: .mtx is Matrix Market, .csv is\n"
    "CSV; otherwise a name containing \".btrx\" anywhere is a binary Tarvix\n"
    "file and every other name a text Tarvix file (.trx).\n"
    "A Matrix Market file holds either the augmented system (N x (N+1), the\n"
    "right-hand side as its last column) or the N x N matrix, whose N x 1\n"
    "right-hand side --rhs FILE names. A CSV file holds N rows of N+1 numbers\n"
    "separated by \",\", \";\" or TAB; a first row that is not all numbers is\n"
    "a header and skipped. Both are written with the shortest text that reads\n"
    "back to the same number.\n"
    "\n"
    "Commands:\n"
    "  solve FILE [--rhs FILE] [--output OUT] [--report] [--progress|--quiet]\n"
    "                             Validate and solve the system in FILE on the CPU\n"
    "                             (with the accuracy refinement), then check the\n"
    "                             answer: when its backward error is too large the\n"
    "                             system is solved again with partial pivoting.\n"
    "                             An answer that passes is refined further with\n"
    "                             residuals in about twice double precision.\n"
    "                             Prints the solution, one value per line, each\n"
    "                             with the shortest text that reads back to the\n"
    "                             same number, or writes OUT: the system with the\n"
    "                             solution in its \"Solution\" section (.trx,\n"
    "                             .btrx) or the solution as an N x 1 column (.mtx,\n"
    "                             .csv). A solution that loses digits to\n"
    "                             ill-conditioning is kept and warned about on\n"
    "                             standard error.\n"
    "                             --report: print to standard error the method that\n"
    "                             gave the answer, its backward error, HPL ratio\n"
    "                             (passes below 16), the condition estimate (1-norm\n"
    "                             condition number of the matrix with its rows\n"
    "                             equilibrated; above 2^53 the system is singular\n"
    "                             to working precision), the refinement steps, the\n"
    "                             extra-precise steps and the forward error bound\n"
    "                             (relative, normwise; none where the extra-precise\n"
    "                             refinement did not converge).\n"
    "                             --progress: a one-line progress indicator on\n"
    "                             standard error (the default when that is a\n"
    "                             terminal); --quiet: none.\n"
    "  check FILE [--rhs FILE]    Validate the system in FILE only.\n"
    "  convert IN OUT [--rhs FILE] [--coordinate]\n"
    "                             Rewrite IN as OUT in the kind of OUT's name, the\n"
    "                             solution section included between .trx and\n"
    "                             .btrx. --rhs names the right-hand side of an\n"
    "                             N x N matrix IN (.mtx); when IN is not .mtx and\n"
    "                             OUT is, OUT receives the N x N matrix and --rhs\n"
    "                             the right-hand side (else OUT the augmented one).\n"
    "                             --coordinate: write .mtx in the coordinate layout\n"
    "                             (only the entries that are not zero).\n"
    "  generate N OUT [--seed S]  Write a random system of N equations (N >= 2) to\n"
    "                             OUT. The same seed gives the same file everywhere;\n"
    "                             without --seed the seconds of the clock are used.\n"
    "  --list-devices             List the OpenCL devices (numbered for --device).\n"
    "  help, --help, -h           Show this text.\n"
    "\n"
    "Options:\n"
    "  --threads N                Number of processors to use (default: the\n"
    "                             machine's, or NUMBER_OF_PROCESSORS).\n"
    "  --device D                 solve: \"cpu\" (default), \"opencl\" (every OpenCL\n"
    "                             device) or \"opencl:N,M\" (those devices); without\n"
    "                             the OpenCL plugin or runtime the CPU solves.\n"
    "  --engine E                 solve on OpenCL: \"blocked\" (default; the system\n"
    "                             on the devices) or \"stepwise\" (the forward\n"
    "                             elimination column by column on the devices).\n"
    "\n"
    "Settings such as the thread limits come from the Tarvix preferences file\n"
    "(APPDATA or XDG_DATA_HOME, then Tarvix/Preferences/Tarvix.pref) when it\n"
    "exists; it is only read.\n"
    "\n"
    "Exit status: 0 success; 1 the system is not valid; 2 a file could not be\n"
    "read or written, or is corrupt, or memory ran out; 3 no trustworthy\n"
    "solution (the residual is too large, or the system is singular to working\n"
    "precision; the reason goes to standard error); 64 wrong usage. Errors go\n"
    "to standard error, one line each. An output file is replaced only by a\n"
    "complete new one.\n";

void errorLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "tarvix-cli: %s\n", line.simplified().toLocal8Bit().constData());
}

int usage(const QString &text)
{
    errorLine(text);
    std::fprintf(stderr, "Try 'tarvix-cli --help'.\n");
    return Usage;
}

// Running out of memory ends the program with a message and the exit status
// of a failed file operation, from whichever thread it happens on: the
// store's allocation reports it as a fatal log record, anything else as an
// uncaught std::bad_alloc.
[[noreturn]] void outOfMemory()
{
    static const char text[] = "tarvix-cli: out of memory: not enough memory for this system\n";
    const ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
    Q_UNUSED(written)
    std::_Exit(BadFile);
}

[[noreturn]] void terminateHandler()
{
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            outOfMemory();
        } catch (...) {
        }
    }
    std::abort();
}

// Qt's own messages belong in the program's log, not on this console; a
// fatal one still ends the program, with a line saying why.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtFatalMsg)
        return;
    if (text.startsWith(QLatin1String("error no: TRX9")))
        outOfMemory();
    std::fprintf(stderr, "tarvix-cli: fatal: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void installFailureHandlers()
{
    qInstallMessageHandler(quietHandler);
    std::set_terminate(terminateHandler);
    // Past a file-size limit a write fails (and is reported) instead of the
    // signal ending the program halfway.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Receives the solver's error triples and prints them.
class ErrorPrinter : public QObject
{
    Q_OBJECT
public slots:
    void errMsg(QString *title, QString *text, QString type)
    {
        QString body = *text;
        body.remove(QRegExp(QStringLiteral("<[^>]*>")));
        errorLine(type.toLower() + QStringLiteral(": ") + *title + QStringLiteral(" ") + body);
        delete title;
        delete text;
    }
};

QString plainList(const QList<int> &indices)
{
    QStringList parts;
    for (int i = 0; i < indices.size() && i < 10; ++i)
        parts << QString::number(indices.at(i) + 1);
    QString s = parts.join(QStringLiteral(", "));
    if (indices.size() > 10)
        s += QStringLiteral(" and more");
    return s;
}

void printFindings(const ValidationReport &r)
{
    if (!r.finiteOk) {
        const QString where = r.nonFiniteColumn < 0
                                  ? QStringLiteral("the right-hand side")
                                  : QStringLiteral("variable %1").arg(r.nonFiniteColumn + 1);
        errorLine(QStringLiteral("invalid system: equation %1, %2 is infinite or not a number")
                      .arg(r.nonFiniteRow + 1).arg(where));
    }
    if (!r.rhsOk)
        errorLine(QStringLiteral("invalid system: every right-hand-side value is zero"));
    if (!r.rowsOk)
        errorLine(QStringLiteral("invalid system: equations with only zero coefficients: ")
                  + plainList(r.zeroRows));
    if (!r.columnsOk)
        errorLine(QStringLiteral("invalid system: variables with only zero coefficients: ")
                  + plainList(r.zeroColumns));
    if (!r.duplicatesOk) {
        for (int g = 0; g < r.duplicateRows.size() && g < 10; ++g) {
            const QList<int> others = g < r.duplicateGroups.size() ? r.duplicateGroups.at(g) : QList<int>();
            errorLine(QStringLiteral("invalid system: equation %1 is a multiple of equation(s) %2")
                          .arg(r.duplicateRows.at(g) + 1).arg(plainList(others)));
        }
        if (r.duplicateRows.size() > 10)
            errorLine(QStringLiteral("invalid system: and more multiple equations"));
    }
}

QString codeText(int code)
{
    switch (code) {
    case FileString::ParseFieldCount: return QStringLiteral("a row has the wrong number of fields");
    case FileString::ParseRowNumber: return QStringLiteral("a row does not start with its row number");
    case FileString::ParseCoefficient: return QStringLiteral("a coefficient is not a number");
    case FileString::ParseRhs: return QStringLiteral("a right-hand side is not a number");
    case FileString::ReadBinStream: return QStringLiteral("the file ends too early");
    case FileString::ReadBinMarker: return QStringLiteral("the solution marker is missing");
    case FileString::ReadBinN: return QStringLiteral("the number of variables is not valid");
    case FileString::ReadBinHeader: return QStringLiteral("the header is not a Tarvix header");
    case FileString::ReadBinNumberSize: return QStringLiteral("the numbers are not 8 bytes long");
    case FileString::ReadTextShort: return QStringLiteral("fewer rows than the number of variables");
    case FileString::ReadTextStream: return QStringLiteral("a read error");
    default: return QStringLiteral("code %1").arg(code);
    }
}

// Opens path into store; prints why not and returns false on failure.
bool openInto(const QString &path, EquationStore &store, const EquationFile::Options &opt)
{
    EquationFile::Header h;
    const EquationFile::Outcome out = EquationFile::open(path, store, opt, &h);
    for (const EquationFile::Message &m : out.messages)
        errorLine(path + QStringLiteral(": ") + m.title + QStringLiteral(" ") + m.text);
    if (!h.opened) {
        errorLine(QStringLiteral("cannot open %1: %2").arg(path, h.errorString));
        return false;
    }
    if (h.corrupt) {
        QString why;
        if (!h.text.contains(QLatin1String("Tarvix")))
            why = QStringLiteral("no Tarvix header");
        else if (h.n < 2)
            why = QStringLiteral("the number of variables is missing or below 2");
        else
            why = QStringLiteral("the file is too small for %1 variables").arg(h.n);
        errorLine(QStringLiteral("%1 is corrupt: %2").arg(path, why));
        return false;
    }
    if (out.failed) {
        int code = out.code;
        for (int c : out.workerCodes)
            if (code == 0 || code == FileString::ReadTextShort)
                code = c != 0 ? c : code;
        if (code == FileString::ReadTextStream && !out.error.isEmpty())
            errorLine(QStringLiteral("cannot read %1: %2").arg(path, out.error));
        else if (out.messages.isEmpty() || out.corrupt)
            errorLine(QStringLiteral("%1 is corrupt: %2").arg(path, codeText(code)));
        return false;
    }
    if (out.code == FileString::ReadTextSolution)
        errorLine(QStringLiteral("%1: the solution section holds a value that is not a number; ignored")
                      .arg(path));
    return true;
}

bool saveFrom(const QString &path, EquationStore &store, double *solution,
              const EquationFile::Options &opt)
{
    const EquationFile::Outcome out = EquationFile::save(path, store, solution, opt);
    if (out.failed) {
        // The workers wrote to a file beside the target; the reason is what
        // matters here, with the target's name.
        errorLine(out.error.isEmpty() ? QStringLiteral("could not write %1").arg(path) : out.error);
        return false;
    }
    return true;
}

// Files by kind: the Tarvix files keep their own detailed messages; Matrix
// Market and CSV come through the exchange readers and writers.
bool isExchange(const QString &path)
{
    const Interchange::Kind kind = Interchange::kindOf(path);
    return kind == Interchange::Kind::MatrixMarket || kind == Interchange::Kind::Csv;
}

bool openAny(const QString &path, const QString &rhs, EquationStore &store, const EquationFile::Options &opt)
{
    if (!isExchange(path))
        return openInto(path, store, opt);
    const Interchange::Outcome out = Interchange::open(path, rhs, store, opt.processors);
    if (out.failed)
        errorLine(out.error);
    return !out.failed;
}

bool saveAny(const QString &path, const QString &rhs, EquationStore &store, double *solution,
             const EquationFile::Options &opt, bool coordinate)
{
    if (!isExchange(path))
        return saveFrom(path, store, solution, opt);
    const Interchange::Outcome out = Interchange::save(path, rhs, store, opt.processors, coordinate);
    if (out.failed)
        errorLine(out.error);
    return !out.failed;
}

// The benchmark's random coefficient on a generator that is the same on
// every platform (the classic linear congruential one, 0..32767).
class RandomCoefficients
{
public:
    explicit RandomCoefficients(quint32 seed) : m_state(seed) {}
    int next15()
    {
        m_state = m_state * 214013u + 2531011u;
        return int((m_state >> 16) & 0x7fffu);
    }
    double next()
    {
        double x = next15() * 1e8 / 32767.0;
        if (x < 5e7)
            x = -(x * (2.0 - x / 1e8));
        if (EquationStore::isZero(x))
            x = 123456.0;
        return x;
    }

private:
    quint32 m_state;
};

// Shortest text that reads back to the same double.
char *shortestDouble(char *first, char *last, double v)
{
    return std::to_chars(first, last, v).ptr;
}

void printReport(const SolveTrust &t)
{
    char num[32];
    auto text = [&num](double v) { return QString::fromLatin1(num, int(shortestDouble(num, num + sizeof num, v) - num)); };
    errorLine(QStringLiteral("report: method: %1").arg(t.methodName()));
    errorLine(QStringLiteral("report: backward error: %1").arg(text(t.backwardError)));
    errorLine(QStringLiteral("report: HPL ratio: %1 (passes below 16)").arg(text(t.hplRatio)));
    errorLine(QStringLiteral("report: %1: %2").arg(SolveTrust::conditionLabel(), text(t.condition())));
    errorLine(QStringLiteral("report: refinement steps: %1").arg(t.refinementSteps));
    errorLine(QStringLiteral("report: extra-precise steps: %1").arg(t.preciseSteps));
    if (t.bounded()) {
        errorLine(QStringLiteral("report: forward error bound: %1 (about %2 correct digits)")
                      .arg(text(t.errorBound)).arg(t.correctDigits()));
        if (t.componentBound >= 0.0)
            errorLine(QStringLiteral("report: componentwise error bound (large components): %1")
                          .arg(text(t.componentBound)));
    } else {
        errorLine(QStringLiteral("report: forward error bound: none (%1)")
                      .arg(t.boundText().section(QStringLiteral(": "), 1)));
    }
}

int runSolve(const QString &path, const QString &rhs, const QString &output,
             const EquationFile::Options &opt, bool solve, bool report)
{
    EquationStore store;
    if (!openAny(path, rhs, store, opt))
        return BadFile;
    std::vector<int> columnZeros(size_t(store.N), 0);
    const ValidationReport findings = Validate::check(store.N, store.coef, store.rhs, columnZeros.data());
    if (!findings.valid()) {
        printFindings(findings);
        return Invalid;
    }
    if (!solve) {
        std::printf("valid: %d equations\n", store.N);
        return Success;
    }
    ErrorPrinter printer;
    SolveTrust trust;
    const int status = CliDevices::solve(store, columnZeros.data(), &printer, &trust);
    CliProgress::finish();
    if (status < 0 || status == 2) {
        errorLine(QStringLiteral("the system could not be solved"));
        return Incorrect;
    }
    if (output.isEmpty()) {
        std::vector<char> text;
        text.reserve(size_t(store.N) * 26);
        char number[32];
        for (int i = 0; i < store.N; ++i) {
            text.insert(text.end(), number, shortestDouble(number, number + sizeof number, store.currentSol[i]));
            text.push_back('\n');
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    } else if (isExchange(output)) {
        const Interchange::Outcome out =
            Interchange::saveColumn(output, store.currentSol, store.N, opt.processors);
        if (out.failed) {
            errorLine(out.error);
            return BadFile;
        }
    } else if (!saveFrom(output, store, store.currentSol, opt)) {
        return BadFile;
    }
    if (report)
        printReport(trust);
    if (status != 0) {
        errorLine(QStringLiteral("the solution is not correct: %1").arg(trust.reason()));
        return Incorrect;
    }
    if (trust.digitsLost())
        errorLine(QStringLiteral("warning: %1").arg(trust.warning()));
    return Success;
}

// --rhs belongs to the input when that is a Matrix Market file, else to
// the output.
int runConvert(const QString &in, const QString &out, const QString &rhs, bool coordinate,
               const EquationFile::Options &opt)
{
    const bool rhsIn = Interchange::kindOf(in) == Interchange::Kind::MatrixMarket;
    EquationStore store;
    if (!openAny(in, rhsIn ? rhs : QString(), store, opt))
        return BadFile;
    return saveAny(out, rhsIn ? QString() : rhs, store, store.fileSol, opt, coordinate) ? Success : BadFile;
}

int runGenerate(int n, const QString &out, quint32 seed, const EquationFile::Options &opt)
{
    // The rows and their pointers, all touched while they are made: more
    // than the machine has must not start.
    const double need = 8.0 * n * (double(n) + 6.0);
    const double physical = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE));
    if (physical > 0 && need > physical) {
        errorLine(QStringLiteral("out of memory: %1 equations need %2 MB, this machine has %3 MB")
                      .arg(n).arg(qint64(need / 1048576)).arg(qint64(physical / 1048576)));
        return BadFile;
    }
    EquationStore store;
    store.N = n;
    if (!store.reallocate()) {
        errorLine(QStringLiteral("not enough memory for %1 equations").arg(n));
        return BadFile;
    }
    store.clear();
    RandomCoefficients random(seed);
    for (int i = 0; i < n; ++i) {
        double *row = store.coef[i];
        for (int j = 0; j < n; ++j)
            row[j] = random.next();
        store.rhs[i] = random.next();
    }
    return saveFrom(out, store, store.fileSol, opt) ? Success : BadFile;
}

// --rhs and --coordinate only where a Matrix Market file can use them.
QString optionMisfit(const QString &command, const QStringList &files, const QString &rhs, bool coordinate)
{
    auto isMtx = [](const QString &p) { return Interchange::kindOf(p) == Interchange::Kind::MatrixMarket; };
    const bool anyMtx = isMtx(files.value(0)) || (command == QLatin1String("convert") && isMtx(files.value(1)));
    if (!rhs.isEmpty() && !anyMtx)
        return QStringLiteral("--rhs is for the right-hand side of a .mtx matrix");
    if (!rhs.isEmpty() && !isMtx(rhs))
        return QStringLiteral("--rhs needs a .mtx file");
    if (coordinate && !isMtx(files.value(1)))
        return QStringLiteral("--coordinate is for writing a .mtx file");
    return QString();
}

bool toInt(const QString &text, long long min, long long max, long long *value)
{
    const QByteArray b = text.toLatin1();
    long long v = 0;
    if (!NumText::parseInt(b.constData(), b.constData() + b.size(), &v) || v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    installFailureHandlers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarvix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIX_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("help") || command == QLatin1String("--help")
        || command == QLatin1String("-h")) {
        std::fputs(kHelp, stdout);
        return Success;
    }
    if (command == QLatin1String("--list-devices"))
        return CliDevices::listDevices();

    QStringList positional;
    QString output;
    QString rhs;
    bool coordinate = false;
    long long threads = 0;
    long long seed = -1;
    bool report = false;
    CliProgress::Mode progress = CliProgress::Mode::Auto;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto value = [&](QString *v) {
            if (i + 1 >= args.size())
                return false;
            *v = args.at(++i);
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return Success;
        } else if (a == QLatin1String("--output") && command == QLatin1String("solve")) {
            if (!value(&output) || output.isEmpty())
                return usage(QStringLiteral("--output needs a file name"));
        } else if (a == QLatin1String("--device") && command == QLatin1String("solve")) {
            if (!value(&v) || !CliDevices::parseDeviceOption(v))
                return usage(QStringLiteral("--device needs cpu, opencl or opencl:N,M"));
        } else if (a == QLatin1String("--rhs") && command != QLatin1String("generate")) {
            if (!value(&rhs) || rhs.isEmpty())
                return usage(QStringLiteral("--rhs needs a file name"));
        } else if (a == QLatin1String("--coordinate") && command == QLatin1String("convert")) {
            coordinate = true;
        } else if (a == QLatin1String("--engine") && command == QLatin1String("solve")) {
            if (!value(&v) || !CliDevices::parseEngineOption(v))
                return usage(QStringLiteral("--engine needs blocked or stepwise"));
        } else if (a == QLatin1String("--report") && command == QLatin1String("solve")) {
            report = true;
        } else if ((a == QLatin1String("--progress") || a == QLatin1String("--quiet"))
                   && command == QLatin1String("solve")) {
            if (progress != CliProgress::Mode::Off)
                progress = a == QLatin1String("--quiet") ? CliProgress::Mode::Off : CliProgress::Mode::Forced;
        } else if (a == QLatin1String("--threads")) {
            if (!value(&v) || !toInt(v, 1, 1024, &threads))
                return usage(QStringLiteral("--threads needs a number from 1 to 1024"));
        } else if (a == QLatin1String("--seed") && command == QLatin1String("generate")) {
            if (!value(&v) || !toInt(v, 0, 4294967295LL, &seed))
                return usage(QStringLiteral("--seed needs a number from 0 to 4294967295"));
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option %1 for %2").arg(a, command));
        } else {
            positional << a;
        }
    }

    const QHash<QString, int> wanted{{QStringLiteral("solve"), 1}, {QStringLiteral("check"), 1},
                                     {QStringLiteral("convert"), 2}, {QStringLiteral("generate"), 2}};
    if (!wanted.contains(command))
        return usage(QStringLiteral("unknown command %1").arg(command));
    if (positional.size() != wanted.value(command))
        return usage(QStringLiteral("%1 needs %2 argument(s)").arg(command).arg(wanted.value(command)));
    if (const QString why = optionMisfit(command, positional, rhs, coordinate); !why.isEmpty())
        return usage(why);

    // Preferences: read only, never created.
    QStringList environment = UserPrefs::platformEnvironment();
    if (threads > 0 && environment.size() > 6)
        environment[6] = QString::number(threads);
    UserPrefs::probeEnvironment(environment, ScreenInfo());
    const QString prefs = Environment::prefsFile();
    if (!UserPrefs::readPrefsFile(prefs))
        errorLine(QStringLiteral("cannot read %1; using the default settings").arg(prefs));

    EquationFile::Options opt;
    opt.processors = UserPrefs::getProcessorCount();

    int rc = Usage;
    if (command == QLatin1String("solve"))
        CliProgress::setMode(progress);
    if (command == QLatin1String("solve") || command == QLatin1String("check")) {
        rc = runSolve(positional.at(0), rhs, output, opt, command == QLatin1String("solve"), report);
    } else if (command == QLatin1String("convert")) {
        rc = runConvert(positional.at(0), positional.at(1), rhs, coordinate, opt);
    } else {
        long long n = 0;
        if (!toInt(positional.at(0), 2, kMaxGenerate, &n)) {
            rc = usage(QStringLiteral("generate needs a number of equations from 2 to %1").arg(kMaxGenerate));
        } else {
            if (seed < 0)
                seed = std::time(nullptr) % 60;
            rc = runGenerate(int(n), positional.at(1), quint32(seed), opt);
        }
    }
    MyThreads::destroyPool();
    return rc;
}

#include "main.moc"
