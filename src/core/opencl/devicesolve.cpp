#include "devicesolve.h"

#include "blockedinterface.h"
#include "opencl/pluginhost.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "threads/mythreads.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

int solveArraysOnDevice(PluginHost *host, int n, double **coef, const double *rhs,
                        const int *columnZeros, double *customSol, double *currentSol,
                        QObject *errorReceiver, SolveTrust *trust)
{
    if (!host || n < 1 || !coef || !rhs || !customSol)
        return -1;
    const size_t bytes = sizeof(double) * size_t(n);
    std::vector<std::vector<double>> rows(static_cast<size_t>(n));
    std::vector<double *> c(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        rows[size_t(i)].assign(coef[i], coef[i] + n);
        c[size_t(i)] = rows[size_t(i)].data();
    }
    std::vector<double> r(rhs, rhs + n);
    std::vector<int> zeros;
    if (columnZeros)
        zeros.assign(columnZeros, columnZeros + n);

    int status = 0;
    auto *solve = new Solve(c.data(), r.data(), customSol, columnZeros ? zeros.data() : nullptr,
                            &status, n);
    if (errorReceiver) {
        QObject::connect(solve, SIGNAL(throwErr(QString*,QString*,QString)), errorReceiver,
                         SLOT(errMsg(QString*,QString*,QString)), Qt::BlockingQueuedConnection);
        host->setErrorReceiver(errorReceiver);
    }
    QObject::connect(solve, &Solve::initialiseGPU, host, &PluginHost::initialiseGPU,
                     Qt::DirectConnection);
    QObject::connect(solve, &Solve::calcURatios, host, &PluginHost::calcURatios,
                     Qt::DirectConnection);
    QThread *t = MyThreads::thrOpt(QStringLiteral("Tarvix::solveEq"));
    QObject::connect(t, SIGNAL(started()), solve, SLOT(calc()));
    // The device takes the system before the solve thread starts.
    solve->enableGPU(t);
    solve->moveToThread(t);
    t->start(QThread::InheritPriority);
    // Errors are shown on this thread while the solve thread waits.
    while (!t->wait(20))
        QCoreApplication::processEvents();
    std::unique_ptr<RatioStore> ratios = solve->takeRatios();
    delete solve;

    if (status == 2)
        return status;   // the device elimination failed: no solution to check
    // The device's answer is refined and checked like the processor's, with
    // the same partial-pivoting fallback when it does not pass.
    SolveTrust result;
    status = finishSolve(n, coef, rhs, c.data(), std::move(ratios), customSol, status,
                         ThreadSettings::fromPrefs(), &result);
    result.elimination = QStringLiteral("ordered elimination, step by step on OpenCL: %1")
                             .arg(host->chosenNames());
    if (trust)
        *trust = result;
    if (currentSol)
        std::memcpy(currentSol, customSol, bytes);
    return status;
}

DeviceEngine deviceEngineFromName(const QString &name, bool *ok)
{
    const bool stepwise = name == QLatin1String("stepwise");
    if (ok)
        *ok = stepwise || name == QLatin1String("blocked");
    return stepwise ? DeviceEngine::Stepwise : DeviceEngine::Blocked;
}

QString deviceEngineName(DeviceEngine engine)
{
    return engine == DeviceEngine::Stepwise ? QStringLiteral("stepwise") : QStringLiteral("blocked");
}

bool factorOnDevice(PluginHost *host, int n, double *const *coef, const double *rhs, double **work,
                    RatioStore *store, double *x, DeviceRun *run)
{
    DeviceRun local;
    DeviceRun &out = run ? *run : local;
    const unsigned long long memoryCap = out.memoryCap;
    const bool tiled = out.tiledUpdate;
    out = DeviceRun();
    out.memoryCap = memoryCap;
    out.tiledUpdate = tiled;
    BlockedSolverInterface *blocked = host ? host->blocked() : nullptr;
    if (!blocked || n < 1 || !store || store->size() != n) {
        out.message = QStringLiteral("the OpenCL plugin has no blocked solver");
        return false;
    }
    std::vector<int> pivots(size_t(n), 0);
    BlockedSolve req;
    req.n = n;
    req.a = coef;
    req.b = rhs;
    req.memoryCap = memoryCap;
    req.tiledUpdate = tiled;
    req.lu = work;
    req.pivots = pivots.data();
    req.x = x;
    blocked->solveBlocked(&req);
    out.devices = req.devices;
    out.message = req.message;
    for (int i = 0; i < 4; ++i)
        out.seconds[i] = req.seconds[i];
    out.buildSeconds = req.buildSeconds;
    out.outcome = DeviceRun::Outcome(req.outcome);
    if (req.outcome != BlockedSolve::Solved)
        return false;
    // The factors in the solver's own form: the multipliers, the ratios of
    // U to its diagonal and the row exchanges. The device leaves each step's
    // multipliers where their rows stood at that step.
    store->placeInWorkingCopy(work);
    for (int i = 1; i < n; ++i) {
        if (store->lower[i] != work[i])
            std::memcpy(store->lower[i], work[i], sizeof(double) * size_t(i));
    }
    store->pivots.resize(size_t(n));
    for (int j = 0; j < n; ++j)
        store->pivots[size_t(j)] = work[j][j];
    // In place where the ratios live in work: each entry is read before
    // its ratio is written.
    for (int i = 0; i + 1 < n; ++i) {
        double *dr = store->dr[i];
        const double *row = work[i];
        for (int j = i + 1; j < n; ++j)
            dr[j - i - 1] = row[j] / store->pivots[size_t(j)];
    }
    for (int k = 0; k < n; ++k) {
        if (pivots[size_t(k)] != k)
            store->swaps << k << pivots[size_t(k)];
    }
    store->followSwaps();
    return true;
}

int solveArraysBlocked(PluginHost *host, int n, double **coef, const double *rhs, double *customSol,
                       double *currentSol, SolveTrust *trust, DeviceRun *run)
{
    if (!host || n < 1 || !coef || !rhs || !customSol)
        return -1;
    DeviceRun local;
    DeviceRun &out = run ? *run : local;
    std::vector<std::vector<double>> rows(static_cast<size_t>(n), std::vector<double>(size_t(n)));
    std::vector<double *> work(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        work[size_t(i)] = rows[size_t(i)].data();
    auto store = std::make_unique<RatioStore>(n, RatioStore::Placement::InWorkingCopy);
    std::vector<double> x(static_cast<size_t>(n));
    if (!factorOnDevice(host, n, coef, rhs, work.data(), store.get(), x.data(), &out))
        return 2;
    const auto t0 = std::chrono::steady_clock::now();
    std::memcpy(customSol, x.data(), sizeof(double) * size_t(n));
    SolveTrust result;
    const int status = finishSolve(n, coef, rhs, work.data(), std::move(store), customSol, 0,
                                   ThreadSettings::fromPrefs(), &result);
    // finishSolve fills its own record; where the factors came from is ours.
    result.elimination = QStringLiteral("blocked LU with partial pivoting on OpenCL: %1").arg(out.devices);
    if (trust)
        *trust = result;
    if (currentSol)
        std::memcpy(currentSol, customSol, sizeof(double) * size_t(n));
    out.seconds[4] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return status;
}
