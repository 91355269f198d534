// The analysis arithmetic on plain arrays: accuracy reduction, residuals and
// percentages with their NA rows, comparison, ranges, unequal count, paging
// and clipboard text.
#include "analysis/analysis.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace Analysis;

namespace {
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
}

class TestAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void reduce_data();
    void reduce();
    void errors_data();
    void errors();
    void comparison();
    void ranges_data();
    void ranges();
    void paging_data();
    void paging();
    void clipboard_data();
    void clipboard();
    void parseAndTone();
};

void TestAnalysis::reduce_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("digits");
    QTest::addColumn<double>("in");
    QTest::addColumn<double>("out");
    QTest::newRow("pi 3 sig") << 0 << 3 << 3.14159265358979 << 3.14;
    QTest::newRow("-e 3 sig") << 0 << 3 << -2.71828182845905 << -2.71;
    QTest::newRow("truncated, not rounded") << 0 << 2 << 0.999 << 0.99;
    // Magnitude and sign survive the cut.
    QTest::newRow("exponent kept") << 0 << 3 << 1.23456e+20 << 1.23e+20;
    QTest::newRow("integer digits kept") << 0 << 3 << 123456.0 << 123000.0;
    QTest::newRow("negative small") << 0 << 2 << -0.000123456 << -0.00012;
    QTest::newRow("15 digits clean sum") << 0 << 15 << 0.1 + 0.2 << 0.3;
    QTest::newRow("digits held to 15") << 0 << 40 << 1.0 / 3.0 << 0.333333333333333;
    QTest::newRow("digits held to 1") << 0 << 0 << 47.0 << 40.0;
    QTest::newRow("zero") << 0 << 3 << 0.0 << 0.0;
    QTest::newRow("2 places") << 1 << 2 << 0.123456 << 0.12;
    QTest::newRow("2 places negative") << 1 << 2 << -7.4999 << -7.5;
    QTest::newRow("places huge") << 1 << 15 << 1e300 << 1e300;
    QTest::newRow("inf passes") << 0 << 3 << kInf << kInf;
    QTest::newRow("-inf passes") << 1 << 3 << -kInf << -kInf;
}

void TestAnalysis::reduce()
{
    QFETCH(int, mode);
    QFETCH(int, digits);
    QFETCH(double, in);
    QFETCH(double, out);
    QCOMPARE(reduceAccuracy(in, mode, digits), out);
    double v[2] = {in, in};
    reduceVector(v, v, 2, mode, digits);
    QCOMPARE(v[1], out);
}

void TestAnalysis::errors_data()
{
    QTest::addColumn<QVector<double>>("a");
    QTest::addColumn<QVector<double>>("b");
    QTest::addColumn<QVector<double>>("s");
    QTest::addColumn<QVector<double>>("diff");
    QTest::addColumn<QVector<double>>("pct");   // -1: NA row
    QTest::addColumn<QVector<int>>("counts");   // non-zero ranges as (range, count) pairs

    const QVector<double> ex{1, 1, 1, 0, 2, 5, 2, 5, -1};
    QTest::newRow("example solved") << ex << QVector<double>{6, -4, 27} << QVector<double>{5, 3, -2}
                                    << QVector<double>{0, 0, 0} << QVector<double>{0, 0, 0}
                                    << QVector<int>{0, 3};
    // lhs 6, 2, 6 against 6, 0, 10: the zero right-hand side is NA in range 1.
    QTest::newRow("NA and boundary") << QVector<double>{1, 1, 1, 0, 1, 0, 1, 1, 1}
                                     << QVector<double>{6, 0, 10} << QVector<double>{1, 2, 3}
                                     << QVector<double>{0, 2, -4} << QVector<double>{0, -1, 40}
                                     << QVector<int>{0, 2, 3, 1};
    QTest::newRow("tiny rhs is NA") << QVector<double>{1, 0, 0, 1} << QVector<double>{1e-16, 2}
                                    << QVector<double>{0, 3} << QVector<double>{-1e-16, 1}
                                    << QVector<double>{-1, 50} << QVector<int>{0, 1, 4, 1};
    // 0 · NaN and 0 · inf are NaN: one bad value spoils every equation.
    QTest::newRow("NaN solution") << QVector<double>{1, 0, 0, 1} << QVector<double>{1, 2}
                                  << QVector<double>{kNaN, 2} << QVector<double>{kNaN, kNaN}
                                  << QVector<double>{kNaN, kNaN} << QVector<int>{9, 2};
    QTest::newRow("inf solution") << QVector<double>{1, 0, 0, 1} << QVector<double>{1, 2}
                                  << QVector<double>{kInf, 2} << QVector<double>{kInf, kNaN}
                                  << QVector<double>{kInf, kNaN} << QVector<int>{9, 2};
}

