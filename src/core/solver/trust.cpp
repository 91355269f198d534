#include "trust.h"

#include "solver/ratiostore.h"
#include "solver/panel.h"
#include "solver/ratiopass.h"
#include "solver/solve.h"
#include "threads/workerteam.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

QString shortNumber(double v)
{
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 3);
    return QString::fromLatin1(buf, int(res.ptr - buf));
}

double norm1(const std::vector<double> &v)
{
    double s = 0.0;
    for (double x : v)
        s += std::fabs(x);
    return s;
}

} // namespace

QString SolveTrust::conditionLabel()
{
    return QStringLiteral("condition estimate (1-norm, rows equilibrated)");
}

int SolveTrust::correctDigits() const
{
    if (!bounded())
        return 0;
    if (errorBound == 0.0)
        return 16;
    return std::max(0, std::min(16, int(std::floor(-std::log10(errorBound) + 0.5))));
}

QString SolveTrust::boundText() const
{
    switch (precision) {
    case Bounded:
        if (bounded())
            return QStringLiteral("forward error bound %1 (about %2 correct digits)")
                .arg(shortNumber(errorBound))
                .arg(correctDigits());
        break;
    case NoProgress:
        return QStringLiteral("no forward error bound: the extra-precise refinement did not "
                              "converge");
    case TooIllConditioned:
        return QStringLiteral("no forward error bound: the equations are too ill-conditioned "
                              "for one");
    case NotRefined:
        break;
    }
    return QStringLiteral("no forward error bound: the solution is not trusted");
}

QString SolveTrust::reason() const
{
    if (trusted())
        return QString();
    if (method == NotSolved)
        return QStringLiteral("no solution could be computed");
    if (singular())
        return QStringLiteral("the equations are singular or nearly singular: the %1 is %2")
            .arg(conditionLabel(), shortNumber(condition()));
    return QStringLiteral("the residual is %1 times what double precision allows")
        .arg(shortNumber(hplRatio / kPassRatio));
}

QString SolveTrust::warning() const
{
    if (!digitsLost())
        return QString();
    const QString ill = QStringLiteral("the equations are ill-conditioned (%1 %2)")
                            .arg(conditionLabel(), shortNumber(condition()));
    if (bounded())
        return ill + QStringLiteral(": the extra-precise refinement gives about %1 correct digits")
                         .arg(correctDigits());
    return ill + QStringLiteral(": about %1 of the 16 significant digits may be wrong")
                     .arg(int(std::ceil(-std::log10(rcond))));
}

QString SolveTrust::methodName() const
{
    switch (method) {
    case Specified:
        return elimination.isEmpty() ? QStringLiteral("ordered elimination") : elimination;
    case PartialPivoting:
        return elimination.isEmpty()
                   ? QStringLiteral("partial pivoting (after the ordered elimination failed)")
                   : QStringLiteral("partial pivoting on the processor (after the %1 failed)").arg(elimination);
    default:
        return QStringLiteral("none");
    }
}

namespace Trust {

// Sum and largest magnitude of a row, four lanes at a time.
void rowNorms(const double *row, int n, double *sum, double *max)
{
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    double m0 = 0.0, m1 = 0.0, m2 = 0.0, m3 = 0.0;
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const double v0 = std::fabs(row[j]), v1 = std::fabs(row[j + 1]);
        const double v2 = std::fabs(row[j + 2]), v3 = std::fabs(row[j + 3]);
        s0 += v0;
        s1 += v1;
        s2 += v2;
        s3 += v3;
        m0 = v0 > m0 ? v0 : m0;
        m1 = v1 > m1 ? v1 : m1;
        m2 = v2 > m2 ? v2 : m2;
        m3 = v3 > m3 ? v3 : m3;
    }
    for (; j < n; ++j) {
        const double v = std::fabs(row[j]);
        s0 += v;
        m0 = v > m0 ? v : m0;
    }
    *sum = (s0 + s1) + (s2 + s3);
    *max = std::fmax(std::fmax(m0, m1), std::fmax(m2, m3));
}

