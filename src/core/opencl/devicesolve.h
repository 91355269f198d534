#ifndef DEVICESOLVE_H
#define DEVICESOLVE_H

#include <QString>

class PluginHost;
class RatioStore;
struct SolveTrust;
class QObject;

// solveArrays with the forward elimination on the devices host has
// prepared (loadPlugin and setCustomDevices done): the same copies, solve
// thread, refinement and status word. Status 2: the device elimination
// failed and the solutions are unchanged.
int solveArraysOnDevice(PluginHost *host, int n, double **coef, const double *rhs,
                        const int *columnZeros, double *customSol, double *currentSol,
                        QObject *errorReceiver = nullptr, SolveTrust *trust = nullptr);

// The two device engines: the whole system factored on the devices, or the
// step-by-step forward elimination of the solver.
enum class DeviceEngine { Blocked, Stepwise };
DeviceEngine deviceEngineFromName(const QString &name, bool *ok = nullptr);
QString deviceEngineName(DeviceEngine engine);

// What one blocked device solve did.
struct DeviceRun
{
    // Inputs: bytes a device may use in one buffer and in all (0: its own
    // limits; a smaller value stands in for a smaller device), and the
    // local-memory tiled update even on a processor.
    unsigned long long memoryCap = 0;
    bool tiledUpdate = false;

    enum Outcome { Solved, NoDoublePrecision, TooLittleMemory, DeviceFailed };
    Outcome outcome = DeviceFailed;
    QString devices; // the devices' names
    QString message; // why it did not solve
    // Seconds: copy in, factorisation, solves, copy out, host finish.
    double seconds[5] = {0, 0, 0, 0, 0};
    double buildSeconds = 0; // building the kernels, before all that
};

// The blocked engine's factors of coef in work (n rows, overwritten), in
// the form of a solve's reduced matrix and ratio store (store sized for n),
// and its answer in x. run (may be null) gives the inputs and receives the
// outcome. False, with run saying why, when the devices did not solve; then work,
// store and x are not meaningful.
bool factorOnDevice(PluginHost *host, int n, double *const *coef, const double *rhs, double **work,
                    RatioStore *store, double *x, DeviceRun *run = nullptr);

// solveArrays on the blocked engine: the device's answer is refined and
// checked on the host like the processor's (finishSolve). Status 2: the
// devices did not solve (run says why) and the solutions are unchanged.
int solveArraysBlocked(PluginHost *host, int n, double **coef, const double *rhs,
                       double *customSol, double *currentSol, SolveTrust *trust = nullptr,
                       DeviceRun *run = nullptr);

#endif