void TestAnalysis::errors()
{
    QFETCH(QVector<double>, a);
    QFETCH(QVector<double>, b);
    QFETCH(QVector<double>, s);
    QFETCH(QVector<double>, diff);
    QFETCH(QVector<double>, pct);
    QFETCH(QVector<int>, counts);
    const int n = b.size();
    QVector<const double *> rows(n);
    for (int i = 0; i < n; ++i)
        rows[i] = a.constData() + i * n;
    QVector<double> lhs(n), d(n), p(n);
    std::vector<int> na{99};   // stale content goes
    computeErrors(n, rows.constData(), b.constData(), s.constData(), lhs.data(), d.data(), p.data(), &na);
    std::vector<int> expectedNa;
    for (int i = 0; i < n; ++i) {
        QCOMPARE(std::isnan(d[i]), std::isnan(diff[i]));
        if (!std::isnan(diff[i])) {
            QCOMPARE(d[i], diff[i]);
            QCOMPARE(lhs[i] - b[i], diff[i]);
        }
        if (pct[i] < 0) {
            expectedNa.push_back(i);
            QCOMPARE(p[i], 0.0);
        } else if (std::isnan(pct[i])) {
            QVERIFY(std::isnan(p[i]));
        } else {
            QCOMPARE(p[i], pct[i]);
        }
    }
    QCOMPARE(na, expectedNa);
    std::array<int, 10> expected{};
    for (int k = 0; k + 1 < counts.size(); k += 2)
        expected[size_t(counts[k])] = counts[k + 1];
    QCOMPARE(rangeCounts(p.constData(), n), expected);
    // Unequal within the default threshold, then within one far above it.
    int unequal = 0;
    for (double x : diff)
        unequal += !(std::fabs(x) <= 1e-15);
    QCOMPARE(unequalCount(d.constData(), n, 1e-15), unequal);
}

void TestAnalysis::comparison()
{
    const double a[] = {5, 3, -2, 1, kNaN};
    const double b[] = {4, 0, -2, 1e-16, 1};
    double d[5], p[5];
    std::vector<int> na;
    computeComparison(5, a, b, d, p, &na);
    QCOMPARE(na, (std::vector<int>{1, 3}));
    QCOMPARE(d[0], 1.0);
    QCOMPARE(p[0], 25.0);
    QCOMPARE(d[1], 3.0);
    QCOMPARE(p[1], 0.0);
    QCOMPARE(p[2], 0.0);
    QVERIFY(std::isnan(p[4]));
    // Threshold 1 (spin at 0): |1| counts as equal, |3| does not, NaN never.
    QCOMPARE(unequalCount(d, 5, 1.0), 2);
    QCOMPARE(unequalCount(d, 5, kInf), 1);
}

