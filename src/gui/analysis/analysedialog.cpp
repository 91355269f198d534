#include "analysedialog.h"

#include "analyseoptions.h"
#include "analysetable.h"
#include "analyseworker.h"
#include "mydelegate.h"
#include "prefs/userprefs.h"
#include "threads/mythreads.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

namespace {
const char *const kSetNames[3] = {"Current Solution", "Custom Solution", "Solution from File"};

// Set by the worker thread's finished(); the waiting GUI thread wakes at
// once instead of sleeping out its 100 ms.
struct DoneFlag
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

int clampSet(int set)
{
    return set >= 0 && set <= 2 ? set : 0;
}
}

AnalyseDialog::AnalyseDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Analyse the Errors in Solutions & Equations"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    buildForm();
    const auto g = UserPrefs::getGeometry(UserPrefs::AnalyseWindow);
    move(g[0], g[1]);
    if (g[2] > 0 && g[3] > 0)
        resize(g[2], g[3]);
    fitToScreen();

    m_rowSpin->setValue(UserPrefs::getAnalysisRows());
    m_tableSpin->setValue(UserPrefs::getAnalysisTables());
    m_solCombo->setCurrentIndex(clampSet(UserPrefs::getSavedSolutionSet()));
    m_errCombo->setCurrentIndex(clampSet(UserPrefs::getErrorSolutionSet()));
    m_errCombo->hide();
    m_viewApplyb->setEnabled(false);

    m_options = new AnalyseOptions(nullptr);
    connect(m_options, &AnalyseOptions::startCompare, this, &AnalyseDialog::startCompare);
    connect(m_options, &AnalyseOptions::copySols, this, &AnalyseDialog::copySolsToCustom);
    connect(m_options, &AnalyseOptions::copyText, this, &AnalyseDialog::copySolToClipboard);
    connect(m_options, &AnalyseOptions::updateSolErr, this, &AnalyseDialog::updateSolErr);
    connect(m_options, &AnalyseOptions::calcUnequal, this, &AnalyseDialog::calcUnequal);
    connect(this, &AnalyseDialog::setUnequal, m_options, &AnalyseOptions::setUnequal);
    connect(this, &AnalyseDialog::setErrDistribution, m_options, &AnalyseOptions::setErrDistribution);

    m_compareBox = new QMessageBox(this);
    m_compareBox->setObjectName(QStringLiteral("compareBox"));
    m_compareBox->setIcon(QMessageBox::Question);
    m_compareBox->setWindowTitle(QStringLiteral("Finish Solution Comparison"));
    m_compareBox->setText(QStringLiteral("Would you like to close the comparison of Solutions?"));
    QPushButton *yes = m_compareBox->addButton(QMessageBox::Yes);
    yes->setAutoDefault(false);
    m_compareBox->setModal(false);
    m_compareBox->setWindowModality(Qt::NonModal);
    m_compareBox->installEventFilter(this);
    connect(m_compareBox, &QMessageBox::buttonClicked, this, &AnalyseDialog::msgFinished);
    connect(m_options, &AnalyseOptions::showMsg, m_compareBox, &QWidget::show);

    QMetaObject::connectSlotsByName(this);
}

AnalyseDialog::~AnalyseDialog()
{
    // Views in use belong to their pages; pooled ones have no parent.
    qDeleteAll(m_pool);
    delete m_options;
}

