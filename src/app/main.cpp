#include "app/applog.h"
#include "commandline.h"
#include "env/environment.h"
#include "guiprompter.h"
#include "prefs/userprefs.h"
#include "session/sessionmanager.h"
#include "sessions/sessionmanagerdialog.h"
#include "tarvix.h"
#include "threads/mythreads.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

// Set once SIGTERM or SIGINT has been handled.
bool g_terminated = false;

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT (logout, Ctrl+C in the terminal) close every window
// the normal way, so preferences and the log are written as on Close All.
void closeWindowsOnSignals(QApplication *app)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier]() {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        g_terminated = true;
        QApplication::closeAllWindows();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}
#else
void closeWindowsOnSignals(QApplication *) {}
#endif

ScreenInfo screenInfo()
{
    ScreenInfo s;
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect a = screen->availableGeometry();
        const QRect f = screen->geometry();
        s.availableWidth = a.right() - a.left() + 1;
        s.availableHeight = a.bottom() - a.top() + 1;
        s.fullWidth = f.right() - f.left() + 1;
        s.fullHeight = f.bottom() - f.top() + 1;
    }
    return s;
}

} // namespace

int main(int argc, char *argv[])
{
    AppLog::install();

    auto *app = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvix"));
    QApplication::setApplicationVersion(QStringLiteral("1.20.1"));
    QApplication::setOrganizationDomain(QStringLiteral("tarvix.app"));
    QApplication::setOrganizationName(QStringLiteral("Tarvix"));
    closeWindowsOnSignals(app);
    GuiPrompter prompter;
    Prompter::setInstance(&prompter);
    AppLog::setFolderOpener([](const QString &folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });

    auto earlyExit = [app]() {
        Prompter::setInstance(nullptr);
        MyThreads::destroyPool();
        AppLog::uninstall();
        delete app;
        return -1;
    };

    const QStringList environment = UserPrefs::platformEnvironment();
    // A new account may not have its data folder yet; the preferences
    // live below it.
    if (environment.value(5) != QLatin1String("0"))
        QDir().mkpath(environment.value(5));
    auto *prefs = new UserPrefs(AppLog::debugSwitchHolder());
    UserPrefs::setInstance(prefs);
    UserPrefs::setVersion(QApplication::applicationVersion());
    if (!prefs->initialise(environment, screenInfo())) {
        UserPrefs::setInstance(nullptr);
        delete prefs;
        return earlyExit();
    }

    AppLog::emptyLogFolder();
    QString logPath = Environment::logsFolder() + QStringLiteral("/session.log");
    if (!AppLog::openLog(logPath)) {
        UserPrefs::setInstance(nullptr);
        delete prefs;
        return earlyExit();
    }
    AppLog::setSessionSaver([]() { SessionManager::saveCurrentSession(AppLog::savingForInternalError()); });
    SessionManager::setBusyQuery([]() { return tarvix::anyWindowBusy(); });

    const QStringList args = QApplication::arguments().mid(1);
    SessionManager *sessions = nullptr;
    // A session resumed from the start-up prompt runs in its own process:
    // this one has nothing to show and ends.
    bool handedOver = false;
    if (CommandLine::isSessionResume(args)) {
        UserPrefs::setUndoEnabled(true);
        sessions = new SessionManager(args.at(1));
        SessionManagerDialog::resumeSessionFromFile(args.at(1));
        // Scripted checks only: report the resumed windows, then close.
        const QString report = qEnvironmentVariable("TARVIX_SESSION_REPORT");
        if (!report.isEmpty())
            QTimer::singleShot(0, app, [report]() { tarvix::reportSessionAndClose(report); });
    } else {
        sessions = new SessionManager();
        if (args.isEmpty())
            handedOver = SessionManagerDialog::startUpPrompt(sessions);
        if (!handedOver && CommandLine::openFromArguments(args).isEmpty()) {
            auto *w = new tarvix();
            w->show();
        }
    }

    // Reported once: the run goes on without sessions.
    if (!SessionManager::unavailableReason().isEmpty() && !tarvix::windows().isEmpty())
        tarvix::windows().first()->StatusBarMsg(
            QStringLiteral("Sessions are off for this run: ") + SessionManager::unavailableReason(), 10000);

    // A signal handled while the program was still starting (in the
    // start-up prompt, or while the first window was being made) closed
    // only what was shown then: close what start-up has shown since.
    if (g_terminated)
        QTimer::singleShot(0, app, []() { QApplication::closeAllWindows(); });
    const int code = handedOver ? 0 : QApplication::exec();

    AppLog::setDebugEnabled(true);
    qDebug("%s", qUtf8Printable(QStringLiteral("\nApplication Exited with Error Code  %1 .\n ").arg(code)));
    if (AppLog::internalError())
        AppLog::internalErrorReport(SessionManager::currentSessionName());
    AppLog::setSessionSaver(nullptr);
    SessionManager::setBusyQuery(nullptr);
    SessionManagerDialog::deleteShared();
    delete sessions;
    // Normally the last window has saved the preferences and torn down the
    // shared objects; this covers a loop that ended without windows.
    if (UserPrefs *left = UserPrefs::instance()) {
        UserPrefs::savePrefs();
        UserPrefs::setInstance(nullptr);
        delete left;
        MyThreads::destroyPool();
    }
    AppLog::closeLog();
    Prompter::setInstance(nullptr);
    AppLog::uninstall();
    delete app;
    return code;
}
