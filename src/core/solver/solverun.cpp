#include "solverun.h"

#include "numeric/zero.h"
#include "prefs/userprefs.h"
#include "solver/doubleblock.h"
#include "solver/precise.h"
#include "solver/ratiostore.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "store/equationstore.h"
#include "threads/mythreads.h"
#include "threads/workerteam.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

int solveStore(EquationStore &store, const int *columnZeros, QObject *errorReceiver,
               SolveTrust *trust, SolveControl *control)
{
    if (store.N < 1 || store.allocated != store.N || !store.coef || !store.rhs
        || !store.customSol)
        return -1;
    return solveArrays(store.N, store.coef, store.rhs, columnZeros, store.customSol,
                       store.currentSol, ThreadSettings::fromPrefs(), errorReceiver, trust,
                       control);
}

bool copyRows(int n, double *const *from, double **to, const ThreadSettings &settings)
{
    // Bound by memory: the workers take runs of rows as they come free.
    const int count = n >= 512 ? Reduce::workerCount(n, settings.limits, settings.processors) : 1;
    const size_t bytes = sizeof(double) * size_t(n > 0 ? n : 0);
    constexpr int kRun = 16;
    std::atomic<int> next{0};
    std::atomic<bool> finite{true};
    Reduce::runPhase(QStringLiteral("Tarvix::copy "), count, [&](int) {
        bool ok = true;
        for (int i = next.fetch_add(kRun); i < n; i = next.fetch_add(kRun)) {
            const int end = std::min(n, i + kRun);
            for (int row = i; row < end; ++row) {
                std::memcpy(to[row], from[row], bytes);
                ok = ok && Reduce::allFinite(to[row], n);
            }
        }
        if (!ok)
            finite.store(false, std::memory_order_relaxed);
    });
    return finite.load(std::memory_order_relaxed);
}

namespace {

// Waits for thread t, giving the waiting thread's turn to control's wait or,
// without one, handling its events where errors may need to be shown.
void awaitThread(QThread *t, const SolveControl *control, bool events)
{
    if (control && control->wait) {
        while (!t->wait(20))
            control->wait();
    } else if (events) {
        while (!t->wait(20))
            QCoreApplication::processEvents();
    } else {
        t->wait();
    }
    MyThreads::joined();
}

} // namespace

int solveArrays(int n, double **coef, const double *rhs, const int *columnZeros,
                double *customSol, double *currentSol, const ThreadSettings &settings,
                QObject *errorReceiver, SolveTrust *trust, SolveControl *control)
{
    if (n < 1 || !coef || !rhs || !customSol)
        return -1;
    const size_t bytes = sizeof(double) * size_t(n);
    RowBlock work(n);
    double **c = work.rows();
    const bool finite = copyRows(n, coef, c, settings);
    // The ratios take the places the solve clears in the working copy.
    auto store = std::make_unique<RatioStore>(n, RatioStore::Placement::InWorkingCopy);
    std::vector<double> r(rhs, rhs + n);
    std::vector<int> zeros;
    if (columnZeros)
        zeros.assign(columnZeros, columnZeros + n);

    int status = 0;
    std::unique_ptr<RatioStore> ratios;
    if (control && control->factor) {
        std::vector<double> x(size_t(n), 0.0);
        ratios = control->factor(c, r.data(), x.data());
        if (ratios)
            std::copy(x.begin(), x.end(), customSol);
        else // the factorisation may have stopped halfway through the copy
            copyRows(n, coef, c, settings);
    }
    if (!ratios) {
        // A cancelled elimination ends before the solve writes customSol.
        auto solve = std::make_unique<Solve>(c, r.data(), customSol,
                                             columnZeros ? zeros.data() : nullptr, &status, n,
                                             std::move(store));
        solve->setThreadSettings(settings);
        solve->setControl(control);
        // The copy above may have been overwritten by a factorisation that
        // stopped, and copied again: that copy has the same values.
        solve->setInputFinite(finite);
        QThread *t = MyThreads::startIdle(QStringLiteral("Tarvix::solveEq"));
        if (t && control && control->attach)
            control->attach(solve.get(), t);
        if (!t) {
            // No thread could be started: solve here, errors delivered directly.
            if (errorReceiver)
                QObject::connect(solve.get(), SIGNAL(throwErr(QString*,QString*,QString)),
                                 errorReceiver, SLOT(errMsg(QString*,QString*,QString)),
                                 Qt::DirectConnection);
            solve->calc();
        } else {
            if (errorReceiver)
                QObject::connect(solve.get(), SIGNAL(throwErr(QString*,QString*,QString)),
                                 errorReceiver, SLOT(errMsg(QString*,QString*,QString)),
                                 Qt::BlockingQueuedConnection);
            MyThreads::run(t, solve.get(), SLOT(calc()));
            // The solve thread waits while its errors are shown here.
            awaitThread(t, control, errorReceiver != nullptr);
        }
        ratios = solve->takeRatios();
        if (solve->cancelled())
            return 3;
    }

    // The refinement, the check and, when that fails, the solve with partial
    // pivoting: on a thread of their own while the waiting thread has its
    // turns (the fallback can take as long as the first solve).
    auto finish = [&] {
        status = finishSolve(n, coef, rhs, c, std::move(ratios), customSol, status, settings,
                             trust);
    };
    Reduce finisher;
    QThread *t = nullptr;
    if (control && control->wait) {
        finisher.setJob([&](int) { finish(); }, 0);
        t = MyThreads::start(&finisher, SLOT(runJob()), QStringLiteral("Tarvix::solveEq"));
    }
    if (t)
        awaitThread(t, control, false);
    else
        finish();
    if (currentSol)
        std::memcpy(currentSol, customSol, bytes);
    return status;
}

