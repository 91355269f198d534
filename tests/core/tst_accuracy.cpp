// The extra-precise refinement and its forward error bounds, on systems
// whose exact solutions are worked out here in rational arithmetic: the
// classic ill-conditioned families, graded and row-scaled systems and
// random systems of prescribed condition.
#include "solver/panel.h"
#include "solver/precise.h"
#include "solver/solverun.h"
#include "solver/trust.h"
#include "solver/validate.h"
#include "testenv.h"
#include "testutil.h"

#include <QtTest>

#include <gmpxx.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>

namespace {

constexpr double kEps = SolveTrust::kEps;

// The exact solution of the stored system (a, b) (doubles are rationals),
// by elimination in rational arithmetic; empty when it is singular.
std::vector<mpq_class> exactSolution(const Rows &a, const std::vector<double> &b)
{
    const int n = a.size();
    std::vector<std::vector<mpq_class>> m(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            m[size_t(i)].emplace_back(a[i][j]);
        m[size_t(i)].emplace_back(b[size_t(i)]);
    }
    for (int k = 0; k < n; ++k) {
        int p = k;
        while (p < n && m[size_t(p)][size_t(k)] == 0)
            ++p;
        if (p == n)
            return {};
        std::swap(m[size_t(k)], m[size_t(p)]);
        for (int i = k + 1; i < n; ++i) {
            const mpq_class f = m[size_t(i)][size_t(k)] / m[size_t(k)][size_t(k)];
            if (f != 0)
                for (int j = k; j <= n; ++j)
                    m[size_t(i)][size_t(j)] -= f * m[size_t(k)][size_t(j)];
        }
    }
    std::vector<mpq_class> x(static_cast<size_t>(n));
    for (int i = n - 1; i >= 0; --i) {
        x[size_t(i)] = m[size_t(i)][size_t(n)];
        for (int j = i + 1; j < n; ++j)
            x[size_t(i)] -= m[size_t(i)][size_t(j)] * x[size_t(j)];
        x[size_t(i)] /= m[size_t(i)][size_t(i)];
    }
    return x;
}

// Relative errors of v against the exact answer: normwise, and the worst
// over the large components.
std::pair<double, double> errors(const std::vector<double> &v, const std::vector<mpq_class> &exact)
{
    double e = 0.0, size = 0.0, worst = 0.0;
    for (double x : v)
        size = std::fmax(size, std::fabs(x));
    for (size_t i = 0; i < v.size(); ++i) {
        const double ei = std::fabs(mpq_class(mpq_class(v[i]) - exact[i]).get_d());
        e = std::fmax(e, ei);
        if (std::fabs(v[i]) >= Precise::kLargeShare * size)
            worst = std::fmax(worst, ei / std::fabs(v[i]));
    }
    return {e / size, worst};
}

mpz_class binomial(unsigned n, unsigned k)
{
    mpz_class c;
    mpz_bin_uiui(c.get_mpz_t(), n, k);
    return c;
}

Rows square(int n, const std::function<double(int, int)> &f)
{
    Rows r(n, QVector<double>(n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            r[i][j] = f(i, j);
    return r;
}

// Q1 diag(s) Q2 with Q1, Q2 products of three random reflections and s
// falling geometrically from 1 to 1 / condition.
Rows prescribed(int n, double condition, std::mt19937 &gen)
{
    std::normal_distribution<double> normal;
    auto orthogonal = [&] {
        Rows q = square(n, [](int i, int j) { return i == j ? 1.0 : 0.0; });
        for (int r = 0; r < 3; ++r) {
            std::vector<double> v(static_cast<size_t>(n));
            double vv = 0.0;
            for (double &e : v) {
                e = normal(gen);
                vv += e * e;
            }
            for (int i = 0; i < n; ++i) {
                double d = 0.0;
                for (int j = 0; j < n; ++j)
                    d += q[i][j] * v[size_t(j)];
                for (int j = 0; j < n; ++j)
                    q[i][j] -= 2.0 * d / vv * v[size_t(j)];
            }
        }
        return q;
    };
    const Rows q1 = orthogonal(), q2 = orthogonal();
    return square(n, [&](int i, int j) {
        double s = 0.0;
        for (int k = 0; k < n; ++k)
            s += q1[i][k] * std::pow(condition, -double(k) / (n - 1)) * q2[k][j];
        return s;
    });
}

} // namespace

class TestAccuracy : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;

private slots:
    void initTestCase() { m_env.reset(new TestEnv(2)); }

    // Systems with their condition numbers (about; from the literature or
    // by construction; 0: not known) and the outcome expected (status 0 or
    // 1, -1 either; invalid systems must be -1). An answer reported as good
    // must be good, the same for one and for three workers: a passing HPL
    // ratio, below condition 1e14 an error within a few eps and a bound,
    // and any bound given must hold. A singular system must be refused
    // with the reason; pivoted: partial pivoting must have been needed.
    void families_data()
    {
        QTest::addColumn<Rows>("a");
        QTest::addColumn<QVector<double>>("x");   // b = a x; empty, {-1}: singular, consistent or not
        QTest::addColumn<double>("condition");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("pivoted");
        std::mt19937 gen(2026);
        std::uniform_real_distribution<double> real(-1.0, 1.0);
        std::uniform_int_distribution<int> digit(-9, 9), small(-4, 4), keep(0, 9);
        auto integers = [&](int n) {
            QVector<double> x(n);
            for (double &v : x)
                v = digit(gen);
            return x;
        };
        auto reals = [&](int n) {
            QVector<double> x(n);
            for (double &v : x)
                v = real(gen) * 100.0;
            return x;
        };
        auto random = [&](int n) { return square(n, [&](int, int) { return real(gen); }); };
        auto add = [](const QString &name, const Rows &a, const QVector<double> &x, double condition,
                      int expected = 0, bool pivoted = false) {
            QTest::newRow(qPrintable(name)) << a << x << condition << expected << pivoted;
        };
        for (int n = 6; n <= 14; ++n)
            add(QStringLiteral("Hilbert %1").arg(n), square(n, [](int i, int j) { return 1.0 / (i + j + 1); }),
                reals(n), std::pow(10.0, 1.5 * n - 1.5), n <= 10 ? 0 : n >= 13 ? 1 : -1);
        add("Lotkin 10", square(10, [](int i, int j) { return i == 0 ? 1.0 : 1.0 / (i + j + 1); }), reals(10), 2.8e13);
        for (int n : {8, 12, 14})
            add(QStringLiteral("Pascal %1").arg(n),
                square(n, [](int i, int j) { return binomial(unsigned(i + j), unsigned(i)).get_d(); }), integers(n),
                std::pow(16.0, n) / (n * M_PI));
        add("inverse Hilbert 8", square(8, [](int i0, int j0) {
            const unsigned n = 8, i = unsigned(i0) + 1, j = unsigned(j0) + 1;
            mpz_class v = binomial(n + i - 1, n - j) * binomial(n + j - 1, n - i) * binomial(i + j - 2, i - 1)
                          * binomial(i + j - 2, i - 1) * (i + j - 1);
            return ((i + j) % 2 ? -1.0 : 1.0) * v.get_d();
        }), integers(8), 1.5e10);
        for (int n : {12, 16})
            add(QStringLiteral("Frank %1").arg(n),
                square(n, [n](int i, int j) { return j >= i - 1 ? double(n - std::max(i, j)) : 0.0; }), integers(n),
                n == 16 ? 2.3e14 : 1e10);
        // Rows s^i (1, -c, -c, ...) with c = 0.9: the inverse grows as 1.9^n.
        add("Kahan 30", square(30, [](int i, int j) {
            const double c = 0.9, s = std::sqrt(1.0 - c * c);
            return j < i ? 0.0 : std::pow(s, i) * (j == i ? 1.0 : -c);
        }), reals(30), 2e9);
        // Columns from 1 to 1e12: the answer's components from 1 to 1e-12.
        add("graded 20", square(20, [&](int, int j) { return real(gen) * std::pow(10.0, 12.0 * j / 19); }), reals(20), 1e13);
        // Row 0 is e0 - c / (1 + c) (1, ..., 1), c = 1e9: the inverse's first
        // row is c (1, ..., 1) + e0, so the condition by rows is about n / 2 times
        // that by columns, which the estimate measures.
        add("heavy inverse row 20", square(20, [&](int i, int j) {
            return (i == j ? 1.0 : 0.0) + (i == 0 ? -1e9 / (1 + 1e9) : j > i ? 1e-3 * real(gen) : 0.0); }), reals(20), 4e11);
        Rows scaled = prescribed(16, 1e10, gen);   // rows from 1e-8 to 1e8
        for (int i = 0; i < 16; ++i)
            for (double &v : scaled[i])
                v *= std::pow(10.0, -8.0 + i);
        add("row-scaled 16", scaled, reals(16), 1e10);
        for (double c : {1e4, 1e8, 1e12, 1e14, 1e15, 1e17})
            add(QStringLiteral("prescribed %1 n=12").arg(c), prescribed(12, c, gen), reals(12), c, c > 1e16 ? 1 : 0);
        add("prescribed 2e13 n=50", prescribed(50, 2e13, gen), reals(50), 2e13);

        add("hand-typed 3x3", Rows{{5.7, 74.1, 1}, {74.1, 963.3, 2}, {1, 2, 3}}, QVector<double>(3, 1.0), 0);
        for (int n : {4, 12, 40}) {
            Rows r = random(n);
            r[0][0] = 2e-15;   // growth too much for the ordered elimination
            add(QStringLiteral("tiny leading pivot n=%1").arg(n), r, reals(n), 0, 0, true);
            // Row 1 is a multiple of row 0 but for its last entry, so the
            // second pivot is a rounding residue.
            r = random(n);
            for (int j = 0; j + 1 < n; ++j)
                r[1][j] = 13.1 * r[0][j];
            add(QStringLiteral("hidden pivot n=%1").arg(n), r, reals(n), 0);
            r = random(n);   // rows from 1e-4 to 1e12
            for (int i = 0; i < n; ++i)
                for (double &v : r[i])
                    v *= std::pow(10.0, -4 + (i * 16) / n);
            add(QStringLiteral("row-scaled n=%1").arg(n), r, reals(n), 0, -1);
            add(QStringLiteral("plain random n=%1").arg(n), random(n), reals(n), 0);
        }
        // Permuted diagonals: each row has its one value in another column.
        for (int n : {5, 17}) {
            std::vector<int> p(static_cast<size_t>(n));
            std::iota(p.begin(), p.end(), 0);
            std::shuffle(p.begin(), p.end(), gen);
            add(QStringLiteral("permuted n=%1").arg(n),
                square(n, [&](int i, int j) { return j == p[size_t(i)] ? 1.0 + i : 0.0; }), reals(n), 0);
            add(QStringLiteral("anti-diagonal n=%1").arg(n),
                square(n, [n](int i, int j) { return j == n - 1 - i ? -2.0 - i : 0.0; }), reals(n), 0);
        }
        // Sparse integer systems; either outcome, never a silent wrong one.
        for (int k = 0; k < 24; ++k)
            add(QStringLiteral("sparse integer %1").arg(k),
                square(37, [&](int, int) { return keep(gen) < 3 ? double(small(gen)) : 0.0; }), reals(37), 0, -1);
        // Row 2 is the sum of rows 0 and 1: consistent and inconsistent.
        for (int n : {3, 9}) {
            Rows r = random(n);
            for (int j = 0; j < n; ++j)
                r[2][j] = r[0][j] + r[1][j];
            add(QStringLiteral("singular consistent n=%1").arg(n), r, {}, 0, 1);
            add(QStringLiteral("singular inconsistent n=%1").arg(n), r, {-1}, 0, 1);
        }
    }
    void families()
    {
        QFETCH(Rows, a);
        QFETCH(QVector<double>, x);
        QFETCH(double, condition);
        QFETCH(int, expected);
        QFETCH(bool, pivoted);
        const int n = a.size();
        Matrix m(a);
        std::vector<double> b(static_cast<size_t>(n), 0.0);
        for (int i = 0; i < n; ++i) {
            if (x.size() == n) {
                for (int j = 0; j < n; ++j)
                    b[size_t(i)] += a[i][j] * x[j];   // exact for the integer families
            } else {
                b[size_t(i)] = i == 2 ? b[0] + b[1] + (x.isEmpty() ? 0.0 : 1.0) : 1.0 + i;
            }
        }
        std::vector<int> zeros(static_cast<size_t>(n));
        if (!Validate::check(n, m.ptr(), b.data(), zeros.data()).valid()) {
            QCOMPARE(expected, -1);
            return;
        }
        ThreadSettings one, many;
        one.limits = {5};
        many.processors = 3;
        many.limits = {0, 1, 2};   // three workers for every phase
        std::vector<double> sol(static_cast<size_t>(n)), sol3(static_cast<size_t>(n));
        SolveTrust trust, trust3;
        const int status = solveArrays(n, m.ptr(), b.data(), zeros.data(), sol.data(), nullptr, one, nullptr, &trust);
        const int status3 = solveArrays(n, m.ptr(), b.data(), zeros.data(), sol3.data(), nullptr, many, nullptr, &trust3);
        QCOMPARE(status3, status);
        QVERIFY(std::memcmp(sol.data(), sol3.data(), sizeof(double) * size_t(n)) == 0);
        QCOMPARE(int(trust3.method), int(trust.method));
        QCOMPARE(status, trust.trusted() ? 0 : 1);
        const QByteArray what = QStringLiteral("status %1, bound %2, component bound %3, steps %4, condition "
                                               "estimate %5: %6 %7")
                                    .arg(status).arg(trust.errorBound).arg(trust.componentBound)
                                    .arg(trust.preciseSteps).arg(trust.condition())
                                    .arg(trust.reason(), trust.boundText()).toUtf8();
        QVERIFY2(expected < 0 || status == expected, what.constData());
        if (pivoted)
            QCOMPARE(int(trust.method), int(SolveTrust::PartialPivoting));
        if (expected == 0 && !pivoted && trust.rcond > 1e-6)
            QCOMPARE(int(trust.method), int(SolveTrust::Specified));
        if (status != 0) {
            QVERIFY2(!trust.reason().isEmpty() && !trust.bounded(), what.constData());
            return;
        }
        QVERIFY(trust.hplRatio < 16.0);
        // The answer's own, up to the rounding of a residual in double.
        QVERIFY(std::fabs(Trust::backwardError(n, m.ptr(), b.data(), sol.data()) - trust.backwardError)
                <= 2 * n * kEps);
        const std::vector<mpq_class> exact = exactSolution(a, b);
        QVERIFY2(!exact.empty(), what.constData());   // a singular system reported as solved

        const auto [err, worstComponent] = errors(sol, exact);
        const QByteArray found = what + QStringLiteral("; error %1, component error %2").arg(err).arg(worstComponent).toUtf8();
        if (condition > 0.0 && condition < 1e14)
            QVERIFY2(trust.bounded() && err <= 4 * kEps && trust.correctDigits() >= 14, found.constData());
        if (trust.bounded())
            QVERIFY2(err <= trust.errorBound, found.constData());
        else   // forward error <= condition x backward error, with room for the estimate
            QVERIFY2(err <= 1e3 * n * kEps * trust.condition(), found.constData());
        if (condition > 0.0 && condition < 1e8) // one correction, checked by one more residual
            QVERIFY2(trust.preciseSteps == 1, found.constData());
        if (trust.componentBound >= 0.0)
            QVERIFY2(worstComponent <= trust.componentBound, found.constData());
    }

    // The refinement's guards, with corrections that are off by a factor:
    // f = 0.6 shrinks the error by 0.4 a step, slower than the last digit
    // needs in the steps allowed; 0.3 by only 0.7, too slow to call
    // progress; -1 doubles it. An answer whose residual grows stays as it
    // was; a bound that is given holds. From an answer off by only 1e-13 one
    // exact correction is enough, and the residual after it shows that one
    // 10% short is not.
    void guards_data()
    {
        QTest::addColumn<double>("f");
        QTest::addColumn<double>("off");
        QTest::addColumn<double>("rcond");
        QTest::addColumn<int>("state");
        QTest::newRow("exact") << 1.0 << 1e-6 << 1e-6 << int(SolveTrust::Bounded);
        QTest::newRow("slow") << 0.6 << 1e-6 << 1e-6 << int(SolveTrust::Bounded);
        QTest::newRow("too slow") << 0.3 << 1e-6 << 1e-6 << int(SolveTrust::NoProgress);
        QTest::newRow("diverging") << -1.0 << 1e-6 << 1e-6 << int(SolveTrust::NoProgress);
        QTest::newRow("past the condition") << 1.0 << 1e-6 << 1e-16 << int(SolveTrust::TooIllConditioned);
        QTest::newRow("close, exact") << 1.0 << 1e-13 << 1e-6 << int(SolveTrust::Bounded);
        QTest::newRow("close, short") << 0.9 << 1e-13 << 1e-6 << int(SolveTrust::Bounded);
    }
    void guards()
    {
        QFETCH(double, f);
        QFETCH(double, off);
        QFETCH(double, rcond);
        QFETCH(int, state);
        const int n = 10;
        std::mt19937 gen(5);
        const Rows rows = prescribed(n, 1e6, gen);
        std::vector<double> b(static_cast<size_t>(n), 1.0);
        const std::vector<mpq_class> exact = exactSolution(rows, b);
        Matrix a(rows), lu(rows);
        std::vector<int> perm;
        ThreadSettings one;
        one.limits = {5};
        QVERIFY(Trust::factorPartialPivoting(n, lu.ptr(), perm, one));
        std::vector<double> x(b);
        Trust::luSolve(n, lu.ptr(), perm, x.data());
        for (int i = 0; i < n; ++i)
            x[size_t(i)] *= 1.0 + off * (i % 3 - 1);
        const std::vector<double> before(x);
        auto refine = [&](std::vector<double> &v) {
            return Precise::refine(n, a.ptr(), b.data(), v.data(), [&](double *c) {
                Trust::luSolve(n, lu.ptr(), perm, c);
                for (int i = 0; i < n; ++i)
                    c[i] *= f;
            }, rcond, 1);
        };
        const Precise::Outcome out = refine(x);
        // The residuals come out the same on every instruction set.
        const PanelUpdate::Kernel started = PanelUpdate::kernel();
        for (PanelUpdate::Kernel k : PanelUpdate::supportedKernels()) {
            QVERIFY(PanelUpdate::setKernel(k));
            std::vector<double> y(before);
            const Precise::Outcome other = refine(y);
            QVERIFY2(std::memcmp(y.data(), x.data(), sizeof(double) * size_t(n)) == 0
                         && other.steps == out.steps
                         && std::memcmp(&other.errorBound, &out.errorBound, sizeof(double)) == 0,
                     PanelUpdate::kernelName(k));
        }
        PanelUpdate::setKernel(started);
        const QByteArray what = QStringLiteral("state %1, steps %2, error %3 (was %4), bound %5")
                                    .arg(out.state).arg(out.steps).arg(errors(x, exact).first)
                                    .arg(errors(before, exact).first)
                                    .arg(out.errorBound).toUtf8();
        QVERIFY2(out.state == state, what.constData());
        QVERIFY2(f == 1.0 && off < 1e-10 ? out.steps == 1 : out.steps >= 2 && out.steps <= Precise::kMaxSteps,
                 what.constData());
        QCOMPARE(out.replaced, f > 0.0);
        if (!out.replaced)
            QVERIFY(x == before);
        else
            QVERIFY2(errors(x, exact).first < errors(before, exact).first, what.constData());
        QCOMPARE(out.errorBound >= 0.0, state == SolveTrust::Bounded);
        if (state == SolveTrust::Bounded)
            QVERIFY2(errors(x, exact).first <= out.errorBound && errors(x, exact).second <= out.componentBound,
                     what.constData());
        if (f == 1.0)
            QVERIFY2(errors(x, exact).first <= 2 * kEps, what.constData());
    }
};

QTEST_GUILESS_MAIN(TestAccuracy)
#include "tst_accuracy.moc"
