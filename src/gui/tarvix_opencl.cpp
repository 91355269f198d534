// The window's side of the OpenCL solver: the device dialog and the
// hand-over of the system to the devices.
#include "tarvix.h"

#include "opencl/devicesolve.h"
#include "opencl/opencldevices.h"
#include "opencl/pluginhost.h"
#include "solver/ratiostore.h"
#include "solver/solve.h"

#include <cstring>
#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QMessageLogger>

namespace {
const char kSolveFunction[] = "void tarvix::solveEq(double**, double*, int*, int*, int*)";
}

OpenCLDevices *tarvix::openCLDevices(bool optimise, int *elapsed, bool *onDevice)
{
    *onDevice = false;
    auto *devices = new OpenCLDevices(m_hidden ? nullptr : this);
    if (!devices->loadPlugin()) {
        QMessageLogger("tarvix", 1991, kSolveFunction).debug("\n-->Could not find OpenCL Plugin\n");
        return devices;
    }
    QMessageLogger("tarvix", 1981, kSolveFunction).debug("\n--> Found OpenCL Plugin\n");
    QElapsedTimer timer;
    timer.start();
    if (!optimise)
        *onDevice = devices->selectDevices();
    *elapsed += int(timer.elapsed());
    return devices;
}

void tarvix::attachDevices(OpenCLDevices *devices, Solve *solve, QThread *thread)
{
    // Direct: initialiseGPU runs here at once, calcURatios on the solve thread.
    connect(solve, &Solve::initialiseGPU, devices, &OpenCLDevices::initialiseGPU, Qt::DirectConnection);
    connect(solve, &Solve::calcURatios, devices, &OpenCLDevices::calcURatios, Qt::DirectConnection);
    solve->enableGPU(thread);
    m_deviceElimination = QStringLiteral("ordered elimination, step by step on OpenCL: %1")
                              .arg(devices->host()->chosenNames());
}

bool tarvix::solveBlockedOnDevices(OpenCLDevices *devices, double **c, const double *r, bool *stepwise)
{
    *stepwise = false;
    const int n = m_store.N;
    auto store = std::make_unique<RatioStore>(n);
    std::vector<double> x(static_cast<size_t>(n));
    DeviceRun run;
    // The plugin keeps this thread's events flowing while the devices work.
    ++m_busy;
    const bool solved = factorOnDevice(devices->host(), n, m_store.coef, r, c, store.get(), x.data(), &run);
    --m_busy;
    if (solved) {
        std::memcpy(m_store.customSol, x.data(), sizeof(double) * size_t(n));
        m_ratios = store.release();
        m_deviceElimination = QStringLiteral("blocked LU with partial pivoting on OpenCL: %1").arg(run.devices);
        return true;
    }
    // The factorisation may have stopped halfway through the working copy.
    for (int i = 0; i < n; ++i)
        std::memcpy(c[i], m_store.coef[i], sizeof(double) * size_t(n));
    *stepwise = run.outcome == DeviceRun::NoDoublePrecision;
    QMessageLogger("tarvix", 2001, kSolveFunction).warning("%s", qPrintable(run.message));
    if (!*stepwise)
        errMsg(new QString(QStringLiteral("OpenCL could not solve the equations")),
               new QString(run.message + QStringLiteral(".\nThe equations are solved on the processor instead.")),
               QStringLiteral("INFORMATION"));
    return false;
}
