#ifndef MYTHREADS_H
#define MYTHREADS_H

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

// Base of every worker object: remembers the thread that constructed it, so
// that the registry can hand the worker back there when its slot ends.
class TrxWorker : public QObject
{
    Q_OBJECT
public:
    explicit TrxWorker(QObject *parent = nullptr)
        : QObject(parent), m_creatorThread(QThread::currentThread()) {}
    QThread *creatorThread() const { return m_creatorThread; }

private:
    QThread *m_creatorThread;
};

// Process-wide registry of idle worker threads. Threads are handed out from
// the front of the pool and returned at its back; a thread that is handed
// out has always finished its previous run.
class MyThreads : public QObject
{
    Q_OBJECT
public:
    // Take an idle thread; grows the pool by processorCount when empty.
    static QThread *thrOpt(const QString &name);
    // Null thread: take one. Otherwise give that thread back (returns null).
    static QThread *thrOpt(QThread *thread, const QString &name);
    // Called by a worker at the end of its slot, on the worker's thread.
    static void threadFinished(QThread *thread, const QString &name, QObject *worker,
                               const QString &tag);
    static void growPool(int count);
    // Waits for every pooled thread and deletes it, then the pool itself.
    static void destroyPool();
    // Number of idle threads (tests and diagnostics).
    static int poolSize();
    static bool inPool(QThread *thread);

    static MyThreads *instance();
    static void setInstance(MyThreads *registry);

    // Runs a worker slot (SLOT(name()), no arguments) on a pooled thread:
    // the thread is started with the caller's priority, then the worker is
    // moved there and its slot queued. Returns the thread, or null when no
    // thread could be started: the failure is logged ("error no: MT6"), the
    // worker stays on the caller's thread and its slot has not run, so the
    // caller does that work itself or fails the operation.
    static QThread *start(QObject *worker, const char *slot, const QString &name);
    // Called after waiting for started workers' threads: their writes are
    // handed over under the same lock as the start's, so that
    // ThreadSanitizer sees them (it cannot see the locking inside QThread::wait).
    static void joined();
    // The two halves of start(), for callers that need every thread of a
    // group running before any worker begins: startIdle takes a pooled
    // thread and starts its event loop (null and logged when it cannot be
    // started); run moves the worker to such a thread and queues its slot.
    // beforeStart, when given, is called with the thread before it is
    // started (to connect to its signals while nothing runs on it yet).
    static QThread *startIdle(const QString &name,
                              const std::function<void(QThread *)> &beforeStart = nullptr);
    static void run(QThread *thread, QObject *worker, const char *slot);
    // Test hook: the next count thread starts fail as if the system had
    // refused them.
    static void failNextStarts(int count);

private:
    static void giveBack(QThread *thread);
};

// Millisecond sleep of the calling thread, used by every polling wait.
class ThreadSleep : public QThread
{
public:
    static void msleep(unsigned long ms) { QThread::msleep(ms); }
};

#endif
