#ifndef TARVIX_H
#define TARVIX_H

#include "store/equationstore.h"

#include <QList>
#include <QMainWindow>
#include <QString>

// The main window: one equation system, its view and its commands. Any
// number of windows live in one process and share the window list.
class tarvix : public QMainWindow
{
    Q_OBJECT
public:
    // path: a file to open at once (empty for a new system). hidden: the
    // window variant without form, view or recorder that is never shown
    // (stealth solving and the benchmark).
    explicit tarvix(const QString &path = QString(), bool hidden = false, QWidget *parent = nullptr);
    ~tarvix() override;

    static const QList<tarvix *> &windows();

    EquationStore &store() { return m_store; }
    QString windowName() const { return m_windowName; }
    QString currentFileName() const { return m_fileName; }
    bool isHiddenWindow() const { return m_hidden; }
    void updateTitle();

public slots:
    void on_solveb_clicked();
    void errMsg(QString *errTitle, QString *errTxt, QString errorType);
    void StatusBarMsg(QString msg, int time);

private:
    void lastWindowTearDown();

    EquationStore m_store;
    QString m_windowName;
    QString m_fileName;
    QString m_lastDirectory;
    bool m_hidden;
    bool m_quiet = false;
    bool m_saved = true;
};

#endif
