// tarvix-cli's OpenCL device path as a child process: the device list, a
// device solve that gives the CPU's answer, and the CPU taking over when
// the devices cannot.
#include "childrun.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

std::vector<double> numbers(const QByteArray &text)
{
    std::vector<double> v;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            v.push_back(line.trimmed().toDouble());
    }
    return v;
}

} // namespace

class TestCliDevices : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    bool m_haveDevice = false;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

    Run run(const QStringList &args) { return runChild(m_dir.path(), QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.path() + QStringLiteral("/appdata"));
        QCOMPARE(run({QStringLiteral("generate"), QStringLiteral("150"), path(QStringLiteral("sys.trx")),
                      QStringLiteral("--seed"), QStringLiteral("11")}).code, 0);
        const Run list = run({QStringLiteral("--list-devices")});
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
        QTest::newRow("blocked") << QStringLiteral("blocked") << QByteArray("method: blocked LU with partial pivoting on OpenCL: ");
        QTest::newRow("stepwise") << QStringLiteral("stepwise") << QByteArray("method: ordered elimination, step by step on OpenCL: ");
    }
    void deviceSolveGivesCpuAnswer()
    {
        QFETCH(QString, engine);
        QFETCH(QByteArray, method);
        const Run cpu = run({QStringLiteral("solve"), path(QStringLiteral("sys.trx"))});
        QCOMPARE(cpu.code, 0);
        const Run dev = run({QStringLiteral("solve"), path(QStringLiteral("sys.trx")), QStringLiteral("--device"),
                             QStringLiteral("opencl"), QStringLiteral("--engine"), engine, QStringLiteral("--report")});
        QCOMPARE(dev.code, 0);
        if (!m_haveDevice)
            QVERIFY(dev.err.contains("solving on the CPU") || dev.err.contains("could not be loaded"));
        else
            QVERIFY2(dev.err.contains(method), dev.err.constData());
        const std::vector<double> a = numbers(cpu.out), b = numbers(dev.out);
        QCOMPARE(b.size(), size_t(150));
        QCOMPARE(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i)
            QVERIFY(std::fabs(a[i] - b[i]) <= 1e-9 * std::fmax(1.0, std::fabs(a[i])));
    }

    // A device that does not exist, or a choice of no device: the CPU solves.
    void unknownDeviceFallsBackToCpu()
    {
        const Run r = run({QStringLiteral("solve"), path(QStringLiteral("sys.trx")), QStringLiteral("--device"),
                           QStringLiteral("opencl:99")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("solving on the CPU"));
        QCOMPARE(numbers(r.out).size(), size_t(150));
    }

    void badDeviceValues()
    {
        for (const char *value : {"gpu", "opencl:0", "opencl:", "opencl:1,x"}) {
            const Run r = run({QStringLiteral("solve"), path(QStringLiteral("sys.trx")), QStringLiteral("--device"), value});
            QCOMPARE(r.code, 64);
            QVERIFY(r.err.contains("--device needs"));
        }
        const Run r = run({QStringLiteral("solve"), path(QStringLiteral("sys.trx")), QStringLiteral("--engine"),
                           QStringLiteral("fast")});
        QVERIFY(r.code == 64 && r.err.contains("--engine needs"));
    }
};

QTEST_GUILESS_MAIN(TestCliDevices)
#include "tst_clidevices.moc"
