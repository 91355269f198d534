#include "applog.h"

#include "env/environment.h"
#include "prompt/prompter.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaObject>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {
// A std::mutex, so that thread checkers see the hand-overs between writers.
std::mutex *g_mutex = nullptr;
LogSwitchHolder g_switch{nullptr};   // the debug-logging switch; null: no output
QFile *g_file = nullptr;
QTextStream *g_stream = nullptr;
std::atomic<bool> g_internalError{false};
QtMessageHandler g_previous = nullptr;
std::function<void()> g_saver;
std::function<void(const QString &)> g_opener;
std::atomic<bool> g_savePending{false};
std::atomic<bool> g_askPending{false};   // a critical block waits for the save
bool g_inSaver = false;              // GUI thread only
bool g_saveAsks = false;             // GUI thread only: the running save may ask
thread_local bool t_inHandler = false;

// Holds the log mutex while it exists (before install there is none).
class LogLock
{
public:
    explicit LogLock(std::mutex *m) : m_mutex(m)
    {
        if (m_mutex)
            m_mutex->lock();
    }
    ~LogLock() { unlock(); }
    LogLock(const LogLock &) = delete;
    LogLock &operator=(const LogLock &) = delete;
    void unlock()
    {
        if (m_mutex)
            m_mutex->unlock();
        m_mutex = nullptr;
    }

private:
    std::mutex *m_mutex;
};

bool onGuiThread()
{
    return QCoreApplication::instance()
           && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Another running instance keeps its log locked; such a file counts as one
// that cannot be deleted, even on systems that would let us unlink it.
bool heldByOther(const QString &path)
{
#ifdef Q_OS_UNIX
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const int fd = f.handle();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return true;
    ::flock(fd, LOCK_UN);
#else
    Q_UNUSED(path)
#endif
    return false;
}

bool removeUnlessHeld(const QString &path)
{
    if (heldByOther(path))
        return false;
    return QFile::remove(path);
}

void lockOwnLog()
{
#ifdef Q_OS_UNIX
    if (g_file && g_file->handle() >= 0)
        ::flock(g_file->handle(), LOCK_EX | LOCK_NB);
#endif
}

// Messages logged while the save runs (the save's own warnings) are served
// by the save that is running; they do not ask for another one.
void runSaver()
{
    const bool ask = g_askPending.exchange(false);
    if (g_saver && !g_inSaver) {
        g_inSaver = true;
        g_saveAsks = ask;
        g_saver();
        g_saveAsks = false;
        g_inSaver = false;
    }
    g_savePending = false;
}

// Every block asks for a session save on the GUI thread. The request is
// queued, never run inside the handler: the save may log (and Qt would send
// a message raised inside the handler to stderr), it may show a dialog, and
// the thread that logged may hold the log or be waited on by the GUI
// thread. Requests that pile up while one is pending are served by that one.
void requestSessionSave(bool internalError)
{
    if (!g_saver || !QCoreApplication::instance())
        return;
    if (internalError)
        g_askPending = true;
    if (!g_savePending.exchange(true))
        QMetaObject::invokeMethod(QCoreApplication::instance(), &runSaver, Qt::QueuedConnection);
}

// Window-geometry complaints of the windowing system are not program
// errors; the headless platform reports its missing size-hint support the
// same way. Qt's own libraries carry no log context, so their text is
// looked at too.
bool isGeometryNoise(const QMessageLogContext &context, const QString &msg)
{
    const QByteArray f(context.function ? context.function : "");
    if (f.contains("setGeometry") || f.contains("propagateSizeHints"))
        return true;
    return f.isEmpty()
           && (msg.contains(QLatin1String("setGeometry")) || msg.contains(QLatin1String("propagateSizeHints")));
}

QString blockName(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg: return QStringLiteral("Warning");
    case QtCriticalMsg: return QStringLiteral("Critical");
    default: return QStringLiteral("Fatal");
    }
}
} // namespace

