// Session commands of the main window: Save Session, Save Session and Exit,
// the Session Manager, and resuming a window from a saved session folder.

#include "tarvix.h"
#include "historybridge.h"

#include "files/atomicfile.h"
#include "mytablemodel.h"
#include "sessions/sessionmanagerdialog.h"
#include "session/sessionmanager.h"

#include <QApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QStatusBar>

void tarvix::on_actionSave_Session_triggered()
{
    SessionManager *sm = SessionManager::instance();
    if (!sm)
        return;
    bool done = false;
    sm->saveSession(&done);
    if (done && changesRecorded())
        m_doc.setSaved(true);
}

void tarvix::on_actionSave_Session_and_Exit_triggered()
{
    SessionManager *sm = SessionManager::instance();
    if (!sm)
        return;
    bool done = false;
    sm->saveSession(&done);
    if (!done)
        return;
    // The session holds the data of every window whose changes are all
    // recorded: those close without a question, the others ask as Close.
    for (tarvix *w : windows())
        if (w->changesRecorded())
            w->m_doc.setSaved(true);
    on_actionClose_All_triggered();
}

bool tarvix::changesRecorded()
{
    // A computed solution is in no snapshot until the next recorded action.
    return !m_unrecorded && m_doc.lastTrust().method == SolveTrust::NotSolved && m_history && m_history->answered() && undoEnabledQuery();
}

void tarvix::on_actionSession_Manager_triggered()
{
    SessionManager *sm = SessionManager::instance();
    if (!sm)
        return;
    SessionManagerDialog *d = SessionManagerDialog::shared(sm);
    d->refresh();
    if (d->sessionList()->count() > 0)
        d->sessionList()->setCurrentRow(0);
    d->exec();
}

void tarvix::resumeFrom(const QString &windowFolder)
{
    // The loads that follow are quiet: they are no new edits.
    m_quiet = true;
    emit resumeWindow(windowFolder);
}

bool tarvix::anyWindowBusy()
{
    for (tarvix *w : windows())
        if (w->m_doc.busy() > 0 || w->withRecorder())
            return true;
    return false;
}

void tarvix::reportSessionAndClose(const QString &path)
{
    QString report;
    for (tarvix *w : windows()) {
        w->awaitRecorder();
        auto text = [w]() {
            QString s;
            if (w->m_model)
                w->m_model->getTableData(&s);
            return s;
        };
        report += QStringLiteral("# ") + QFileInfo(w->historyFolder()).fileName() + QLatin1Char('\n')
                  + w->statusBar()->currentMessage() + QLatin1Char('\n') + text();
        w->on_redob_clicked();
        w->awaitRecorder();
        report += QStringLiteral("\n# redo\n") + text();
        w->on_undob_clicked();
        w->awaitRecorder();
        report += QStringLiteral("\n# undo\n") + text() + QLatin1Char('\n');
    }
    const AtomicFile::Result r = AtomicFile::writeBytes(path, report.toUtf8());
    if (!r.ok)
        qWarning("%s", qUtf8Printable(r.error));
    for (tarvix *w : windows())
        w->m_doc.setSaved(true);
    QApplication::closeAllWindows();
}