namespace {

// Runs of rows whose scale sums are gathered apart and then added in
// order, by backwardError and by estimateRcond alike.
constexpr int kScaleRuns = 16;

// Run `run` of `runs` over n rows starts at this row; the next run's start
// ends it.
inline int runBegin(int n, int run, int runs)
{
    return int((long long)n * run / runs);
}

// Adds a later run's column sums to those of the runs before it.
inline void addRunSums(double *colSum, const double *more, int n)
{
    for (int j = 0; j < n; ++j)
        colSum[j] += more[j];
}

// The norms backwardError gathers over a run of rows.
struct ErrorNorms
{
    double r = 0.0, an = 0.0, xn = 0.0, bn = 0.0;
    double rs = 0.0, ans = 0.0, bns = 0.0;

    // fmax drops NaN, so the residual and the solution keep NaN with
    // comparisons that fail.
    static void keep(double &to, double v)
    {
        if (!(v <= to))
            to = v;
    }
    void add(const ErrorNorms &o)
    {
        keep(r, o.r);
        keep(xn, o.xn);
        an = std::fmax(an, o.an);
        bn = std::fmax(bn, o.bn);
        rs = std::fmax(rs, o.rs);
        ans = std::fmax(ans, o.ans);
        bns = std::fmax(bns, o.bns);
    }
};

// rowMax (may be null) receives the largest magnitude of each row, and
// colSum then the sums of the scaled rows' magnitudes over these rows.
// With residual and norms (both or neither) the rows are not read.
ErrorNorms errorNorms(int n, double *const *a, const double *b, const double *x, int first,
                      int end, double *rowMaxes, double *colSum, const double *residual = nullptr,
                      const RowNorms *norms = nullptr)
{
    ErrorNorms e;
    for (int i = first; i < end; ++i) {
        const double *row = norms ? nullptr : a[i];
        double rowSum = 0.0, rowMax = 0.0;
        if (norms) {
            rowSum = norms->sum[size_t(i)];
            rowMax = norms->max[size_t(i)];
        } else {
            rowNorms(row, n, &rowSum, &rowMax);
        }
        e.an = std::fmax(e.an, rowSum);
        const double ri = std::fabs(residual ? residual[i] : Reduce::dot(row, x, n) - b[i]);
        ErrorNorms::keep(e.r, ri);
        ErrorNorms::keep(e.xn, std::fabs(x[i]));
        e.bn = std::fmax(e.bn, std::fabs(b[i]));
        if (rowMax > 0.0) {
            e.rs = std::fmax(e.rs, ri / rowMax);
            e.ans = std::fmax(e.ans, rowSum / rowMax);
            e.bns = std::fmax(e.bns, std::fabs(b[i]) / rowMax);
            if (rowMaxes && row) {
                rowMaxes[i] = rowMax;
                // The row is still in the cache.
                Reduce::addAbsScaled(colSum, row, 1.0 / rowMax, n);
            }
        }
    }
    return e;
}

} // namespace

namespace {

double backwardErrorOf(int n, double *const *a, const double *b, const double *x, Scales *scales,
                       const ThreadSettings *settings, const double *residual,
                       const RowNorms *norms)
{
    // Plain: r / (|A| |x| + |b|) in the infinity norm. Row-equilibrated: the
    // same with every row divided by its largest coefficient, so that an
    // equation of small size that is badly violated is not hidden by the
    // large ones. The larger of the two counts. One pass over the matrix,
    // which also gathers the scales of the condition estimate.
    if (scales) {
        scales->rowMax.assign(size_t(n), 0.0);
        scales->colSum.assign(size_t(n), 0.0);
    }
    // The rows may be spread over the workers: every norm is a largest
    // value, the same whichever worker finds it. The column sums of the
    // scales are gathered in a fixed number of runs of rows, each into sums
    // of its own, added up in order at the end: the same sums for every
    // worker count.
    const int count = settings && n >= 512
        ? Reduce::workerCount(n, settings->limits, settings->freeProcessors()) : 1;
    const int runs = scales ? std::min(n, kScaleRuns) : std::max(count, 1);
    const int shares = std::max(1, std::min(count, runs));
    std::vector<ErrorNorms> parts(static_cast<size_t>(runs));
    std::vector<double> runSums(scales && runs > 1 ? size_t(runs - 1) * size_t(n) : 0, 0.0);
    auto sumsOf = [&](int run) {
        return run == 0 ? scales->colSum.data() : runSums.data() + size_t(run - 1) * size_t(n);
    };
    Reduce::runPhase(QStringLiteral("Tarvix::check "), shares, [&](int w) {
        const int last = int((long long)runs * (w + 1) / shares);
        for (int run = int((long long)runs * w / shares); run < last; ++run) {
            const int first = runBegin(n, run, runs);
            const int end = runBegin(n, run + 1, runs);
            parts[size_t(run)] = scales
                ? errorNorms(n, a, b, x, first, end, scales->rowMax.data(), sumsOf(run))
                : errorNorms(n, a, b, x, first, end, nullptr, nullptr, residual, norms);
        }
    });
    if (scales) {
        for (int run = 1; run < runs; ++run)
            addRunSums(scales->colSum.data(), sumsOf(run), n);
    }
    ErrorNorms e;
    for (const ErrorNorms &p : parts)
        e.add(p);
    if (std::isnan(e.r) || std::isnan(e.xn) || std::isinf(e.xn))
        return std::numeric_limits<double>::quiet_NaN();
    if (e.r == 0.0)
        return 0.0;
    const double plain = e.r / (e.an * e.xn + e.bn);
    const double scaled = e.rs / (e.ans * e.xn + e.bns);
    return std::fmax(plain, scaled);
}

} // namespace