void AnalyseDialog::buildForm()
{
    auto *layout = new QVBoxLayout(this);

    m_topFrame = new QFrame(this);
    m_topFrame->setObjectName(QStringLiteral("topFrame"));
    auto *top = new QHBoxLayout(m_topFrame);
    top->setContentsMargins(0, 0, 0, 0);
    m_solutionb = new QPushButton(QStringLiteral("Analyse\nSolutions"), m_topFrame);
    m_solutionb->setObjectName(QStringLiteral("solutionb"));
    m_errorb = new QPushButton(QStringLiteral("Analyse Errors\nin Equations"), m_topFrame);
    m_errorb->setObjectName(QStringLiteral("errorb"));
    m_optionsb = new QPushButton(QStringLiteral("Solution\nOptions"), m_topFrame);
    m_optionsb->setObjectName(QStringLiteral("optionsb"));
    for (QPushButton *b : {m_solutionb, m_errorb})
        b->setCheckable(true);
    m_solutionb->setChecked(true);
    top->addWidget(m_solutionb);
    top->addWidget(m_errorb);
    top->addWidget(m_optionsb);
    top->addStretch(1);
    top->addWidget(new QLabel(QStringLiteral("Rows per Table:"), m_topFrame));
    m_rowSpin = new QSpinBox(m_topFrame);
    m_rowSpin->setObjectName(QStringLiteral("rowSpin"));
    m_rowSpin->setRange(10, 999999999);
    m_rowSpin->setSingleStep(10);
    top->addWidget(m_rowSpin);
    top->addWidget(new QLabel(QStringLiteral("Tables:"), m_topFrame));
    m_tableSpin = new QSpinBox(m_topFrame);
    m_tableSpin->setObjectName(QStringLiteral("tableSpin"));
    m_tableSpin->setRange(1, 10);
    top->addWidget(m_tableSpin);
    m_viewApplyb = new QPushButton(QStringLiteral("Apply"), m_topFrame);
    m_viewApplyb->setObjectName(QStringLiteral("viewApplyb"));
    top->addWidget(m_viewApplyb);
    layout->addWidget(m_topFrame);

    m_trustLabel = new QLabel(this);
    m_trustLabel->setObjectName(QStringLiteral("trustLabel"));
    // A long reason wraps rather than widening the dialog.
    m_trustLabel->setWordWrap(true);
    m_trustLabel->hide();

    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    for (Page p : {SolutionPage, ErrorPage, ComparePage})
        m_stack->addWidget(buildPage(p));
    layout->addWidget(m_stack, 1);

    m_bottomFrame = new QFrame(this);
    m_bottomFrame->setObjectName(QStringLiteral("bottomFrame"));
    auto *bottom = new QHBoxLayout(m_bottomFrame);
    bottom->setContentsMargins(0, 0, 0, 0);
    m_myLabel = new QLabel(QStringLiteral("Select the Solution set which should be Saved to the File:"), m_bottomFrame);
    m_myLabel->setObjectName(QStringLiteral("myLabel"));
    bottom->addWidget(m_myLabel);
    const QStringList sets{QLatin1String(kSetNames[0]), QLatin1String(kSetNames[1]), QLatin1String(kSetNames[2])};
    m_solCombo = new QComboBox(m_bottomFrame);
    m_solCombo->setObjectName(QStringLiteral("solCombo"));
    m_solCombo->addItems(sets);
    m_errCombo = new QComboBox(m_bottomFrame);
    m_errCombo->setObjectName(QStringLiteral("errCombo"));
    m_errCombo->addItems(sets);
    bottom->addWidget(m_solCombo);
    bottom->addWidget(m_errCombo);
    bottom->addStretch(1);
    auto *close = new QPushButton(QStringLiteral("Close"), m_bottomFrame);
    close->setObjectName(QStringLiteral("pushButton_3"));
    close->setAutoDefault(false);
    bottom->addWidget(close);
    layout->addWidget(m_bottomFrame);
}

QWidget *AnalyseDialog::buildPage(Page page)
{
    static const char *const names[3] = {"solution", "equation", "compare"};
    auto *container = new QWidget;
    container->setObjectName(QLatin1String(names[page]));
    auto *v = new QVBoxLayout(container);
    v->setContentsMargins(0, 0, 0, 0);
    if (page == ErrorPage)
        v->addWidget(m_trustLabel);
    auto *scroll = new QScrollArea(container);
    scroll->setWidgetResizable(true);
    auto *inner = new QWidget;
    m_pageLayouts[page] = new QHBoxLayout(inner);
    scroll->setWidget(inner);
    v->addWidget(scroll, 1);
    return container;
}

// ------------------------------------------------------------------ set-up

