// The window's side of the OpenCL solver: the device dialog and the
// hand-over of the system to the devices.
#include "tarvix.h"

#include "opencl/opencldevices.h"
#include "solver/solve.h"

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
}
