// Solve, stealth solving and the validation before solving and saving.
#include "tarvix.h"

#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "solver/validate.h"
#include "opencl/opencldevices.h"
#include "opencl/pluginhost.h"
#include "guiprompter.h"
#include "solverdialog.h"
#include "threads/mythreads.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {
const char kSolveFunction[] = "void tarvix::solveEq(double**, double*, int*, int*, int*)";

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// "Elimination 42% - 0:12 elapsed - about 0:17 left" (the estimate once a
// tenth is done).
QString progressNote(double share, qint64 elapsedMs)
{
    QString note = QStringLiteral("Elimination %1% - %2 elapsed")
                       .arg(int(share * 100.0))
                       .arg(clockText(elapsedMs));
    if (share >= 0.1 && share < 1.0)
        note += QStringLiteral(" - about %1 left").arg(clockText(qint64(elapsedMs * (1.0 - share) / share)));
    return note;
}

bool isOptimiseName(const QString &name)
{
    return name.compare(QLatin1String("%optimise%"), Qt::CaseInsensitive) == 0;
}
}

namespace {

// Runs work on a pooled thread and waits; busy counts the wait (the window
// cannot be closed meanwhile).
void runWhileProcessingEvents(int &busy, const std::function<void()> &work)
{
    QThread *thread = MyThreads::thrOpt(QStringLiteral("Tarvix::solveEq"));
    if (!thread) {
        work();
        return;
    }
    auto *worker = new Reduce();
    worker->setJob([work](int) { work(); }, 0);
    // The pooled thread may be handed out again as soon as it is back in the
    // pool, so the end of this run is caught by its own finished().
    auto done = std::make_shared<std::atomic<bool>>(false);
    const QMetaObject::Connection finished = QObject::connect(
        thread, &QThread::finished, thread, [done] { done->store(true); }, Qt::DirectConnection);
    QObject::connect(thread, SIGNAL(started()), worker, SLOT(runJob()));
    worker->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    ++busy;
    // Painting and timers go on; input waits, as the work reads this
    // window's arrays.
    while (!done->load()) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (done->load())
            break;
        ThreadSleep::msleep(10);
    }
    --busy;
    QObject::disconnect(finished);
    delete worker;
}

} // namespace

bool tarvix::validateSystem()
{
    std::vector<int> columnZeros(size_t(qMax(m_store.N, 0)));
    return Validate::validateSystem(m_store.N, m_store.coef, m_store.rhs, columnZeros.data());
}

void tarvix::on_solveb_clicked()
{
    if (!m_quiet)
        commitOpenEditor();
    bool undoWas = false;
    if (!m_quiet) {
        if (m_undo) {
            undoWas = undoEnabledQuery();
            if (undoWas && undoBusyQuery())
                return;
        }
        emit setUndoState(false);
    }

    const int n = m_store.N;
    std::vector<int> columnZeros(size_t(n), 0);
    if (m_fancy)
        fancyToArrays();

    if (Validate::validateSystem(n, m_store.coef, m_store.rhs, columnZeros.data())) {
        const size_t bytes = sizeof(double) * size_t(n);
        double **c = new double *[size_t(n)];
        for (int i = 0; i < n; ++i) {
            c[i] = new double[size_t(n)];
            std::memcpy(c[i], m_store.coef[i], bytes);
        }
        double *r = new double[size_t(n)];
        std::memcpy(r, m_store.rhs, bytes);
        int status = 0;
        int elapsed = 0;
        // What Save would write as the solution, to tell whether the solve
        // changed the file's content.
        const std::vector<double> written(solutionToSave(), solutionToSave() + n);

        solveEq(c, r, columnZeros.data(), &status, &elapsed);
        m_dialogTime = elapsed;
        delete[] r;

        std::unique_ptr<RatioStore> ratios(m_ratios);
        m_ratios = nullptr;
        if (status == 3) {
            // Cancelled: the system and the solutions are as they were.
            statusBar()->showMessage(QStringLiteral("Solving cancelled."));
        } else if (status == 0 || status == 1 || status == 2 || status == 5) {
            // Refinement, the check of the answer and, when it fails, the
            // solve with partial pivoting.
            // They run on a worker thread while the program keeps painting:
            // the fallback solve can take as long as the first.
            RatioStore *store = ratios.release();
            const int solved = status;
            runWhileProcessingEvents(m_busy, [&] {
                status = finishSolve(n, m_store.coef, m_store.rhs, c, std::unique_ptr<RatioStore>(store),
                                     m_store.customSol, solved, ThreadSettings::fromPrefs(), &m_trust);
            });
            m_trust.elimination = m_deviceElimination;
            std::memcpy(m_store.currentSol, m_store.customSol, bytes);
            if (!std::equal(written.begin(), written.end(), solutionToSave()))
                m_saved = false;
            if (status == 1) {
                errMsg(new QString(QStringLiteral("ERROR: Solution is INCORRECT!")),
                       new QString(QStringLiteral("<p><b>The co-efficient Matrix could NOT be reduced to Upper Triangular Matrix!</b></p>\n")
                                   + QStringLiteral("The calculated solution will be incorrect.\nPlease check the errors in equations.")
                                   + QStringLiteral("<p>Reason: ") + m_trust.reason().toHtmlEscaped()
                                   + QStringLiteral(".</p>")),
                       QStringLiteral("WARNING"));
                openAnalysis(false);
            } else if (!m_hidden && !testAttribute(Qt::WA_DontShowOnScreen)) {
                const int answer = Prompter::instance()->message(
                    Prompter::Information, QStringLiteral("Solving Completed!"),
                    QStringLiteral("Successfully Solved the Equations.\nWould you like to Analyse the Solutions?"),
                    Prompter::Yes | Prompter::No, Prompter::Yes);
                if (answer == Prompter::Yes)
                    openAnalysis(false);
            }
        }
        for (int i = 0; i < n; ++i)
            delete[] c[i];
        delete[] c;
    }

    if (!m_quiet)
        emit setUndoState(undoWas);
}

