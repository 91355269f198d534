#include "precise.h"

#include "solver/panel.h"
#include "solver/reduce.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace {

// s + e = a + b exactly (s the rounded sum).
inline void twoSum(double a, double b, double &s, double &e)
{
    s = a + b;
    const double bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// Eight lanes of exact products and compensated sums (element j in lane
// j % 8, those past the last full eight in lane 0), then the lanes in one
// order: the vector and the plain variants give the same bits. The first
// pass has no tail and gathers the row's scales instead.
constexpr int kLanes = 8;

struct Lanes
{
    alignas(32) double hi[kLanes] = {};
    alignas(32) double lo[kLanes] = {};
    alignas(32) double tl[kLanes] = {};   // tails, or the first pass's sums of magnitudes
    alignas(32) double mx[kLanes] = {};
};

// What one row gives: the residual of head + tail, that of head alone and,
// in the first pass, the row's largest magnitude and sum of magnitudes.
struct RowOut
{
    double residual = 0.0;
    double headResidual = 0.0;
    double max = 0.0;
    double sum = 0.0;
};

template <bool First>
inline void addElement(Lanes &l, int q, double a, double x, double t)
{
    const double p = a * x;
    const double pe = std::fma(a, x, -p);
    double s, e;
    twoSum(l.hi[q], p, s, e);
    l.hi[q] = s;
    l.lo[q] += e + pe;
    if (First) {
        const double m = std::fabs(a);
        l.mx[q] = m > l.mx[q] ? m : l.mx[q];
        l.tl[q] += m;
    } else {
        l.tl[q] = std::fma(a, t, l.tl[q]);
    }
}

// The elements from j on, then b - the lanes' sum.
template <bool First>
void finishRow(Lanes &l, const double *a, int j, int n, double b, const double *head,
               const double *tail, RowOut &out)
{
    for (; j < n; ++j)
        addElement<First>(l, 0, a[j], head[j], First ? 0.0 : tail[j]);
    double sh = l.hi[0];
    double sl = ((l.lo[0] + l.lo[1]) + (l.lo[2] + l.lo[3])) + ((l.lo[4] + l.lo[5]) + (l.lo[6] + l.lo[7]));
    for (int q = 1; q < kLanes; ++q) {
        double s, e;
        twoSum(sh, l.hi[q], s, e);
        sh = s;
        sl += e;
    }
    const double t = ((l.tl[0] + l.tl[1]) + (l.tl[2] + l.tl[3])) + ((l.tl[4] + l.tl[5]) + (l.tl[6] + l.tl[7]));
    double r, e;
    twoSum(b, -sh, r, e);
    out.headResidual = r + (e - sl);
    if (First) {
        out.residual = out.headResidual;
        out.sum = t;
        for (double v : l.mx)
            out.max = v > out.max ? v : out.max;
    } else {
        out.residual = r + ((e - sl) - t);
    }
}

template <bool First>
__attribute__((target("avx2,fma"))) void rowFma(const double *a, int n, double b,
                                                const double *head, const double *tail,
                                                RowOut &out)
{
    const __m256d zero = _mm256_setzero_pd();
    const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
    __m256d h[2] = {zero, zero}, lo[2] = {zero, zero}, tl[2] = {zero, zero}, mx[2] = {zero, zero};
    int j = 0;
    for (; j + kLanes <= n; j += kLanes) {
        for (int v = 0; v < 2; ++v) {
            const __m256d av = _mm256_loadu_pd(a + j + 4 * v);
            const __m256d xv = _mm256_loadu_pd(head + j + 4 * v);
            const __m256d p = _mm256_mul_pd(av, xv);
            const __m256d pe = _mm256_fmsub_pd(av, xv, p);
            const __m256d s = _mm256_add_pd(h[v], p);
            const __m256d bb = _mm256_sub_pd(s, h[v]);
            const __m256d e = _mm256_add_pd(_mm256_sub_pd(h[v], _mm256_sub_pd(s, bb)),
                                            _mm256_sub_pd(p, bb));
            h[v] = s;
            lo[v] = _mm256_add_pd(lo[v], _mm256_add_pd(e, pe));
            if (First) {
                const __m256d m = _mm256_and_pd(av, absMask);
                mx[v] = _mm256_max_pd(mx[v], m);
                tl[v] = _mm256_add_pd(tl[v], m);
            } else {
                tl[v] = _mm256_fmadd_pd(av, _mm256_loadu_pd(tail + j + 4 * v), tl[v]);
            }
        }
    }
    Lanes l;
    for (int v = 0; v < 2; ++v) {
        _mm256_store_pd(l.hi + 4 * v, h[v]);
        _mm256_store_pd(l.lo + 4 * v, lo[v]);
        _mm256_store_pd(l.tl + 4 * v, tl[v]);
        _mm256_store_pd(l.mx + 4 * v, mx[v]);
    }
    finishRow<First>(l, a, j, n, b, head, tail, out);
}

// The same with the eight lanes in one wide vector.
template <bool First>
__attribute__((target("avx512f"))) void rowWide(const double *a, int n, double b,
                                                const double *head, const double *tail,
                                                RowOut &out)
{
    __m512d h = _mm512_setzero_pd(), lo = h, tl = h, mx = h;
    int j = 0;
    for (; j + kLanes <= n; j += kLanes) {
        const __m512d av = _mm512_loadu_pd(a + j);
        const __m512d xv = _mm512_loadu_pd(head + j);
        const __m512d p = _mm512_mul_pd(av, xv);
        const __m512d pe = _mm512_fmsub_pd(av, xv, p);
        const __m512d s = _mm512_add_pd(h, p);
        const __m512d bb = _mm512_sub_pd(s, h);
        const __m512d e = _mm512_add_pd(_mm512_sub_pd(h, _mm512_sub_pd(s, bb)), _mm512_sub_pd(p, bb));
        h = s;
        lo = _mm512_add_pd(lo, _mm512_add_pd(e, pe));
        if (First) {
            const __m512d m = _mm512_abs_pd(av);
            mx = _mm512_maskz_max_pd(0xff, mx, m); // (the unmasked one trips a warning)
            tl = _mm512_add_pd(tl, m);
        } else {
            tl = _mm512_fmadd_pd(av, _mm512_loadu_pd(tail + j), tl);
        }
    }
    Lanes l;
    _mm512_storeu_pd(l.hi, h);
    _mm512_storeu_pd(l.lo, lo);
    _mm512_storeu_pd(l.tl, tl);
    _mm512_storeu_pd(l.mx, mx);
    finishRow<First>(l, a, j, n, b, head, tail, out);
}

template <bool First>
void rowPlain(const double *a, int n, double b, const double *head, const double *tail, RowOut &out)
{
    Lanes l;
    int j = 0;
    for (; j + kLanes <= n; j += kLanes)
        for (int q = 0; q < kLanes; ++q)
            addElement<First>(l, q, a[j + q], head[j + q], First ? 0.0 : tail[j + q]);
    finishRow<First>(l, a, j, n, b, head, tail, out);
}

// Every row's residuals; the first pass (tail all zero) gathers the rows'
// scales too. Each row is one worker's, its sums the same whoever takes it.
void residuals(int n, double *const *a, const double *b, const double *head, const double *tail,
               RowOut *out, bool first, int count)
{
    // The instructions the elimination's update runs on (all give the
    // same bits).
    const PanelUpdate::Kernel unit = PanelUpdate::kernel();
    auto row = unit == PanelUpdate::Kernel::Avx512 ? (first ? rowWide<true> : rowWide<false>)
               : unit == PanelUpdate::Kernel::Avx2 ? (first ? rowFma<true> : rowFma<false>)
                                                   : (first ? rowPlain<true> : rowPlain<false>);
    constexpr int kRun = 8;
    std::atomic<int> next{0};
    auto job = [&](int) {
        for (int i = next.fetch_add(kRun); i < n; i = next.fetch_add(kRun)) {
            const int end = std::min(n, i + kRun);
            for (int r = i; r < end; ++r)
                row(a[r], n, b[r], head, tail, out[r]);
        }
    };
    if (count > 1)
        Reduce::runPhase(QStringLiteral("Tarvix::precise "), count, job);
    else
        job(0);
}

double maxAbs(const std::vector<double> &v)
{
    double m = 0.0;
    for (double x : v) {
        const double a = std::fabs(x);
        if (!(a <= m))
            m = a; // NaN sticks
    }
    return m;
}

enum State { Working, Converged, Stalled, Unstable };

} // namespace

