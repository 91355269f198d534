#include "tarvix.h"
#include "ui_tarvix.h"

#include "about/aboutdialog.h"
#include "about/helpdesk.h"
#include "app/applog.h"
#include "fancy/fancygrid.h"
#include "history/undoredo.h"
#include "historybridge.h"
#include "mydelegate.h"
#include "tableheader.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "session/sessionmanager.h"
#include "shareddialogs.h"
#include "threads/mythreads.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStatusBar>
#include <QTableView>

#include <charconv>

static void initTarvixResources()
{
    // The resources sit in a static library; register them once.
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(tarvix);
        done = true;
    }
}

namespace {
QList<tarvix *> *g_windows = nullptr;
int g_windowsEverMade = 0;
}

const QList<tarvix *> &tarvix::windows()
{
    static const QList<tarvix *> none;
    return g_windows ? *g_windows : none;
}

int tarvix::windowsEverMade()
{
    return g_windowsEverMade;
}

tarvix::tarvix(const QString &path, bool hidden, QWidget *parent)
    : QMainWindow(parent), m_hidden(hidden)
{
    initTarvixResources();
    if (!hidden) {
        if (SessionManager *sm = SessionManager::instance())
            connect(sm, &SessionManager::SaveSession, this, &tarvix::saveWindowToFile);
    }
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
    m_doc.setFileName(QString());
    if (!hidden)
        SharedDialogs::create();

    // The view is chosen once; a hidden window has no view at all.
    m_fancy = !hidden && UserPrefs::getFancyUI();
    m_quiet = false;
    m_store.N = 2;
    m_store.allocated = 0;

    if (!hidden) {
        buildForm();
        if (m_fancy)
            buildFancyView();
        else
            buildTableView();
        m_history = new HistoryBridge(*this);
        m_history->start();
    }

    bool undoOn = false;
    if (!hidden) {
        // Without a session folder of its own the run records nothing.
        undoOn = UserPrefs::getUndoEnabled() && SessionManager::recordingPossible();
        emit setUndoState(false);
        ui->undob->setEnabled(undoOn);
        ui->redob->setEnabled(undoOn);
        ui->actionUndo->setEnabled(undoOn);
        ui->actionRedo->setEnabled(undoOn);
        ui->panGroup->setVisible(m_fancy);
        SharedDialogs::place(this, UserPrefs::MainWindow);
    }

    resizeSystem(2);
    on_newb_clicked();
    m_store.allocated = 2;
    if (!hidden) {
        setAcceptDrops(true);
        emit setUndoState(undoOn);
        if (undoOn && m_history->freshHistory())
            emit initialStateBuilt();
    }

    if (!hidden && !path.isEmpty()) {
        show();
        QApplication::processEvents();
        openRecorded(path);
    }
    if (!hidden && !checkUpdateLog())
        on_actionCheck_for_Updates_triggered(true);
}

void tarvix::buildForm()
{
    ui = new Ui::tarvix;
    ui->setupUi(this);
    QIcon icon;
    for (const char *size : {"16x16", "32x32", "64x64", "128x128", "256x256"})
        icon.addFile(QStringLiteral(":/Icons/Trx_") + QLatin1String(size) + QStringLiteral(".png"));
    setWindowIcon(icon);

    // The actions share the buttons' slots; the rest connect by name.
    connect(ui->actionNew, &QAction::triggered, this, &tarvix::on_newb_clicked);
    connect(ui->actionOpen, &QAction::triggered, this, &tarvix::on_openb_clicked);
    connect(ui->actionSave, &QAction::triggered, this, &tarvix::on_saveb_clicked);
    connect(ui->actionSolve, &QAction::triggered, this, &tarvix::on_solveb_clicked);
    connect(ui->actionAnalyse_Solution, &QAction::triggered, this, &tarvix::on_analyseb_clicked);
    connect(ui->actionUndo, &QAction::triggered, this, &tarvix::on_undob_clicked);
    connect(ui->actionRedo, &QAction::triggered, this, &tarvix::on_redob_clicked);
    connect(ui->actionIncrease_Variables, &QAction::triggered, this, &tarvix::on_incvarb_clicked);
    connect(ui->actionDecrease_Variables, &QAction::triggered, this, &tarvix::on_decvarb_clicked);
    connect(ui->actionClose, &QAction::triggered, this, &QWidget::close);
}

