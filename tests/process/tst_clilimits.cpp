// tarvix-cli under hostile conditions: killed while writing, past a file-size
// limit, fed a pipe, short of memory, refused worker threads. Every run ends
// with the old or the new file whole and either a correct result or a clear
// failure; never a crash, a hang or a wrong result reported as success.
#include "childrun.h"
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The child gets its limit (and, when the tests run as root, a user that
// the process limit applies to) between fork and exec.
class LimitedProcess : public QProcess
{
public:
    int resource = -1;
    rlim_t limit = 0;
    bool asNobody = false;

protected:
    void setupChildProcess() override
    {
        if (asNobody) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(120);
        }
        if (resource >= 0) {
            const struct rlimit rl = {limit, limit};
            if (::setrlimit(resource, &rl) != 0)
                ::_exit(121);
        }
    }
};

} // namespace

class TestCliLimits : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

    Run run(const QStringList &args, int resource = -1, rlim_t limit = 0, bool asNobody = false)
    {
        LimitedProcess p;
        p.resource = resource;
        p.limit = limit;
        p.asNobody = asNobody;
        prepareChild(p, m_dir.path());
        if (resource == RLIMIT_NPROC) {
            // The leak check at exit needs a thread of its own, which the
            // limit refuses; it has nothing to do with the program.
            QProcessEnvironment env = p.processEnvironment();
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
            p.setProcessEnvironment(env);
        }
        return runChild(p, QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args);
    }

    QStringList leftovers() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Readable and writable for the unprivileged user of the thread test.
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
        QVERIFY(QDir().mkpath(m_dir.path() + QStringLiteral("/appdata")));
        QVERIFY(writeFile(path(QStringLiteral("sys.trx")), kSystem));
        QCOMPARE(run({"generate", "1000", "big.trx", "--seed", "7"}).code, 0);
        QCOMPARE(run({"generate", "200", "mine.trx", "--seed", "3"}).code, 0);
    }

    // SIGKILL at random moments of a large write: the target is afterwards
    // the old file or the new one, whole.
    void killedWhileWriting()
    {
        const QByteArray old = kSystem;
        QCOMPARE(run({"convert", "big.trx", "ref.trx"}).code, 0);
        const QByteArray fresh = readFile(path(QStringLiteral("ref.trx")));
        QVERIFY(fresh.size() > 1000000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(run({"convert", "big.trx", "ref.trx"}).code, 0);
        const qint64 whole = qMax<qint64>(20, clock.elapsed());
        int oldSeen = 0;
        int newSeen = 0;
        for (int trial = 0; trial < 24; ++trial) {
            QVERIFY(writeFile(path(QStringLiteral("target.trx")), old));
            QProcess p;
            prepareChild(p, m_dir.path());
            p.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), {"convert", "big.trx", "target.trx"});
            QVERIFY(p.waitForStarted());
            // Mostly in the second half, where the new file is written.
            QThread::msleep(ulong(QRandomGenerator::global()->bounded(quint32(whole / 3), quint32(whole + 10))));
            ::kill(pid_t(p.processId()), SIGKILL);
            QVERIFY(p.waitForFinished(60000));
            const QByteArray now = readFile(path(QStringLiteral("target.trx")));
            QVERIFY2(now == old || now == fresh, qPrintable(QStringLiteral("trial %1: %2 bytes").arg(trial).arg(now.size())));
            (now == old ? oldSeen : newSeen)++;
        }
        // What a killed writer leaves is its unfinished file beside the
        // target, never the target itself.
        const QStringList parts = leftovers();
        qInfo("old file kept %d times, new file complete %d times, %d killed mid-write", oldSeen, newSeen,
              int(parts.size()));
        for (const QString &part : parts)
            QFile::remove(path(part));
    }

    // Past a file-size limit, with the output also the input: the only copy
    // survives and the message names the reason.
    void fileSizeLimit()
    {
        const QStringList cases[] = {{"solve", "mine.trx", "--output", "mine.trx"}, {"convert", "mine.trx", "mine.trx"},
                                     {"convert", "mine.trx", "mine.btrx"}};
        for (const QStringList &args : cases) {
            const QByteArray before = readFile(path(QStringLiteral("mine.trx")));
            const Run r = run(args, RLIMIT_FSIZE, 64 * 1024);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains("File too large") && r.err.contains(args.last().toUtf8()), r.err.constData());
            QCOMPARE(readFile(path(QStringLiteral("mine.trx"))), before);
            QVERIFY(!QFile::exists(path(QStringLiteral("mine.btrx"))));
            QVERIFY(leftovers().isEmpty());
        }
    }

    // Short of address space: a clear message and exit 2, or a correct
    // result; never an abort.
    void memoryLimit()
    {
        // Beyond the machine's memory (and N * N beyond 32 bits): refused
        // before anything is made.
        const Run beyond = run({"generate", "200000", "huge.btrx", "--seed", "1"});
        QCOMPARE(beyond.code, 2);
        QVERIFY2(beyond.err.contains("out of memory"), beyond.err.constData());
        QVERIFY(!QFile::exists(path(QStringLiteral("huge.btrx"))));
#ifdef TARVIX_ASAN
        QSKIP("the address sanitizer needs more address space than any limit here allows");
#else
        Run r = run({"generate", "30000", "huge.trx", "--seed", "1"}, RLIMIT_AS, rlim_t(1) << 30);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("out of memory"), r.err.constData());
        QVERIFY(!QFile::exists(path(QStringLiteral("huge.trx"))));
        const Run free = run({"solve", "big.trx"});
        QCOMPARE(free.code, 0);
        for (rlim_t mb : {160, 200, 240, 300, 400}) {
            r = run({"solve", "big.trx"}, RLIMIT_AS, mb << 20);
            QVERIFY2(r.code == 0 || r.code == 2, qPrintable(QStringLiteral("%1 MB: exit %2 %3").arg(mb).arg(r.code).arg(QString::fromLocal8Bit(r.err))));
            if (r.code == 0)
                QCOMPARE(r.out, free.out);
            else
                QVERIFY2(r.err.startsWith("tarvix-cli: "), r.err.constData());
        }
#endif
    }

    // No worker thread can be created: the work is done on the main thread
    // (the same files, the same solution) or the command fails clearly.
    void threadsRefused()
    {
        const bool root = ::geteuid() == 0;
        QCOMPARE(run({"convert", "big.trx", "free.btrx"}).code, 0);
        const Run converted = run({"convert", "big.trx", "limited.btrx", "--threads", "4"}, RLIMIT_NPROC, 1, root);
        if (converted.code == 120 || converted.code == 121 || converted.code == -1)
            QSKIP("the child could not be given its process limit");
        QCOMPARE(converted.code, 0);
        QCOMPARE(readFile(path(QStringLiteral("limited.btrx"))), readFile(path(QStringLiteral("free.btrx"))));
        const Run free = run({"solve", "sys.trx"});
        const Run limited = run({"solve", "sys.trx", "--threads", "4"}, RLIMIT_NPROC, 1, root);
        QCOMPARE(free.code, 0);
        if (limited.code == 0)
            QCOMPARE(limited.out, free.out);
        else
            QVERIFY2(limited.code > 0 && limited.err.startsWith("tarvix-cli: "), limited.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliLimits)
#include "tst_clilimits.moc"
