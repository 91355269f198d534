// Session commands of the main window: Save Session, Save Session and Exit,
// the Session Manager, and resuming a window from a saved session folder.

#include "tarvix.h"

#include "sessions/sessionmanagerdialog.h"
#include "session/sessionmanager.h"

#include <QListWidget>

void tarvix::on_actionSave_Session_triggered()
{
    SessionManager *sm = SessionManager::instance();
    if (!sm)
        return;
    bool done = false;
    sm->saveSession(&done);
    if (done)
        m_saved = true;
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
    // The session holds every window's data: nothing is asked on closing.
    for (tarvix *w : windows())
        w->m_saved = true;
    on_actionClose_All_triggered();
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
        if (w->m_busy > 0)
            return true;
    return false;
}
