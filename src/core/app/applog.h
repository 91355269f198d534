#ifndef APPLOG_H
#define APPLOG_H

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

class QFile;
class QTextStream;

// The debug-logging switch: a token that exists while the log writes at all
// and says whether debug records are written. The handler reads it on every
// thread while others switch it, so the token and its holder are atomic.
using LogSwitch = std::atomic<bool>;
using LogSwitchHolder = std::atomic<LogSwitch *>;

// The run log: one process-wide message handler that writes every Qt
// message of the process to "session.log", framed blocks for warnings and
// worse, the internal-error flag and the error-report folder.
class AppLog
{
public:
    // Creates the log mutex and the debug-logging switch (true) and installs
    // the message handler. Until openLog succeeds every message is dropped.
    static void install();
    // Puts the previous handler back and frees the switch (end of a run).
    static void uninstall();

    // The debug-logging switch. Null means no log output at all (see
    // UserPrefs::turnOffDbg); the holder gives access to the pointer itself.
    static LogSwitchHolder *debugSwitchHolder();
    static void setDebugEnabled(bool on);

    // Opens the log at path (normally .../Tarvix/logs/session.log). On
    // return path holds the file actually used. False: no log could be made
    // (the "FATAL ERROR!" box has been shown).
    static bool openLog(QString &path);
    static void closeLog();
    static QString logPath();
    // Deletes every plain file in the logs folder that can be deleted.
    static void emptyLogFolder();

    static bool internalError();
    static void setInternalError(bool on);

    // Report folder (dd MMM yyyy_n) with the log and the preferences, the
    // box (naming that folder), then the folder is shown in the file
    // browser.
    static void internalErrorReport(const QString &sessionName);

    // Called on the GUI thread after every warning, critical or fatal block,
    // never while the log is locked and never re-entered. Installed by the
    // program (it asks the session manager to save the session).
    static void setSessionSaver(std::function<void()> saver);
    // True while the saver runs for a critical or fatal block: only then
    // may it ask the user to name the session (warnings are routine and
    // save without questions).
    static bool savingForInternalError();
    // Opens a local folder in the desktop's file browser (installed by the
    // program; the core cannot).
    static void setFolderOpener(std::function<void(const QString &)> opener);

    static void messageHandler(QtMsgType type, const QMessageLogContext &context,
                               const QString &msg);
};

#endif