void AnalyseDialog::setUp(int n, double **coef, double *rhs, double *custom, double *fromFile,
                          double *current)
{
    if (busy())
        return;
    m_n = std::max(n, 0);
    m_coef = coef;
    m_rhs = rhs;
    m_custom = custom;
    m_fromFile = fromFile;
    m_current = current;
    if (!m_coef || !m_rhs || !m_custom || !m_fromFile || !m_current)
        m_n = 0;
    const size_t size = size_t(m_n);
    for (auto &d : m_display)
        d.assign(size, 0.0);
    m_lhs.assign(size, 0.0);
    m_diff.assign(size, 0.0);
    m_pct.assign(size, 0.0);
    m_na.clear();

    // The preferences may have been changed by another window's dialog.
    syncSpinsToPrefs();
    {
        const QSignalBlocker b1(m_solCombo);
        const QSignalBlocker b2(m_errCombo);
        m_solCombo->setCurrentIndex(clampSet(UserPrefs::getSavedSolutionSet()));
        m_errCombo->setCurrentIndex(clampSet(UserPrefs::getErrorSolutionSet()));
    }
    layoutPage(SolutionPage);
    layoutPage(ErrorPage);
    makeDisplayCopies({0, 1, 2}, QStringLiteral("AnalyseDialog::MS"));
    computeErrors();
    fillPage(SolutionPage);
    fillPage(ErrorPage);
    QApplication::processEvents();
    resizeToTables();
}

void AnalyseDialog::syncSpinsToPrefs()
{
    const QSignalBlocker b1(m_rowSpin);
    const QSignalBlocker b2(m_tableSpin);
    m_rowSpin->setValue(UserPrefs::getAnalysisRows());
    m_tableSpin->setValue(UserPrefs::getAnalysisTables());
    m_viewApplyb->setEnabled(false);
}

const double *AnalyseDialog::sourceSet(int set, bool display) const
{
    if (display)
        return m_display[clampSet(set)].data();
    switch (set) {
    case 1:
        return m_custom;
    case 2:
        return m_fromFile;
    default:
        return m_current;
    }
}

void AnalyseDialog::setModelsBusy(bool on)
{
    for (const auto &page : m_views)
        for (QTableView *v : page)
            static_cast<AnalyseTable *>(v->model())->setBusy(on);
}

void AnalyseDialog::makeDisplayCopies(const QList<int> &sets, const QString &threadName)
{
    if (m_n == 0 || sets.isEmpty())
        return;
    m_refreshing = true;
    setModelsBusy(true);
    const int mode = UserPrefs::getAccuracyMode();
    const int digits = UserPrefs::getAccuracyDigits();
    struct Job
    {
        AnalyseWorker *worker;
        QThread *thread;
        std::shared_ptr<DoneFlag> flag;
        QMetaObject::Connection finished;
    };
    QList<Job> jobs;
    for (int set : sets) {
        Job job;
        job.worker = new AnalyseWorker(sourceSet(set, false), m_display[clampSet(set)].data(), m_n, mode, digits);
        job.thread = MyThreads::thrOpt(threadName);
        job.flag = std::make_shared<DoneFlag>();
        // The pooled thread may be handed out again once back in the pool,
        // so this run's end is caught by its own finished().
        auto flag = job.flag;
        job.finished = connect(
            job.thread, &QThread::finished, job.thread,
            [flag] {
                std::lock_guard<std::mutex> lock(flag->mutex);
                flag->done = true;
                flag->cv.notify_all();
            },
            Qt::DirectConnection);
        connect(job.thread, SIGNAL(started()), job.worker, SLOT(getMySolution()));
        job.worker->moveToThread(job.thread);
        job.thread->start(QThread::InheritPriority);
        jobs << job;
    }
    for (Job &job : jobs) {
        for (;;) {
            QApplication::processEvents();
            std::unique_lock<std::mutex> lock(job.flag->mutex);
            if (job.flag->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return job.flag->done; }))
                break;
        }
        disconnect(job.finished);
        delete job.worker;
    }
    setModelsBusy(false);
    m_refreshing = false;
}

void AnalyseDialog::computeErrors()
{
    const int set = clampSet(UserPrefs::getErrorSolutionSet());
    if (m_n > 0)
        Analysis::computeErrors(m_n, m_coef, m_rhs, m_display[set].data(), m_lhs.data(), m_diff.data(),
                                m_pct.data(), &m_na);
    m_counts = Analysis::rangeCounts(m_pct.data(), m_n);
    auto *list = new QList<int>;
    for (int c : m_counts)
        list->append(c);
    emit setErrDistribution(list);
}

// ------------------------------------------------------------------ tables