std::unique_ptr<WorkerTeam> refinementTeam(int n, const ThreadSettings &settings)
{
    // Below this the residuals are not spread (see countUnsolvedKeep).
    const int members = n >= 256 ? Reduce::workerCount(n, settings.limits, settings.processors) : 1;
    return WorkerTeam::forSize(members, QStringLiteral("Tarvix::refine "));
}

SolveTrust refineAndCheck(int n, double **a, const double *b, double **work, RatioStore *ratios,
                          double *sol, const ThreadSettings &settings)
{
    SolveTrust result;
    result.method = SolveTrust::Specified;
    const bool canEstimate = ratios && ratios->size() == n;
    const int count = n >= 256 ? Reduce::workerCount(n, settings.limits, settings.processors) : 1;
    // The condition estimate reads only the system and the factors, which
    // nothing changes from here on. With a processor to spare it runs on a
    // thread of its own, beside the refinement, whose passes through the
    // factors leave a processor idle: while it runs, the refinement and the
    // backward error leave it one processor, and take all once it is done.
    auto estimate = [&](int shares, const Trust::Scales *scales) {
        return Trust::estimateRcond(
            n, a, [&](double *v) { Trust::specifiedSolve(n, work, *ratios, v, shares); },
            [&](double *v) { Trust::specifiedSolveTransposed(n, work, *ratios, v, shares); },
            scales);
    };
    double rcond = 0.0;
    std::atomic<int> held{0};
    Reduce estimator;
    QThread *beside = nullptr;
    if (canEstimate && count > 1) {
        held.store(1, std::memory_order_release);
        estimator.setJob([&](int) {
            rcond = estimate(1, nullptr);
            held.store(0, std::memory_order_release);
        }, 0);
        beside = MyThreads::start(&estimator, SLOT(runJob()), QStringLiteral("Tarvix::estimate"));
        if (!beside)
            held.store(0, std::memory_order_release);
    }
    ThreadSettings lane = settings;
    lane.held = &held;
    const std::unique_ptr<WorkerTeam> team = refinementTeam(n, settings);
    // With the estimate beside, the backward error comes from the kept
    // answer's residuals and the rows' norms the refinement took on its
    // first pass; without it, its row scales come with the backward error's
    // own pass.
    Trust::RowNorms norms;
    std::vector<double> kept;
    improveSolution(n, a, b, work, ratios, sol, &result.refinementSteps, &lane,
                    beside ? &norms : nullptr, beside ? &kept : nullptr);
    Trust::Scales scales;
    result.backwardError = beside
        ? Trust::backwardError(n, norms, b, sol, kept.data(), &lane)
        : Trust::backwardError(n, a, b, sol, canEstimate ? &scales : nullptr, &lane);
    result.hplRatio = Trust::hplRatio(result.backwardError, n);
    if (beside) {
        beside->wait();
        MyThreads::joined();
    } else if (canEstimate && result.passes()) {
        // An answer that fails is solved again, and estimated, another way.
        rcond = estimate(team ? team->size() : 1, &scales);
    }
    if (canEstimate && result.passes())
        result.rcond = rcond;
    return result;
}

