// Matrix Market and CSV systems: what hand-written texts mean, what hostile
// ones are refused with, and bit-exact round trips with the Tarvix files.
#include "files/equationfile.h"
#include "files/interchange.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

// The store as the augmented rows, row by row.
QVector<double> augmented(const EquationStore &s)
{
    QVector<double> v;
    for (int i = 0; i < s.N; ++i) {
        for (int j = 0; j < s.N; ++j)
            v << s.coef[i][j];
        v << s.rhs[i];
    }
    return v;
}

QString bitsDiff(const QVector<double> &a, const QVector<double> &b)
{
    if (a.size() != b.size())
        return QStringLiteral("%1 values, expected %2").arg(a.size()).arg(b.size());
    for (int k = 0; k < a.size(); ++k)
        if (!sameBits(a[k], b[k]))
            return QStringLiteral("value %1: %2, expected %3").arg(k).arg(a[k], 0, 'g', 17).arg(b[k], 0, 'g', 17);
    return QString();
}

const double kMax = std::numeric_limits<double>::max();
const double kTiny = std::numeric_limits<double>::denorm_min();

} // namespace

class TestInterchange : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestEnv> m_env;

    QString path(const QString &name) const { return m_env->temp() + QLatin1Char('/') + name; }

    // Writes the texts and opens them as a system.
    Interchange::Outcome openTexts(const QString &name, const QByteArray &text, const QByteArray &rhs,
                                   EquationStore &store, int threads = 2)
    {
        writeFile(path(name), text);
        QString rhsPath;
        if (!rhs.isEmpty()) {
            rhsPath = path(QStringLiteral("rhs.mtx"));
            writeFile(rhsPath, rhs);
        }
        return Interchange::open(path(name), rhsPath, store, threads);
    }

    // A system of random values with the extremes among them.
    void fillRandom(EquationStore &s, int n, bool trxSafe)
    {
        QVERIFY(sized(s, n));
        QRandomGenerator rng(29);
        // .trx keeps 15 digits: its largest double is the one below DBL_MAX.
        const double big = trxSafe ? 1.79769313486231e308 : kMax;
        const double special[] = {kTiny, -0.0, big, -big, 2.2250738585072014e-308, -2.5e-310, 0.0, 1.0 / 3.0};
        int k = 0;
        auto next = [&]() {
            double v = k % 7 == 0 ? special[(k / 7) % 8]
                                  : std::ldexp(rng.generateDouble() * 2.0 - 1.0, int(rng.bounded(2000)) - 1000);
            ++k;
            if (trxSafe) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.15g", v);
                v = std::strtod(buf, nullptr);
            }
            return v;
        };
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                s.coef[i][j] = next();
            s.rhs[i] = next();
            s.fileSol[i] = 0.0;
        }
    }

