#include "ratiopass.h"

#include "solver/reduce.h"
#include "threads/workerteam.h"

#include <QString>

#include <algorithm>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Steps (or rows) of one block: enough that a block's shared part outweighs
// a phase of the team, few enough that its part of v stays in the cache.
constexpr int kBlock = 128;
// Shorter vectors are passed through on the calling thread alone.
constexpr int kSpreadFrom = 512;
// A block's shared part of fewer products than this is not worth a phase.
constexpr long long kPhaseWork = 16384;

int sharesFor(int n, int count)
{
    return count > 1 && n >= kSpreadFrom && WorkerTeam::current() ? count : 1;
}

// Runs part(0..shares-1), as one phase of the team when it pays.
template <typename Part>
void spread(int shares, long long work, const Part &part)
{
    if (shares > 1 && work >= kPhaseWork) {
        Reduce::runPhase(QStringLiteral("Tarvix::pass "), shares, part);
    } else {
        for (int w = 0; w < shares; ++w)
            part(w);
    }
}

inline void exchange(double *v, int n, int p, int q)
{
    if (p >= 0 && p < n && q >= 0 && q < n)
        std::swap(v[p], v[q]);
}

} // namespace

void RatioPass::forward(double *v, int n, double *const *r)
{
    for (int k = 0; k + 1 < n; ++k)
        Reduce::subtractScaled(v + k + 1, r[k], v[k], n - k - 1);
}

void RatioPass::backward(double *v, int n, double *const *r, int count)
{
    const int shares = sharesFor(n, count);
    double far[kBlock];
    int hi = n - 1;
    while (hi >= 0) {
        const int lo = std::max(0, hi - kBlock + 1);
        // Row n-1 has no sum.
        const int top = std::min(hi, n - 2);
        const int past = hi + 1;
        // The parts of the block's sums over the entries past it, which are
        // all final: shared by rows.
        spread(shares, (long long)(top - lo + 1) * (n - past), [&](int w) {
            const int rows = top - lo + 1;
            const int first = lo + int((long long)rows * w / shares);
            const int end = lo + int((long long)rows * (w + 1) / shares);
            for (int i = first; i < end; ++i)
                far[i - lo] = Reduce::dotWide(r[i] + (past - i - 1), v + past, n - past);
        });
        for (int i = top; i >= lo; --i)
            v[i] = v[i] - (Reduce::dotWide(r[i], v + i + 1, past - i - 1) + far[i - lo]);
        hi = lo - 1;
    }
}

namespace {

// v[i] -= lower[i][k] * v[k] for k = from..to-1, one after another, for the
// rows first..end-1, whose steps from..to-1 all lie before them: eight rows
// at a time, eight independent chains (two to a register, each lane its own
// row's chain), the products rounded before each subtraction.
void lowerRows(double *v, double *const *lower, int first, int end, int from, int to)
{
    int i = first;
#if defined(__SSE2__)
    for (; i + 8 <= end; i += 8) {
        const double *l0 = lower[i], *l1 = lower[i + 1], *l2 = lower[i + 2], *l3 = lower[i + 3];
        const double *l4 = lower[i + 4], *l5 = lower[i + 5], *l6 = lower[i + 6], *l7 = lower[i + 7];
        __m128d x01 = _mm_loadu_pd(v + i), x23 = _mm_loadu_pd(v + i + 2);
        __m128d x45 = _mm_loadu_pd(v + i + 4), x67 = _mm_loadu_pd(v + i + 6);
        for (int k = from; k < to; ++k) {
            const __m128d y = _mm_set1_pd(v[k]);
            x01 = _mm_sub_pd(x01, _mm_mul_pd(_mm_loadh_pd(_mm_load_sd(l0 + k), l1 + k), y));
            x23 = _mm_sub_pd(x23, _mm_mul_pd(_mm_loadh_pd(_mm_load_sd(l2 + k), l3 + k), y));
            x45 = _mm_sub_pd(x45, _mm_mul_pd(_mm_loadh_pd(_mm_load_sd(l4 + k), l5 + k), y));
            x67 = _mm_sub_pd(x67, _mm_mul_pd(_mm_loadh_pd(_mm_load_sd(l6 + k), l7 + k), y));
        }
        _mm_storeu_pd(v + i, x01);
        _mm_storeu_pd(v + i + 2, x23);
        _mm_storeu_pd(v + i + 4, x45);
        _mm_storeu_pd(v + i + 6, x67);
    }
#else
    for (; i + 8 <= end; i += 8) {
        const double *l[8];
        double x[8];
        for (int a = 0; a < 8; ++a) {
            l[a] = lower[i + a];
            x[a] = v[i + a];
        }
        for (int k = from; k < to; ++k) {
            const double y = v[k];
            for (int a = 0; a < 8; ++a)
                x[a] = x[a] - l[a][k] * y;
        }
        for (int a = 0; a < 8; ++a)
            v[i + a] = x[a];
    }
#endif
    for (; i < end; ++i) {
        const double *l = lower[i];
        double x = v[i];
        for (int k = from; k < to; ++k)
            x = x - l[k] * v[k];
        v[i] = x;
    }
}

} // namespace

void RatioPass::lowerForward(double *v, int n, double *const *lower, const QList<int> *swaps,
                             int count)
{
    const int shares = sharesFor(n, count);
    const int listed = swaps ? int(swaps->size()) : 0;
    for (int s = 0; s + 1 < listed; s += 2)
        exchange(v, n, swaps->at(s), swaps->at(s + 1));
    for (int lo = 1; lo < n; lo += kBlock) {
        const int hi = std::min(n, lo + kBlock);
        // The block's rows take the steps before it, all final: shared by
        // rows. Then the block's own triangle, row after row.
        spread(shares, (long long)(hi - lo) * lo, [&](int w) {
            const int rows = hi - lo;
            lowerRows(v, lower, lo + int((long long)rows * w / shares),
                      lo + int((long long)rows * (w + 1) / shares), 0, lo);
        });
        // Eight rows at a time take the block's steps before them, then
        // their own small triangle, row after row.
        for (int g = lo; g < hi; g += 8) {
            const int ge = std::min(hi, g + 8);
            lowerRows(v, lower, g, ge, lo, g);
            for (int i = g; i < ge; ++i)
                lowerRows(v, lower, i, i + 1, g, i);
        }
    }
}

void RatioPass::lowerBackward(double *v, int n, double *const *lower, const QList<int> *swaps,
                              int count)
{
    const int shares = sharesFor(n, count);
    int hi = n - 1;
    while (hi >= 1) {
        const int lo = std::max(1, hi - kBlock + 1);
        // The block's own rows, last first, on the block's columns.
        for (int i = hi; i >= lo; --i)
            Reduce::subtractScaled(v + lo, lower[i] + lo, v[i], i - lo);
        // The columns left of the block take the block's rows, last first:
        // each column's updates in the same order whoever takes it.
        spread(shares, (long long)(hi - lo + 1) * lo, [&](int w) {
            const int first = int((long long)lo * w / shares);
            const int end = int((long long)lo * (w + 1) / shares);
            for (int i = hi; i >= lo; --i)
                Reduce::subtractScaled(v + first, lower[i] + first, v[i], end - first);
        });
        hi = lo - 1;
    }
    const int listed = swaps ? int(swaps->size()) : 0;
    for (int s = listed - 2 - (listed % 2); s >= 0; s -= 2)
        exchange(v, n, swaps->at(s), swaps->at(s + 1));
}