void refinePrecisely(int n, double **a, const double *b, double **work, const RatioStore *ratios,
                     const std::vector<int> &perm, double *sol, const ThreadSettings &settings,
                     SolveTrust &trust)
{
    if (!trust.trusted() || (!ratios && perm.size() != size_t(n)))
        return;
    const std::unique_ptr<WorkerTeam> team = refinementTeam(n, settings);
    const int count = team ? team->size() : 1;
    // A correction is one pass through the factors, shared by the team a
    // block of rows at a time.
    Trust::Apply correct;
    if (ratios)
        correct = [&](double *v) { Trust::specifiedSolve(n, work, *ratios, v, count); };
    else
        correct = [&](double *v) { Trust::luSolve(n, work, perm, v); };
    std::vector<double> before(sol, sol + n);
    const Precise::Outcome precise = Precise::refine(n, a, b, sol, correct, trust.rcond, count);
    SolveTrust refined = trust;
    refined.precision = precise.state;
    refined.preciseSteps = precise.steps;
    refined.errorBound = precise.errorBound;
    refined.componentBound = precise.componentBound;
    if (precise.replaced) {
        refined.backwardError = precise.backwardError;
        refined.hplRatio = Trust::hplRatio(refined.backwardError, n);
    }
    if (refined.trusted()) {
        trust = refined;
    } else {
        // Never a trusted answer lost for a refined one.
        std::copy(before.begin(), before.end(), sol);
        trust.precision = SolveTrust::NoProgress;
        trust.preciseSteps = precise.steps;
    }
}

int finishSolve(int n, double **a, const double *b, double **work,
                std::unique_ptr<RatioStore> ratios, double *sol, int status,
                const ThreadSettings &settings, SolveTrust *trust)
{
    SolveTrust result;
    if (n < 1 || !a || !b || !work || !sol) {
        if (trust)
            *trust = result;
        return 1;
    }
    const bool solved = status == 0 || status == 1 || status == 5;
    if (solved)
        result = refineAndCheck(n, a, b, work, ratios.get(), sol, settings);
    // The factors of the answer kept, for the extra-precise refinement.
    std::vector<int> perm;
    bool pivotedFactors = false;

    if (!result.passes()) {
        // The ordered elimination's answer is not good enough: partial
        // pivoting on the same working copy.
        const size_t bytes = sizeof(double) * size_t(n);
        for (int i = 0; i < n; ++i)
            std::memcpy(work[i], a[i], bytes);
        const bool regular = Trust::factorPartialPivoting(n, work, perm, settings);
        pivotedFactors = true;
        std::vector<double> x(b, b + n);
        Trust::luSolve(n, work, perm, x.data());
        SolveTrust pivoted;
        pivoted.method = SolveTrust::PartialPivoting;
        pivoted.refinementSteps = Trust::refine(
            n, a, b, x.data(), [&](double *v) { Trust::luSolve(n, work, perm, v); }, 5,
            &pivoted.backwardError);
        pivoted.hplRatio = Trust::hplRatio(pivoted.backwardError, n);
        // A pivot that is exactly zero: singular, whatever the estimate says.
        pivoted.rcond = !regular ? 0.0 : Trust::estimateRcond(
            n, a, [&](double *v) { Trust::luSolve(n, work, perm, v); },
            [&](double *v) { Trust::luSolveTransposed(n, work, perm, v); });
        // Keep the first answer only when it is the better one (NaN is worst).
        auto orInf = [](double e) { return std::isnan(e) ? HUGE_VAL : e; };
        if (!solved || orInf(pivoted.backwardError) < orInf(result.backwardError)) {
            result = pivoted;
            std::memcpy(sol, x.data(), bytes);
        } else {
            // The first answer stays; its factors gave no estimate, so the
            // condition comes from these.
            result.rcond = pivoted.rcond;
        }
    }
    // A trusted answer is refined further with residuals in double-double,
    // through the factors that gave it (the partial-pivoting ones where the
    // first were overwritten).
    if (result.trusted())
        refinePrecisely(n, a, b, work, pivotedFactors ? nullptr : ratios.get(), perm, sol,
                        settings, result);
    ratios.reset();
    if (trust)
        *trust = result;
    return result.trusted() ? 0 : 1;
}