void TestAnalysis::ranges_data()
{
    QTest::addColumn<double>("p");
    QTest::addColumn<int>("range");
    QTest::newRow("0") << 0.0 << 0;
    QTest::newRow("10 where its label is") << 10.0 << 0;
    QTest::newRow("just above 10") << std::nextafter(10.0, 20.0) << 1;
    QTest::newRow("20") << 20.0 << 1;
    QTest::newRow("30") << 30.0 << 2;
    QTest::newRow("just above 30") << std::nextafter(30.0, 40.0) << 3;
    QTest::newRow("70") << 70.0 << 6;
    QTest::newRow("55") << 55.0 << 5;
    QTest::newRow("90") << 90.0 << 8;
    QTest::newRow("just above 90") << std::nextafter(90.0, 100.0) << 9;
    QTest::newRow("1e300") << 1e300 << 9;
    QTest::newRow("inf") << kInf << 9;
    QTest::newRow("NaN") << kNaN << 9;
}

void TestAnalysis::ranges()
{
    QFETCH(double, p);
    QFETCH(int, range);
    QCOMPARE(rangeOf(p), range);
}

void TestAnalysis::paging_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("tables");
    QTest::addColumn<int>("grown");
    QTest::addColumn<QVector<int>>("sizes");
    QTest::newRow("250 in 3 of 100") << 250 << 100 << 3 << 100 << QVector<int>{100, 100, 50};
    QTest::newRow("350 grows to 120") << 350 << 100 << 3 << 120 << QVector<int>{120, 120, 110};
    QTest::newRow("2 in one") << 2 << 100 << 3 << 100 << QVector<int>{2};
    QTest::newRow("exactly full") << 300 << 100 << 3 << 100 << QVector<int>{100, 100, 100};
    QTest::newRow("one over, one table") << 101 << 100 << 1 << 110 << QVector<int>{101};
    QTest::newRow("20000 in one") << 20000 << 10 << 1 << 20000 << QVector<int>{20000};
}

void TestAnalysis::paging()
{
    QFETCH(int, n);
    QFETCH(int, rows);
    QFETCH(int, tables);
    QFETCH(int, grown);
    QFETCH(QVector<int>, sizes);
    const Paging p = pageLayout(n, rows, tables);
    QCOMPARE(p.rows, grown);
    QCOMPARE(p.tables, sizes.size());
    int next = 0;
    for (int t = 0; t < p.tables; ++t) {
        QCOMPARE(p.first(t), next);
        QCOMPARE(p.last(t, n) - p.first(t) + 1, sizes[t]);
        next = p.last(t, n) + 1;
    }
    QCOMPARE(next, n);
}

void TestAnalysis::clipboard_data()
{
    QTest::addColumn<QVector<double>>("v");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("text");
    QTest::newRow("blank after each") << QVector<double>{5, 3, -2} << " " << "5 3 -2 ";
    QTest::newRow("15 digits") << QVector<double>{1.0 / 3.0, 1e-20} << "," << "0.333333333333333,1e-20,";
    QTest::newRow("longer delimiter") << QVector<double>{kInf, 2.5} << "\t|" << "inf\t|2.5\t|";
    QTest::newRow("empty set") << QVector<double>{} << " " << "";
}

void TestAnalysis::clipboard()
{
    QFETCH(QVector<double>, v);
    QFETCH(QString, delimiter);
    QFETCH(QString, text);
    QCOMPARE(clipboardText(v.constData(), v.size(), delimiter), text);
}

void TestAnalysis::parseAndTone()
{
    double v = 7;
    QVERIFY(parseValue(" -2.5e3 ", &v));
    QCOMPARE(v, -2500.0);
    QVERIFY(!parseValue("12abc", &v));
    QVERIFY(!parseValue("", &v));
    QCOMPARE(v, -2500.0);
    QCOMPARE(formatValue(1.0 / 3.0), QString("0.333333333333333"));

    QCOMPARE(percentTone(0, true), Gray);
    QCOMPARE(percentTone(20, false), Green);
    QCOMPARE(percentTone(20.5, false), Yellow);
    QCOMPARE(percentTone(79.9, false), Yellow);
    QCOMPARE(percentTone(80, false), Red);
    QCOMPARE(percentTone(kNaN, false), Red);
}

QTEST_APPLESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"
