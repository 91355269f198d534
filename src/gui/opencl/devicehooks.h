#ifndef DEVICEHOOKS_H
#define DEVICEHOOKS_H

#include <QString>

#include <functional>

class EquationDocument;
class OpenCLDevices;
class QWidget;
struct SolveControl;

// The OpenCL side of a window's solve.
namespace DeviceHooks {

// The device dialog with the plugin loaded and, unless optimising, the
// user's choice (*onDevice); its time is added to *elapsed.
OpenCLDevices *choose(QWidget *parent, bool optimise, int *elapsed, bool *onDevice);
// Hands doc's solve to the chosen devices through control: the blocked
// engine, or the step-by-step one where the devices lack it (or double
// precision). tell(title, text) informs the user when the devices failed
// and the processor solves instead.
void use(OpenCLDevices *devices, SolveControl &control, EquationDocument &doc,
         const std::function<void(const QString &, const QString &)> &tell);

} // namespace DeviceHooks

#endif