private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv(2));
        std::setlocale(LC_ALL, "C");
    }

    void handWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("rhs");
        QTest::addColumn<QVector<double>>("expected");   // augmented rows

        // A tag with "csv" in it names a .csv file, any other a .mtx one.
        auto good = [](const char *tag, const QByteArray &text, const QVector<double> &expected, const QByteArray &rhs = {}) {
            QTest::newRow(tag) << (QByteArray(tag).contains("csv") ? "a.csv" : "a.mtx") << text << rhs << expected;
        };
        good("array augmented, comments, blank lines",
             "%%MatrixMarket matrix array real general\n% made by hand\n%\n\n2 3\n1\n-3.5e2\n\n2\n4\n1e-320\n-0\n",
             {1, 2, 1e-320, -350, 4, -0.0});
        good("array matrix, coordinate right-hand side", "%%MatrixMarket matrix array real general\n2 2\n1\n3\n2\n4\n",
             {1, 2, 0, 3, 4, 9}, "%%MatrixMarket matrix coordinate real general\n2 1 1\n2 1 9\n");
        good("coordinate augmented, CRLF, any order, case of the banner",
             "%%MATRIXMARKET Matrix Coordinate Real General\r\n% c\r\n2 3 3\r\n2 3 7.25\r\n1 1 1.5\r\n% between\r\n"
             "  2   2\t-2  \r\n",
             {1.5, 0, 0, 0, -2, 7.25});
        good("array symmetric", "%%MatrixMarket matrix array real symmetric\n3 3\n1\n2\n3\n4\n5\n6\n",
             {1, 2, 3, 7, 2, 4, 5, 8, 3, 5, 6, 9}, "%%MatrixMarket matrix array real general\n3 1\n7\n8\n9\n");
        good("array skew-symmetric, integer", "%%MatrixMarket matrix array integer skew-symmetric\n3 3\n1\n2\n-3\n",
             {0, -1, -2, 1, 1, 0, 3, 2, 2, -3, 0, 3}, "%%MatrixMarket matrix array integer general\n3 1\n1\n+2\n3\n");
        good("coordinate symmetric, an entry above the diagonal",
             "%%MatrixMarket matrix coordinate real symmetric\n2 2 3\n1 1 4\n1 2 -1\n2 2 5\n", {4, -1, 1, -1, 5, 2},
             "%%MatrixMarket matrix array real general\n2 1\n1\n2\n");
        good("coordinate skew-symmetric, zero on the diagonal",
             "%%MatrixMarket matrix coordinate integer skew-symmetric\n2 2 2\n2 1 3\n1 1 0\n", {0, -3, 5, 3, 0, 6},
             "%%MatrixMarket matrix coordinate integer general\n2 1 2\n1 1 5\n2 1 6\n");
        good("csv plain", "1,2,3\n4,5e-1,-6\n", {1, 2, 3, 4, 0.5, -6});
        good("csv spreadsheet: BOM, header, quotes, semicolons, decimal comma, CRLF, blank end",
             "\xEF\xBB\xBF\"x;1\";\"x2\";\"b\"\r\n\"1,5\"; 2 ;\"-3\"\r\n4;5;6\r\n\r\n\r\n", {1.5, 2, -3, 4, 5, 6});
        good("csv TAB, one-word header, spaces, blank line inside, no final line end", "system\n 1 \t2\t3\n\n4\t5\t6",
             {1, 2, 3, 4, 5, 6});
    }

    void handWritten()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, rhs);
        QFETCH(QVector<double>, expected);
        for (int threads : {1, 2}) {
            EquationStore s;
            const Interchange::Outcome out = openTexts(name, text, rhs, s, threads);
            QVERIFY2(!out.failed, qPrintable(out.error));
            const QString diff = bitsDiff(augmented(s), expected);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
            for (int i = 0; i < s.N; ++i)
                QCOMPARE(s.fileSol[i], 0.0);
        }
    }

    void hostile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("rhs");
        QTest::addColumn<QString>("error");

        const QByteArray coord("%%MatrixMarket matrix coordinate real general\n");
        const QByteArray array("%%MatrixMarket matrix array real general\n"), b2 = array + "2 1\n1\n2\n";
        // A tag with "csv" in it names a .csv file, any other a .mtx one.
        auto bad = [](const char *tag, const QByteArray &text, const char *error, const QByteArray &rhs = {}) {
            QTest::newRow(tag) << (QByteArray(tag).contains("csv") ? "a.csv" : "a.mtx") << text << rhs << error;
        };
        bad("empty mtx", QByteArray(), "line 1: not a Matrix Market file");
        bad("empty csv", QByteArray(), "line 1: the file holds no rows");
        bad("no banner", "2 3\n1\n", "line 1: not a Matrix Market file");
        bad("complex", "%%MatrixMarket matrix array complex general\n2 3\n", "line 1: complex matrices are not supported");
        bad("pattern", "%%MatrixMarket matrix coordinate pattern general\n2 3 0\n",
            "line 1: pattern matrices are not supported");
        bad("hermitian", "%%MatrixMarket matrix array real hermitian\n2 2\n", "line 1: hermitian matrices are not supported");
        bad("vector", "%%MatrixMarket vector array real general\n2\n", "line 1: \"vector\" objects are not supported");
        bad("no size line", array + "%\n", "line 2: the size line is missing");
        bad("huge with two entries", coord + "% hostile\n2000000 2000001 2\n1 1 1\n2 2 1\n",
            "line 3: a system of 2000000 equations needs");
        bad("array larger than the file", array + "1000 1001\n1\n2\n", "line 2: the size line promises 1001000 entries");
        bad("index out of range", coord + "2 3 1\n3 1 1.0\n", "line 3: row 3 is outside 1..2");
        bad("too few entries", coord + "2 3 3\n1 1 1.0\n2 2 2.0\n\n", "line 5: the file ends after 2 of the 3 entries");
        bad("too many entries", coord + "2 3 1\n1 1 1.0\n2 2 2.0\n", "line 4: more entries than the 1");
        bad("too few values", array + "2 3\n1.5\n2.5\n3.5\n4.5\n5.5\n", "line 7: the file ends after 5 of the 6 values");
        bad("too many values", array + "2 3\n1\n2\n3\n4\n5\n6\n7\n", "line 9: more values than the 6");
        bad("duplicate", coord + "2 3 3\n1 2 1.0\n2 2 2.0\n1 2 3.0\n", "line 5: entry (1, 2) was already given on line 3");
        bad("duplicate across the diagonal", "%%MatrixMarket matrix coordinate real symmetric\n2 2 2\n2 1 1.0\n1 2 1.0\n",
            "line 4: entry (1, 2) was already given on line 3", b2);
        bad("not a number", array + "2 3\n1\n2\nabc\n4\n5\n6\n", "line 5: \"abc\" is not a number");
        bad("not an integer", "%%MatrixMarket matrix array integer general\n2 3\n1\n2\n2.5\n4\n5\n6\n",
            "line 5: \"2.5\" is not an integer");
        bad("skew diagonal", "%%MatrixMarket matrix coordinate real skew-symmetric\n2 2 1\n2 2 1.0\n",
            "line 3: entry (2, 2) lies on the diagonal", b2);
        bad("not a system", array + "2 4\n1\n2\n3\n4\n5\n6\n7\n8\n", "line 2: a 2 x 4 matrix is not a system");
        bad("no right-hand side", array + "2 2\n1\n2\n3\n4\n", "needs its right-hand side from a second file");
        bad("right-hand side of another size", array + "3 3\n1\n2\n3\n4\n5\n6\n7\n8\n9\n",
            "rhs.mtx: line 2: a 2 x 1 matrix is not the right-hand side of 3 equations", b2);
        bad("csv ragged", "1,2,3\n4,5\n6,7,8\n", "line 2 (equation 2), column 3: missing");
        bad("csv not a number", "x,y,b\n1,2,3\n4,x5,6\n", "line 3 (equation 2), column 2: \"x5\" is not a number");
        bad("csv too many rows", "1,2,3\n4,5,6\n7,8,9\n", "line 3 (equation 3): more rows than the 2 equations");
        bad("csv too few rows", "1.5,2.5,3.5,4.5\n5.5,6.5,7.5,8.5\n\n", "the file holds 2 rows of 4 columns; 3 equations");
        bad("csv unclosed quote", "1,2,3\n4,\"5,6\n", "line 2 (equation 2), column 2: a quote is not closed");
        bad("csv too narrow", "1,2\n3,4\n", "2 columns");
        bad("csv header only", "a,b,c\n\n", "a header row but no numbers");
        bad("csv rows of a huge system", "1,2,3,4,5,6,7,8,9,10\n", "line 1: a row of 10 columns makes a system of 9 equations");
        // Lines are still counted right after the first waves of the readers.
        QByteArray big = array + "1000 1001\n";
        QByteArray bigCsv;
        for (int k = 0; k < 1000 * 1001; ++k) {
            big += k == 990000 ? "abc\n" : "1.2345678901234567\n";
            bigCsv += k == 989 * 1001 + 4 ? "x" : "1.2345678901234567";
            bigCsv += k % 1001 == 1000 ? '\n' : ',';
        }
        bad("late bad value", big, "line 990003: \"abc\" is not a number");
        bad("csv late bad value", bigCsv, "line 990 (equation 990), column 5: \"x\" is not a number");
    }

    void hostile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, rhs);
        QFETCH(QString, error);
        EquationStore s;
        s.N = 7;
        const Interchange::Outcome out = openTexts(name, text, rhs, s);
        QVERIFY(out.failed);
        QVERIFY2(out.error.contains(error), qPrintable(out.error));
        // The file is named; a header that failed allocated nothing.
        QVERIFY2(out.error.contains(QLatin1String(".mtx: ")) || out.error.contains(QLatin1String(".csv: ")),
                 qPrintable(out.error));
        if (out.error.contains(QLatin1String("line 1:")) || out.error.contains(QLatin1String("needs")))
            QCOMPARE(s.allocated, 0);
    }

    // .trx -> .mtx -> .trx and .trx -> .csv -> .trx give the same file; the
    // binary file's every bit survives both formats (also split into matrix
    // and right-hand side, and in the coordinate layout).
    void roundTrips_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("threads");
        QTest::newRow("small, one thread") << 7 << 1;
        QTest::newRow("pieces on two threads") << 90 << 2;
        // More text than one wave of the readers takes.
        QTest::newRow("several waves") << 1000 << 2;
    }

    void roundTrips()
    {
        QFETCH(int, n);
        QFETCH(int, threads);
        EquationFile::Options opt;
        opt.processors = threads;
        for (const bool text : {true, false}) {
            EquationStore original;
            fillRandom(original, n, text);
            const QString own = path(text ? QStringLiteral("o.trx") : QStringLiteral("o.btrx"));
            QVERIFY(!EquationFile::save(own, original, original.fileSol, opt).failed);
            EquationStore opened;
            QVERIFY(!EquationFile::open(own, opened, opt).failed);
            QCOMPARE(bitsDiff(augmented(opened), augmented(original)), QString());
            const QVector<QStringList> routes{{"x.mtx", ""}, {"x.csv", ""}, {"m.mtx", "r.mtx"}, {"c.mtx", "", "coordinate"}};
            for (const QStringList &route : routes) {
                if (n > 100 && route.size() > 2)
                    continue;
                const QString out = path(route[0]);
                const QString rhs = route[1].isEmpty() ? QString() : path(route[1]);
                Interchange::Outcome o = Interchange::save(out, rhs, opened, threads, route.size() > 2);
                QVERIFY2(!o.failed, qPrintable(o.error));
                EquationStore back;
                o = Interchange::open(out, rhs, back, threads);
                QVERIFY2(!o.failed, qPrintable(o.error));
                QVERIFY2(bitsDiff(augmented(back), augmented(original)).isEmpty(), qPrintable(route.join(' ')));
                const QString again = path(text ? QStringLiteral("again.trx") : QStringLiteral("again.btrx"));
                QVERIFY(!EquationFile::save(again, back, back.fileSol, opt).failed);
                QCOMPARE(readFile(again), readFile(own));
            }
        }
    }

    void solutionColumn()
    {
        const double x[] = {kMax, -0.0, kTiny, 0.1};
        for (const QString &name : {QStringLiteral("x.mtx"), QStringLiteral("x.csv")}) {
            QVERIFY(!Interchange::saveColumn(path(name), x, 4, 2).failed);
            const QByteArray body = readFile(path(name));
            QVERIFY2(body.endsWith("1.7976931348623157e+308\n-0\n5e-324\n0.1\n"), body.constData());
        }
        QVERIFY(readFile(path(QStringLiteral("x.mtx"))).startsWith("%%MatrixMarket matrix array real general\n% written by Tarvix"));
    }
};

QTEST_GUILESS_MAIN(TestInterchange)
#include "tst_interchange.moc"
