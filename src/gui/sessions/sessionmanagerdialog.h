#ifndef SESSIONMANAGERDIALOG_H
#define SESSIONMANAGERDIALOG_H

#include <QDialog>
#include <QStringList>

#include <functional>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class SessionManager;
class tarvix;

// The "Session Manager" dialog: lists the saved sessions of the keeper and
// resumes each selected one in a new process, or deletes them from the list.
class SessionManagerDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SessionManagerDialog(SessionManager *keeper, QWidget *parent = nullptr);

    // Refills the list from the keeper: the saved sessions, then the
    // recovered ones ("Recovered: " and the name).
    void refresh();
    // The session name of a list entry.
    static QString sessionName(const QListWidgetItem *item);
    QListWidget *sessionList() const { return m_list; }

    // Starts a detached process; replaced by tests.
    using Launcher = std::function<bool(const QString &program, const QStringList &args)>;
    static void setLauncher(Launcher launcher);

    // The start-up prompt: shown modally when saved or recovered sessions
    // exist. True when a session was resumed in a new process (this run
    // then has nothing more to show).
    static bool startUpPrompt(SessionManager *keeper);
    // The dialog of this process (one, made on first use).
    static SessionManagerDialog *shared(SessionManager *keeper);
    static void deleteShared();

    // Opens the windows of a saved session in this process: one window per
    // window folder, each resumed from its folder. Returns the windows.
    static QList<tarvix *> resumeSessionFromFile(const QString &name);

public slots:
    void on_resumeSessionb_clicked();
    void on_sessionList_itemDoubleClicked(QListWidgetItem *item);
    void on_deleteSessionb_clicked();
    void on_notNowSessionb_clicked();

private:
    SessionManager *m_keeper;
    QListWidget *m_list;
    QPushButton *m_resume;
    QPushButton *m_delete;
    QPushButton *m_notNow;
    bool m_launched = false;
};

#endif