void AppLog::install()
{
    if (!g_mutex)
        g_mutex = new std::mutex();
    if (!g_switch.load())
        g_switch.store(new LogSwitch(true));
    g_previous = qInstallMessageHandler(&AppLog::messageHandler);
}

void AppLog::uninstall()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
    closeLog();
    LogSwitch *sw = nullptr;
    {
        LogLock lock(g_mutex);   // no handler is reading the token
        sw = g_switch.exchange(nullptr);
    }
    delete sw;
}

LogSwitchHolder *AppLog::debugSwitchHolder()
{
    return &g_switch;
}

void AppLog::setDebugEnabled(bool on)
{
    LogLock lock(g_mutex);   // the token is not freed meanwhile
    if (LogSwitch *sw = g_switch.load())
        sw->store(on);
}

bool AppLog::openLog(QString &path)
{
    QString stem = path.left(path.size() - 4);
    QString numbered = stem;
    int number = 1;
    while (QFile::exists(numbered + QStringLiteral(".log"))
           && !removeUnlessHeld(numbered + QStringLiteral(".log"))) {
        ++number;
        numbered = stem + QString::number(number);
    }
    path = numbered + QStringLiteral(".log");
    if (QFile::exists(path))
        QFile::remove(path);

    LogLock lock(g_mutex);
    delete g_stream;
    delete g_file;
    g_file = new QFile(path);
    g_stream = new QTextStream();
    g_stream->setRealNumberNotation(QTextStream::SmartNotation);
    g_stream->setRealNumberPrecision(15);
    if (g_file->open(QIODevice::WriteOnly | QIODevice::Text)) {
        g_stream->setDevice(g_file);
        lockOwnLog();
        return true;
    }
    const QString appData = Environment::appDataFolder();
    QDir data(appData);
    if (!appData.isEmpty() && appData != QLatin1String("0") && data.exists()) {
        QDir().mkpath(Environment::logsFolder());
        delete g_file;
        g_file = new QFile(Environment::logsFolder() + QStringLiteral("/session.log"));
        if (g_file->open(QIODevice::WriteOnly | QIODevice::Text)) {
            g_stream->setDevice(g_file);
            path = g_file->fileName();
            lockOwnLog();
            return true;
        }
    }
    delete g_stream;
    delete g_file;
    g_stream = nullptr;
    g_file = nullptr;
    lock.unlock();
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("FATAL ERROR!"),
                                  QStringLiteral("Could not create the log file: ") + path
                                      + QStringLiteral(".\nApplication Abort!"),
                                  Prompter::Ok, Prompter::Ok);
    return false;
}

void AppLog::closeLog()
{
    if (!g_mutex)
        return;
    LogLock lock(g_mutex);
    if (g_stream)
        g_stream->flush();
    if (g_file)
        g_file->close();
    delete g_stream;
    delete g_file;
    g_stream = nullptr;
    g_file = nullptr;
}

QString AppLog::logPath()
{
    if (!g_mutex)
        return QString();
    LogLock lock(g_mutex);
    return g_file ? g_file->fileName() : QString();
}

void AppLog::emptyLogFolder()
{
    QDir logs(Environment::logsFolder());
    const QStringList files = logs.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                                             QDir::Unsorted);
    for (const QString &f : files) {
        const QString p = logs.filePath(f);
        if (QFile::exists(p))
            removeUnlessHeld(p);
    }
}

bool AppLog::internalError()
{
    return g_internalError;
}

void AppLog::setInternalError(bool on)
{
    g_internalError = on;
}

void AppLog::setSessionSaver(std::function<void()> saver)
{
    g_saver = std::move(saver);
}

bool AppLog::savingForInternalError()
{
    return g_saveAsks;
}

void AppLog::setFolderOpener(std::function<void(const QString &)> opener)
{
    g_opener = std::move(opener);
}

