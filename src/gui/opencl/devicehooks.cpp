#include "devicehooks.h"

#include "document/equationdocument.h"

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

OpenCLDevices *DeviceHooks::choose(QWidget *parent, bool optimise, int *elapsed, bool *onDevice)
{
    *onDevice = false;
    auto *devices = new OpenCLDevices(parent);
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

void DeviceHooks::use(OpenCLDevices *devices, SolveControl &control, EquationDocument &doc,
                      const std::function<void(const QString &, const QString &)> &tell)
{
    // Step by step: the devices take the forward elimination of the solve.
    auto stepwise = std::make_shared<bool>(devices->stepwise() || !devices->host()->blocked());
    control.attach = [&doc, devices, stepwise](Solve *solve, QThread *thread) {
        if (!*stepwise)
            return;
        // Direct: initialiseGPU runs here at once, calcURatios on the solve thread.
        QObject::connect(solve, &Solve::initialiseGPU, devices, &OpenCLDevices::initialiseGPU, Qt::DirectConnection);
        QObject::connect(solve, &Solve::calcURatios, devices, &OpenCLDevices::calcURatios, Qt::DirectConnection);
        solve->enableGPU(thread);
        doc.setEliminationNote(QStringLiteral("ordered elimination, step by step on OpenCL: %1")
                                     .arg(devices->host()->chosenNames()));
    };
    if (*stepwise)
        return;
    // The blocked engine factors the whole working copy on the devices.
    control.factor = [&doc, devices, stepwise, tell](double **work, const double *rhs,
                                               double *x) -> std::unique_ptr<RatioStore> {
        const int n = doc.store().N;
        auto store = std::make_unique<RatioStore>(n, RatioStore::Placement::InWorkingCopy);
        DeviceRun run;
        // The plugin keeps this thread's events flowing while the devices work.
        if (factorOnDevice(devices->host(), n, doc.store().coef, rhs, work, store.get(), x, &run)) {
            doc.setEliminationNote(
                QStringLiteral("blocked LU with partial pivoting on OpenCL: %1").arg(run.devices));
            return store;
        }
        *stepwise = run.outcome == DeviceRun::NoDoublePrecision;
        QMessageLogger("tarvix", 2001, kSolveFunction).warning("%s", qPrintable(run.message));
        if (!*stepwise)
            tell(QStringLiteral("OpenCL could not solve the equations"),
                 run.message + QStringLiteral(".\nThe equations are solved on the processor instead."));
        return nullptr;
    };
}
