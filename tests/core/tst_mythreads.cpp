#include "logcapture.h"
#include "testenv.h"
#include "threads/mythreads.h"

#include <QtTest>

#include <atomic>

namespace {
// A worker that records where its slot ran and hands itself back.
class Probe : public TrxWorker
{
    Q_OBJECT
public:
    explicit Probe(const QString &tag) : m_tag(tag) {}
    std::atomic<QThread *> ranOn{nullptr};
public slots:
    void work()
    {
        ranOn = QThread::currentThread();
        MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("Probe::work"), this, m_tag);
    }

private:
    QString m_tag;
};
}

class TestMyThreads : public QObject
{
    Q_OBJECT
private slots:
    void poolStartsWithTwicePAndGrowsByP()
    {
        TestEnv env(4);
        QCOMPARE(MyThreads::poolSize(), 8);
        QList<QThread *> taken;
        for (int i = 0; i < 8; ++i)
            taken.append(MyThreads::thrOpt(QStringLiteral("t")));
        QCOMPARE(MyThreads::poolSize(), 0);
        taken.append(MyThreads::thrOpt(QStringLiteral("ninth")));
        QCOMPARE(MyThreads::poolSize(), 3);
        QCOMPARE(QSet<QThread *>(taken.begin(), taken.end()).size(), 9);
        for (QThread *t : taken)
            QVERIFY(MyThreads::thrOpt(t, QStringLiteral("t")) == nullptr);
        QCOMPARE(MyThreads::poolSize(), 12);
        // returned at the back, handed out from the front
        QThread *first = MyThreads::thrOpt(QStringLiteral("again"));
        QVERIFY(first != taken.last());
        MyThreads::thrOpt(first, QStringLiteral("again"));
    }

    // A thread returned twice is pooled once (MT1); a null worker is logged (MT5).
    void badReturnsAreLogged()
    {
        TestEnv env(2);
        LogCapture log;
        QThread *t = MyThreads::thrOpt(QStringLiteral("t"));
        MyThreads::thrOpt(t, QStringLiteral("t"));
        const int size = MyThreads::poolSize();
        MyThreads::thrOpt(t, QStringLiteral("t"));
        QCOMPARE(MyThreads::poolSize(), size);
        QCOMPARE(log.count(QStringLiteral("critical: error no: MT1")), 1);
        t = MyThreads::thrOpt(QStringLiteral("t"));
        MyThreads::threadFinished(t, QStringLiteral("t"), nullptr, QStringLiteral("SOLVE"));
        QCOMPARE(log.count(QStringLiteral("critical: error no: MT5")), 1);
        QCOMPARE(MyThreads::poolSize(), size);
    }

    void finishedWorkerGoesHome()
    {
        // Lower case is unknown.
        const std::pair<const char *, bool> cases[] = {{"ANALYSEWORKER", true}, {"FILESTRING", true}, {"REDUCE", true},
            {"SOLVE", true}, {"UNDOREDO", true}, {"USERPREFS", true}, {"VALIDATE", true}, {"solve", false}, {"WORKER", false}};
        for (const auto &[tag, home] : cases) {
            TestEnv env(2);
            LogCapture log;
            Probe probe{QLatin1String(tag)};
            QThread *t = MyThreads::startIdle(QStringLiteral("probe"));
            QVERIFY(t);
            QVERIFY(QObject::connect(t, SIGNAL(objectNameChanged(QString)), &probe, SLOT(work())));
            MyThreads::run(t, &probe, SLOT(work()));
            QVERIFY(t->wait(10000));
            QCOMPARE(probe.ranOn.load(), t);
            QVERIFY(MyThreads::inPool(t));
            QCOMPARE(log.count(QStringLiteral("critical: error no: MT4")), home ? 0 : 1);
            QCOMPARE(probe.thread(), home ? QThread::currentThread() : t);
            // a known worker is cut off from the pooled thread's signals
            QCOMPARE(QObject::disconnect(t, SIGNAL(objectNameChanged(QString)), &probe, SLOT(work())), !home);
        }
    }

    // A thread the system will not start: null, logged, the worker still on
    // the caller's thread with its slot not run, and the pool as it was.
    void refusedStartLeavesWorkerHome()
    {
        TestEnv env(2);
        LogCapture log;
        const int size = MyThreads::poolSize();
        Probe probe(QStringLiteral("SOLVE"));
        MyThreads::failNextStarts(2);
        QVERIFY(!MyThreads::start(&probe, SLOT(work()), QStringLiteral("refused")));
        QVERIFY(!MyThreads::startIdle(QStringLiteral("refused")));
        QCOMPARE(log.count(QStringLiteral("critical: error no: MT6 - refused could not be started")), 2);
        QCOMPARE(probe.thread(), QThread::currentThread());
        QCOMPARE(probe.ranOn.load(), nullptr);
        QCOMPARE(MyThreads::poolSize(), size);
        // The next start works again.
        QThread *t = MyThreads::start(&probe, SLOT(work()), QStringLiteral("works"));
        QVERIFY(t && t->wait(10000));
        QCOMPARE(probe.ranOn.load(), t);
    }

    void reusedThreadHasFinishedItsLastRun()
    {
        TestEnv env(1);
        // With one idle thread left the same thread comes back at once; each
        // user must find it finished before starting it again.
        for (int round = 0; round < 200; ++round) {
            Probe probe(QStringLiteral("SOLVE"));
            QThread *t = MyThreads::thrOpt(QStringLiteral("t"));
            QVERIFY(!t->isRunning());
            QObject::connect(t, SIGNAL(started()), &probe, SLOT(work()));
            probe.moveToThread(t);
            t->start();
            while (probe.thread() != QThread::currentThread())
                QThread::yieldCurrentThread();
            QThread *again = MyThreads::thrOpt(QStringLiteral("t"));
            QVERIFY(again->isFinished() || !again->isRunning());
            MyThreads::thrOpt(again, QStringLiteral("t"));
        }
    }
};

QTEST_GUILESS_MAIN(TestMyThreads)
#include "tst_mythreads.moc"
