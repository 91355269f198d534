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
    // (the folders or the list file could not be made).
    static QString unavailableReason();
    // Saved sessions that can be resumed (list file order, current one and
    // sessions in use by another process left out).
    QStringList resumableSessions() const;
    // Names in the list file at start-up, after the clean-up.
    QStringList listedSessions() const { return m_listed; }
    // False when another process already works in the current session
    // folder (or it could not be locked): this run must not record there.
    bool ownsFolder() const { return m_folderLock != nullptr; }
    // Removes names from the list file (their folders go at the next start).
    bool removeFromList(const QStringList &names);
    // True when a running process holds the session folder at path.
    static bool folderInUse(const QString &path);

    // Saves the current session, asking once for a name when it is still
    // unsaved. *done tells whether it was saved.
    void saveSession(bool *done);
    // Saves the session on behalf of the log and the memory question: one
    // request, one answer; a declined name is not asked again. While a
    // window reads, writes or solves (busy query) the save waits for it.
    static void saveCurrentSession();
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
    void holdFolder();
    void releaseFolder();
    QStringList readListFile() const;
    bool writeListFile(const QStringList &names) const;
    QStringList m_listed;
    std::unique_ptr<QLockFile> m_folderLock;
};

#endif
