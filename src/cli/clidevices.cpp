#include "clidevices.h"
#include "cliprogress.h"

#include "opencl/devicesolve.h"
#include "opencl/pluginhost.h"
#include "solver/solverun.h"
#include "store/equationstore.h"

#include <QStringList>

#include <cstdio>

namespace {

bool g_useDevices = false;
QList<int> g_devices; // empty with g_useDevices: every device
DeviceEngine g_engine = DeviceEngine::Blocked;

void note(const QString &text)
{
    std::fprintf(stderr, "tarvix-cli: %s\n", text.toLocal8Bit().constData());
}

// Loads the plugin and lists the devices; a message when that fails.
bool openDevices(PluginHost *host, QList<QStringList> *lists)
{
    if (!PluginHost::openCLLibraryLoads()) {
        note(QStringLiteral("the OpenCL library could not be loaded"));
        return false;
    }
    if (!host->loadPlugin()) {
        note(QStringLiteral("the OpenCL plugin %1 could not be loaded").arg(PluginHost::defaultPluginPath()));
        return false;
    }
    if (!host->deviceInfo(lists)) {
        note(QStringLiteral("no OpenCL device was found"));
        return false;
    }
    return true;
}

} // namespace

bool CliDevices::parseDeviceOption(const QString &value)
{
    g_devices.clear();
    g_useDevices = false;
    if (value == QLatin1String("cpu"))
        return true;
    if (value == QLatin1String("opencl")) {
        g_useDevices = true;
        return true;
    }
    if (!value.startsWith(QLatin1String("opencl:")))
        return false;
    const QStringList parts = value.mid(7).split(QLatin1Char(','));
    for (const QString &p : parts) {
        bool ok = false;
        const int number = p.toInt(&ok);
        if (!ok || number < 1 || number > 1024)
            return false;
        if (!g_devices.contains(number - 1))
            g_devices << number - 1;
    }
    g_useDevices = true;
    return true;
}

bool CliDevices::parseEngineOption(const QString &value)
{
    bool ok = false;
    const DeviceEngine engine = deviceEngineFromName(value, &ok);
    if (ok)
        g_engine = engine;
    return ok;
}

int CliDevices::listDevices()
{
    PluginHost host;
    QList<QStringList> lists;
    if (!openDevices(&host, &lists))
        return 2;
    std::printf("Sr. No.\tName\tVendor\tType\tSpeed(MHz)\tMemory(MB)\tCompute Units\tAccuracy\n");
    for (int i = 0; i < lists.size(); ++i)
        std::printf("%d\t%s\n", i + 1, lists.at(i).join(QLatin1Char('\t')).toLocal8Bit().constData());
    return 0;
}

int CliDevices::solve(EquationStore &store, const int *columnZeros, QObject *errorReceiver,
                      SolveTrust *trust)
{
    if (!g_useDevices)
        return solveStore(store, columnZeros, errorReceiver, trust, CliProgress::control());
    if (store.N < 1 || store.allocated != store.N || !store.coef || !store.rhs || !store.customSol)
        return -1;
    int status = 2;
    {
        PluginHost host;
        QList<QStringList> lists;
        if (openDevices(&host, &lists)) {
            QList<int> chosen = g_devices;
            if (chosen.isEmpty()) {
                for (int i = 0; i < lists.size(); ++i)
                    chosen << i;
            }
            bool known = true;
            for (int d : qAsConst(chosen))
                known = known && d < lists.size();
            if (!known)
                note(QStringLiteral("there are only %1 OpenCL device(s)").arg(lists.size()));
            else if (!host.setCustomDevices(chosen))
                note(QStringLiteral("the OpenCL devices could not be prepared"));
            else {
                bool stepwise = g_engine == DeviceEngine::Stepwise || !host.blocked();
                if (!stepwise) {
                    DeviceRun run;
                    status = solveArraysBlocked(&host, store.N, store.coef, store.rhs, store.customSol,
                                                store.currentSol, trust, &run);
                    if (status == 2)
                        note(run.message);
                    // Float-only devices: the step-by-step engine and the refinement.
                    stepwise = run.outcome == DeviceRun::NoDoublePrecision;
                }
                if (stepwise
                    && (status = solveArraysOnDevice(&host, store.N, store.coef, store.rhs, columnZeros,
                                                     store.customSol, store.currentSol, errorReceiver, trust))
                           == 2)
                    note(QStringLiteral("the OpenCL solve did not complete"));
            }
        }
    }
    if (status != 2)
        return status;
    // The device changed only its own copies: the CPU starts afresh.
    note(QStringLiteral("solving on the CPU"));
    return solveStore(store, columnZeros, errorReceiver, trust, CliProgress::control());
}