QTableView *AnalyseDialog::takeView()
{
    if (!m_pool.isEmpty())
        return m_pool.takeLast();
    auto *view = new QTableView;
    view->setCornerButtonEnabled(false);
    view->setItemDelegateForColumn(1, new MyDelegate(view));
    auto *model = new AnalyseTable(view);
    view->setModel(model);
    view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(model, &AnalyseTable::cellChanged, this, &AnalyseDialog::customSolChanged);
    return view;
}

void AnalyseDialog::releaseViews(Page page, int keep)
{
    QList<QTableView *> &views = m_views[page];
    while (views.size() > keep) {
        QTableView *v = views.takeLast();
        m_pageLayouts[page]->removeWidget(v);
        v->hide();
        v->setParent(nullptr);
        static_cast<AnalyseTable *>(v->model())->clearSource();
        m_pool << v;
    }
}

void AnalyseDialog::layoutPage(Page page)
{
    // The comparison uses the error page's layout.
    Analysis::Paging p = m_paging[ErrorPage];
    if (page != ComparePage) {
        p = Analysis::pageLayout(m_n, UserPrefs::getAnalysisRows(), UserPrefs::getAnalysisTables());
        m_paging[page] = p;
    }
    releaseViews(page, p.tables);
    QList<QTableView *> &views = m_views[page];
    while (views.size() < p.tables) {
        QTableView *v = takeView();
        m_pageLayouts[page]->addWidget(v);
        v->show();
        views << v;
    }
}

void AnalyseDialog::fillPage(Page page)
{
    const Analysis::Paging &p = m_paging[page == ComparePage ? ErrorPage : page];
    for (int t = 0; t < m_views[page].size(); ++t) {
        auto *model = static_cast<AnalyseTable *>(m_views[page][t]->model());
        const int first = p.first(t);
        const int last = p.last(t, m_n);
        switch (page) {
        case SolutionPage:
            model->setSource(AnalyseTable::Solution, first, last, m_display[0].data(), m_display[1].data(),
                             m_display[2].data());
            break;
        case ErrorPage:
            // The right-hand side is only read by an error table.
            model->setSource(AnalyseTable::Error, first, last, m_lhs.data(), m_rhs, m_diff.data(),
                             m_pct.data(), &m_na);
            break;
        case ComparePage:
            model->setSource(AnalyseTable::Comparison, first, last, m_display[m_cmpA].data(),
                             m_display[m_cmpB].data(), m_cmpDiff.data(), m_cmpPct.data(), &m_cmpNa,
                             QStringLiteral("  ") + QLatin1String(kSetNames[m_cmpA]) + QStringLiteral("  "),
                             QStringLiteral("  ") + QLatin1String(kSetNames[m_cmpB]) + QStringLiteral("  "));
            break;
        }
        fitColumns(m_views[page][t]);
    }
}

void AnalyseDialog::fitColumns(QTableView *v)
{
    QHeaderView *h = v->horizontalHeader();
    h->resizeSections(QHeaderView::ResizeToContents);
    // A table keeps its columns whole; the page scrolls sideways instead.
    int width = v->verticalHeader()->sizeHint().width() + 2 * v->frameWidth()
                + v->verticalScrollBar()->sizeHint().width();
    for (int s = 0; s < h->count(); ++s)
        width += h->sectionSize(s);
    v->setMinimumWidth(width);
}

void AnalyseDialog::refreshAll()
{
    for (const auto &page : m_views)
        for (QTableView *v : page)
            static_cast<AnalyseTable *>(v->model())->refresh();
}

void AnalyseDialog::resizeToTables()
{
    int widest = 0;
    for (Page page : {SolutionPage, ErrorPage}) {
        int sum = 0;
        for (QTableView *v : m_views[page]) {
            QHeaderView *h = v->horizontalHeader();
            for (int s = 0; s < h->count(); ++s)
                sum += h->sectionSize(s) + 10;
            sum += v->verticalHeader()->sizeHint().width() + 1;
        }
        widest = std::max(widest, sum);
    }
    // Never wider than the screen: the tables scroll instead.
    resize(std::max(80, 80 + widest), height());
    fitToScreen();
}

void AnalyseDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    fitToScreen();
}

