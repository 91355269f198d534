#ifndef TRXOPENCL_H
#define TRXOPENCL_H

#include "blockedinterface.h"
#include "plugininterface.h"

#include <QMutex>
#include <QObject>
#include <QString>

class MyOpenCL;
class QThread;

// The plugin object: runs every request of the program on the engine in a
// worker thread of its own and waits for it, processing events meanwhile.
class TrxOpenCL : public QObject, public PluginInterface, public BlockedSolverInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PluginInterface_iid)
    Q_INTERFACES(PluginInterface BlockedSolverInterface)
public:
    TrxOpenCL();
    ~TrxOpenCL() override;

    void release() override;
    void getDeviceInfo(QList<QStringList *> *lists) override;
    void setCustomDevices(QList<int> *list, QFile *clFile, bool *result) override;
    void initialise(double **c, double *r, double **ur, double **dr, int n, QList<int> *swap,
                    QThread *t) override;
    void calcURatios(bool *result) override;
    void getError(QString *errTitle, QString *errTxt, QString *errorType) override;
    void solveBlocked(BlockedSolve *request) override;

signals:
    void sigDeviceInfo(QList<QStringList *> *lists);
    void sigCustomDevices(QList<int> *list, QFile *clFile, bool *result);
    void sigInit(double **c, double *r, double **ur, double **dr, int n, QList<int> *swap, QThread *t);
    void sigCalcURatios(bool *result);
    void sigSolveBlocked(BlockedSolve *request);

public slots:
    void catchErr(QString *errTitle, QString *errTxt, QString errorType);

private:
    // Starts the worker with the engine on it, emits the request and waits
    // until the engine has handed the thread back. False when the engine
    // cannot be reached from the calling thread.
    template<typename Emit>
    bool runOnWorker(Emit emitRequest);

    MyOpenCL *m_engine;
    QThread *m_worker;
    QString *m_errTitle = nullptr;
    QString *m_errTxt = nullptr;
    QString m_errorType;
    // The engine reports from its worker thread; the host reads on another.
    QMutex m_errLock;
};

#endif
