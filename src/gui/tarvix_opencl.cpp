// The window's side of the OpenCL solver: the device dialog and the
// hand-over of the system to the devices.
#include "tarvix.h"

#include "opencl/devicesolve.h"
#include "opencl/opencldevices.h"
#include "opencl/pluginhost.h"
#include "solver/ratiostore.h"
#include "solver/solve.h"

#include <QElapsedTimer>
#include <QMessageLogger>

#include <memory>

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

void tarvix::useDevices(OpenCLDevices *devices, SolveControl &control)
{
    // Step by step: the devices take the forward elimination of the solve.
    auto stepwise = std::make_shared<bool>(devices->stepwise() || !devices->host()->blocked());
    control.attach = [this, devices, stepwise](Solve *solve, QThread *thread) {
        if (!*stepwise)
            return;
        // Direct: initialiseGPU runs here at once, calcURatios on the solve thread.
        connect(solve, &Solve::initialiseGPU, devices, &OpenCLDevices::initialiseGPU, Qt::DirectConnection);
        connect(solve, &Solve::calcURatios, devices, &OpenCLDevices::calcURatios, Qt::DirectConnection);
        solve->enableGPU(thread);
        m_doc.setEliminationNote(QStringLiteral("ordered elimination, step by step on OpenCL: %1")
                                     .arg(devices->host()->chosenNames()));
    };
    if (*stepwise)
        return;
    // The blocked engine factors the whole working copy on the devices.
    control.factor = [this, devices, stepwise](double **work, const double *rhs,
                                               double *x) -> std::unique_ptr<RatioStore> {
        const int n = m_store.N;
        auto store = std::make_unique<RatioStore>(n);
        DeviceRun run;
        // The plugin keeps this thread's events flowing while the devices work.
        if (factorOnDevice(devices->host(), n, m_store.coef, rhs, work, store.get(), x, &run)) {
            m_doc.setEliminationNote(
                QStringLiteral("blocked LU with partial pivoting on OpenCL: %1").arg(run.devices));
            return store;
        }
        *stepwise = run.outcome == DeviceRun::NoDoublePrecision;
        QMessageLogger("tarvix", 2001, kSolveFunction).warning("%s", qPrintable(run.message));
        if (!*stepwise)
            errMsg(new QString(QStringLiteral("OpenCL could not solve the equations")),
                   new QString(run.message + QStringLiteral(".\nThe equations are solved on the processor instead.")),
                   QStringLiteral("INFORMATION"));
        return nullptr;
    };
}