void AnalyseDialog::fitToScreen()
{
    QScreen *screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // The frame (title bar, borders) comes on top of the dialog's own size.
    const QSize frame = frameGeometry().size() - geometry().size();
    const int width = std::max(80, std::min(this->width(), room.width() - frame.width()));
    const int height = std::max(80, std::min(this->height(), room.height() - frame.height()));
    if (width != this->width() || height != this->height())
        resize(width, height);
    const int x = std::max(room.left(), std::min(pos().x(), room.right() + 1 - frameGeometry().width()));
    const int y = std::max(room.top(), std::min(pos().y(), room.bottom() + 1 - frameGeometry().height()));
    if (x != pos().x() || y != pos().y())
        move(x, y);
}

AnalyseTable *AnalyseDialog::table(Page page, int t) const
{
    QTableView *v = tableView(page, t);
    return v ? static_cast<AnalyseTable *>(v->model()) : nullptr;
}

QTableView *AnalyseDialog::tableView(Page page, int t) const
{
    return t >= 0 && t < m_views[page].size() ? m_views[page][t] : nullptr;
}

int AnalyseDialog::currentPage() const
{
    return m_stack->currentIndex();
}

// ------------------------------------------------------------------- slots

void AnalyseDialog::updateSolErr()
{
    if (busy()) {
        m_refreshAgain = true;
        return;
    }
    do {
        m_refreshAgain = false;
        makeDisplayCopies({0, 1, 2}, QStringLiteral("AnalyseDialog::MS"));
        computeErrors();
        refreshAll();
    } while (m_refreshAgain);
    for (Page p : {SolutionPage, ErrorPage})
        for (QTableView *v : m_views[p])
            fitColumns(v);
    resizeToTables();
}

void AnalyseDialog::customSolChanged(int row, double value)
{
    if (row < 0 || row >= m_n)
        return;
    m_custom[row] = value;
    computeErrors();
    refreshAll();
}

void AnalyseDialog::copySolsToCustom(int n, bool customAcc)
{
    if (busy() || m_n == 0 || n < 1 || n > 3)
        return;
    const size_t bytes = sizeof(double) * size_t(m_n);
    if (n == 3)
        std::fill(m_custom, m_custom + m_n, 0.0);
    else
        std::memmove(m_custom, sourceSet(n == 1 ? 0 : 2, customAcc), bytes);
    makeDisplayCopies({1}, QStringLiteral("AnalyseDialog::CPSTC"));
    computeErrors();
    refreshAll();
}

void AnalyseDialog::copySolToClipboard(int n, QString delimiter, bool customAcc)
{
    if (busy() || n < 0 || n > 2)
        return;
    QApplication::clipboard()->setText(Analysis::clipboardText(sourceSet(n, customAcc), m_n, delimiter));
}

void AnalyseDialog::calcUnequal(double tolerance)
{
    emit setUnequal(QString::number(Analysis::unequalCount(m_diff.data(), m_n, tolerance)));
}

void AnalyseDialog::startCompare(int a, int b)
{
    if (busy() || a < 0 || a > 2 || b < 0 || b > 2)
        return;
    m_cmpA = a;
    m_cmpB = b;
    m_cmpDiff.assign(size_t(m_n), 0.0);
    m_cmpPct.assign(size_t(m_n), 0.0);
    Analysis::computeComparison(m_n, m_display[a].data(), m_display[b].data(), m_cmpDiff.data(),
                                m_cmpPct.data(), &m_cmpNa);
    layoutPage(ComparePage);
    fillPage(ComparePage);
    m_topFrame->hide();
    m_bottomFrame->hide();
    m_stack->setCurrentIndex(ComparePage);
}

void AnalyseDialog::msgFinished()
{
    releaseViews(ComparePage);
    std::vector<double>().swap(m_cmpDiff);
    std::vector<double>().swap(m_cmpPct);
    std::vector<int>().swap(m_cmpNa);
    m_compareBox->hide();
    m_topFrame->show();
    m_bottomFrame->show();
    showPage(true);
}

