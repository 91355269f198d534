#include "tarvix.h"

#include "app/applog.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "session/sessionmanager.h"
#include "threads/mythreads.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStatusBar>

namespace {
QList<tarvix *> *g_windows = nullptr;
int g_windowsEverMade = 0;
}

const QList<tarvix *> &tarvix::windows()
{
    static const QList<tarvix *> none;
    return g_windows ? *g_windows : none;
}

tarvix::tarvix(const QString &path, bool hidden, QWidget *parent)
    : QMainWindow(parent), m_hidden(hidden)
{
    m_windowName = SessionManager::nextWindowName();
    AppLog::setDebugEnabled(UserPrefs::getDebugEnabled());
    if (hidden) {
        setAttribute(Qt::WA_DontShowOnScreen);
    } else {
        setAttribute(Qt::WA_DeleteOnClose);
        if (!g_windows)
            g_windows = new QList<tarvix *>();
        g_windows->append(this);
        ++g_windowsEverMade;
    }
    m_lastDirectory = QDir::current().absolutePath();
    m_store.N = 2;
    m_store.allocated = 0;
    m_store.allocateMemory();
    m_store.allocated = 2;
    m_store.clear();
    const auto g = UserPrefs::getGeometry(UserPrefs::MainWindow);
    if (!hidden) {
        move(g[0], g[1]);
        resize(g[2], g[3]);
    }
    Q_UNUSED(path)
    updateTitle();
}

tarvix::~tarvix()
{
    m_store.N = 0;
    m_store.release();
    m_store.allocated = 0;
    if (m_hidden)
        return;
    const bool last = g_windows && g_windows->size() == 1 && g_windows->first() == this;
    QThread *destructThread = nullptr;
    if (last) {
        const int geo[4] = {x(), y(), width(), height()};
        UserPrefs::setGeometry(UserPrefs::MainWindow, geo);
        if (UserPrefs::instance())
            destructThread = MyThreads::start(UserPrefs::instance(), SLOT(Destruct()),
                                              QStringLiteral("Tarvix::destruct"));
    }
    if (!g_windows || !g_windows->removeOne(this))
        qCritical("error no: TRX12");
    if (g_windows && g_windows->isEmpty()) {
        if (destructThread)
            destructThread->wait();
        lastWindowTearDown();
    }
}

void tarvix::lastWindowTearDown()
{
    UserPrefs *prefs = UserPrefs::instance();
    UserPrefs::setInstance(nullptr);
    delete prefs;
    MyThreads::destroyPool();
    delete g_windows;
    g_windows = nullptr;
}

void tarvix::updateTitle()
{
    if (m_fileName.isEmpty()) {
        setWindowTitle(QStringLiteral("Tarvix (") + m_windowName + QLatin1Char(')'));
    } else {
        setWindowTitle(m_fileName + QStringLiteral(" - [") + QString::number(m_store.N)
                       + QLatin1Char('x') + QString::number(m_store.N) + QStringLiteral("] - Tarvix (")
                       + m_windowName + QLatin1Char(')'));
    }
}

void tarvix::on_solveb_clicked()
{
}

void tarvix::errMsg(QString *errTitle, QString *errTxt, QString errorType)
{
    QApplication::processEvents();
    Prompter::Icon icon = Prompter::NoIcon;
    if (errorType == QLatin1String("WARNING"))
        icon = Prompter::Warning;
    else if (errorType == QLatin1String("CRITICAL"))
        icon = Prompter::Critical;
    else if (errorType == QLatin1String("INFORMATION"))
        icon = Prompter::Information;
    else if (errorType == QLatin1String("QUESTION"))
        icon = Prompter::Question;
    Prompter::instance()->message(icon, errTitle ? *errTitle : QString(), errTxt ? *errTxt : QString(),
                                  Prompter::Ok, Prompter::Ok);
    QApplication::processEvents();
    delete errTitle;
    delete errTxt;
}

void tarvix::StatusBarMsg(QString msg, int time)
{
    statusBar()->showMessage(msg, time);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
