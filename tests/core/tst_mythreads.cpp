#include "logcapture.h"
#include "testenv.h"
#include "threads/mythreads.h"
#include "threads/workerteam.h"
#include "solver/reduce.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

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

    // Every share of every phase runs exactly once, share 0 on the caller
    // and each other share on the same member thread phase after phase;
    // shares of members that could not be started, and those beyond the
    // team, run on the caller. The threads go back to the pool at the end.
    void teamRunsEveryShareOnce()
    {
        for (int refused = 0; refused < 3; ++refused) {
            TestEnv env(2);
            LogCapture log;
            const int pooled = MyThreads::poolSize();
            const int size = 4;
            std::vector<std::set<QThread *>> where(size_t(size + 2));
            std::mutex seen;
            {
                MyThreads::failNextStarts(refused);
                WorkerTeam team(size, QStringLiteral("team "));
                MyThreads::failNextStarts(0);
                QCOMPARE(WorkerTeam::current(), &team);
                for (int phase = 0; phase < 300; ++phase) {
                    const int count = 1 + phase % (size + 2);
                    std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[size_t(count)]);
                    for (int w = 0; w < count; ++w)
                        runs[size_t(w)] = 0;
                    // Through Reduce::runPhase, as the solver calls it.
                    std::atomic<int> outside{0};
                    Reduce::runPhase(QStringLiteral("unused "), count, [&](int w) {
                        if (w < 0 || w >= count) {
                            ++outside;
                            return;
                        }
                        ++runs[size_t(w)];
                        std::lock_guard<std::mutex> lock(seen);
                        where[size_t(w)].insert(QThread::currentThread());
                    });
                    QCOMPARE(outside.load(), 0);
                    for (int w = 0; w < count; ++w)
                        QVERIFY2(runs[size_t(w)] == 1, qPrintable(QStringLiteral("phase %1 share %2").arg(phase).arg(w)));
                }
            }
            QCOMPARE(WorkerTeam::current(), nullptr);
            QThread *caller = QThread::currentThread();
            std::set<QThread *> members;
            for (int w = 0; w < size + 2; ++w) {
                QCOMPARE(int(where[size_t(w)].size()), 1);
                QThread *t = *where[size_t(w)].begin();
                // The first members asked for are the ones refused.
                const bool onCaller = w == 0 || w >= size || w <= refused;
                QVERIFY2((t == caller) == onCaller, qPrintable(QStringLiteral("share %1").arg(w)));
                if (!onCaller)
                    members.insert(t);
            }
            QCOMPARE(int(members.size()), size - 1 - refused);
            QCOMPARE(log.count(QStringLiteral("critical: error no: MT6 - team %1 could not be started")
                                   .arg(refused)), refused > 0 ? 1 : 0);
            QCOMPARE(MyThreads::poolSize(), pooled);
        }
    }

    // A team made inside another serves its own phases; the outer one
    // serves again when it ends. Without a team, runPhase starts threads.
    void teamsNest()
    {
        TestEnv env(2);
        auto sharesOn = [](int count) {
            std::vector<QThread *> on(size_t(count), nullptr);
            Reduce::runPhase(QStringLiteral("phase "), count,
                             [&](int w) { on[size_t(w)] = QThread::currentThread(); });
            return on;
        };
        const std::vector<QThread *> before = sharesOn(2);
        QVERIFY(before[1] != QThread::currentThread() && before[0] != QThread::currentThread());
        WorkerTeam outer(2, QStringLiteral("outer "));
        const std::vector<QThread *> first = sharesOn(2);
        QCOMPARE(first[0], QThread::currentThread());
        {
            WorkerTeam inner(3, QStringLiteral("inner "));
            QCOMPARE(WorkerTeam::current(), &inner);
            const std::vector<QThread *> on = sharesOn(3);
            QVERIFY(on[1] != first[1] && on[2] != first[1] && on[1] != on[2]);
        }
        QCOMPARE(WorkerTeam::current(), &outer);
        QCOMPARE(sharesOn(2), first);
    }
};

QTEST_GUILESS_MAIN(TestMyThreads)
#include "tst_mythreads.moc"
