#ifndef DEVICESOLVE_H
#define DEVICESOLVE_H

class PluginHost;
struct SolveTrust;
class QObject;

// solveArrays with the forward elimination on the devices host has
// prepared (loadPlugin and setCustomDevices done): the same copies, solve
// thread, refinement and status word. Status 2: the device elimination
// failed and the solutions are unchanged.
int solveArraysOnDevice(PluginHost *host, int n, double **coef, const double *rhs,
                        const int *columnZeros, double *customSol, double *currentSol,
                        QObject *errorReceiver = nullptr, SolveTrust *trust = nullptr);

#endif
