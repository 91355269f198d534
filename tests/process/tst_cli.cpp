// tarvix-cli as a child process: exit codes, outputs, and that it never
// writes into the application-data folder.
#include "files/equationfile.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// 2x + y + z = 7, x + 3y + z = 10, x + y + 4z = 15; solution (1, 2, 3).
const char *const kSystem =
    "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t1\t10\n3\t1\t1\t4\t15\n\nSolution\n0\t0\t0\t\nEOF";

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QString appData() const { return m_dir.path() + QStringLiteral("/appdata"); }

    Run run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APPDATA"), appData());
        env.insert(QStringLiteral("XDG_DATA_HOME"), appData());
        env.insert(QStringLiteral("TEMP"), m_dir.path());
        env.insert(QStringLiteral("TMPDIR"), m_dir.path());
        env.remove(QStringLiteral("DISPLAY"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args);
        Run r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QByteArray read(const QString &name) const { return readFile(path(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(appData());
        QVERIFY(writeFile(path(QStringLiteral("sys.trx")), kSystem));
    }

    void help()
    {
        for (const char *h : {"--help", "-h", "help"}) {
            const Run r = run({QString::fromLatin1(h)});
            QCOMPARE(r.code, 0);
            QVERIFY(r.out.startsWith("Usage: tarvix-cli"));
            QVERIFY(r.out.contains("Exit status"));
        }
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown command") << QStringList{"frobnicate"};
        QTest::newRow("solve without file") << QStringList{"solve"};
        QTest::newRow("solve with two files") << QStringList{"solve", "a.trx", "b.trx"};
        QTest::newRow("unknown option") << QStringList{"solve", "sys.trx", "--fast"};
        QTest::newRow("threads zero") << QStringList{"solve", "sys.trx", "--threads", "0"};
        QTest::newRow("threads text") << QStringList{"solve", "sys.trx", "--threads", "many"};
        QTest::newRow("threads missing") << QStringList{"solve", "sys.trx", "--threads"};
        QTest::newRow("output missing") << QStringList{"solve", "sys.trx", "--output"};
        QTest::newRow("seed on solve") << QStringList{"solve", "sys.trx", "--seed", "1"};
        QTest::newRow("generate one") << QStringList{"generate", "1", "g.trx"};
        QTest::newRow("generate text") << QStringList{"generate", "ten", "g.trx"};
        QTest::newRow("generate huge") << QStringList{"generate", "100000", "g.trx"};
        QTest::newRow("negative seed") << QStringList{"generate", "3", "g.trx", "--seed", "-1"};
        QTest::newRow("convert one file") << QStringList{"convert", "sys.trx"};
    }
    void badUsage()
    {
        QFETCH(QStringList, args);
        const Run r = run(args);
        QCOMPARE(r.code, 64);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("tarvix-cli: "));
        QVERIFY(!QFile::exists(path(QStringLiteral("g.trx"))));
    }

    void solvePrintsTheSolution_data()
    {
        QTest::addColumn<QString>("threads");
        QTest::newRow("default") << QString();
        QTest::newRow("1 thread") << QStringLiteral("1");
        QTest::newRow("4 threads") << QStringLiteral("4");
    }
    void solvePrintsTheSolution()
    {
        QFETCH(QString, threads);
        QStringList args{QStringLiteral("solve"), QStringLiteral("sys.trx")};
        if (!threads.isEmpty())
            args << QStringLiteral("--threads") << threads;
        const Run r = run(args);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, QByteArray());
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        const double expected[3] = {1.0, 2.0, 3.0};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(fuzzyEqual(lines.at(i).toDouble(), expected[i], 1e-12), lines.at(i).constData());
    }

    void solveWritesTheOutputFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("text") << QStringLiteral("out.trx");
        QTest::newRow("binary") << QStringLiteral("out.btrx");
    }
    void solveWritesTheOutputFile()
    {
        QFETCH(QString, name);
        const Run r = run({QStringLiteral("solve"), QStringLiteral("sys.trx"), QStringLiteral("--output"), name});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty());
        TestEnv env(2, false);
        EquationStore s;
        const EquationFile::Outcome out = EquationFile::open(path(name), s);
        QVERIFY(!out.failed);
        QCOMPARE(s.N, 3);
        QCOMPARE(s.rhs[2], 15.0);
        for (int i = 0; i < 3; ++i)
            QVERIFY(fuzzyEqual(s.fileSol[i], i + 1.0, 1e-12));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("missing file") << "solve" << QByteArray() << 2 << QByteArray("tarvix-cli: cannot open nowhere.btrx: ");
        QTest::newRow("valid check") << "check" << QByteArray(kSystem) << 0 << QByteArray();
        QTest::newRow("zero equation")
            << "solve" << QByteArray("Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t0\t0\t0\t10\n3\t1\t1\t4\t15\n")
            << 1 << QByteArray("tarvix-cli: invalid system: equations with only zero coefficients: 2\n");
        QTest::newRow("zero right-hand side")
            << "check" << QByteArray("Tarvix 1.20.1\n2\n1\t2\t1\t0\n2\t1\t3\t0\n")
            << 1 << QByteArray("tarvix-cli: invalid system: every right-hand-side value is zero\n");
        QTest::newRow("multiple equation")
            << "check" << QByteArray("Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t1\t10\n3\t4\t2\t2\t15\n")
            << 1 << QByteArray("tarvix-cli: invalid system: equation 1 is a multiple of equation(s) 3\n");
        QTest::newRow("not a number in the system")
            << "solve" << QByteArray("Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\tnan\t1\t10\n3\t1\t1\t4\t15\n")
            << 1 << QByteArray("tarvix-cli: invalid system: equation 2, variable 2 is infinite or not a number");
        QTest::newRow("corrupt row")
            << "solve" << QByteArray("Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t10\n3\t1\t1\t4\t15\n")
            << 2 << QByteArray("tarvix-cli: in.trx is corrupt: a row has the wrong number of fields\n");
        QTest::newRow("no header")
            << "check" << QByteArray("Hello\n3\n") << 2 << QByteArray("tarvix-cli: in.trx is corrupt: no Tarvix header\n");
        QTest::newRow("N beyond the file")
            << "solve" << QByteArray("Tarvix 1.20.1\n1000000000\n1\t2\t3\n") << 2
            << QByteArray("tarvix-cli: in.trx is corrupt: the file is too small for 1000000000 variables\n");
    }
    void exitCodes()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QFETCH(QByteArray, message);
        const QString file = content.isNull() ? QStringLiteral("nowhere.btrx") : QStringLiteral("in.trx");
        if (!content.isNull())
            QVERIFY(writeFile(path(file), content));
        const Run r = run({command, file});
        QCOMPARE(r.code, code);
        if (message.isEmpty())
            QCOMPARE(r.err, QByteArray());
        else
            QVERIFY2(r.err.startsWith(message) && r.err.count('\n') == 1, r.err.constData());
        if (code == 3)
            QCOMPARE(r.out.count('\n'), 3);   // the solution is still shown
    }

    void generateIsDeterministic()
    {
        QCOMPARE(run({"generate", "6", "g1.trx", "--seed", "42"}).code, 0);
        QCOMPARE(run({"generate", "6", "g2.trx", "--seed", "42", "--threads", "3"}).code, 0);
        QCOMPARE(run({"generate", "6", "g3.trx", "--seed", "43"}).code, 0);
        QCOMPARE(read(QStringLiteral("g1.trx")), read(QStringLiteral("g2.trx")));
        QVERIFY(read(QStringLiteral("g1.trx")) != read(QStringLiteral("g3.trx")));
        // The first coefficient from the classic generator seeded with 42.
        quint32 state = 42u * 214013u + 2531011u;
        double x = ((state >> 16) & 0x7fff) * 1e8 / 32767.0;
        if (x < 5e7)
            x = -(x * (2.0 - x / 1e8));
        const QList<QByteArray> row = read(QStringLiteral("g1.trx")).split('\n').at(2).split('\t');
        QCOMPARE(row.size(), 8);
        QCOMPARE(row.at(0), QByteArray("1"));
        QCOMPARE(row.at(1).toDouble(), std::strtod(QByteArray::number(x, 'g', 15).constData(), nullptr));
        for (const QByteArray &v : row.mid(1)) {
            const double d = v.toDouble();
            QVERIFY((d >= -7.5e7 && d <= 0) || (d >= 5e7 && d <= 1e8) || d == 123456.0);
        }
    }

    void convertRoundTrip()
    {
        QCOMPARE(run({"generate", "60", "c.trx", "--seed", "5"}).code, 0);
        QCOMPARE(run({"convert", "c.trx", "c.btrx"}).code, 0);
        QCOMPARE(run({"convert", "c.btrx", "c2.trx"}).code, 0);
        QCOMPARE(read(QStringLiteral("c2.trx")), read(QStringLiteral("c.trx")));
        const Run r = run({"solve", "c.btrx"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count('\n'), 60);
    }

    // Runs above never created anything under the application-data folder,
    // and an existing preferences file is only read.
    void preferencesAreOnlyRead()
    {
        QCOMPARE(QDir(appData()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        // a short file the program itself would rewrite
        QVERIFY(writeFile(appData() + QStringLiteral("/Tarvix/Preferences/Tarvix.pref"), "Tarvix\n5\t10\n"));
        const QByteArray before = read(QStringLiteral("appdata/Tarvix/Preferences/Tarvix.pref"));
        QCOMPARE(run({"solve", "sys.trx", "--threads", "2"}).code, 0);
        QCOMPARE(read(QStringLiteral("appdata/Tarvix/Preferences/Tarvix.pref")), before);
        QCOMPARE(QDir(appData() + QStringLiteral("/Tarvix")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("Preferences")});
        QCOMPARE(QDir(appData() + QStringLiteral("/Tarvix/Preferences")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("Tarvix.pref")});
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