bool AnalyseDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the comparison question by its frame keeps it open: only Yes
    // ends the comparison.
    if (watched == m_compareBox && event->type() == QEvent::Close) {
        event->ignore();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AnalyseDialog::showPage(bool solutions)
{
    m_solutionb->setChecked(solutions);
    m_errorb->setChecked(!solutions);
    m_stack->setCurrentIndex(solutions ? SolutionPage : ErrorPage);
    m_optionsb->setText(solutions ? QStringLiteral("Solution\nOptions") : QStringLiteral("Error\nOptions"));
    m_myLabel->setText(solutions ? QStringLiteral("Select the Solution set which should be Saved to the File:")
                                 : QStringLiteral("Select the Solution set which should be used for Error Analysis:"));
    m_solCombo->setVisible(solutions);
    m_errCombo->setVisible(!solutions);
}

void AnalyseDialog::on_solutionb_clicked()
{
    showPage(true);
}

void AnalyseDialog::on_errorb_clicked()
{
    showPage(false);
}

void AnalyseDialog::on_pushButton_3_clicked()
{
    close();
}

void AnalyseDialog::reject()
{
    if (m_compareBox->isVisible() || busy())
        return;
    if (m_viewApplyb->isEnabled())
        syncSpinsToPrefs();
    const int geo[4] = {x(), y(), width(), height()};
    UserPrefs::setGeometry(UserPrefs::AnalyseWindow, geo);
    QDialog::reject();
}

void AnalyseDialog::on_solCombo_currentIndexChanged(int index)
{
    UserPrefs::setSavedSolutionSet(index);
}

void AnalyseDialog::on_errCombo_currentIndexChanged(int index)
{
    UserPrefs::setErrorSolutionSet(index);
    if (busy())
        return;
    computeErrors();
    refreshAll();
    for (QTableView *v : m_views[ErrorPage])
        fitColumns(v);
    resizeToTables();
}

void AnalyseDialog::on_optionsb_clicked()
{
    if (m_solutionb->isChecked())
        m_options->showSolutionPage();
    else
        m_options->showErrorPage();
    m_options->exec();
}

void AnalyseDialog::on_rowSpin_valueChanged(int)
{
    m_viewApplyb->setEnabled(m_rowSpin->value() != UserPrefs::getAnalysisRows()
                             || m_tableSpin->value() != UserPrefs::getAnalysisTables());
}

void AnalyseDialog::on_tableSpin_valueChanged(int value)
{
    on_rowSpin_valueChanged(value);
}

void AnalyseDialog::on_viewApplyb_clicked()
{
    if (busy())
        return;
    m_viewApplyb->setEnabled(false);
    bool changed = false;
    // One press stores both spins.
    if (m_tableSpin->value() != UserPrefs::getAnalysisTables()) {
        UserPrefs::setAnalysisTables(m_tableSpin->value());
        changed = true;
    }
    if (m_rowSpin->value() != UserPrefs::getAnalysisRows()) {
        int rows = m_rowSpin->value();
        if (rows % 10 != 0) {
            rows = std::min(999999990, rows + 10 - rows % 10);
            const QSignalBlocker block(m_rowSpin);
            m_rowSpin->setValue(rows);
        }
        UserPrefs::setAnalysisRows(rows);
        changed = true;
    }
    if (!changed)
        return;
    for (Page p : {SolutionPage, ErrorPage}) {
        layoutPage(p);
        fillPage(p);
    }
    resizeToTables();
}

// ---------------------------------------------------------------- trust

void AnalyseDialog::setSolveTrust(const SolveTrust &trust)
{
    m_trust = trust;
    QString text = solveTrustText();
    // A solve off the processor says where it ran.
    if (!text.isEmpty() && !trust.elimination.isEmpty())
        text += QStringLiteral("\nMethod: ") + trust.methodName();
    const QString warning = trust.warning();
    if (!text.isEmpty() && !warning.isEmpty())
        text += QLatin1Char('\n') + warning;
    m_trustLabel->setText(text);
    m_trustLabel->setVisible(!text.isEmpty());
}

QString AnalyseDialog::solveTrustText() const
{
    if (m_trust.method == SolveTrust::NotSolved)
        return QString();
    auto show = [](double v) {
        return std::isnan(v) ? QStringLiteral("not known")
                             : Analysis::formatValue(Analysis::reduceAccuracy(v, 0, 3));
    };
    return QStringLiteral("Solve: backward error ") + show(m_trust.backwardError)
           + QStringLiteral(",  ") + SolveTrust::conditionLabel() + QLatin1Char(' ')
           + show(m_trust.condition()) + QStringLiteral(",  ") + m_trust.boundText();
}
