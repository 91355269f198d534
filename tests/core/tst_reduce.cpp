// Worker counts, row splits, the vector helpers and passes of the parallel
// row reduction, the working copy and the blocked update. (That a whole
// solve gives the same bits for every worker count: tst_solve, tst_accuracy.)
#include "solver/doubleblock.h"
#include "solver/panel.h"
#include "solver/ratiopass.h"
#include "solver/ratiostore.h"
#include "numeric/zero.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "threads/workerteam.h"
#include "testutil.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

namespace {

QList<int> defaultLimits(int t)
{
    QList<int> l;
    for (int i = 1; i <= t; ++i)
        l << 5 * i;
    return l;
}

QString describe(const QVector<RowRange> &ranges)
{
    QStringList parts;
    for (const RowRange &r : ranges)
        parts << (r.empty ? QStringLiteral("-") : QStringLiteral("%1..%2").arg(r.first).arg(r.last));
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestReduce : public QObject
{
    Q_OBJECT
private slots:
    // The solver's big arrays: zero, aligned for the vector passes, and
    // every element theirs (a block cut from a bigger mapping must keep its
    // last pages), small ones and mapped ones alike.
    void blockIsZeroAndWhole_data()
    {
        QTest::addColumn<qulonglong>("count");
        const qulonglong mapFrom = (2u << 20) / sizeof(double);
        QTest::newRow("one") << qulonglong(1);
        QTest::newRow("below mapping") << mapFrom - 1;
        QTest::newRow("one huge page") << mapFrom;
        QTest::newRow("odd size") << 3 * mapFrom + 5;
        QTest::newRow("n 1001 rows") << qulonglong(DoubleBlock::rowStride(1001)) * 1001u;
    }

    void blockIsZeroAndWhole()
    {
        QFETCH(qulonglong, count);
        const qulonglong before = mappedKiB();
        for (int round = 0; round < 3; ++round) {
            DoubleBlock block(count);
            QCOMPARE(qulonglong(block.size()), count);
            QVERIFY(reinterpret_cast<quintptr>(block.data()) % 64 == 0);
            double *d = block.data();
            size_t nonZero = 0;
            for (size_t i = 0; i < count; ++i) {
                nonZero += d[i] != 0.0;
                d[i] = double(i) + 0.5;
            }
            // (The writes above touch every element: one outside the
            // block's pages ends the test, or the sanitizer's build.)
            QCOMPARE(nonZero, size_t(0));
        }
        // A big block gives back everything it took (the allocator keeps
        // what small ones took).
        if (count * sizeof(double) >= (2u << 20) && before > 0)
            QCOMPARE(mappedKiB(), before);
    }

    void workerCount()
    {
        // One worker per limit reached (5 rows each by default), at most T.
        const struct { int m; QList<int> limits; int processors, expected; } cases[] = {
            {6, defaultLimits(4), 4, 2}, {16, defaultLimits(4), 4, 4}, {15, defaultLimits(4), 4, 3},
            {5, defaultLimits(4), 4, 1}, {1000, defaultLimits(1), 1, 1}, {40, defaultLimits(8), 8, 8},
            {7, {}, 3, 3}, {30, defaultLimits(8), 2, 2}, {30, {5}, 0, 1}};
        for (const auto &c : cases)
            QVERIFY2(Reduce::workerCount(c.m, c.limits, c.processors) == c.expected,
                     qPrintable(QStringLiteral("m %1 T %2").arg(c.m).arg(c.processors)));
    }

    void splitExamples()
    {
        // k = -1: the diagonal split. 41 rows, 8 workers: per 5 the seventh
        // range would end at row 42; n = 3 diagonal: the second range would be rows -1 to -2.
        const struct { int n, k, count; const char *expected; } cases[] = {
            {12, 0, 3, "1..4 5..8 9..11"}, {15, 2, 3, "3..7 8..12 13..14"}, {5, 3, 1, "4..4"},
            {41, 0, 8, "1..6 7..12 13..18 19..24 25..30 31..36 37..40 -"}, {4, 0, 5, "1..1 2..2 3..3 - -"},
            {100, -1, 4, "98..50 49..30 29..14 13..0"}, {10, -1, 2, "8..3 2..0"}, {1, -1, 1, "-"},
            {2, -1, 1, "0..0"}, {3, -1, 3, "1..0 - -"}};
        for (const auto &c : cases)
            QCOMPARE(describe(c.k < 0 ? Reduce::diagonalSplit(c.n, c.count) : Reduce::eliminationSplit(c.n, c.k, c.count)),
                     QString(c.expected));
    }

    // Elimination below row k covers rows k+1..n-1 in ascending ranges; the
    // diagonal pass covers rows n-2..0 in descending ranges; each row exactly once.
    void splitsCoverEveryRowOnce()
    {
        QList<int> sizes;
        for (int n = 1; n <= 80; ++n)
            sizes << n;
        sizes << 100 << 257 << 1000 << 4001;
        for (int n : sizes) {
            for (int count = 1; count <= 70; ++count) {
                for (int k = -1; k < n; k += (k < 0 || n <= 10) ? 1 : 7 + n / 10) {
                    const bool diagonal = k < 0;
                    const QVector<RowRange> ranges = diagonal ? Reduce::diagonalSplit(n, count)
                                                              : Reduce::eliminationSplit(n, k, count);
                    const QByteArray where = QStringLiteral("n=%1 k=%2 count=%3: %4")
                                                 .arg(n).arg(k).arg(count).arg(describe(ranges)).toUtf8();
                    QCOMPARE(ranges.size(), count);
                    const int lo = diagonal ? 0 : k + 1, hi = diagonal ? n - 2 : n - 1;
                    std::vector<int> seen(size_t(n), 0);
                    int previous = diagonal ? n - 1 : k;
                    for (const RowRange &r : ranges) {
                        if (r.empty)
                            continue;
                        const int from = diagonal ? r.last : r.first, to = diagonal ? r.first : r.last;
                        QVERIFY2(from >= lo && to <= hi && from <= to, where.constData());
                        QVERIFY2(diagonal ? r.first < previous : r.first > previous, where.constData()); // in order
                        previous = r.last;
                        for (int i = from; i <= to; ++i)
                            ++seen[size_t(i)];
                    }
                    for (int i = 0; i < n; ++i)
                        QVERIFY2(seen[size_t(i)] == (i >= lo && i <= hi ? 1 : 0), where.constData());
                }
            }
        }
    }

    void vectorHelpers()
    {
        // Both dots take every pair once, whole vectors and tails alike
        // (small integers: every order gives the exact sum).
        for (int len : {0, 1, 3, 4, 15, 16, 17, 31, 33, 100}) {
            std::vector<double> x(static_cast<size_t>(len)), y(static_cast<size_t>(len));
            double exact = 0.0;
            for (int j = 0; j < len; ++j) {
                x[size_t(j)] = j + 1;
                y[size_t(j)] = j % 3 - 1 + (j == len - 1 ? 5 : 0);
                exact += x[size_t(j)] * y[size_t(j)];
            }
            QCOMPARE(Reduce::dotWide(x.data(), y.data(), len), exact);
            QCOMPARE(Reduce::dot(x.data(), y.data(), len), exact);
            // One inf or NaN anywhere, in the vectors or the tail, is seen.
            QVERIFY(Reduce::allFinite(x.data(), len));
            for (int at : {0, len / 2, len - 1}) {
                if (at < 0 || at >= len)
                    continue;
                for (double bad : {qInf(), -qInf(), qQNaN()}) {
                    std::vector<double> z(x);
                    z[size_t(at)] = bad;
                    QVERIFY(!Reduce::allFinite(z.data(), len));
                }
            }
            // The row scales of the condition estimate: the largest
            // magnitude wherever it sits (a NaN beside it passed over), and
            // every column's sum taking its own entry once.
            for (int at : {0, len / 2, len - 1}) {
                if (at < 0 || at >= len)
                    continue;
                std::vector<double> z(x);
                z[size_t(at)] = -1000.0;
                if (len > 1)
                    z[size_t((at + 1) % len)] = qQNaN();
                QCOMPARE(Reduce::absMax(z.data(), len), 1000.0);
            }
            std::vector<double> sums(size_t(len), 0.5);
            std::vector<double> negated(x);
            for (double &e : negated)
                e = -e;
            Reduce::addAbsScaled(sums.data(), negated.data(), 0.25, len);
            for (int j = 0; j < len; ++j)
                QCOMPARE(sums[size_t(j)], 0.5 + (j + 1) * 0.25);
            // The column counts of the validation: the zero test's own
            // edges, in the vectors and the tail alike.
            const double edges[] = {1e-15, -1e-15, std::nextafter(1e-15, 1.0),
                                    std::nextafter(-1e-15, -1.0), -0.0, 5e-324, qQNaN(),
                                    -qInf(), 2.0, 0.0};
            std::vector<double> w(static_cast<size_t>(len));
            std::vector<long long> counts(size_t(len), 3);
            for (int j = 0; j < len; ++j)
                w[size_t(j)] = edges[j % 10];
            Reduce::addZeroCounts(w.data(), len, counts.data());
            for (int j = 0; j < len; ++j)
                QCOMPARE(counts[size_t(j)], isZero(w[size_t(j)]) ? 4LL : 3LL);
        }
        QCOMPARE(Reduce::absMax(nullptr, 0), 0.0);
    }

    // The passes through the ratios. The multipliers are made per step, with
    // the exchanges between the steps (as a step-by-step device leaves them);
    // moved with the swaps into rows, the passes must give the one-step-at-a-
    // time ones: to the bit forward (the same operations in the same order),
    // and with small whole numbers, where every order of the additions is
    // exact, backward. With real numbers every worker count gives the bits
    // of one. The passes without exchanges (the diagonal ratios') likewise.
    void ratioPasses_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QList<int>>("swaps");
        QTest::newRow("one") << 1 << QList<int>{0, 0};
        QTest::newRow("two, exchanged") << 2 << QList<int>{0, 1};
        QTest::newRow("one block and a row") << 129 << QList<int>{};
        QTest::newRow("exchanges on block edges") << 600 << QList<int>{0, 7, 127, 300, 128, 129, 471, 599};
        QTest::newRow("same step twice, past the end") << 600 << QList<int>{5, 9, 5, 590, 598, 599, 600, 3};
        QTest::newRow("odd list, negative entry") << 1000 << QList<int>{3, -1, 200, 900, 950};
        QTest::newRow("long, no exchanges") << 1000 << QList<int>{};
    }

    void ratioPasses()
    {
        QFETCH(int, n);
        QFETCH(QList<int>, swaps);
        std::mt19937 gen(uint32_t(n) * 31u + uint32_t(swaps.size()));
        std::uniform_int_distribution<int> entry(-64, 64), start(-9, 9);
        std::uniform_real_distribution<double> real(-1.0, 1.0);
        for (int whole = 1; whole >= 0; --whole) {
            // r[k][i-k-1]: a few nonzero ones per row (-1, 1), so that the
            // whole numbers stay far below 2^53.
            std::vector<std::vector<double>> rows(size_t(n > 1 ? n - 1 : 0));
            std::vector<double *> r;
            for (int k = 0; k + 1 < n; ++k) {
                std::vector<double> &row = rows[size_t(k)];
                row.resize(size_t(n - k - 1));
                for (double &e : row) {
                    const int pick = entry(gen);
                    e = whole ? (pick == 64 ? 1.0 : pick == -64 ? -1.0 : 0.0) : real(gen) / n;
                }
                r.push_back(row.data());
            }
            std::vector<double> v0(static_cast<size_t>(n));
            for (double &e : v0)
                e = whole ? double(start(gen)) : real(gen);

            // The plain passes, one step at a time.
            auto plain = [&](const QList<int> &list, std::vector<double> &fwd, std::vector<double> &bwd) {
                auto exchange = [n](std::vector<double> &v, int p, int q) {
                    if (p >= 0 && p < n && q >= 0 && q < n)
                        std::swap(v[size_t(p)], v[size_t(q)]);
                };
                fwd = bwd = v0;
                int s = 0;
                for (int k = 0; k < n; ++k) {
                    for (; s + 1 < list.size() && list.at(s) <= k; s += 2)
                        exchange(fwd, list.at(s), list.at(s + 1));
                    for (int i = k + 1; i < n; ++i)
                        fwd[size_t(i)] -= r[size_t(k)][i - k - 1] * fwd[size_t(k)];
                }
                s = int(list.size()) - 2 - int(list.size() % 2);
                for (int i = n - 1; i >= 0; --i) {
                    double sum = 0.0;
                    for (int j = i + 1; j < n; ++j)
                        sum += r[size_t(i)][j - i - 1] * bwd[size_t(j)];
                    bwd[size_t(i)] -= sum;
                    for (; s >= 0 && list.at(s) >= i; s -= 2)
                        exchange(bwd, list.at(s), list.at(s + 1));
                }
            };
            auto check = [&](const char *what, const std::vector<double> &got,
                             const std::vector<double> &want, bool exact) {
                for (int i = 0; i < n; ++i) {
                    const double tol = exact ? 0.0 : 1e-12 * (1.0 + std::fabs(want[size_t(i)]));
                    QVERIFY2(std::fabs(got[size_t(i)] - want[size_t(i)]) <= tol
                                 && !std::isnan(got[size_t(i)]),
                             qPrintable(QStringLiteral("%1, whole %2, entry %3: %4 / %5")
                                            .arg(what).arg(whole).arg(i).arg(got[size_t(i)])
                                            .arg(want[size_t(i)])));
                }
            };
            auto sameForCounts = [&](const char *what, const std::vector<double> &one,
                                     const std::function<void(double *, int)> &pass) {
                for (int count : {2, 3}) {
                    WorkerTeam team(count, QStringLiteral("tst_reduce "));
                    std::vector<double> shared(v0);
                    pass(shared.data(), count);
                    QVERIFY2(std::memcmp(shared.data(), one.data(), sizeof(double) * size_t(n)) == 0,
                             qPrintable(QStringLiteral("%1, whole %2, %3 workers").arg(what).arg(whole).arg(count)));
                }
            };
            std::vector<double> fwd, bwd;
            if (swaps.isEmpty()) {
                plain({}, fwd, bwd);
                std::vector<double> oneF(v0), oneB(v0);
                RatioPass::forward(oneF.data(), n, r.data());
                RatioPass::backward(oneB.data(), n, r.data(), 1);
                check("forward", oneF, fwd, true);
                check("backward", oneB, bwd, whole);
                sameForCounts("backward", oneB, [&](double *v, int c) { RatioPass::backward(v, n, r.data(), c); });
            }
            plain(swaps, fwd, bwd);
            RatioStore store(n);
            for (int k = 0; k + 1 < n; ++k)
                for (int i = k + 1; i < n; ++i)
                    store.lower[i][k] = r[size_t(k)][i - k - 1];
            store.swaps = swaps;
            store.followSwaps();
            std::vector<double> oneF(v0), oneB(v0);
            RatioPass::lowerForward(oneF.data(), n, store.lower, &swaps);
            RatioPass::lowerBackward(oneB.data(), n, store.lower, &swaps, 1);
            check("lower forward", oneF, fwd, true);
            check("lower backward", oneB, bwd, whole);
            sameForCounts("lower backward", oneB, [&](double *v, int c) {
                RatioPass::lowerBackward(v, n, store.lower, &swaps, c);
            });
            sameForCounts("lower forward", oneF, [&](double *v, int c) {
                RatioPass::lowerForward(v, n, store.lower, &swaps, c);
            });
        }
    }

    // The ratios in a block of their own (the upper entries reduced to
    // rounding noise) or in the upper entries' places.
    void diagonalRowsKeepDiagonal_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("own block") << false;
        QTest::newRow("in the working copy") << true;
    }

