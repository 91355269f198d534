#include "solverun.h"

#include "prefs/userprefs.h"
#include "solver/solve.h"
#include "store/equationstore.h"
#include "threads/mythreads.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <cstring>
#include <vector>

int solveStore(EquationStore &store, const int *columnZeros, QObject *errorReceiver)
{
    if (store.N < 1 || store.allocated != store.N || !store.coef || !store.rhs
        || !store.customSol)
        return -1;
    return solveArrays(store.N, store.coef, store.rhs, columnZeros, store.customSol,
                       store.currentSol, ThreadSettings::fromPrefs(), errorReceiver);
}

int solveArrays(int n, double **coef, const double *rhs, const int *columnZeros,
                double *customSol, double *currentSol, const ThreadSettings &settings,
                QObject *errorReceiver)
{
    if (n < 1 || !coef || !rhs || !customSol)
        return -1;
    const size_t bytes = sizeof(double) * size_t(n);
    double **c = new double *[size_t(n)];
    for (int i = 0; i < n; ++i) {
        c[i] = new double[size_t(n)];
        std::memcpy(c[i], coef[i], bytes);
    }
    double *r = new double[size_t(n)];
    std::memcpy(r, rhs, bytes);
    std::vector<int> zeros;
    if (columnZeros)
        zeros.assign(columnZeros, columnZeros + n);

    int status = 0;
    Solve *solve = new Solve(c, r, customSol, columnZeros ? zeros.data() : nullptr, &status, n);
    solve->setThreadSettings(settings);
    if (errorReceiver) {
        QObject::connect(solve, SIGNAL(throwErr(QString*,QString*,QString)), errorReceiver,
                         SLOT(errMsg(QString*,QString*,QString)), Qt::BlockingQueuedConnection);
    }
    QThread *t = MyThreads::start(solve, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    if (errorReceiver) {
        // The solve thread waits while its errors are shown here.
        while (!t->wait(20))
            QCoreApplication::processEvents();
    } else {
        t->wait();
    }
    std::unique_ptr<RatioStore> ratios = solve->takeRatios();
    delete solve;

    if (status == 0 || status == 1 || status == 5) {
        // Refinement against the caller's own (unreduced) system.
        improveSolution(n, coef, rhs, c, std::move(ratios), customSol);
        if (currentSol)
            std::memcpy(currentSol, customSol, bytes);
    }
    for (int i = 0; i < n; ++i)
        delete[] c[i];
    delete[] c;
    delete[] r;
    return status;
}

int countUnsolved(int n, double **a, const double *b, const double *x)
{
    int bad = 0;
    for (int i = 0; i < n; ++i) {
        const double sum = Reduce::dot(a[i], x, n);
        if (!EquationStore::isZero(sum - b[i]))
            ++bad;
    }
    return bad;
}

int improveSolution(int n, double **a, const double *b, double **reduced,
                    std::unique_ptr<RatioStore> ratios, double *sol)
{
    if (n < 1)
        return 0;
    int bad = countUnsolved(n, a, b, sol);
    if (bad == 0 || !ratios || ratios->size() != n || !reduced)
        return bad;

    std::vector<double> best(sol, sol + n);
    std::vector<double> x(best);
    std::vector<double> prev(best);
    std::vector<double> rhs(b, b + n);
    std::vector<double> residual(static_cast<size_t>(n)), correction(static_cast<size_t>(n));
    Solve refiner(reduced, rhs.data(), x.data(), n, std::move(ratios));
    const double tolerance = UserPrefs::getTolerance();

    int penalty = 0;
    int stable = 0;
    for (;;) {
        refiner.refine(a, residual.data(), correction.data());
        bool settled = true;
        for (int i = 0; i < n; ++i) {
            const double diff = x[size_t(i)] - prev[size_t(i)];
            const double rel = EquationStore::isZero(x[size_t(i)]) ? diff / tolerance
                                                                   : diff / x[size_t(i)];
            if (std::fabs(rel) * 100.0 >= 10.0) {
                settled = false;
                break;
            }
        }
        if (settled)
            ++stable;
        prev = x;
        const int now = countUnsolved(n, a, b, x.data());
        if (now < bad) {
            best = x;
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
    std::memcpy(sol, best.data(), sizeof(double) * size_t(n));
    return bad;
}
