// tarvix-cli's OpenCL device path as a child process: the device list, a
// device solve that gives the CPU's answer, and the CPU taking over when
// the devices cannot.
#include "childrun.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class TestCliDevices : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    bool m_haveDevice = false;

    // tarvix-cli solve on the 150 equations, with more arguments.
    Run solve(const QStringList &args) { return run(QStringList{"solve", m_dir.path() + "/sys.trx"} + args); }
    Run run(const QStringList &args) { return runChild(m_dir.path(), QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.path() + QStringLiteral("/appdata"));
        QCOMPARE(run({"generate", "150", m_dir.path() + "/sys.trx", "--seed", "11"}).code, 0);
        const Run list = run({"--list-devices"});
        if (list.code == 0) {
            m_haveDevice = true;
            const QList<QByteArray> lines = list.out.trimmed().split('\n');
            QVERIFY(lines.size() >= 2);
            QVERIFY(lines.first().startsWith("Sr. No.\tName\tVendor\tType"));
            QVERIFY(lines.at(1).startsWith("1\t"));
            QCOMPARE(lines.at(1).split('\t').size(), 8);
        } else {
            QCOMPARE(list.code, 2);
            QVERIFY(!list.err.isEmpty());
        }
    }

    // Either engine's answer is the CPU's to 1e-9, and the report names
    // where the elimination ran.
    void deviceSolveGivesCpuAnswer_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QByteArray>("method");
        QTest::newRow("blocked") << "blocked" << QByteArray("method: blocked LU with partial pivoting on OpenCL: ");
        QTest::newRow("stepwise") << "stepwise" << QByteArray("method: ordered elimination, step by step on OpenCL: ");
    }
    void deviceSolveGivesCpuAnswer()
    {
        QFETCH(QString, engine);
        QFETCH(QByteArray, method);
        const Run cpu = solve({});
        QCOMPARE(cpu.code, 0);
        const Run dev = solve({"--device", "opencl", "--engine", engine, "--report"});
        QCOMPARE(dev.code, 0);
        if (!m_haveDevice)
            QVERIFY(dev.err.contains("solving on the CPU") || dev.err.contains("could not be loaded"));
        else
            QVERIFY2(dev.err.contains(method), dev.err.constData());
        const QList<double> a = outputNumbers(cpu.out), b = outputNumbers(dev.out);
        QCOMPARE(b.size(), 150);
        QCOMPARE(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i)
            QVERIFY(std::fabs(a[i] - b[i]) <= 1e-9 * std::fmax(1.0, std::fabs(a[i])));
    }

    // A device that does not exist: the CPU solves. Values the option
    // cannot take: refused.
    void deviceValues()
    {
        const Run r = solve({"--device", "opencl:99"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("solving on the CPU"));
        QCOMPARE(outputNumbers(r.out).size(), 150);
        for (const QStringList &bad : QList<QStringList>{{"--device", "gpu"}, {"--device", "opencl:0"}, {"--device", "opencl:"},
                                                         {"--device", "opencl:1,x"}, {"--engine", "fast"}}) {
            const Run refused = solve(bad);
            QCOMPARE(refused.code, 64);
            QVERIFY(refused.err.contains(bad.first().toUtf8() + " needs"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliDevices)
#include "tst_clidevices.moc"
