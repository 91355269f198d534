// tarvix-mpi under mpirun: the answers and files of tarvix-cli for every
// process count and distribution, and bad input ending every process alike.
#include "childrun.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>

#include <unistd.h>

namespace {

const QString kCli = QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli");
const QString kMpi = QStringLiteral(TARVIX_BIN_DIR "/tarvix-mpi");

QByteArray field(const QString &text)
{
    QByteArray b(4 + 2 * text.size(), '\0');
    qToBigEndian<quint32>(quint32(2 * text.size()), b.data());
    qToBigEndian<quint16>(text.utf16(), text.size(), b.data() + 4);
    return b;
}

// A binary file of n equations whose rows hold values (empty: only the
// header, the given N text).
QByteArray binary(const QString &n, const QList<double> &values)
{
    QByteArray b = field(QStringLiteral("Tarvix 1.20.1")) + field(n) + field(QStringLiteral("8"));
    if (values.isEmpty())
        return b;
    for (double v : values) {
        char bytes[8];
        qToBigEndian<double>(v, bytes);
        b += QByteArray(bytes, 8);
    }
    return b + field(QStringLiteral("Solution")) + QByteArray(8 * n.toInt(), '\0');
}

// Lines tarvix-mpi itself printed (mpirun adds its own notices).
int ownLines(const QByteArray &err)
{
    return err.count("tarvix-mpi: ");
}

} // namespace