void AppLog::internalErrorReport(const QString &sessionName)
{
    Q_UNUSED(sessionName)
    const QString reports = Environment::errorReportsFolder();
    QDir().mkpath(reports);
    const QString base = reports + QLatin1Char('/')
                         + QLocale::c().toString(QDate::currentDate(), QStringLiteral("dd MMM yyyy"));
    QString folder;
    for (int n = 1; n <= 1000; ++n) {
        const QString candidate = base + QLatin1Char('_') + QString::number(n);
        if (!QFileInfo::exists(candidate)) {
            folder = candidate;
            break;
        }
    }
    const QString log = logPath();
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        if (!log.isEmpty()) {
            if (g_mutex) {
                LogLock lock(g_mutex);
                if (g_stream)
                    g_stream->flush();
            }
            const QString target = folder + QLatin1Char('/') + QFileInfo(log).fileName();
            QFile::remove(target);
            QFile::copy(log, target);
        }
        const QString prefs = Environment::prefsFolder() + QStringLiteral("/Tarvix.pref");
        if (QFile::exists(prefs))
            QFile::copy(prefs, folder + QStringLiteral("/Tarvix.pref"));
    }
    if (onGuiThread()) {
        // The box says where the files to send are.
        const QString where = !folder.isEmpty()
                                  ? QStringLiteral("\n\nThe report with the log files and the preferences file is in:\n") + folder
                              : !log.isEmpty() ? QStringLiteral("\n\nThe log files are in:\n") + QFileInfo(log).absolutePath()
                                               : QString();
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Internal Error Detected!"),
            QStringLiteral("An Internal Error has ocurred during this Session.\nPlease e-mail the log files as well as your preferences file, so that a permanent Solution to this problem can be found.")
                + where,
            Prompter::Ok, Prompter::Ok);
    }
    if (!folder.isEmpty() && g_opener)
        g_opener(folder);
}

void AppLog::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    // A message raised while this thread is already writing one (a file
    // warning inside the handler) is dropped instead of waiting on itself.
    if (t_inHandler || !g_mutex)
        return;
    t_inHandler = true;
    bool wroteBlock = false;
    // Qt's own warnings (categories such as "qt.qpa.xcb") are logged, but
    // they are no fault of this program: no internal error, no session save.
    const bool ours = !context.category || std::strcmp(context.category, "default") == 0;
    {
        LogLock lock(g_mutex);
        const LogSwitch *sw = g_switch.load();
        if (g_file && g_stream && sw) {
            QTextStream &out = *g_stream;
            if (type == QtDebugMsg || type == QtInfoMsg) {
                if (sw->load()) {
                    out << msg;
                    out.flush();
                }
            } else if (!(type == QtWarningMsg && isGeometryNoise(context, msg))) {
                const QString name = blockName(type);
                out << "\n*** " << name << " ***\n";
                out << msg << '\n';
                out.flush();
                out << "Category: " << (context.category ? context.category : "") << '\n';
                out.flush();
                out << "File: " << (context.file ? context.file : "") << '\n';
                out.flush();
                out << "Function: " << (context.function ? context.function : "") << '\n';
                out.flush();
                out << "Line: " << context.line << '\n';
                out.flush();
                out << "Version: " << context.version;
                out << "\n*** " << name << " Complete ***\n";
                out.flush();
                wroteBlock = true;
                if (ours && type != QtFatalMsg)
                    g_internalError = true;
            }
        }
    }
    t_inHandler = false;
    if (wroteBlock && ours && type != QtFatalMsg)
        requestSessionSave(type == QtCriticalMsg);
    if (type == QtFatalMsg) {
        // A fatal record ends the process, so its session save cannot wait
        // for the event loop: on the GUI thread it runs here and now. Then
        // the report, and the process ends with a failure code.
        if (wroteBlock && onGuiThread()) {
            g_askPending = true;
            runSaver();
        }
        if (wroteBlock)
            internalErrorReport(QString());
        closeLog();
        std::_Exit(1);
    }
}
