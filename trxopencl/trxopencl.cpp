#include "trxopencl.h"

#include "myopencl.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutexLocker>
#include <QThread>

Q_DECLARE_METATYPE(QList<QStringList *> *)
Q_DECLARE_METATYPE(QList<int> *)
Q_DECLARE_METATYPE(bool *)
Q_DECLARE_METATYPE(double *)
Q_DECLARE_METATYPE(double **)
Q_DECLARE_METATYPE(QString *)
Q_DECLARE_METATYPE(BlockedSolve *)

TrxOpenCL::TrxOpenCL()
    : m_engine(new MyOpenCL(QThread::currentThread())), m_worker(new QThread)
{
    // The requests travel to the worker thread as queued signals.
    qRegisterMetaType<QList<QStringList *> *>("QList<QStringList*>*");
    qRegisterMetaType<QList<int> *>("QList<int>*");
    qRegisterMetaType<bool *>("bool*");
    qRegisterMetaType<double *>("double*");
    qRegisterMetaType<double **>("double**");
    qRegisterMetaType<QString *>("QString*");
    qRegisterMetaType<BlockedSolve *>("BlockedSolve*");
}

TrxOpenCL::~TrxOpenCL()
{
    release();
    delete m_worker;
}

template<typename Emit>
bool TrxOpenCL::runOnWorker(Emit emitRequest)
{
    // The engine can only be handed to the worker from the thread it is on:
    // the one that created it, or the solve thread after initialise.
    if (!m_engine || !m_worker || m_engine->thread() != QThread::currentThread()) {
        disconnect(this, nullptr, m_engine, nullptr);
        return false;
    }
    m_engine->moveToThread(m_worker);
    m_worker->start(QThread::InheritPriority);
    emitRequest();
    // The engine ends the worker's event loop when it is done.
    while (!m_worker->isFinished()) {
        QCoreApplication::processEvents();
        m_worker->wait(100);
    }
    m_worker->wait();
    disconnect(this, nullptr, m_engine, nullptr);
    disconnect(m_engine, nullptr, this, nullptr);
    return true;
}

void TrxOpenCL::getDeviceInfo(QList<QStringList *> *lists)
{
    // After a release the next enumeration starts a fresh engine here.
    if (!m_engine)
        m_engine = new MyOpenCL(QThread::currentThread());
    connect(this, &TrxOpenCL::sigDeviceInfo, m_engine, &MyOpenCL::getDeviceInfo);
    runOnWorker([&] { emit sigDeviceInfo(lists); });
}

void TrxOpenCL::setCustomDevices(QList<int> *list, QFile *clFile, bool *result)
{
    connect(this, &TrxOpenCL::sigCustomDevices, m_engine, &MyOpenCL::setCustomDevices);
    if (!runOnWorker([&] { emit sigCustomDevices(list, clFile, result); }) && result)
        *result = false;
}

void TrxOpenCL::initialise(double **c, double *r, double **ur, double **dr, int n,
                           QList<int> *swap, QThread *t)
{
    connect(this, &TrxOpenCL::sigInit, m_engine, &MyOpenCL::initialise);
    runOnWorker([&] { emit sigInit(c, r, ur, dr, n, swap, t); });
}

void TrxOpenCL::calcURatios(bool *result)
{
    connect(this, &TrxOpenCL::sigCalcURatios, m_engine, &MyOpenCL::calcURatios);
    // Stored on the engine's thread at once, so the triple is complete
    // before the request returns and the host asks for it.
    connect(m_engine, &MyOpenCL::throwErr, this, &TrxOpenCL::catchErr, Qt::DirectConnection);
    if (!runOnWorker([&] { emit sigCalcURatios(result); }) && result)
        *result = false;
}

void TrxOpenCL::solveBlocked(BlockedSolve *request)
{
    if (!m_engine) {
        request->outcome = BlockedSolve::DeviceFailed;
        request->message = QStringLiteral("no OpenCL device is prepared");
        return;
    }
    connect(this, &TrxOpenCL::sigSolveBlocked, m_engine, &MyOpenCL::solveBlocked);
    if (!runOnWorker([&] { emit sigSolveBlocked(request); })) {
        request->outcome = BlockedSolve::DeviceFailed;
        request->message = QStringLiteral("the OpenCL engine is busy on another thread");
    }
}

void TrxOpenCL::catchErr(QString *errTitle, QString *errTxt, QString errorType)
{
    QMutexLocker lock(&m_errLock);
    delete m_errTitle;
    delete m_errTxt;
    m_errTitle = errTitle;
    m_errTxt = errTxt;
    m_errorType = errorType;
}

void TrxOpenCL::release()
{
    delete m_engine;
    m_engine = nullptr;
    QMutexLocker lock(&m_errLock);
    delete m_errTitle;
    delete m_errTxt;
    m_errTitle = nullptr;
    m_errTxt = nullptr;
    m_errorType.clear();
}

void TrxOpenCL::getError(QString *errTitle, QString *errTxt, QString *errorType)
{
    QMutexLocker lock(&m_errLock);
    if (errTitle)
        *errTitle = m_errTitle ? *m_errTitle : QString();
    if (errTxt)
        *errTxt = m_errTxt ? *m_errTxt : QString();
    if (errorType)
        *errorType = m_errorType;
}