class TestMpi : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

    void prepare(QProcess &p)
    {
        prepareChild(p, m_dir.path());
        QProcessEnvironment env = p.processEnvironment();
        if (::geteuid() == 0) {
            env.insert(QStringLiteral("OMPI_ALLOW_RUN_AS_ROOT"), QStringLiteral("1"));
            env.insert(QStringLiteral("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM"), QStringLiteral("1"));
        }
        env.insert(QStringLiteral("OPENBLAS_NUM_THREADS"), QStringLiteral("1"));
#ifdef TARVIX_ASAN
        // Open MPI's leaks are suppressed by library name: its components
        // stay loaded, and the stacks are unwound through its libraries.
        env.insert(QStringLiteral("OMPI_MCA_mca_base_component_disable_dlclose"), QStringLiteral("1"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":fast_unwind_on_malloc=0"));
#endif
        p.setProcessEnvironment(env);
    }
    // Shared memory between the processes of this machine only, no core
    // binding and no single-copy transfers, which containers often forbid.
    QStringList mpirun(int processes, const QStringList &args) const
    {
        return QStringList{"-n", QString::number(processes), "--oversubscribe", "--bind-to", "none", "--mca", "btl",
                           "self,vader", "--mca", "btl_vader_single_copy_mechanism", "none", kMpi} + args;
    }
    Run mpi(int processes, const QStringList &args)
    {
        QProcess p;
        prepare(p);
        return runChild(p, QStringLiteral(TARVIX_MPIRUN), mpirun(processes, args));
    }
    Run cli(const QStringList &args) { return runChild(m_dir.path(), kCli, args); }
    QString generated(int n, int seed)
    {
        const QString file = path(QStringLiteral("g%1_%2.btrx").arg(n).arg(seed));
        if (!QFile::exists(file))
            cli({"generate", QString::number(n), file, "--seed", QString::number(seed)});
        return file;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void solve_data()
    {
        QTest::addColumn<int>("processes");
        QTest::addColumn<int>("n");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("one process") << 1 << 7 << QStringList();
        QTest::newRow("two, blocks of 3") << 2 << 10 << QStringList{"--block", "3"};
        QTest::newRow("three, blocks of 8") << 3 << 50 << QStringList{"--block", "8"};
        QTest::newRow("four, 2x2, blocks of 5") << 4 << 37 << QStringList{"--block", "5"};
        QTest::newRow("four, 4x1, blocks of 2") << 4 << 23 << QStringList{"--grid", "4x1", "--block", "2"};
        QTest::newRow("fewer equations than processes") << 4 << 3 << QStringList();
        QTest::newRow("one element a process") << 4 << 2 << QStringList{"--block", "1"};
        QTest::newRow("output file") << 3 << 29 << QStringList{"--block", "4", "--output", "out.btrx"};
    }

    void solve()
    {
        QFETCH(int, processes);
        QFETCH(int, n);
        QFETCH(QStringList, options);
        const QString file = generated(n, 5);
        const Run c = cli({"solve", file});
        QCOMPARE(c.code, 0);
        const Run m = mpi(processes, QStringList{"solve", file, "--report"} + options);
        QVERIFY2(m.code == 0, m.err.constData());
        QVERIFY2(m.err.contains("report: HPL ratio: "), m.err.constData());
        QList<double> got = outputNumbers(m.out);
        const QByteArray input = readFile(file);
        const int output = options.indexOf("--output");
        if (output >= 0) {
            // The system as it came, and the solution in its section.
            const QByteArray written = readFile(path(options.at(output + 1)));
            QCOMPARE(written.size(), input.size());
            QCOMPARE(written.left(written.size() - 8 * n), input.left(input.size() - 8 * n));
            QVERIFY(got.isEmpty());
            for (int i = 0; i < n; ++i)
                got << qFromBigEndian<double>(written.constData() + written.size() - 8 * (n - i));
            QVERIFY(QDir(m_dir.path()).entryList({".out.btrx*"}, QDir::Hidden | QDir::Files).isEmpty());
        }
        const QList<double> want = outputNumbers(c.out);
        QCOMPARE(got.size(), n);
        double scale = 0.0;
        for (double v : want)
            scale = std::max(scale, std::fabs(v));
        for (int i = 0; i < n; ++i)
            QVERIFY2(std::fabs(got.at(i) - want.at(i)) <= 1e-12 * scale, qPrintable(QString::number(i)));
    }

    void generate()
    {
        // The bytes of tarvix-cli for every process count, also with more
        // processes than rows.
        for (const auto &[n, seed] : {std::pair<int, int>{37, 11}, {2, 4294967}}) {
            const QByteArray want = readFile(generated(n, seed));
            QVERIFY(want.size() > 8 * n * n);
            for (int processes : {1, 3, 4}) {
                const QString out = path(QStringLiteral("m%1.btrx").arg(processes));
                const Run m = mpi(processes, {"generate", QString::number(n), out, "--seed", QString::number(seed)});
                QVERIFY2(m.code == 0, m.err.constData());
                QVERIFY2(readFile(out) == want, qPrintable(QStringLiteral("n %1, %2 processes").arg(n).arg(processes)));
            }
        }
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("message");
        const QByteArray good = readFile(generated(6, 3));
        QByteArray header = good;
        header[7] = 'X';
        QByteArray marker = good;
        marker[marker.size() - 8 * 6 - 2] = 'X';
        // The third row is the sum of the others.
        const QByteArray sing = binary(QStringLiteral("3"), {1, 2, 3, 1, 4, 5, 6, 2, 5, 7, 9, 3});
        QTest::newRow("missing") << QByteArray() << QStringList() << 2 << QByteArray("cannot open");
        QTest::newRow("truncated") << good.left(good.size() / 2) << QStringList() << 2 << QByteArray("is corrupt: the file is too small");
        QTest::newRow("corrupt header") << header << QStringList() << 2 << QByteArray("is corrupt: no Tarvix header");
        QTest::newRow("marker") << marker << QStringList() << 2 << QByteArray("is corrupt: the solution marker is missing");
        QTest::newRow("singular") << sing << QStringList() << 3 << QByteArray("the equations are singular or nearly singular");
        QTest::newRow("unwritable output") << good << QStringList{"--output", "/nonexistent/x.btrx"} << 2
                                           << QByteArray("could not write /nonexistent/x.btrx");
        QTest::newRow("grid") << good << QStringList{"--grid", "2x2"} << 64 << QByteArray("--grid needs RxC");
        // A sparse file of 200,000 equations: 320 GB that no machine here holds.
        QTest::newRow("memory") << QByteArray("sparse") << QStringList() << 2 << QByteArray("not enough memory for 200000 equations");
    }

    void failures()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        QFETCH(QByteArray, message);
        const QString file = path(QStringLiteral("bad.btrx"));
        QFile::remove(file);
        if (content == "sparse") {
            const QByteArray head = binary(QStringLiteral("200000"), {});
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(head);
            const qint64 rows = head.size() + qint64(8) * 200000 * 200001;
            QVERIFY(f.seek(rows));
            f.write(field(QStringLiteral("Solution")));
            QVERIFY(f.resize(rows + 20 + 8 * 200000));
        } else if (!content.isEmpty()) {
            QVERIFY(writeFile(file, content));
        }
        const Run m = mpi(3, QStringList{"solve", file} + extra);
        QVERIFY2(m.code == code, m.err.constData());
        QVERIFY2(m.err.contains(message), m.err.constData());
        QVERIFY2(ownLines(m.err) == 1, m.err.constData());
        QVERIFY(m.out.isEmpty() || code == 3);
    }

    void killedRank()
    {
        // One process stopped and then killed: mpirun ends the others.
        const QString file = generated(1200, 9);
        QProcess p;
        prepare(p);
        p.start(QStringLiteral(TARVIX_MPIRUN), mpirun(2, {"solve", file}));
        QVERIFY(p.waitForStarted());
        const QString parent = QString::number(p.processId());
        qint64 victim = 0;
        for (int tries = 0; tries < 2000 && !victim && p.state() == QProcess::Running; ++tries) {
            for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
                const int close = stat.lastIndexOf(')');
                if (stat.contains("(tarvix-mpi)") && stat.mid(close + 2).split(' ').value(1) == parent.toLatin1()) {
                    victim = pid.toLongLong();
                    ::kill(pid_t(victim), SIGSTOP);
                    break;
                }
            }
            QThread::msleep(5);
        }
        QVERIFY(victim > 0);
        ::kill(pid_t(victim), SIGKILL);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY(p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0);
    }
};

QTEST_GUILESS_MAIN(TestMpi)
#include "tst_mpi.moc"
