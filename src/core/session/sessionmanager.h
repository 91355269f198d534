#ifndef SESSIONMANAGER_H
#define SESSIONMANAGER_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLockFile;

// Keeper of the session state of this process: the session folder every
// window records into, the window names and the session list file. The
// dialog that lists saved sessions is built on top of it in the program.
//
// Several processes share the list file: every read-modify-write of it runs
// under a lock file beside it, and the file is replaced whole. Each process
// holds a lock file inside its own session folder for its lifetime, so that
// no other process deletes that folder or offers it for resuming.
class SessionManager : public QObject
{
    Q_OBJECT
public:
    // Start-up: cleans the sessions folder against the list file and starts
    // today's unsaved session.
    SessionManager();
    // Command line "-Session name": works in that saved session.
    explicit SessionManager(const QString &name);
    ~SessionManager() override;

    static SessionManager *instance();
    static QString currentSessionName();
    // "Window " and the next free number: a resumed session already holds
    // window folders, and a new window must never record into one of them.
    static QString nextWindowName();
    // The next window made takes this name once: the saved window it is
    // about to resume (so it makes no folder of its own).
    static void setNextWindowName(const QString &name);
    static QString sessionsRoot();
    static QString listFilePath();
    static QString currentSessionFolder();
    // Empty while sessions work; otherwise why they are off for this run
    // (the folders or the list file could not be made, or the list file
    // exists but cannot be read).
    static QString unavailableReason();
    // Whether the windows of this run can record their history: the run
    // holds a session folder of its own (always true without a keeper).
    static bool recordingPossible();
    // True when this run's session outlives the run (saved under a name, or
    // a recovered one): a window keeps its session file current as it
    // closes, so the session resumes to what the user last had.
    static bool keepsWindowFiles();
    // Saved sessions that can be resumed (list file order, current one and
    // sessions in use by another process left out).
    QStringList resumableSessions() const;
    // Unsaved sessions of runs that ended without cleaning up (a crash, a
    // kill) and still hold recorded actions: kept until the user resumes
    // and saves them or deletes them.
    QStringList recoverableSessions() const;
    // True when the folder of a session holds snapshots of recorded actions
    // (a window's initial state alone does not count).
    static bool holdsRecordedActions(const QString &sessionFolder);
    // Why name cannot be a session name (empty: it can). Names are taken
    // trimmed; see acceptedName.
    static QString nameRefusal(const QString &name);
    // A free name the Save Session dialog offers ("Session Dec 09, 2026").
    static QString suggestedName();
    // False when another process already works in the current session
    // folder (or it could not be locked): this run must not record there.
    bool ownsFolder() const { return m_folderLock != nullptr; }
    // Removes names from the list file (their folders go at the next start;
    // a recovered session's folder goes at once). A list that cannot be
    // read is left alone: a box says so and nothing is removed.
    bool removeFromList(const QStringList &names);
    // The -Session run: true when this run works in the session it was
    // asked for (a name without a session folder or windows yet starts that
    // session, listed); false when it was refused (an invalid or unsaved
    // name without windows, or another process works in it) and this run
    // works in a fresh unsaved session of its own.
    bool resumedAsked() const { return m_resumed; }
    // True when a running process holds the session folder at path.
    static bool folderInUse(const QString &path);

    // Saves the current session, asking once for a name when it is still
    // unsaved. *done tells whether it was saved.
    void saveSession(bool *done);
    // Saves the session on behalf of the log and the memory question. A
    // named session is saved without a question; an unsaved one is named
    // only when mayAsk (an internal error, the memory question), and a name
    // declined once is not asked again in this run. With sessions off it
    // does nothing. While a window reads, writes or solves (busy query) the
    // save waits for it.
    static void saveCurrentSession(bool mayAsk = true);
    static void setBusyQuery(std::function<bool()> busy);

    static void DeleteDir(const QString &path, const QStringList *keepFiles = nullptr,
                          const QStringList *keepDirs = nullptr);
    static QString automaticName(const QString &root);

    // Names of the lock files (never listed as sessions).
    static QString listLockName() { return QStringLiteral("Sessions.sestrx.lock"); }
    static QString folderLockName() { return QStringLiteral("Session.lock"); }

signals:
    void SaveSession();

private:
    void startUp();
    // A fresh unsaved session of this run: folder made and held, name
    // appended to the list.
    void startOwnSession();
    bool adopt(const QString &name);
    void holdFolder();
    void releaseFolder();
    // False (with *why) when the list file exists but cannot be read or
    // holds no text; a missing file reads as empty.
    bool readListFile(QStringList *names, QString *why = nullptr) const;
    bool writeListFile(const QStringList &names) const;
    bool m_resumed = false;
    bool m_recovered = false;   // works in a recovered unsaved session
    std::unique_ptr<QLockFile> m_folderLock;
};

#endif
