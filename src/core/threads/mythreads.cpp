#include "mythreads.h"

#include "env/environment.h"

#include <QList>

#include <atomic>
#include <mutex>

namespace {
// A standard mutex, so that ThreadSanitizer sees the pool's locking.
std::mutex g_poolMutex;
QList<QThread *> *g_pool = nullptr;
MyThreads *g_registry = nullptr;
std::atomic<int> g_failStarts{0};   // test hook: starts still to refuse
std::mutex g_handoff;               // a worker's fields, from its caller to its thread

QList<QThread *> &pool()
{
    if (!g_pool)
        g_pool = new QList<QThread *>();
    return *g_pool;
}

const char *const kKnownTags[] = {"ANALYSEWORKER", "FILESTRING", "REDUCE", "SOLVE",
                                  "UNDOREDO", "USERPREFS", "VALIDATE", "WORKERTEAM"};
}

QThread *MyThreads::thrOpt(const QString &name)
{
    return thrOpt(nullptr, name);
}

QThread *MyThreads::thrOpt(QThread *thread, const QString &)
{
    if (thread) {
        giveBack(thread);
        return nullptr;
    }
    QThread *t = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (pool().isEmpty()) {
            const int grow = qMax(1, Environment::processorCount());
            for (int i = 0; i < grow; ++i)
                pool().append(new QThread());
        }
        t = pool().takeFirst();
    }
    // The thread was told to exit when it came back; make sure its last run
    // is over before the new user starts it.
    t->wait();
    return t;
}

void MyThreads::giveBack(QThread *thread)
{
    std::lock_guard<std::mutex> lock(g_poolMutex);
    for (int i = pool().size() - 1; i >= 0; --i) {
        if (pool().at(i) == thread) {
            qCritical("error no: MT1");
            return;
        }
    }
    pool().append(thread);
    thread->exit(0);
}

void MyThreads::threadFinished(QThread *thread, const QString &name, QObject *worker,
                               const QString &tag)
{
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (!worker) {
            qCritical("error no: MT5");
        } else {
            bool known = false;
            for (const char *k : kKnownTags)
                known = known || tag == QLatin1String(k);
            if (known) {
                QObject::disconnect(thread, nullptr, worker, nullptr);
                QObject::disconnect(worker, nullptr, thread, nullptr);
                auto *w = qobject_cast<TrxWorker *>(worker);
                QThread *home = w ? w->creatorThread() : nullptr;
                if (home && worker->thread() == QThread::currentThread())
                    worker->moveToThread(home);
            } else {
                qCritical("error no: MT4");
            }
        }
    }
    thrOpt(thread, name);
}

void MyThreads::growPool(int count)
{
    std::lock_guard<std::mutex> lock(g_poolMutex);
    for (int i = 0; i < count; ++i)
        pool().append(new QThread());
}

void MyThreads::destroyPool()
{
    QList<QThread *> *p = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        p = g_pool;
        g_pool = nullptr;
    }
    if (p) {
        for (QThread *t : *p) {
            t->wait();
            delete t;
        }
        delete p;
    }
    delete g_registry;
    g_registry = nullptr;
}

int MyThreads::poolSize()
{
    std::lock_guard<std::mutex> lock(g_poolMutex);
    return g_pool ? g_pool->size() : 0;
}

bool MyThreads::inPool(QThread *thread)
{
    std::lock_guard<std::mutex> lock(g_poolMutex);
    return g_pool && g_pool->contains(thread);
}

MyThreads *MyThreads::instance()
{
    return g_registry;
}

void MyThreads::setInstance(MyThreads *registry)
{
    if (g_registry != registry)
        delete g_registry;
    g_registry = registry;
}

void MyThreads::failNextStarts(int count)
{
    g_failStarts.store(count > 0 ? count : 0);
}

QThread *MyThreads::startIdle(const QString &name, const std::function<void(QThread *)> &beforeStart)
{
    QThread *t = thrOpt(name);
    if (beforeStart)
        beforeStart(t);
    int pending = g_failStarts.load();
    bool refused = false;
    while (pending > 0 && !(refused = g_failStarts.compare_exchange_weak(pending, pending - 1))) {
    }
    if (!refused)
        t->start(QThread::InheritPriority);
    // A thread that started stays in its event loop until its worker hands
    // it back, so not running here means it never started.
    if (refused || !t->isRunning()) {
        qCritical("error no: MT6 - %s could not be started", qPrintable(name));
        giveBack(t);
        return nullptr;
    }
    return t;
}

void MyThreads::run(QThread *thread, QObject *worker, const char *slot)
{
    // SLOT(name()) is "1name()": invokeMethod wants the bare name.
    QByteArray method(slot && *slot ? slot + 1 : "");
    const int paren = method.indexOf('(');
    if (paren >= 0)
        method.truncate(paren);
    // Everything the caller wrote into the worker before this call is
    // handed over under g_handoff: the slot starts by taking it, so the
    // hand-over is visible to ThreadSanitizer, which cannot see the locking
    // inside Qt's event queue.
    std::lock_guard<std::mutex> lock(g_handoff);
    worker->moveToThread(thread);
    QMetaObject::invokeMethod(worker, [worker, method] {
        { std::lock_guard<std::mutex> taken(g_handoff); }
        const bool invoked = QMetaObject::invokeMethod(worker, method.constData(), Qt::DirectConnection);
        Q_ASSERT_X(invoked, "MyThreads::run", "the worker has no such slot");
        Q_UNUSED(invoked)
        { std::lock_guard<std::mutex> done(g_handoff); }
    }, Qt::QueuedConnection);
}

void MyThreads::joined()
{
    std::lock_guard<std::mutex> lock(g_handoff);
}

QThread *MyThreads::start(QObject *worker, const char *slot, const QString &name)
{
    QThread *t = startIdle(name);
    if (t)
        run(t, worker, slot);
    return t;
}