void tarvix::buildTableView()
{
    // The table takes the whole equation area: no spacer below it.
    ui->areaLayout->removeItem(ui->verticalSpacer);
    delete ui->verticalSpacer;
    ui->verticalSpacer = nullptr;

    m_model = new MyTableModel(this);
    m_view = new QTableView(ui->scrollAreaWidgetContents);
    m_view->setObjectName(QStringLiteral("tableView"));
    m_view->setCornerButtonEnabled(false);
    m_view->setHorizontalHeader(new TableHeader(Qt::Horizontal, m_view));
    m_view->setVerticalHeader(new TableHeader(Qt::Vertical, m_view));
    m_delegate = new MyDelegate(m_view);
    m_view->setModel(m_model);
    m_view->setItemDelegate(m_delegate);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    delete ui->areaLayout->replaceWidget(ui->gridFrame, m_view);
    ui->areaLayout->setStretchFactor(m_view, 1);
    delete ui->gridFrame;
    ui->gridFrame = nullptr;
    ui->gridLayout = nullptr;
    // Direct: the window reads the old value before the model stores the new one.
    connect(m_model, &MyTableModel::cellChanged, this, &tarvix::cellChanged, Qt::DirectConnection);
}

tarvix::~tarvix()
{
    // The waits below handle events: a pending deferred delete of this
    // window (close() then delete) must not run in them.
    QCoreApplication::removePostedEvents(this, QEvent::DeferredDelete);
    // A recording still under way reads the arrays released below.
    awaitRecorder();
    emit terminateApp();
    setAreaUpdates(false);
    resizeSystem(0);

    if (m_hidden)
        return;

    const bool last = g_windows && g_windows->size() == 1 && g_windows->first() == this;
    QThread *destructThread = nullptr;
    if (last) {
        SharedDialogs::store(this, UserPrefs::MainWindow);
        SharedDialogs::storeGeometry();
        if (UserPrefs::instance())
            destructThread = MyThreads::start(UserPrefs::instance(), SLOT(Destruct()),
                                              QStringLiteral("Tarvix::destruct"));
    }

    delete m_view;   // takes the delegate with it
    m_view = nullptr;
    m_delegate = nullptr;
    delete m_model;
    m_model = nullptr;
    delete m_grid;
    m_grid = nullptr;
    delete ui;
    ui = nullptr;
    if (m_history)
        m_history->stop();

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
    SharedDialogs::destroy();
    UserPrefs *prefs = UserPrefs::instance();
    UserPrefs::setInstance(nullptr);
    delete prefs;
    MyThreads::destroyPool();
    delete g_windows;
    g_windows = nullptr;
}

bool tarvix::resizeSystem(int newN)
{
    m_store.N = newN;
    if (m_model)
        m_model->lock();
    m_store.release();
    m_store.allocated = 0;
    if (!m_store.allocateMemory())
        return false;
    m_store.allocated = newN;
    if (m_model)
        m_model->resize(newN, m_store.coef, m_store.rhs);
    if (m_grid)
        m_grid->setCount(newN);
    return true;
}

void tarvix::updateTitle()
{
    if (m_doc.fileName().isEmpty()) {
        setWindowTitle(QStringLiteral("Tarvix (") + m_windowName + QLatin1Char(')'));
    } else {
        setWindowTitle(m_doc.fileName() + QStringLiteral(" - [") + QString::number(m_store.N)
                       + QLatin1Char('x') + QString::number(m_store.N) + QStringLiteral("] - Tarvix (")
                       + m_windowName + QLatin1Char(')'));
    }
}

// ------------------------------------------------------------ recorder frame

bool tarvix::undoEnabledQuery()
{
    return m_history && m_history->enabledQuery();
}

bool tarvix::undoBusyQuery()
{
    return m_history && m_history->busyQuery();
}

UndoRedo *tarvix::recorder() const
{
    return m_history ? m_history->recorder() : nullptr;
}

QString tarvix::historyFolder() const
{
    return m_history ? m_history->folder() : UndoRedo::folderFor(m_windowName);
}

void tarvix::awaitRecorder()
{
    if (m_history)
        m_history->await();
}

bool tarvix::withRecorder() const
{
    return m_history && m_history->busy();
}

void tarvix::setRecorder(QObject *recorder)
{
    if (m_history)
        m_history->setStandIn(recorder);
}