namespace Precise {

double boundFloor(int n)
{
    return std::max(10.0, std::sqrt(double(n > 0 ? n : 1))) * SolveTrust::kEps;
}

Outcome refine(int n, double *const *a, const double *b, double *x, const Trust::Apply &solve,
               double rcond, int count)
{
    Outcome out;
    if (n < 1)
        return out;
    const size_t m = size_t(n);
    std::vector<double> head(x, x + n), tail(m, 0.0), rowMax(m), rowSum(m), dy(m);
    std::vector<RowOut> rows(m);
    constexpr double eps = SolveTrust::kEps;
    // How far the residual is from zero: plainly, and each row against its
    // largest coefficient.
    auto measure = [&](double &plain, double &scaled) {
        plain = 0.0;
        scaled = 0.0;
        for (size_t i = 0; i < m; ++i) {
            const double v = std::fabs(rows[i].residual);
            const double w = rowMax[i] > 0.0 ? v / rowMax[i] : v;
            if (!(v <= plain))
                plain = v;
            if (!(w <= scaled))
                scaled = w;
        }
    };
    const double floor = boundFloor(n);
    // The share of its error a correction is expected to leave.
    const double shrink = rcond > 0.0 ? kPredictMargin * n * eps / rcond : HUGE_VAL;
    const double solveError = std::fmin(0.5, n * eps / rcond);
    double rowNorm = 0.0; // the largest row sum of the row-equilibrated matrix
    double firstPlain = 0.0, firstScaled = 0.0, lastPlain = 0.0, lastScaled = 0.0;
    double prevDx = HUGE_VAL, prevDz = HUGE_VAL, dxRatMax = 0.0, dzRatMax = 0.0;
    double dxx = HUGE_VAL, dzz = HUGE_VAL, finalDx = HUGE_VAL, finalDz = HUGE_VAL;
    double left = HUGE_VAL; // the error a confirmed correction left, relative
    State xs = Working, zs = Unstable;
    bool updated = false, predicted = false, confirmed = false;
    for (int pass = 1;; ++pass) {
        residuals(n, a, b, head.data(), tail.data(), rows.data(), pass == 1, count);
        if (pass == 1) {
            for (size_t i = 0; i < m; ++i) {
                rowMax[i] = rows[i].max;
                rowSum[i] = rows[i].sum;
                if (rowMax[i] > 0.0)
                    rowNorm = std::fmax(rowNorm, rowSum[i] / rowMax[i]);
            }
        }
        measure(lastPlain, lastScaled);
        if (pass == 1) {
            firstPlain = lastPlain;
            firstScaled = lastScaled;
        }
        // The correction just made was expected to leave the answer within
        // the least bound. Its residual bounds the error left: at most the
        // inverse's norm, the condition over the row-equilibrated matrix's,
        // times the residual's (with the estimate taken kPredictMargin times
        // over). Where that is not within the bound, the next step goes on.
        if (predicted) {
            const double normF = maxAbs(head);
            left = kPredictMargin * lastScaled / (rcond * rowNorm * normF);
            confirmed = left / (1.0 - solveError) + eps <= floor;
            if (confirmed)
                break;
            predicted = false;
        }
        const int step = ++out.steps;
        for (size_t i = 0; i < m; ++i)
            dy[i] = rows[i].residual;
        solve(dy.data());
        const double normX = maxAbs(head);
        const double normDx = maxAbs(dy);
        if (!std::isfinite(normX) || !std::isfinite(normDx)) {
            xs = zs = Stalled;
            break;
        }
        dxx = normX > 0.0 ? normDx / normX : (normDx > 0.0 ? HUGE_VAL : 0.0);
        dzz = 0.0;
        for (size_t i = 0; i < m; ++i) {
            const double h = std::fabs(head[i]);
            if (h > 0.0 && h >= kLargeShare * normX)
                dzz = std::fmax(dzz, std::fabs(dy[i]) / h);
        }
        const double dxRat = normDx / prevDx;
        const double dzRat = dzz / prevDz;

        // Normwise: converged once the correction is below the last digit;
        // stalled while the corrections do not shrink.
        if (xs == Stalled && dxRat <= kStallRatio)
            xs = Working;
        if (xs == Working) {
            if (dxx <= eps)
                xs = Converged;
            else if (dxRat > kStallRatio)
                xs = Stalled;
            else
                dxRatMax = std::fmax(dxRatMax, dxRat);
            if (xs != Working)
                finalDx = dxx;
        }
        // Componentwise, over the large components: the same once the
        // corrections are below a quarter of each.
        if (zs == Unstable && dzz <= 0.25)
            zs = Working;
        if (zs == Stalled && dzRat <= kStallRatio)
            zs = Working;
        if (zs == Working) {
            if (dzz <= eps) {
                zs = Converged;
            } else if (dzz > 0.25) {
                zs = Unstable;
                dzRatMax = 0.0;
                finalDz = HUGE_VAL;
            } else if (dzRat > kStallRatio) {
                zs = Stalled;
            } else {
                dzRatMax = std::fmax(dzRatMax, dzRat);
            }
            if (zs == Converged || zs == Stalled)
                finalDz = dzz;
        }
        const bool zDone = zs == Converged || zs == Stalled || (zs == Unstable && step > 1);
        // The last correction is left out: it only estimates the error.
        if ((xs != Working && zDone) || step >= kMaxSteps)
            break;
        // Where the condition says this correction leaves too little error
        // for another one to lower the bound, the next pass only checks it.
        const double ratio = std::fmax(shrink, dxRatMax);
        predicted = xs == Working && zs != Unstable && ratio <= kPredictShrink
                    && ratio * dxx / ((1.0 - ratio) * (1.0 - solveError)) + eps <= floor;
        for (size_t i = 0; i < m; ++i) {
            double s, e;
            twoSum(head[i], dy[i], s, e);
            e += tail[i];
            head[i] = s + e;
            tail[i] = e - (head[i] - s);
        }
        updated = true;
        prevDx = normDx;
        prevDz = dzz;
    }
    if (confirmed) {
        // No more corrections: the error bound is the one the residual gave;
        // a large component's, that over the smallest large component.
        const double normF = maxAbs(head);
        double smallest = normF;
        for (size_t i = 0; i < m; ++i) {
            const double h = std::fabs(head[i]);
            if (h > 0.0 && h >= kLargeShare * normF)
                smallest = std::fmin(smallest, h);
        }
        xs = Converged;
        finalDx = left;
        dxRatMax = 0.0;
        if (zs == Working || zs == Converged) {
            zs = Converged;
            finalDz = smallest > 0.0 ? left * normF / smallest : HUGE_VAL;
            dzRatMax = 0.0;
        }
    }
    // Out of steps while the corrections still shrink: the last one counts.
    if (xs == Working)
        finalDx = dxx;
    if (zs == Working)
        finalDz = dzz;

    double normBound = std::numeric_limits<double>::quiet_NaN();
    double compBound = normBound;
    if (xs == Stalled) {
        out.state = SolveTrust::NoProgress;
    } else if (!(rcond >= floor)) {
        // Past 1 / floor the condition leaves nothing to bound.
        out.state = SolveTrust::TooIllConditioned;
    } else {
        out.state = SolveTrust::Bounded;
        // The next corrections shrink at least as fast as the ones seen: their
        // sum is at most the last over 1 - the largest ratio. The last one
        // itself is off by up to about n eps times the condition, and
        // rounding the head and tail to one double adds at most eps / 2.
        normBound = std::fmax(floor, finalDx / ((1.0 - dxRatMax) * (1.0 - solveError)) + eps);
        if (zs == Converged || zs == Working)
            compBound =
                std::fmax(floor, finalDz / ((1.0 - dzRatMax) * (1.0 - solveError)) + eps);
    }

    // The refined answer (head and tail) replaces x only when its residual
    // is smaller; x then takes it rounded.
    const bool better = updated && lastPlain <= firstPlain && lastScaled <= firstScaled
                        && (lastPlain < firstPlain || lastScaled < firstScaled);
    if (better) {
        std::copy(head.begin(), head.end(), x);
        out.replaced = true;
        // Its backward error, from the last pass's residuals of the head.
        double r = 0.0, rs = 0.0, an = 0.0, ans = 0.0, bn = 0.0, bns = 0.0;
        const double xn = maxAbs(head);
        for (size_t i = 0; i < m; ++i) {
            const double ri = std::fabs(rows[i].headResidual), bi = std::fabs(b[i]);
            r = std::fmax(r, ri);
            an = std::fmax(an, rowSum[i]);
            bn = std::fmax(bn, bi);
            if (rowMax[i] > 0.0) {
                rs = std::fmax(rs, ri / rowMax[i]);
                ans = std::fmax(ans, rowSum[i] / rowMax[i]);
                bns = std::fmax(bns, bi / rowMax[i]);
            }
        }
        out.backwardError = r == 0.0 ? 0.0 : std::fmax(r / (an * xn + bn), rs / (ans * xn + bns));
    } else if (updated && out.state == SolveTrust::Bounded) {
        // x stays: its error is its distance to the refined answer and
        // that answer's own.
        const double normF = maxAbs(head), refined = normBound;
        double normX = 0.0, diff = 0.0;
        for (size_t i = 0; i < m; ++i) {
            normX = std::fmax(normX, std::fabs(x[i]));
            diff = std::fmax(diff, std::fabs(x[i] - (head[i] + tail[i])));
        }
        normBound = normX > 0.0 ? std::fmax(floor, (diff + refined * normF) / normX) : refined;
        if (!std::isnan(compBound)) {
            double worst = 0.0;
            for (size_t i = 0; i < m; ++i) {
                const double xi = std::fabs(x[i]);
                if (!(xi > 0.0 && xi >= kLargeShare * normX))
                    continue;
                const double h = std::fabs(head[i]);
                const double own = h >= kLargeShare * normF ? compBound * h : refined * normF;
                worst = std::fmax(worst, (std::fabs(x[i] - (head[i] + tail[i])) + own) / xi);
            }
            compBound = std::fmax(floor, worst);
        }
    }
    out.errorBound = normBound;
    out.componentBound = compBound;
    return out;
}

} // namespace Precise