    void diagonalRowsKeepDiagonal()
    {
        QFETCH(bool, inPlace);
        const int n = 7;
        Matrix m(n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                m.rows[size_t(i)][j] = (i == j) ? 2.0 + i : (j > i ? 1.0 + i + 0.5 * j : 0.25 * j);
        const Matrix before = m;
        RatioStore ratios(n, inPlace ? RatioStore::Placement::InWorkingCopy : RatioStore::Placement::Own);
        ratios.placeInWorkingCopy(m.ptr());
        for (const RowRange &r : Reduce::diagonalSplit(n, 3)) {
            if (!r.empty)
                Reduce::diagonalRows(m.ptr(), ratios.dr, n, r.first, r.last);
        }
        for (int i = 0; i < n; ++i) {
            QCOMPARE(m.rows[size_t(i)][i], before.rows[size_t(i)][i]);
            for (int j = 0; j < i; ++j)
                QCOMPARE(m.rows[size_t(i)][j], before.rows[size_t(i)][j]);
            for (int j = i + 1; j < n; ++j) {
                const double ratio = before.rows[size_t(i)][j] / before.rows[size_t(j)][j];
                QCOMPARE(ratios.dr[i][j - i - 1], ratio);
                QCOMPARE(&ratios.dr[i][j - i - 1] == &m.rows[size_t(i)][j], inPlace);
                if (!inPlace)
                    QVERIFY(qAbs(m.rows[size_t(i)][j]) < 1e-12);
            }
        }
    }

    // The working copy: every row copied once, the last run of rows a short
    // one, and the job that goes beside the copy run exactly once.
    void copyTakesEveryRowOnce_data()
    {
        QTest::addColumn<int>("processors");
        QTest::newRow("alone") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("three") << 3;
    }

    void copyTakesEveryRowOnce()
    {
        QFETCH(int, processors);
        const int n = 1003;
        Matrix from(n), to(n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                from.rows[size_t(i)][j] = double(i) * n + j;
        ThreadSettings settings;
        settings.processors = processors;
        for (int t = 0; t < processors; ++t)
            settings.limits << t;
        QVERIFY(copyRows(n, from.ptr(), to.ptr(), settings));
        QVERIFY(to.store == from.store);
        // One value that is not finite, in the last row a worker takes.
        from.rows[size_t(n - 1)][n / 2] = std::numeric_limits<double>::infinity();
        QVERIFY(!copyRows(n, from.ptr(), to.ptr(), settings));
    }

    // The product update of a block: the vector kernels give the bits of the
    // plain fused multiply-add chain for every row count and width (full
    // blocks of four rows, single rows, the narrow last columns); so does
    // the block's own triangular solve, both in the rows and in the packed
    // copy the product uses.
    void panelUpdateBits_data()
    {
        QTest::addColumn<int>("kernel");
        for (PanelUpdate::Kernel k : PanelUpdate::supportedKernels())
            QTest::newRow(PanelUpdate::kernelName(k)) << int(k);
    }

    void panelUpdateBits()
    {
        QFETCH(int, kernel);
        const PanelUpdate::Kernel started = PanelUpdate::kernel();
        QVERIFY(PanelUpdate::setKernel(PanelUpdate::Kernel(kernel)));
        // One tile of six rows, a ragged width, two chunks, one narrow row, one
        // step, every remainder of rows past the tiles.
        const struct { int rows, steps, cols; } cases[] = {{4, 8, 16}, {7, 5, 37}, {130, 64, 50}, {1, 3, 5},
                                                           {9, 1, 33}, {5, 6, 80}, {6, 7, 16}, {11, 9, 40}};
        for (const auto &k : cases) {
            const int rows = k.rows, steps = k.steps, cols = k.cols;
            std::mt19937 gen(uint(rows * 7 + steps * 3 + cols));
            std::uniform_real_distribution<double> dist(-1.0, 1.0);
            const int col0 = 3, n = col0 + cols;
            Matrix c(std::max(n, rows)), u(std::max(n, steps));
            std::vector<double> l(size_t(rows) * size_t(steps)), lower(size_t(steps) * size_t(steps));
            for (auto &v : c.store)
                v = dist(gen);
            for (auto &v : u.store)
                v = dist(gen) * 1e3;
            for (auto &v : l)
                v = dist(gen);
            for (auto &v : lower)
                v = dist(gen);
            auto product = [&](const Matrix &uu) {
                Matrix expected(c);
                for (int r = 0; r < rows; ++r)
                    for (int j = col0; j < n; ++j) {
                        double acc = 0.0;
                        for (int s = 0; s < steps; ++s)
                            acc = std::fma(l[size_t(r) * size_t(steps) + size_t(s)], uu.rows[size_t(s)][j], acc);
                        expected.rows[size_t(r)][j] -= acc;
                    }
                return expected;
            };
            auto applied = [&](PanelUpdate &panel) {
                Matrix out(c);
                panel.apply(out.ptr(), rows, l.data());
                return out.store;
            };
            PanelUpdate panel;
            panel.pack(u.ptr(), steps, col0, n);
            QVERIFY(applied(panel) == product(u).store);
            Matrix solved(u);
            for (int s = 1; s < steps; ++s)
                for (int j = col0; j < n; ++j) {
                    double acc = 0.0;
                    for (int t = 0; t < s; ++t)
                        acc = std::fma(lower[size_t(s) * size_t(steps) + size_t(t)], solved.rows[size_t(t)][j], acc);
                    solved.rows[size_t(s)][j] -= acc;
                }
            const Matrix unsolved(u);
            panel.packSolved(u.ptr(), lower.data(), steps, steps, col0, n);
            QVERIFY(u.store == solved.store);
            QVERIFY(applied(panel) == product(solved).store);
            // Spread over shares of column blocks (run here in reverse):
            // the same rows and the same packed copy.
            for (int count : {2, 3, 7}) {
                Matrix again(unsolved);
                PanelUpdate::Spread spread;
                spread.count = count;
                spread.run = [](int c, const std::function<void(int)> &job) {
                    for (int w = c - 1; w >= 0; --w)
                        job(w);
                };
                PanelUpdate spreadPanel;
                spreadPanel.packSolved(again.ptr(), lower.data(), steps, steps, col0, n, spread);
                QVERIFY(again.store == solved.store);
                QVERIFY(applied(spreadPanel) == product(solved).store);
            }
        }
        PanelUpdate::setKernel(started);
    }
};

QTEST_GUILESS_MAIN(TestReduce)
#include "tst_reduce.moc"
