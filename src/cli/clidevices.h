#ifndef CLIDEVICES_H
#define CLIDEVICES_H

#include <QList>
#include <QString>

class EquationStore;
class QObject;
struct SolveTrust;

// The OpenCL device path of tarvix-cli: the same plugin and device
// numbering as the window's device dialog, without a dialog.
namespace CliDevices {

// Parses the value of --device: "cpu", "opencl" (every device) or
// "opencl:N,M" (devices by their number in --list-devices, from 1).
// False for anything else.
bool parseDeviceOption(const QString &value);

// Parses the value of --engine: "blocked" or "stepwise". False otherwise.
bool parseEngineOption(const QString &value);

// Prints the device table (number, then the 7 columns of the dialog).
// Returns the exit status: 0, or 2 when there is no plugin, runtime or
// device (with a message on standard error).
int listDevices();

// solveStore on the devices chosen with --device, or on the CPU when none
// were chosen, with the engine of --engine (the blocked one by default; a
// device without double precision gets the step-by-step one). A missing
// plugin, runtime or device, too little device memory, or a device solve
// that fails, is reported on standard error and the CPU solves instead.
int solve(EquationStore &store, const int *columnZeros, QObject *errorReceiver, SolveTrust *trust);

} // namespace CliDevices

#endif
