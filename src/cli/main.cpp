// tarvix-cli: equation files and the solver without a window.
//
// Reads the preferences file when there is one and never writes anything
// into the application-data folder.
#include "clidevices.h"
#include "files/equationfile.h"
#include "files/filestring.h"
#include "files/numtext.h"
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
    "Solve, check, convert and generate systems of linear equations stored in\n"
    "Tarvix files: text (.trx) or binary (.btrx). A file name containing\n"
    "\".btrx\" anywhere is binary; every other name is text.\n"
    "\n"
    "Commands:\n"
    "  solve FILE [--output OUT] [--report]\n"
    "                             Validate and solve the system in FILE on the CPU\n"
    "                             (with the accuracy refinement), then check the\n"
    "                             answer: when its backward error is too large the\n"
    "                             system is solved again with partial pivoting.\n"
    "                             Prints the solution, one value per line, each\n"
    "                             with the shortest text that reads back to the\n"
    "                             same number, or writes OUT: the system with the\n"
    "                             solution in its \"Solution\" section. A solution\n"
    "                             that loses digits to ill-conditioning is kept and\n"
    "                             warned about on standard error.\n"
    "                             --report: print to standard error the method that\n"
    "                             gave the answer, its backward error, HPL ratio\n"
    "                             (passes below 16), the condition estimate (rcond;\n"
    "                             below 2^-53 the system is singular to working\n"
    "                             precision) and the refinement steps.\n"
    "  check FILE                 Validate the system in FILE only.\n"
    "  convert IN OUT             Rewrite IN as OUT (text to binary or back), the\n"
    "                             solution section included.\n"
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
    errorLine(QStringLiteral("report: condition estimate (rcond): %1").arg(text(t.rcond)));
    errorLine(QStringLiteral("report: refinement steps: %1").arg(t.refinementSteps));
}

int runSolve(const QString &path, const QString &output, const EquationFile::Options &opt, bool solve,
             bool report)
{
    EquationStore store;
    if (!openInto(path, store, opt))
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

int runConvert(const QString &in, const QString &out, const EquationFile::Options &opt)
{
    EquationStore store;
    if (!openInto(in, store, opt))
        return BadFile;
    return saveFrom(out, store, store.fileSol, opt) ? Success : BadFile;
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
    long long threads = 0;
    long long seed = -1;
    bool report = false;
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
        } else if (a == QLatin1String("--report") && command == QLatin1String("solve")) {
            report = true;
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

    // Preferences: read only, never created.
    QStringList environment = UserPrefs::platformEnvironment();
    if (threads > 0 && environment.size() > 6)
        environment[6] = QString::number(threads);
    UserPrefs::probeEnvironment(environment, ScreenInfo());
    const QString prefs = UserPrefs::getAppDataFolder() + QStringLiteral("/Tarvix/Preferences/Tarvix.pref");
    if (!UserPrefs::readPrefsFile(prefs))
        errorLine(QStringLiteral("cannot read %1; using the default settings").arg(prefs));

    EquationFile::Options opt;
    opt.processors = UserPrefs::getProcessorCount();

    int rc = Usage;
    if (command == QLatin1String("solve") || command == QLatin1String("check")) {
        rc = runSolve(positional.at(0), output, opt, command == QLatin1String("solve"), report);
    } else if (command == QLatin1String("convert")) {
        rc = runConvert(positional.at(0), positional.at(1), opt);
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