double backwardError(int n, double *const *a, const double *b, const double *x, Scales *scales,
                     const ThreadSettings *settings)
{
    return backwardErrorOf(n, a, b, x, scales, settings, nullptr, nullptr);
}

double backwardError(int n, const RowNorms &norms, const double *b, const double *x,
                     const double *residual, const ThreadSettings *settings)
{
    if (norms.sum.size() != size_t(n) || norms.max.size() != size_t(n) || !residual)
        return std::numeric_limits<double>::quiet_NaN();
    return backwardErrorOf(n, nullptr, b, x, nullptr, settings, residual, &norms);
}

double hplRatio(double backwardError, int n)
{
    return backwardError / (double(n > 0 ? n : 1) * SolveTrust::kEps);
}

double estimateRcond(int n, double *const *a, const Apply &solve, const Apply &solveTransposed,
                     const Scales *given)
{
    if (n < 1)
        return 0.0;
    // Row scales and the 1-norm of the scaled matrix.
    Scales own;
    if (!given || given->rowMax.size() != size_t(n) || given->colSum.size() != size_t(n)) {
        // The runs of rows of backwardError's scales, so that the sums
        // come out the same wherever they are gathered.
        own.rowMax.assign(size_t(n), 0.0);
        own.colSum.assign(size_t(n), 0.0);
        const int runs = std::min(n, kScaleRuns);
        std::vector<double> more(size_t(runs > 1 ? n : 0));
        for (int run = 0; run < runs; ++run) {
            double *sums = run == 0 ? own.colSum.data() : more.data();
            std::fill(more.begin(), more.end(), 0.0);
            const int end = runBegin(n, run + 1, runs);
            for (int i = runBegin(n, run, runs); i < end; ++i) {
                const double m = Reduce::absMax(a[i], n);
                own.rowMax[size_t(i)] = m;
                if (m > 0.0)
                    Reduce::addAbsScaled(sums, a[i], 1.0 / m, n);
            }
            if (run > 0)
                addRunSums(own.colSum.data(), more.data(), n);
        }
        given = &own;
    }
    const std::vector<double> &rowMax = given->rowMax;
    for (double m : rowMax)
        if (!(m > 0.0) || std::isinf(m))
            return 0.0;
    const double normB = *std::max_element(given->colSum.begin(), given->colSum.end());

    // B = R A with R = 1 / rowMax: B^-1 z = A^-1 (rowMax z), B^-T z = rowMax (A^-T z).
    auto inv = [&](std::vector<double> &v) {
        for (int i = 0; i < n; ++i)
            v[size_t(i)] *= rowMax[size_t(i)];
        solve(v.data());
    };
    auto invT = [&](std::vector<double> &v) {
        solveTransposed(v.data());
        for (int i = 0; i < n; ++i)
            v[size_t(i)] *= rowMax[size_t(i)];
    };

    std::vector<double> x(size_t(n), 1.0 / n), y(x), z(static_cast<size_t>(n));
    inv(y);
    double est = norm1(y);
    for (int iter = 0; iter < 5 && n > 1 && std::isfinite(est); ++iter) {
        for (int i = 0; i < n; ++i)
            z[size_t(i)] = y[size_t(i)] >= 0.0 ? 1.0 : -1.0;
        invT(z);
        int j = 0;
        double zx = 0.0;
        for (int i = 0; i < n; ++i) {
            zx += z[size_t(i)] * x[size_t(i)];
            if (std::fabs(z[size_t(i)]) > std::fabs(z[size_t(j)]))
                j = i;
        }
        if (iter > 0 && std::fabs(z[size_t(j)]) <= zx)
            break;
        std::fill(x.begin(), x.end(), 0.0);
        x[size_t(j)] = 1.0;
        y = x;
        inv(y);
        const double next = norm1(y);
        if (!(next > est)) {
            if (std::isnan(next))
                est = next;
            break;
        }
        est = next;
    }
    // Higham's extra vector guards against the cases that fool the iteration.
    if (n > 1 && std::isfinite(est)) {
        for (int i = 0; i < n; ++i)
            y[size_t(i)] = (i % 2 ? -1.0 : 1.0) * (1.0 + double(i) / (n - 1));
        inv(y);
        est = std::fmax(est, 2.0 * norm1(y) / (3.0 * n));
    }
    if (std::isnan(est))
        return est;
    if (std::isinf(est) || !(normB > 0.0))
        return 0.0;
    return 1.0 / (normB * est);
}

