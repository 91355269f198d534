#ifndef SESSIONMANAGER_H
#define SESSIONMANAGER_H

#include <QObject>
#include <QString>
#include <QStringList>

// Keeper of the session state of this process: the session folder every
// window records into, the window names and the session list file. The
// dialog that lists saved sessions is built on top of it in the program.
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
    static QString nextWindowName();
    static QString sessionsRoot();
    static QString listFilePath();
    static QString currentSessionFolder();
    // Saved sessions that can be resumed (list file order, current one left out).
    QStringList resumableSessions() const;
    // Names in the list file at start-up, after the clean-up.
    QStringList listedSessions() const { return m_listed; }

    // Saves the current session, asking once for a name when it is still
    // unsaved. *done tells whether it was saved.
    void saveSession(bool *done);
    // Saves the session on behalf of the log and the memory question: one
    // request, one answer; a declined name is not asked again.
    static void saveCurrentSession();

    static void DeleteDir(const QString &path, const QStringList *keepFiles = nullptr,
                          const QStringList *keepDirs = nullptr);
    static QString automaticName(const QString &root);

signals:
    void SaveSession();

private:
    void startUp();
    QStringList readListFile() const;
    bool writeListFile(const QStringList &names) const;
    QStringList m_listed;
};

#endif