void tarvix::commitOpenEditor()
{
    QWidget *editor = m_view && m_delegate ? m_view->indexWidget(m_view->currentIndex()) : nullptr;
    if (editor) {
        emit m_delegate->commitData(editor);
        emit m_delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    // A recording still under way must not meet the command's own file work
    // (the file pipelines run one at a time).
    awaitRecorder();
}

void tarvix::on_undob_clicked()
{
    if (m_history)
        m_history->step(false);
}

void tarvix::on_redob_clicked()
{
    if (m_history)
        m_history->step(true);
}

void tarvix::saveHistToFile(QString path, bool *result)
{
    m_history->saveSnapshot(path, result);
}

void tarvix::readHistFromFile(QString path, bool *result, bool redo)
{
    m_history->readSnapshot(path, result, redo);
}

bool tarvix::beginCommand(bool *undoWas)
{
    *undoWas = false;
    if (m_quiet)
        return true;
    commitOpenEditor();
    if (m_history && m_history->answered()) {
        *undoWas = undoEnabledQuery();
        if (*undoWas && undoBusyQuery())
            return false;
    }
    emit setUndoState(false);
    return true;
}

void tarvix::endCommand(bool undoWas)
{
    if (!m_quiet)
        emit setUndoState(undoWas);
}

// ------------------------------------------------------------------ commands

void tarvix::on_newb_clicked()
{
    bool undoWas = false;
    if (!beginCommand(&undoWas))
        return;
    m_store.clear();
    if (m_grid)
        m_grid->clearFields();
    else if (m_model)
        m_model->refreshAll();
    if (ui)
        ui->decvarb->setEnabled(m_store.N >= 3);
    m_doc.setFileName(QString());
    updateTitle();
    // Replayed by the recorder, the history decides (savedFromHistory).
    if (!m_quiet)
        m_doc.setSaved(true);
    endCommand(undoWas);
    if (undoWas)
        emit newbClicked();
}

void tarvix::on_actionNew_Window_triggered()
{
    auto *w = new tarvix();
    w->show();
}

void tarvix::on_actionClose_All_Except_This_triggered()
{
    // Only the first two places can hold another window: this one is skipped
    // and every other window that closes leaves the list. A window whose
    // user cancels stays open and ends the command.
    int pos = 0;
    while (g_windows && g_windows->size() > 1 && pos < 2 && pos < g_windows->size()) {
        tarvix *w = g_windows->at(pos);
        if (w == this) {
            ++pos;
            continue;
        }
        if (!w->close())
            return;
        // close() only schedules the deletion; the window goes now.
        if (g_windows && g_windows->contains(w))
            delete w;
    }
}

void tarvix::on_actionClose_All_triggered()
{
    on_actionClose_All_Except_This_triggered();
    if (g_windows && g_windows->size() == 1 && g_windows->first() == this)
        close();
}

// --------------------------------------------------------------------- slots

void tarvix::errMsg(QString *errTitle, QString *errTxt, QString errorType)
{
    QApplication::processEvents();
    const Prompter::Icon icon = Prompter::iconForType(errorType);
    Prompter::instance()->message(icon, errTitle ? *errTitle : QString(), errTxt ? *errTxt : QString(),
                                  Prompter::Ok, Prompter::Ok);
    QApplication::processEvents();
    delete errTitle;
    delete errTxt;
}

void tarvix::StatusBarMsg(QString msg, int time)
{
    if (m_hidden)
        return;
    statusBar()->showMessage(msg, time);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void tarvix::scrollToCell(int row, int col)
{
    if (!m_view || !m_model)
        return;
    const QModelIndex index = m_model->index(row, col);
    if (!index.isValid())
        return;
    m_view->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_view->clearSelection();
    m_view->selectionModel()->select(index, QItemSelectionModel::Select);
}

void tarvix::cellChanged(int row, int col, QString currs)
{
    if (row < 0 || row >= m_store.N || col < 0 || col == m_store.N || col > m_store.N + 1)
        return;
    const double old = col == m_store.N + 1 ? m_store.rhs[row] : m_store.coef[row][col];
    double now = 0.0;
    if (!MyTableModel::parseCell(currs, &now))
        return;
    if (!m_quiet)
        emit textChanged(row, col, roundTripText(now), roundTripText(old));
    m_doc.setSaved(false);
}

QString tarvix::roundTripText(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

void tarvix::undoFinished()
{
    m_quiet = false;
    m_store.allocated = m_store.N;
}

void tarvix::saveWindowToFile()
{
    if (m_history)
        m_history->saveWindow();
}

void tarvix::closeEvent(QCloseEvent *event)
{
    if (m_doc.busy() > 0) {
        event->ignore();
        return;
    }
    if (checkSaved()) {
        // A session kept beyond this run resumes to what the window showed.
        if (recorder() && SessionManager::keepsWindowFiles())
            saveWindowToFile();
        event->accept();
    } else {
        event->ignore();
    }
}

// ------------------------------------------------------- help and updates

void tarvix::on_actionHelp_triggered()
{
    HelpDesk::showHelp();
}

void tarvix::on_actionAbout_triggered()
{
    SharedDialogs::about()->exec();
}

void tarvix::on_actionCheck_for_Updates_triggered(bool quiet)
{
    HelpDesk::checkForUpdates(this, quiet, m_doc, [this](const QString &text, int ms) { StatusBarMsg(text, ms); });
}

bool tarvix::checkUpdateLog()
{
    return HelpDesk::checkUpdateLog();
}

void tarvix::setShippedHelpFile(const QString &path)
{
    HelpDesk::setShippedHelpFile(path);
}
