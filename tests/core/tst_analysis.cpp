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
    void reduce()
    {
        // Truncated to significant digits (mode 0) or rounded to places (mode 1);
        // magnitude and sign survive, digits are held to 1..15.
        const struct { int mode, digits; double in, out; } cases[] = {
            {0, 3, 3.14159265358979, 3.14}, {0, 2, 0.999, 0.99}, {0, 3, 1.23456e+20, 1.23e+20},
            {0, 3, 123456.0, 123000.0}, {0, 2, -0.000123456, -0.00012}, {0, 15, 0.1 + 0.2, 0.3},
            {0, 40, 1.0 / 3.0, 0.333333333333333}, {0, 0, 47.0, 40.0}, {0, 3, 0.0, 0.0},
            {1, 2, 0.123456, 0.12}, {1, 2, -7.4999, -7.5}, {1, 15, 1e300, 1e300}, {0, 3, kInf, kInf},
            {1, 3, -kInf, -kInf}};
        for (const auto &c : cases) {
            QCOMPARE(reduceAccuracy(c.in, c.mode, c.digits), c.out);
            double v[2] = {c.in, c.in};
            reduceVector(v, v, 2, c.mode, c.digits);
            QCOMPARE(v[1], c.out);
        }
    }

    void errors()
    {
        using V = QVector<double>;
        // pct -1: NA row; counts: non-zero ranges as (range, count) pairs.
        // lhs 6, 2, 6 against 6, 0, 10: the zero right-hand side is NA in range 1.
        // 0 · NaN and 0 · inf are NaN: one bad value spoils every equation.
        const struct { V a, b, s, diff, pct; QVector<int> counts; } cases[] = {
            {{1, 1, 1, 0, 2, 5, 2, 5, -1}, {6, -4, 27}, {5, 3, -2}, {0, 0, 0}, {0, 0, 0}, {0, 3}},
            {{1, 1, 1, 0, 1, 0, 1, 1, 1}, {6, 0, 10}, {1, 2, 3}, {0, 2, -4}, {0, -1, 40}, {0, 2, 3, 1}},
            {{1, 0, 0, 1}, {1e-16, 2}, {0, 3}, {-1e-16, 1}, {-1, 50}, {0, 1, 4, 1}},
            {{1, 0, 0, 1}, {1, 2}, {kNaN, 2}, {kNaN, kNaN}, {kNaN, kNaN}, {9, 2}},
            {{1, 0, 0, 1}, {1, 2}, {kInf, 2}, {kInf, kNaN}, {kInf, kNaN}, {9, 2}}};
        for (const auto &[a, b, s, diff, pct, counts] : cases) {
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
    }

    void comparison()
    {
        const double a[] = {5, 3, -2, 1, kNaN};
        const double b[] = {4, 0, -2, 1e-16, 1};
        double d[5], p[5];
        std::vector<int> na;
        computeComparison(5, a, b, d, p, &na);
        QCOMPARE(na, (std::vector<int>{1, 3}));
        QCOMPARE(QList<double>({d[0], p[0], d[1], p[1], p[2]}), QList<double>({1, 25, 3, 0, 0}));
        QVERIFY(std::isnan(p[4]));
        // Threshold 1 (spin at 0): |1| counts as equal, |3| does not, NaN never.
        QCOMPARE(unequalCount(d, 5, 1.0), 2);
        QCOMPARE(unequalCount(d, 5, kInf), 1);
    }

    void ranges()
    {
        // Each range holds its upper label; NaN and inf land in the last.
        const struct { double p; int range; } cases[] = {
            {0.0, 0}, {10.0, 0}, {std::nextafter(10.0, 20.0), 1}, {20.0, 1}, {30.0, 2},
            {std::nextafter(30.0, 40.0), 3}, {70.0, 6}, {90.0, 8}, {std::nextafter(90.0, 100.0), 9},
            {kInf, 9}, {kNaN, 9}};
        for (const auto &c : cases)
            QVERIFY2(rangeOf(c.p) == c.range, qPrintable(QString::number(c.p)));
    }

    void paging()
    {
        // n, rows and tables asked, rows per table used, the table sizes.
        const struct { int n, rows, tables, grown; QVector<int> sizes; } cases[] = {
            {250, 100, 3, 100, {100, 100, 50}}, {350, 100, 3, 120, {120, 120, 110}}, {2, 100, 3, 100, {2}},
            {300, 100, 3, 100, {100, 100, 100}}, {101, 100, 1, 110, {101}}, {20000, 10, 1, 20000, {20000}}};
        for (const auto &c : cases) {
            const Paging p = pageLayout(c.n, c.rows, c.tables);
            QCOMPARE(p.rows, c.grown);
            QCOMPARE(p.tables, c.sizes.size());
            int next = 0;
            for (int t = 0; t < p.tables; ++t) {
                QCOMPARE(p.first(t), next);
                QCOMPARE(p.last(t, c.n) - p.first(t) + 1, c.sizes[t]);
                next = p.last(t, c.n) + 1;
            }
            QCOMPARE(next, c.n);
        }
    }

    void clipboard()
    {
        // The delimiter follows every value, 15 significant digits.
        const struct { QVector<double> v; const char *delimiter, *text; } cases[] = {
            {{5, 3, -2}, " ", "5 3 -2 "}, {{1.0 / 3.0, 1e-20}, ",", "0.333333333333333,1e-20,"},
            {{kInf, 2.5}, "\t|", "inf\t|2.5\t|"}, {{}, " ", ""}};
        for (const auto &c : cases)
            QCOMPARE(clipboardText(c.v.constData(), c.v.size(), c.delimiter), QString(c.text));
    }

    void parseAndTone()
    {
        double v = 7;
        QVERIFY(parseValue(" -2.5e3 ", &v));
        QCOMPARE(v, -2500.0);
        QVERIFY(!parseValue("12abc", &v));
        QVERIFY(!parseValue("", &v));
        QCOMPARE(v, -2500.0);
        QCOMPARE(formatValue(1.0 / 3.0), QString("0.333333333333333"));

        QCOMPARE(QList<int>({percentTone(0, true), percentTone(20, false), percentTone(20.5, false),
                             percentTone(79.9, false), percentTone(80, false), percentTone(kNaN, false)}),
                 QList<int>({Gray, Green, Yellow, Yellow, Red, Red}));
    }
};

QTEST_APPLESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"