namespace {

// countUnsolved that keeps the residuals a x - b it computes; the rows are
// spread over the workers of settings (each row's sum is the same either way).
// norms (may be null) takes each row's norms while the row is in the cache.
int countUnsolvedKeep(int n, double **a, const double *b, const double *x, double *residual,
                      const ThreadSettings *settings, Trust::RowNorms *norms = nullptr)
{
    if (norms) {
        norms->sum.assign(size_t(n), 0.0);
        norms->max.assign(size_t(n), 0.0);
    }
    double *sums = norms ? norms->sum.data() : nullptr;
    double *maxes = norms ? norms->max.data() : nullptr;
    auto rows = [=](int first, int last) {
        for (int i = first; i <= last; ++i) {
            residual[i] = Reduce::dot(a[i], x, n) - b[i];
            if (sums)
                Trust::rowNorms(a[i], n, sums + i, maxes + i);
        }
    };
    const int count = settings ? Reduce::workerCount(n, settings->limits, settings->freeProcessors()) : 1;
    if (count > 1 && n >= 256) {
        // The split covers rows 1..n-1; row 0 goes with the first share.
        const QVector<RowRange> ranges = Reduce::eliminationSplit(n, 0, count);
        Reduce::runPhase(QStringLiteral("Tarvix::refine "), count, [&](int w) {
            const RowRange &r = ranges.at(w);
            if (w == 0)
                rows(0, 0);
            if (!r.empty)
                rows(r.first, r.last);
        });
    } else {
        rows(0, n - 1);
    }
    int bad = 0;
    for (int i = 0; i < n; ++i)
        bad += isZero(residual[i]) ? 0 : 1;
    return bad;
}

} // namespace

int countUnsolved(int n, double **a, const double *b, const double *x)
{
    int bad = 0;
    for (int i = 0; i < n; ++i) {
        const double sum = Reduce::dot(a[i], x, n);
        if (!isZero(sum - b[i]))
            ++bad;
    }
    return bad;
}

int improveSolution(int n, double **a, const double *b, double **reduced,
                    std::unique_ptr<RatioStore> ratios, double *sol)
{
    return improveSolution(n, a, b, reduced, ratios.get(), sol, nullptr);
}

int improveSolution(int n, double **a, const double *b, double **reduced, RatioStore *ratios,
                    double *sol, int *steps, const ThreadSettings *settings,
                    Trust::RowNorms *norms, std::vector<double> *bestResidual)
{
    if (steps)
        *steps = 0;
    if (n < 1)
        return 0;
    // Each count keeps its residuals: they are the next step's.
    std::vector<double> residual(static_cast<size_t>(n)), correction(static_cast<size_t>(n));
    int bad = countUnsolvedKeep(n, a, b, sol, residual.data(), settings, norms);
    if (bestResidual)
        *bestResidual = residual;
    if (bad == 0 || !ratios || ratios->size() != n || !reduced)
        return bad;

    std::vector<double> best(sol, sol + n);
    std::vector<double> x(best);
    std::vector<double> prev(best);
    std::vector<double> rhs(b, b + n);
    // The refiner borrows the store and gives it back at the end.
    Solve refiner(reduced, rhs.data(), x.data(), n, std::unique_ptr<RatioStore>(ratios));
    const double tolerance = UserPrefs::getTolerance();

    int penalty = 0;
    int stable = 0;
    for (;;) {
        // The residuals' workers share the passes through the factors too.
        const int count =
            settings ? Reduce::workerCount(n, settings->limits, settings->freeProcessors()) : 1;
        refiner.refineFromResidual(residual.data(), correction.data(), count);
        if (steps)
            ++*steps;
        bool settled = true;
        for (int i = 0; i < n; ++i) {
            const double diff = x[size_t(i)] - prev[size_t(i)];
            const double rel = isZero(x[size_t(i)]) ? diff / tolerance
                                                                   : diff / x[size_t(i)];
            if (std::fabs(rel) * 100.0 >= 10.0) {
                settled = false;
                break;
            }
        }
        if (settled)
            ++stable;
        prev = x;
        const int now = countUnsolvedKeep(n, a, b, x.data(), residual.data(), settings);
        if (now < bad) {
            best = x;
            if (bestResidual)
                *bestResidual = residual;
            bad = now;
            stable = 0;
            penalty = 0;
            if (bad == 0)
                break;
            continue;
        }
        penalty += now == bad ? stable + 1 : (now - bad) + stable;
        if (penalty > 9)
            break;
    }
    refiner.takeRatios().release();
    std::memcpy(sol, best.data(), sizeof(double) * size_t(n));
    return bad;
}
