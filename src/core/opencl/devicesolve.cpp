#include "devicesolve.h"

#include "opencl/pluginhost.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "threads/mythreads.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>
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
    status = finishSolve(n, coef, rhs, c.data(), std::move(ratios), customSol, status,
                         ThreadSettings::fromPrefs(), trust);
    if (currentSol)
        std::memcpy(currentSol, customSol, bytes);
    return status;
}