namespace {

// v[i] / the pivot of row i, from the store's copy where it has one.
void dividePivots(int n, double *const *reduced, const RatioStore &ratios, double *v)
{
    if (ratios.pivots.size() == size_t(n)) {
        const double *p = ratios.pivots.data();
        for (int i = 0; i < n; ++i)
            v[i] = v[i] / p[i];
    } else {
        for (int i = 0; i < n; ++i)
            v[i] = v[i] / reduced[i][i];
    }
}

} // namespace

void specifiedSolve(int n, double *const *reduced, const RatioStore &ratios, double *v, int count)
{
    // The steps the right-hand side went through in the solve.
    const QMap<int, int> &rows = ratios.rowExchanges;
    for (auto it = rows.constBegin(); it != rows.constEnd(); ++it)
        std::swap(v[it.key()], v[it.value()]);
    RatioPass::lowerForward(v, n, ratios.lower, &ratios.swaps, count);
    RatioPass::backward(v, n, ratios.dr, count);
    dividePivots(n, reduced, ratios, v);
    const QMap<int, int> &cols = ratios.columnExchanges;
    for (auto it = cols.constEnd(); it != cols.constBegin();) {
        --it;
        std::swap(v[it.key()], v[it.value()]);
    }
}

void specifiedSolveTransposed(int n, double *const *reduced, const RatioStore &ratios, double *v,
                              int count)
{
    // The transposes of the steps above, in reverse order.
    const QMap<int, int> &cols = ratios.columnExchanges;
    for (auto it = cols.constBegin(); it != cols.constEnd(); ++it)
        std::swap(v[it.key()], v[it.value()]);
    dividePivots(n, reduced, ratios, v);
    RatioPass::forward(v, n, ratios.dr);
    RatioPass::lowerBackward(v, n, ratios.lower, &ratios.swaps, count);
    const QMap<int, int> &rows = ratios.rowExchanges;
    for (auto it = rows.constEnd(); it != rows.constBegin();) {
        --it;
        std::swap(v[it.key()], v[it.value()]);
    }
}

