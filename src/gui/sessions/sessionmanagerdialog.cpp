#include "sessionmanagerdialog.h"

#include "session/sessionmanager.h"
#include "tarvix.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {
SessionManagerDialog::Launcher g_launcher;
SessionManagerDialog *g_shared = nullptr;

bool launch(const QString &program, const QStringList &args)
{
    if (g_launcher)
        return g_launcher(program, args);
    return QProcess::startDetached(program, args);
}
} // namespace

SessionManagerDialog::SessionManagerDialog(SessionManager *keeper, QWidget *parent)
    : QDialog(parent), m_keeper(keeper)
{
    setObjectName(QStringLiteral("SessionManager"));
    setWindowTitle(QStringLiteral("Session Manager"));
    // A title bar without a close button: the dialog ends through its buttons.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setWindowIcon(QIcon(QStringLiteral(":/Icons/Trx_32x32.png")));

    auto *label = new QLabel(QStringLiteral("Following Sessions are available for resuming:"), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("sessionList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_resume = new QPushButton(QStringLiteral("Resume"), this);
    m_resume->setObjectName(QStringLiteral("resumeSessionb"));
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName(QStringLiteral("deleteSessionb"));
    m_notNow = new QPushButton(QStringLiteral("Not Now"), this);
    m_notNow->setObjectName(QStringLiteral("notNowSessionb"));
    m_resume->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_resume);
    buttons->addWidget(m_delete);
    buttons->addStretch(1);
    buttons->addWidget(m_notNow);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(360, 300);
    QMetaObject::connectSlotsByName(this);
}

void SessionManagerDialog::setLauncher(Launcher launcher)
{
    g_launcher = std::move(launcher);
}

SessionManagerDialog *SessionManagerDialog::shared(SessionManager *keeper)
{
    if (!g_shared)
        g_shared = new SessionManagerDialog(keeper);
    g_shared->m_keeper = keeper;
    return g_shared;
}

void SessionManagerDialog::deleteShared()
{
    delete g_shared;
    g_shared = nullptr;
}

void SessionManagerDialog::refresh()
{
    m_list->clear();
    if (!m_keeper)
        return;
    m_list->addItems(m_keeper->resumableSessions());
    for (const QString &name : m_keeper->recoverableSessions()) {
        auto *item = new QListWidgetItem(QStringLiteral("Recovered: ") + name, m_list);
        item->setData(Qt::UserRole, name);
    }
}

QString SessionManagerDialog::sessionName(const QListWidgetItem *item)
{
    const QVariant name = item->data(Qt::UserRole);
    return name.isValid() ? name.toString() : item->text();
}

bool SessionManagerDialog::startUpPrompt(SessionManager *keeper)
{
    SessionManagerDialog *d = shared(keeper);
    d->refresh();
    if (d->m_list->count() == 0)
        return false;
    d->m_list->setCurrentRow(0);
    d->m_launched = false;
    d->exec();
    return d->m_launched;
}

void SessionManagerDialog::on_resumeSessionb_clicked()
{
    const QList<QListWidgetItem *> items = m_list->selectedItems();
    for (QListWidgetItem *item : items) {
        const QString name = sessionName(item);
        if (launch(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("-Session"), name}))
            m_launched = true;
        else
            qWarning("Could not start Tarvix for the session %s", qUtf8Printable(name));
    }
    close();
}

void SessionManagerDialog::on_sessionList_itemDoubleClicked(QListWidgetItem *item)
{
    if (item)
        item->setSelected(true);
    on_resumeSessionb_clicked();
}

void SessionManagerDialog::on_deleteSessionb_clicked()
{
    const QList<QListWidgetItem *> items = m_list->selectedItems();
    QStringList names;
    for (QListWidgetItem *item : items)
        names << sessionName(item);
    if (!m_keeper || names.isEmpty())
        return;
    // A refused delete (the list cannot be read) shows the list as it is.
    if (m_keeper->removeFromList(names))
        qDeleteAll(items);
    else
        refresh();
}

void SessionManagerDialog::on_notNowSessionb_clicked()
{
    close();
}

QList<tarvix *> SessionManagerDialog::resumeSessionFromFile(const QString &name)
{
    QList<tarvix *> windows;
    const QString folder = SessionManager::sessionsRoot() + QLatin1Char('/') + name;
    QStringList windowFolders;
    SessionManager *keeper = SessionManager::instance();
    // The keeper has taken the session (its folder is held by this run)
    // or refused it and started this run's own session.
    const bool usable = keeper && keeper->ownsFolder() && SessionManager::currentSessionName() == name
                        && QFileInfo(folder).isDir();
    if (!QFileInfo(folder).isDir())
        qWarning("error no: SM9");
    if (usable) {
        windowFolders = QDir(folder).entryList(QStringList() << QStringLiteral("Window *"),
                                               QDir::Dirs | QDir::NoDotAndDotDot);
        // Window 2 before Window 10.
        std::sort(windowFolders.begin(), windowFolders.end(), [](const QString &a, const QString &b) {
            return a.mid(7).toInt() < b.mid(7).toInt();
        });
    }
    if (windowFolders.isEmpty()) {
        auto *w = new tarvix();
        w->show();
        w->StatusBarMsg(QStringLiteral("Failed to resume session!"), 2000);
        windows << w;
        return windows;
    }
    for (const QString &wf : windowFolders) {
        // The window takes the saved folder's name: nothing fresh to make
        // and remove again.
        SessionManager::setNextWindowName(wf);
        auto *w = new tarvix();
        w->show();
        w->resumeFrom(folder + QLatin1Char('/') + wf);
        windows << w;
    }
    return windows;
}
