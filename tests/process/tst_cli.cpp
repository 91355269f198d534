// tarvix-cli as a child process: exit codes, outputs, the check of every
// answer and its report, the exact printing of the solution, and that it
// never writes into the application-data folder.
#include "childrun.h"
#include "files/equationfile.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// A .trx file of the augmented rows.
QByteArray trxSystem(const QList<QList<double>> &rows)
{
    QByteArray t = "Tarvix 1.20.1\n" + QByteArray::number(rows.size()) + "\n";
    for (int i = 0; i < rows.size(); ++i) {
        t += QByteArray::number(i + 1);
        for (double v : rows.at(i))
            t += '\t' + QByteArray::number(v, 'g', 17);
        t += '\n';
    }
    return t + "\nSolution\n" + QByteArray("0\t").repeated(rows.size()) + "\nEOF";
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QString appData() const { return m_dir.path() + QStringLiteral("/appdata"); }

    Run run(const QStringList &args) { return runChild(m_dir.path(), QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args); }

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

    void badUsage()
    {
        const QList<QStringList> cases{
            {}, {"frobnicate"}, {"solve"}, {"solve", "a.trx", "b.trx"}, {"solve", "sys.trx", "--fast"},
            {"solve", "sys.trx", "--threads", "0"}, {"solve", "sys.trx", "--threads"},
            {"solve", "sys.trx", "--output"}, {"solve", "sys.trx", "--seed", "1"}, {"generate", "1", "g.trx"},
            {"generate", "100000001", "g.trx"}, {"generate", "3", "g.trx", "--seed", "-1"}, {"convert", "sys.trx"}};
        for (const QStringList &args : cases) {
            const Run r = run(args);
            QVERIFY2(r.code == 64, qPrintable(args.join(QLatin1Char(' '))));
            QVERIFY(r.out.isEmpty());
            QVERIFY(r.err.startsWith("tarvix-cli: "));
            QVERIFY(!QFile::exists(path(QStringLiteral("g.trx"))));
        }
    }

    void progressLine_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("shown");
        QTest::newRow("pipe") << QStringList() << false << false;
        QTest::newRow("pipe, forced") << QStringList{"--progress"} << false << true;
        QTest::newRow("pipe, quiet wins") << QStringList{"--progress", "--quiet"} << false << false;
        QTest::newRow("terminal") << QStringList() << true << true;
        QTest::newRow("terminal, quiet") << QStringList{"--quiet"} << true << false;
    }
    void progressLine()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, terminal);
        QFETCH(bool, shown);
        const QStringList args = QStringList{"solve", "sys.trx"} + options;
        Run r;
        if (terminal) {
            // script gives the child a terminal; both streams come back as its output.
            QString command = QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli");
            for (const QString &a : args)
                command += QLatin1Char(' ') + a;
            r = runChild(m_dir.path(), QStringLiteral("script"), {"-qec", command, "/dev/null"});
            r.err = r.out;
        } else {
            r = run(args);
        }
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err.contains("solving: 100.0%"), shown);
        QVERIFY(r.out.contains('2'));
    }

    void solveWritesTheOutputFile()
    {
        for (const QString &name : {QStringLiteral("out.trx"), QStringLiteral("out.btrx")}) {
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
    }

    void exitCodes()
    {
        // content null: no such file; message empty: nothing on standard error.
        const struct { const char *command; QByteArray content; int code; QByteArray message; } cases[] = {
            {"solve", QByteArray(), 2, "tarvix-cli: cannot open nowhere.btrx: "},
            {"check", kSystem, 0, QByteArray()},
            {"solve", "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t0\t0\t0\t10\n3\t1\t1\t4\t15\n", 1,
             "tarvix-cli: invalid system: equations with only zero coefficients: 2\n"},
            {"check", "Tarvix 1.20.1\n2\n1\t2\t1\t0\n2\t1\t3\t0\n", 1,
             "tarvix-cli: invalid system: every right-hand-side value is zero\n"},
            {"check", "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t1\t10\n3\t4\t2\t2\t15\n", 1,
             "tarvix-cli: invalid system: equation 1 is a multiple of equation(s) 3\n"},
            {"solve", "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\tnan\t1\t10\n3\t1\t1\t4\t15\n", 1,
             "tarvix-cli: invalid system: equation 2, variable 2 is infinite or not a number"},
            {"solve", "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t10\n3\t1\t1\t4\t15\n", 2,
             "tarvix-cli: in.trx is corrupt: a row has the wrong number of fields\n"},
            {"check", "Hello\n3\n", 2, "tarvix-cli: in.trx is corrupt: no Tarvix header\n"},
            {"solve", "Tarvix 1.20.1\n1000000000\n1\t2\t3\n", 2,
             "tarvix-cli: in.trx is corrupt: the file is too small for 1000000000 variables\n"}};
        for (const auto &[command, content, code, message] : cases) {
            const QString file = content.isNull() ? QStringLiteral("nowhere.btrx") : QStringLiteral("in.trx");
            if (!content.isNull())
                QVERIFY(writeFile(path(file), content));
            const Run r = run({command, file});
            QVERIFY2(r.code == code, r.err.constData());
            if (message.isEmpty())
                QCOMPARE(r.err, QByteArray());
            else
                QVERIFY2(r.err.startsWith(message) && r.err.count('\n') == 1, r.err.constData());
        }
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

    // A system as scipy.io.mmwrite writes it (matrix and right-hand side)
    // solves and converts; the exchange files come back to the same .trx.
    void exchangeFormats()
    {
        const QByteArray head("%%MatrixMarket matrix array real general\n%\n");
        QVERIFY(writeFile(path(QStringLiteral("A.mtx")),
                          head + "3 3\n2.0000000000000000e+00\n1.0000000000000000e+00\n1.0000000000000000e+00\n"
                                 "1.0000000000000000e+00\n3.0000000000000000e+00\n1.0000000000000000e+00\n"
                                 "1.0000000000000000e+00\n1.0000000000000000e+00\n4.0000000000000000e+00\n"));
        QVERIFY(writeFile(path(QStringLiteral("b.mtx")), head + "3 1\n7.0e+00\n1.0e+01\n1.5e+01\n"));
        Run r = run({"solve", "A.mtx", "--rhs", "b.mtx"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count('\n'), 3);
        QCOMPARE(run({"convert", "A.mtx", "m.trx", "--rhs", "b.mtx"}).code, 0);
        QCOMPARE(read(QStringLiteral("m.trx")), read(QStringLiteral("sys.trx")));
        QCOMPARE(run({"convert", "sys.trx", "M.mtx", "--rhs", "R.mtx", "--coordinate"}).code, 0);
        QCOMPARE(run({"convert", "M.mtx", "s.csv", "--rhs", "R.mtx"}).code, 0);
        QCOMPARE(read(QStringLiteral("s.csv")), QByteArray("2,1,1,7\n1,3,1,10\n1,1,4,15\n"));
        r = run({"solve", "s.csv", "--output", "x.mtx"});
        QCOMPARE(r.code, 0);
        const QList<QByteArray> x = read(QStringLiteral("x.mtx")).trimmed().split('\n');
        QCOMPARE(x.mid(2, 1), QList<QByteArray>{"3 1"});
        for (int i = 0; i < 3; ++i)
            QVERIFY(fuzzyEqual(x.value(3 + i).toDouble(), i + 1.0, 1e-12));

        r = run({"check", "A.mtx"});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains("A.mtx: line 3: a 3 x 3 matrix needs its right-hand side"));
        QCOMPARE(run({"solve", "sys.trx", "--rhs", "b.mtx"}).code, 64);
        QCOMPARE(run({"convert", "sys.trx", "c.csv", "--coordinate"}).code, 64);
        QVERIFY(!QFile::exists(path(QStringLiteral("c.csv"))));
    }

    // The check of every answer, its report and the exit status of
    // untrustworthy answers.
    void outcomes()
    {
        // Hilbert 8: solved, with a warning about the condition, to the last digits.
        QList<QList<double>> h;
        for (int i = 0; i < 8; ++i) {
            QList<double> row;
            double sum = 0.0;
            for (int j = 0; j < 8; ++j) {
                row << 1.0 / (i + j + 1);
                sum += row.last();
            }
            h << (row << sum);
        }
        // solution empty: not checked; error: a piece of standard error.
        const struct { QByteArray file; int code; QList<double> solution; QByteArray error; } cases[] = {
            // The second pivot of the ordered elimination is a rounding residue.
            {trxSystem({{5.7, 74.1, 1, 80.8}, {74.1, 963.3, 2, 1039.4}, {1, 2, 3, 6}}), 0, {1, 1, 1}, "report: method: "},
            // Row 3 is the sum of rows 1 and 2: consistent, then inconsistent.
            {trxSystem({{1, 2, 3, 1}, {4, 5, 6, 2}, {5, 7, 9, 3}}), 3, {},
             "the solution is not correct: the equations are singular or nearly singular: the condition estimate (1-norm, rows equilibrated) is "},
            {trxSystem({{1, 2, 3, 1}, {4, 5, 6, 2}, {5, 7, 9, 4}}), 3, {}, "singular or nearly singular"},
            // Well-conditioned, rows of very different size: not multiples.
            {trxSystem({{1e12, 1e12, 2e12}, {1e-4, 2e-4, 3e-4}}), 0, {1, 1}, "report: HPL ratio: "},
            {trxSystem(h), 0, {}, "warning: the equations are ill-conditioned (condition estimate (1-norm, rows equilibrated) "
                               "1.66e+10): the extra-precise refinement gives about 15 correct digits"},
            {trxSystem({{1, std::numeric_limits<double>::infinity(), 1}, {1, 2, 3}}), 1, {},
             "equation 1, variable 2 is infinite or not a number"}};
        for (const auto &[file, code, solution, error] : cases) {
            QVERIFY(writeFile(path("s.trx"), file));
            const Run r = run({"solve", "s.trx", "--report"});
            QVERIFY2(r.code == code, r.err.constData());
            QVERIFY2(r.err.contains(error), r.err.constData());
            if (code == 0 || code == 3) {
                for (const char *line : {"report: method: ", "report: backward error: ", "report: HPL ratio: ",
                                         "report: condition estimate (1-norm, rows equilibrated): ",
                                         "report: refinement steps: ", "report: extra-precise steps: ",
                                         "report: forward error bound: "})
                    QVERIFY2(r.err.contains(line), line);
            }
            const QList<QByteArray> lines = r.out.split('\n');
            for (int i = 0; i < solution.size(); ++i)
                QVERIFY2(std::fabs(lines.value(i).toDouble() - solution.at(i)) < 1e-12, r.out.constData());
            // Without --report nothing but the findings goes to standard error.
            const Run quiet = run({"solve", "s.trx"});
            QCOMPARE(quiet.code, code);
            QVERIFY(!quiet.err.contains("report:"));
        }
    }

    void shortestText()
    {
        // x = b exactly: each value prints as the shortest text that reads
        // back to the same double (1/3 needs 16 digits, 0.1 only one), and
        // nothing goes to standard error.
        const double third = 1.0 / 3.0;
        QVERIFY(writeFile(path("d.trx"), trxSystem({{1, 0, 0, 0.1}, {0, 1, 0, third}, {0, 0, 1, -2.5e-300}})));
        const Run r = run({"solve", "d.trx"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("0.1\n0.3333333333333333\n-2.5e-300\n"));
        QCOMPARE(r.err, QByteArray());
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