void tarvix::solveEq(double **c, double *r, int *columnZeros, int *status, int *elapsed)
{
    QElapsedTimer timer;
    timer.start();
    const bool optimise = isOptimiseName(m_fileName);
    int choice = 0;
    if (!optimise) {
        SolverDialog dialog(m_hidden ? nullptr : this);
        const WaitBoxesHidden unhidden;
        dialog.exec();
        choice = dialog.getResult();
    }
    *elapsed = int(timer.elapsed());

    OpenCLDevices *devices = nullptr;
    bool onDevice = false;
    m_deviceElimination.clear();
    if (UserPrefs::getOpenCLEnabled() && choice == 2)
        devices = openCLDevices(optimise, elapsed, &onDevice);
    if (onDevice && !devices->stepwise() && devices->host()->blocked()) {
        bool stepwise = false;
        if (solveBlockedOnDevices(devices, c, r, &stepwise)) {
            delete devices;
            return;
        }
        onDevice = stepwise;
    }

    QThread *thread = MyThreads::thrOpt(QStringLiteral("Tarvix::solveEq"));
    auto *solve = new Solve(c, r, m_store.customSol, columnZeros, status, m_store.N);
    SolveControl control;
    solve->setControl(&control);
    // The pooled thread may be handed out again as soon as it is back in the
    // pool, so the end of this run is caught by its own finished().
    auto done = std::make_shared<std::atomic<bool>>(false);
    const QMetaObject::Connection finished = connect(
        thread, &QThread::finished, thread, [done] { done->store(true); }, Qt::DirectConnection);
    connect(thread, SIGNAL(started()), solve, SLOT(calc()));
    connect(solve, &Solve::throwErr, this, &tarvix::errMsg, Qt::BlockingQueuedConnection);
    if (onDevice)
        attachDevices(devices, solve, thread);
    solve->moveToThread(thread);
    ++m_busy;
    std::unique_ptr<ProgressWait> box;
    if (!optimise)
        box = Prompter::instance()->progressWait(
            QStringLiteral("Solving Equations"),
            QStringLiteral("Please wait while Tarvix is solving your equations.\n"));
    // The box's first answer counts before the first block.
    if (box && box->cancelRequested())
        control.cancel.store(true);
    thread->start(QThread::InheritPriority);
    QElapsedTimer clock;
    clock.start();
    while (!done->load()) {
        QApplication::processEvents();
        if (box) {
            box->update(control.done.load(), progressNote(control.done.load(), clock.elapsed()));
            if (box->cancelRequested())
                control.cancel.store(true);
        }
        if (done->load())
            break;
        ThreadSleep::msleep(100);
    }
    --m_busy;
    disconnect(finished);
    box.reset();
    m_ratios = solve->takeRatios().release();
    delete solve;
    delete devices; // releases and unloads the plugin
}

void tarvix::on_actionSolve_in_Stealth_mode_triggered()
{
    auto *hidden = new tarvix(QString(), true);
    QString selected = QStringLiteral("Tarvix Text (*.trx)");
    const QString name = Prompter::instance()->openFile(
        QStringLiteral("Open a File"), m_lastDirectory,
        QStringLiteral("Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"), &selected);
    if (!name.isEmpty()) {
        bool failed = false;
        hidden->openFile(name, true, &failed);
        if (!failed) {
            hidden->on_solveb_clicked();
            hidden->openAnalysis(true);
        }
    }
    delete hidden;
}
