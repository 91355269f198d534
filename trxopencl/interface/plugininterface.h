#ifndef PLUGININTERFACE_H
#define PLUGININTERFACE_H

// The interface between Tarvix and its OpenCL plugin. Both sides are built
// from this header; the program reaches the plugin only through these six
// operations. Every pointer stays owned by the caller: the plugin works
// directly in the program's arrays.

#include <QList>
#include <QString>
#include <QStringList>
#include <QtPlugin>

class QFile;
class QThread;

class PluginInterface
{
public:
    // Deletes the engine and forgets any stored error; called once before
    // the plugin is unloaded.
    virtual void release() = 0;
    // One list of 7 strings per usable device: name, vendor, type, clock
    // (MHz), global memory (MB), compute units, "Good" or "Bad" precision.
    virtual void getDeviceInfo(QList<QStringList *> *lists) = 0;
    // Keeps only the listed devices (positions in the getDeviceInfo order)
    // and builds the kernels from clFile; *result false on failure (the
    // caller presets true).
    virtual void setCustomDevices(QList<int> *list, QFile *clFile, bool *result) = 0;
    // Hands over one solve: coefficient rows, right-hand side, multiplier
    // and diagonal ratio tables, size, swap list and the solve thread.
    virtual void initialise(double **c, double *r, double **ur, double **dr, int n,
                            QList<int> *swap, QThread *t) = 0;
    // The forward elimination on the devices; *result tells success.
    virtual void calcURatios(bool *result) = 0;
    // The last error triple the engine reported (type empty: none).
    virtual void getError(QString *errTitle, QString *errTxt, QString *errorType) = 0;

    virtual ~PluginInterface() = default;
};

#define PluginInterface_iid "app.tarvix.Tarvix.PluginInterface/1.20.0"
Q_DECLARE_INTERFACE(PluginInterface, PluginInterface_iid)

#endif