bool factorPartialPivoting(int n, double **lu, std::vector<int> &perm,
                           const ThreadSettings &settings)
{
    perm.assign(size_t(n), 0);
    bool regular = true;
    const int block = Solve::defaultBlockSize(n);
    // Two phases a panel: one team of workers serves them all.
    const std::unique_ptr<WorkerTeam> team = WorkerTeam::forSize(
        n > block ? Reduce::workerCount(n, settings.limits, settings.processors) : 1,
        QStringLiteral("Solve::solveEq "));
    for (int k0 = 0; k0 < n; k0 += block) {
        const int k1 = std::min(n, k0 + block);
        // The panel: columns k0..k1-1 over all rows below, on this thread.
        for (int k = k0; k < k1; ++k) {
            int p = k;
            double best = std::fabs(lu[k][k]);
            for (int i = k + 1; i < n; ++i) {
                const double v = std::fabs(lu[i][k]);
                if (v > best) {
                    best = v;
                    p = i;
                }
            }
            perm[size_t(k)] = p;
            std::swap(lu[k], lu[p]);
            const double pivot = lu[k][k];
            if (!(best > 0.0)) {
                // NaN or a column of zeros: nothing to eliminate with.
                regular = false;
                continue;
            }
            const double *pivotRow = lu[k];
            for (int i = k + 1; i < n; ++i) {
                double *row = lu[i];
                const double l = row[k] / pivot;
                row[k] = l;
                if (k + 1 < k1)
                    Reduce::subtractScaled(row + k + 1, pivotRow + k + 1, l, k1 - k - 1);
            }
        }
        if (k1 >= n)
            break;
        // The panel's rows of U right of it, packed; the rows below take
        // the panel's updates as one product, spread over the workers; each
        // element's sum has one order, whatever the split.
        const int kb = k1 - k0;
        std::vector<double> lower(size_t(kb) * size_t(kb), 0.0);
        for (int s = 1; s < kb; ++s)
            for (int t = 0; t < s; ++t)
                lower[size_t(s) * size_t(kb) + size_t(t)] = lu[k0 + s][k0 + t];
        const int rows = n - k1;
        const int count = Reduce::workerCount(rows, settings.limits, settings.processors);
        const PanelUpdate::Spread spread = Reduce::phaseSpread(count, QStringLiteral("Solve::solveEq "));
        PanelUpdate panel;
        panel.packSolved(lu + k0, lower.data(), kb, kb, k1, n, spread);
        const QVector<RowRange> ranges = Reduce::eliminationSplit(n, k1 - 1, count);
        Reduce::runPhase(QStringLiteral("Solve::solveEq "), count, [&](int w) {
            const RowRange &r = ranges.at(w);
            if (r.empty)
                return;
            constexpr int kChunk = 64;
            std::vector<double> l(size_t(kChunk) * size_t(kb));
            for (int i0 = r.first; i0 <= r.last; i0 += kChunk) {
                const int rc = std::min(kChunk, r.last - i0 + 1);
                for (int q = 0; q < rc; ++q)
                    std::copy(lu[i0 + q] + k0, lu[i0 + q] + k1, l.data() + size_t(q) * size_t(kb));
                panel.apply(lu + i0, rc, l.data());
            }
        });
    }
    return regular;
}

void luSolve(int n, double *const *lu, const std::vector<int> &perm, double *v)
{
    for (int k = 0; k < n; ++k)
        std::swap(v[k], v[perm[size_t(k)]]);
    for (int i = 1; i < n; ++i)
        v[i] = v[i] - Reduce::dot(lu[i], v, i);
    for (int i = n - 1; i >= 0; --i)
        v[i] = (v[i] - Reduce::dot(lu[i] + i + 1, v + i + 1, n - i - 1)) / lu[i][i];
}

void luSolveTransposed(int n, double *const *lu, const std::vector<int> &perm, double *v)
{
    for (int i = 0; i < n; ++i) {
        v[i] = v[i] / lu[i][i];
        Reduce::subtractScaled(v + i + 1, lu[i] + i + 1, v[i], n - i - 1);
    }
    for (int i = n - 1; i > 0; --i)
        Reduce::subtractScaled(v, lu[i], v[i], i);
    for (int k = n - 1; k >= 0; --k)
        std::swap(v[k], v[perm[size_t(k)]]);
}

int refine(int n, double *const *a, const double *b, double *x, const Apply &solve, int maxSteps,
           double *error)
{
    double err = backwardError(n, a, b, x);
    std::vector<double> r(static_cast<size_t>(n)), y(static_cast<size_t>(n));
    int steps = 0;
    while (steps < maxSteps && err > 0.0 && std::isfinite(err)) {
        for (int i = 0; i < n; ++i)
            r[size_t(i)] = Reduce::dot(a[i], x, n) - b[i];
        solve(r.data());
        for (int i = 0; i < n; ++i)
            y[size_t(i)] = x[i] - r[size_t(i)];
        ++steps;
        const double next = backwardError(n, a, b, y.data());
        if (!(next < err))
            break;
        std::copy(y.begin(), y.end(), x);
        const bool halved = next <= err * 0.5;
        err = next;
        if (!halved)
            break;
    }
    if (error)
        *error = err;
    return steps;
}

} // namespace Trust
