#ifndef PLUGINHOST_H
#define PLUGINHOST_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class BlockedSolverInterface;
class PluginInterface;
class QPluginLoader;
class QThread;

// The program's side of the OpenCL plugin without any widget: finds and
// loads the plugin, lists the devices, prepares the chosen ones and
// forwards the solver's hand-over and forward-elimination request. The
// device dialog and the console program build on it. Deleting it releases
// and unloads the plugin.
class PluginHost : public QObject
{
    Q_OBJECT
public:
    explicit PluginHost(QObject *parent = nullptr);
    ~PluginHost() override;

    // Whether the system's OpenCL library can be loaded.
    static bool openCLLibraryLoads();
    // Application folder + "/plugins/TrxOpenCL." + the shared-library suffix.
    static QString defaultPluginPath();

    // The OpenCL library check first, then the plugin at path (empty: the
    // default path); true when it loads and implements the interface.
    bool loadPlugin(const QString &path = QString());
    bool isLoaded() const { return m_plugin != nullptr; }
    PluginInterface *plugin() const { return m_plugin; }
    // The plugin's blocked engine (null: the plugin has only the
    // step-by-step one).
    BlockedSolverInterface *blocked() const { return m_blocked; }

    // The devices, 7 strings each. False (and lists empty) when there is
    // none or an entry is malformed.
    bool deviceInfo(QList<QStringList> *lists);
    // Keeps the listed devices and builds the kernels from the resource
    // ":/OpenCL/MyOpenCL.cl". False on failure or an empty list.
    bool setCustomDevices(const QList<int> &devices);
    // The names of the devices prepared by setCustomDevices, comma-separated.
    QString chosenNames() const { return m_chosen; }

    // An object with a slot errMsg(QString*, QString*, QString) that shows
    // device errors; called blocking from the solve thread.
    void setErrorReceiver(QObject *receiver) { m_errorReceiver = receiver; }

public slots:
    void initialiseGPU(double **c, double *r, double **ur, double **dr, int n, QList<int> *diag,
                       QThread *t);
    void calcURatios(bool *res);

private:
    QPluginLoader *m_loader = nullptr;
    QObject *m_root = nullptr;
    PluginInterface *m_plugin = nullptr;
    BlockedSolverInterface *m_blocked = nullptr;
    QObject *m_errorReceiver = nullptr;
    QList<QStringList> m_lists;
    QString m_chosen;
};

#endif
