#include "reduce.h"

#include "solver/panel.h"

#include "numeric/zero.h"
#include "prefs/userprefs.h"
#include "threads/workerteam.h"

#include <QThread>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

// Hot kernels get an AVX2 variant picked at load time, where the compiler
// can build one: GCC on x86-64. ThreadSanitizer's start-up cannot run the
// resolver, so its builds keep the plain variant.
#if defined(__SANITIZE_THREAD__)
#define TARVIX_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVIX_CLONES
#endif
#endif
#if !defined(TARVIX_CLONES) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARVIX_CLONES __attribute__((target_clones("avx2", "default")))
#define TARVIX_CLONES_WIDE __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#ifndef TARVIX_CLONES
#define TARVIX_CLONES
#endif
#ifndef TARVIX_CLONES_WIDE
#define TARVIX_CLONES_WIDE
#endif

namespace {

using v8d = double __attribute__((vector_size(64)));
using v8l = long long __attribute__((vector_size(64)));

// dst[j] -= src[j] * ratio over len entries. Unrolled by four with no
// branches in the body, so the compiler turns it into vector instructions.
inline void rowUpdate(double *__restrict dst, const double *__restrict src, double ratio, int len)
{
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const double a0 = dst[j] - src[j] * ratio;
        const double a1 = dst[j + 1] - src[j + 1] * ratio;
        const double a2 = dst[j + 2] - src[j + 2] * ratio;
        const double a3 = dst[j + 3] - src[j + 3] * ratio;
        dst[j] = a0;
        dst[j + 1] = a1;
        dst[j + 2] = a2;
        dst[j + 3] = a3;
    }
    for (; j < len; ++j)
        dst[j] = dst[j] - src[j] * ratio;
}

// One row of the diagonal reduction: ratio = row[j] / d[j],
// row[j] -= d[j] * ratio, out[j] = ratio.
inline void diagonalRow(double *__restrict row, const double *__restrict d, double *__restrict out,
                        int len)
{
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const double r0 = row[j] / d[j];
        const double r1 = row[j + 1] / d[j + 1];
        const double r2 = row[j + 2] / d[j + 2];
        const double r3 = row[j + 3] / d[j + 3];
        row[j] = row[j] - d[j] * r0;
        row[j + 1] = row[j + 1] - d[j + 1] * r1;
        row[j + 2] = row[j + 2] - d[j + 2] * r2;
        row[j + 3] = row[j + 3] - d[j + 3] * r3;
        out[j] = r0;
        out[j + 1] = r1;
        out[j + 2] = r2;
        out[j + 3] = r3;
    }
    for (; j < len; ++j) {
        const double r = row[j] / d[j];
        row[j] = row[j] - d[j] * r;
        out[j] = r;
    }
}

} // namespace

ThreadSettings ThreadSettings::fromPrefs()
{
    ThreadSettings s;
    s.limits = UserPrefs::getThreadLimits();
    s.processors = UserPrefs::getProcessorCount();
    return s;
}

Reduce::Reduce() = default;

void Reduce::setRange(double **coef, double *rhs, double **lower, double **dr, int k, int n,
                      int first, int last)
{
    m_coef = coef;
    m_rhs = rhs;
    m_lower = lower;
    m_dr = dr;
    m_k = k;
    m_kEnd = k + 1;
    m_n = n;
    m_first = first;
    m_last = last;
}

int Reduce::workerCount(int m, const QList<int> &limits, int processors)
{
    const int t = processors > 0 ? processors : 1;
    if (limits.isEmpty() || m > limits.last())
        return t;
    if (limits.first() >= m)
        return 1;
    for (int c = 1; c < limits.size(); ++c) {
        if (limits.at(c) >= m)
            return c + 1 < t ? c + 1 : t;
    }
    return t;
}

QVector<RowRange> Reduce::eliminationSplit(int n, int k, int count)
{
    if (count < 1)
        count = 1;
    QVector<RowRange> out(count);
    const int rows = n - k - 1;
    if (rows <= 0 || k < 0)
        return out;
    const int per = rows / count;
    long long f = k + 1;
    for (int w = 0; w < count; ++w) {
        const long long end = (w < count - 1) ? f + per : n - 1;
        // Ranges past the last row are cut off; a worker starting beyond it
        // gets nothing.
        const long long last = end < n - 1 ? end : n - 1;
        if (f <= last) {
            out[w].first = int(f);
            out[w].last = int(last);
            out[w].empty = false;
        }
        f += per + 1;
    }
    return out;
}

QVector<RowRange> Reduce::diagonalSplit(int n, int count)
{
    if (count < 1)
        count = 1;
    QVector<RowRange> out(count);
    const double s = std::sqrt(2.0 * count);
    int from = n - 2;
    auto assign = [&out, n](int w, int hi, int lo) {
        if (hi > n - 2)
            hi = n - 2;
        if (lo < 0)
            lo = 0;
        if (hi >= lo) {
            out[w].first = hi;
            out[w].last = lo;
            out[w].empty = false;
        }
    };
    for (int w = 0; w < count - 1; ++w) {
        const int v = int(std::sqrt(2.0 * w + 2.0) * n / s);
        int lower = n - std::abs(v);
        if (lower >= from)
            lower = from - 1;
        assign(w, from, lower);
        from = lower - 1;
    }
    assign(count - 1, from, 0);
    return out;
}

TARVIX_CLONES_WIDE
void Reduce::subtractScaled(double *dst, const double *src, double f, int len)
{
    rowUpdate(dst, src, f, len);
}

TARVIX_CLONES_WIDE
void Reduce::addAbsScaled(double *__restrict dst, const double *__restrict src, double f, int len)
{
    // Unrolled by eight with no branches, so that it becomes vector code.
    int j = 0;
    for (; j + 8 <= len; j += 8) {
        for (int q = 0; q < 8; ++q)
            dst[j + q] = dst[j + q] + std::fabs(src[j + q]) * f;
    }
    for (; j < len; ++j)
        dst[j] = dst[j] + std::fabs(src[j]) * f;
}

TARVIX_CLONES_WIDE
double Reduce::absMax(const double *v, int n)
{
    // Eight running maxima; a NaN never wins a comparison, so it is passed
    // over in every order alike.
    double m[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        for (int q = 0; q < 8; ++q) {
            const double x = std::fabs(v[j + q]);
            m[q] = x > m[q] ? x : m[q];
        }
    }
    for (; j < n; ++j) {
        const double x = std::fabs(v[j]);
        m[0] = x > m[0] ? x : m[0];
    }
    double best = 0.0;
    for (double x : m)
        best = x > best ? x : best;
    return best;
}

TARVIX_CLONES_WIDE
double Reduce::dot(const double *a, const double *b, int n)
{
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        s0 += a[j] * b[j];
        s1 += a[j + 1] * b[j + 1];
        s2 += a[j + 2] * b[j + 2];
        s3 += a[j + 3] * b[j + 3];
    }
    for (; j < n; ++j)
        s0 += a[j] * b[j];
    return (s0 + s1) + (s2 + s3);
}

TARVIX_CLONES_WIDE
void Reduce::addZeroCounts(const double *v, int n, long long *counts)
{
    // Eight columns at once, on the values' bits: the magnitude's bits
    // order as the magnitudes do (NaN above them all), so |x| <= 1e-15
    // exactly when those bits less the threshold's, less one, come out
    // negative; the sign bit is then the lane's count. No comparison: the
    // compiler keeps every lane in a vector.
    using v8u = unsigned long long __attribute__((vector_size(64)));
    const double threshold = 1e-15;
    unsigned long long limit;
    std::memcpy(&limit, &threshold, sizeof limit);
    const v8u magnitude = {~0ULL >> 1, ~0ULL >> 1, ~0ULL >> 1, ~0ULL >> 1,
                           ~0ULL >> 1, ~0ULL >> 1, ~0ULL >> 1, ~0ULL >> 1};
    const v8u above = {limit + 1, limit + 1, limit + 1, limit + 1,
                       limit + 1, limit + 1, limit + 1, limit + 1};
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        v8u x, k;
        std::memcpy(&x, v + j, sizeof x);
        std::memcpy(&k, counts + j, sizeof k);
        k += ((x & magnitude) - above) >> 63;
        std::memcpy(counts + j, &k, sizeof k);
    }
    for (; j < n; ++j)
        counts[j] += isZero(v[j]) ? 1 : 0;
}

TARVIX_CLONES_WIDE
bool Reduce::allFinite(const double *v, int n)
{
    // x - x is 0 for every finite x and NaN for inf and NaN, and a NaN
    // stays NaN through any sum: sixteen sums in two vectors, no branches.
    v8d s0 = {0, 0, 0, 0, 0, 0, 0, 0};
    v8d s1 = s0;
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        v8d x0, x1;
        std::memcpy(&x0, v + j, sizeof x0);
        std::memcpy(&x1, v + j + 8, sizeof x1);
        s0 += x0 - x0;
        s1 += x1 - x1;
    }
    double tail = 0.0;
    for (; j < n; ++j)
        tail += v[j] - v[j];
    const v8d s = s0 + s1;
    double sum = tail;
    for (int a = 0; a < 8; ++a)
        sum += s[a];
    return sum == 0.0;
}

TARVIX_CLONES_WIDE
double Reduce::dotWide(const double *a, const double *b, int n)
{
    // Sixteen running sums in two vectors of eight; each vector is summed
    // by halves. Where a vector unit is narrower, the compiler splits the
    // vectors and the sums stay the same.
    v8d s0 = {0, 0, 0, 0, 0, 0, 0, 0};
    v8d s1 = s0;
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        v8d x0, y0, x1, y1;
        std::memcpy(&x0, a + j, sizeof x0);
        std::memcpy(&y0, b + j, sizeof y0);
        std::memcpy(&x1, a + j + 8, sizeof x1);
        std::memcpy(&y1, b + j + 8, sizeof y1);
        s0 += x0 * y0;
        s1 += x1 * y1;
    }
    double tail = 0.0;
    for (; j < n; ++j)
        tail += a[j] * b[j];
    const v8d s = s0 + s1;
    const double q0 = (s[0] + s[4]) + (s[2] + s[6]);
    const double q1 = (s[1] + s[5]) + (s[3] + s[7]);
    return (q0 + q1) + tail;
}

void Reduce::eliminateRows(double **coef, double *rhs, double **lower, int k, int n, int first,
                           int last)
{
    const double *pivotRow = coef[k];
    const double p = pivotRow[k];
    if (isZero(p)) {
        for (int i = first; i <= last; ++i)
            lower[i][k] = 0.0;
        return;
    }
    const double rk = rhs[k];
    const int len = n - k;
    for (int i = first; i <= last; ++i) {
        double *row = coef[i];
        const double ratio = row[k] / p;
        rhs[i] = rhs[i] - rk * ratio;
        // Sparse systems: a row that needs no change is not touched.
        if (!isZero(ratio))
            rowUpdate(row + k, pivotRow + k, ratio, len);
        // After the update, which leaves rounding noise in column k.
        lower[i][k] = ratio;
    }
}

TARVIX_CLONES_WIDE
void Reduce::diagonalRows(double **coef, double **dr, int n, int first, int last)
{
    if (first < last || last < 0)
        return;
    // The diagonal entries this range needs, read once: rows last+1..n-1.
    const int base = last + 1;
    const int count = n - base;
    double *d = new double[count > 0 ? count : 1];
    for (int j = base; j < n; ++j)
        d[j - base] = coef[j][j];
    for (int i = first; i >= last; --i) {
        const int start = i + 1;
        double *row = coef[i] + start;
        if (dr[i] == row) {
            // The ratios take the entries' places.
            const double *dd = d + (start - base);
            for (int j = 0; j < n - start; ++j)
                row[j] = row[j] / dd[j];
        } else {
            diagonalRow(row, d + (start - base), dr[i], n - start);
        }
    }
    delete[] d;
}

void Reduce::eliminate()
{
    if (m_kEnd > m_k + 1 && m_panel)
        eliminateDelayed(m_coef, m_rhs, m_lower, m_k, m_kEnd, m_n, m_first, m_last, *m_panel);
    else
        eliminateRows(m_coef, m_rhs, m_lower, m_k, m_n, m_first, m_last);
}

bool Reduce::eliminatePanelRow(double **coef, double *rhs, double **lower, int k0, int k1, int i,
                               double *l, int ldl)
{
    const int kb = k1 - k0;
    // The steps run on a copy, so that a zero pivot leaves the row as it was.
    double t[kMaxSteps];
    double ratios[kMaxSteps];
    std::memcpy(t, coef[i] + k0, sizeof(double) * size_t(kb));
    double ri = rhs[i];
    for (int s = k0; s < i; ++s) {
        const double *pivotRow = coef[s];
        const double p = pivotRow[s];
        if (isZero(p)) {
            ratios[s - k0] = 0.0;
            continue;
        }
        const double ratio = t[s - k0] / p;
        ri = ri - rhs[s] * ratio;
        ratios[s - k0] = ratio;
        if (!isZero(ratio))
            rowUpdate(t + (s - k0), pivotRow + s, ratio, k1 - s);
    }
    if (isZero(t[i - k0]))
        return false;
    std::memcpy(coef[i] + k0, t, sizeof(double) * size_t(kb));
    rhs[i] = ri;
    double *li = l + size_t(i - k0) * size_t(ldl);
    double *mi = lower[i];
    for (int s = k0; s < i; ++s) {
        mi[s] = ratios[s - k0];
        li[s - k0] = isZero(ratios[s - k0]) ? 0.0 : ratios[s - k0];
    }
    return true;
}

namespace {

// Eight rows side by side (one per lane) through the steps k0..k0+kb-1 on
// the block's columns: t[c] holds column k0+c of the eight rows, r their
// right-hand sides; ratio[s] receives each row's ratio of step k0+s. Each
// lane does what the one-row steps do, operation for operation (a ratio
// that counts as zero leaves its row alone), so a row comes out the same
// whichever lane, or whichever worker's group, it falls in. Steps go in
// groups of four: the group's own columns take them one at a time, the
// columns right of the group take all four in one pass, each still in
// step order.
TARVIX_CLONES_WIDE
void panelSteps8(double *const *coef, const double *rhs, int k0, int kb, v8d *t, v8d &r,
                 v8d *ratio)
{
    constexpr int G = 4;
    const v8d zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const v8l all = {-1, -1, -1, -1, -1, -1, -1, -1};
    for (int s0 = 0; s0 < kb; s0 += G) {
        const int g = kb - s0 < G ? kb - s0 : G;
        const int end = s0 + g;
        v8d q[G];
        v8l alone[G];
        // Whether any lane of a step is left alone: where none is, the
        // updates need no choice between the old and the new value.
        bool some[G];
        const double *pivot[G];
        for (int a = 0; a < G; ++a) {
            q[a] = zero;
            alone[a] = all;
            some[a] = true;
            pivot[a] = coef[k0] + k0;
        }
        for (int a = 0; a < g; ++a) {
            const int s = s0 + a;
            const double *pivotRow = coef[k0 + s] + k0;
            pivot[a] = pivotRow;
            const double p = pivotRow[s];
            if (isZero(p)) {
                // No step: the row stays as it is (alone in every lane).
                ratio[s] = zero;
                continue;
            }
            q[a] = t[s] / p;
            r = r - rhs[k0 + s] * q[a];
            ratio[s] = q[a];
            alone[a] = (q[a] >= -1e-15) & (q[a] <= 1e-15);
            long long any = 0;
            for (int lane = 0; lane < 8; ++lane)
                any |= alone[a][lane];
            some[a] = any != 0;
            if (!some[a]) {
                for (int c = s; c < end; ++c)
                    t[c] = t[c] - pivotRow[c] * q[a];
                continue;
            }
            for (int c = s; c < end; ++c) {
                const v8d updated = t[c] - pivotRow[c] * q[a];
                t[c] = alone[a] ? t[c] : updated;
            }
        }
        if (g == G && !(some[0] || some[1] || some[2] || some[3])) {
            const double *p0 = pivot[0], *p1 = pivot[1], *p2 = pivot[2], *p3 = pivot[3];
            for (int c = end; c < kb; ++c) {
                v8d x = t[c];
                x = x - p0[c] * q[0];
                x = x - p1[c] * q[1];
                x = x - p2[c] * q[2];
                x = x - p3[c] * q[3];
                t[c] = x;
            }
        } else if (g == G) {
            const double *p0 = pivot[0], *p1 = pivot[1], *p2 = pivot[2], *p3 = pivot[3];
            for (int c = end; c < kb; ++c) {
                v8d x = t[c];
                v8d u = x - p0[c] * q[0];
                x = alone[0] ? x : u;
                u = x - p1[c] * q[1];
                x = alone[1] ? x : u;
                u = x - p2[c] * q[2];
                x = alone[2] ? x : u;
                u = x - p3[c] * q[3];
                x = alone[3] ? x : u;
                t[c] = x;
            }
        } else {
            for (int c = end; c < kb; ++c) {
                v8d x = t[c];
                for (int a = 0; a < g; ++a) {
                    const v8d u = x - pivot[a][c] * q[a];
                    x = alone[a] ? x : u;
                }
                t[c] = x;
            }
        }
    }
}

// Lanes i0..i7 of the sixteen in a then b (GCC and Clang name this
// differently).
#if defined(__clang__)
#define TARVIX_SHUFFLE(a, b, i0, i1, i2, i3, i4, i5, i6, i7) \
    __builtin_shufflevector(a, b, i0, i1, i2, i3, i4, i5, i6, i7)
#else
#define TARVIX_SHUFFLE(a, b, i0, i1, i2, i3, i4, i5, i6, i7) \
    __builtin_shuffle(a, b, v8l{i0, i1, i2, i3, i4, i5, i6, i7})
#endif

// An 8 x 8 block of doubles transposed in registers: r[a][c] becomes
// r[c][a].
inline void transpose8(v8d *r)
{
    v8d a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = TARVIX_SHUFFLE(r[i], r[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
        a[i + 1] = TARVIX_SHUFFLE(r[i], r[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    for (int i = 0; i < 8; i += 4) {
        for (int j = 0; j < 2; ++j) {
            b[i + j] = TARVIX_SHUFFLE(a[i + j], a[i + j + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            b[i + j + 2] = TARVIX_SHUFFLE(a[i + j], a[i + j + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        }
    }
    for (int j = 0; j < 4; ++j) {
        r[j] = TARVIX_SHUFFLE(b[j], b[j + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        r[j + 4] = TARVIX_SHUFFLE(b[j], b[j + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// The block's columns of eight rows into lanes: t[c][a] = rows[a][c].
TARVIX_CLONES_WIDE
void rowsToLanes(const double *const *rows, int kb, v8d *t)
{
    int c = 0;
    for (; c + 8 <= kb; c += 8) {
        v8d r[8];
        for (int a = 0; a < 8; ++a)
            std::memcpy(&r[a], rows[a] + c, sizeof(v8d));
        transpose8(r);
        for (int j = 0; j < 8; ++j)
            t[c + j] = r[j];
    }
    for (; c < kb; ++c)
        for (int a = 0; a < 8; ++a)
            t[c][a] = rows[a][c];
}

// Each lane's ratios back to its row: m[a][c] = ratio[c][a], and into the
// product's block lr (row a at lr + a * kb) with those that count as zero
// made zero.
TARVIX_CLONES_WIDE
void lanesToRows(const v8d *ratio, int kb, double *const *m, double *lr)
{
    const v8d zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const v8d lowest = zero - 1e-15, highest = zero + 1e-15;
    int c = 0;
    for (; c + 8 <= kb; c += 8) {
        v8d r[8];
        for (int j = 0; j < 8; ++j)
            r[j] = ratio[c + j];
        transpose8(r);
        for (int a = 0; a < 8; ++a) {
            std::memcpy(m[a] + c, &r[a], sizeof(v8d));
            const v8d kept = ((r[a] >= lowest) & (r[a] <= highest)) ? zero : r[a];
            std::memcpy(lr + size_t(a) * size_t(kb) + c, &kept, sizeof(v8d));
        }
    }
    for (; c < kb; ++c) {
        for (int a = 0; a < 8; ++a) {
            const double q = ratio[c][a];
            m[a][c] = q;
            lr[size_t(a) * size_t(kb) + c] = isZero(q) ? 0.0 : q;
        }
    }
}

} // namespace

void Reduce::eliminateDelayed(double **coef, double *rhs, double **lower, int k0, int k1, int n,
                              int first, int last, const PanelUpdate &panel)
{
    (void)n; // the panel knows the columns
    const int kb = k1 - k0;
    // Blocks are never wider than kMaxSteps (Solve::solveEq caps them).
    Q_ASSERT(kb <= kMaxSteps);
    if (kb < 1 || kb > kMaxSteps || first > last)
        return;
    const int kChunk = PanelUpdate::chunkRows(kb);
    constexpr int kLanes = 8;
    std::vector<double> l(size_t(kChunk) * size_t(kb));
    // On the stack: a vector type keeps its alignment only there.
    alignas(64) v8d t[kMaxSteps];
    alignas(64) v8d ratio[kMaxSteps];
    for (int i0 = first; i0 <= last; i0 += kChunk) {
        const int rc = last - i0 + 1 < kChunk ? last - i0 + 1 : kChunk;
        for (int g = 0; g < rc; g += kLanes) {
            const int lanes = rc - g < kLanes ? rc - g : kLanes;
            const int top = i0 + g;
            const double *rows[kLanes];
            double *m[kLanes];
            bool inPlace = lanes == kLanes;
            for (int a = 0; a < lanes; ++a) {
                rows[a] = coef[top + a] + k0;
                m[a] = lower[top + a] + k0;
                inPlace = inPlace && m[a] == rows[a];
            }
            // Rows to lanes; missing rows are zeros, which no step changes.
            v8d r = {0, 0, 0, 0, 0, 0, 0, 0};
            if (lanes == kLanes) {
                rowsToLanes(rows, kb, t);
            } else {
                for (int c = 0; c < kb; ++c)
                    t[c] = r;
                for (int a = 0; a < lanes; ++a)
                    for (int c = 0; c < kb; ++c)
                        t[c][a] = rows[a][c];
            }
            for (int a = 0; a < lanes; ++a)
                r[a] = rhs[top + a];
            panelSteps8(coef, rhs, k0, kb, t, r, ratio);
            // The block's columns of these rows are eliminated: where the
            // multipliers live in the rows themselves they take those places.
            double *lr = l.data() + size_t(g) * size_t(kb);
            if (inPlace) {
                lanesToRows(ratio, kb, m, lr);
            } else {
                for (int a = 0; a < lanes; ++a) {
                    double *row = coef[top + a] + k0;
                    const bool own = m[a] == row;
                    for (int c = 0; c < kb; ++c) {
                        const double q = ratio[c][a];
                        if (!own)
                            row[c] = t[c][a];
                        m[a][c] = q;
                        lr[size_t(a) * size_t(kb) + c] = isZero(q) ? 0.0 : q;
                    }
                }
            }
            for (int a = 0; a < lanes; ++a)
                rhs[top + a] = r[a];
        }
        panel.apply(coef + i0, rc, l.data());
    }
}

void Reduce::reduction()
{
    eliminate();
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("Reduce::reduction"), this,
                              QStringLiteral("REDUCE"));
}

void Reduce::diagonal()
{
    diagonalRows(m_coef, m_dr, m_n, m_first, m_last);
}

void Reduce::diagonalReduce()
{
    diagonal();
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("Reduce::diagonalReduce"),
                              this, QStringLiteral("REDUCE"));
}

void Reduce::runJob()
{
    if (m_job)
        m_job(m_jobIndex);
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("Reduce::reduction"), this,
                              QStringLiteral("REDUCE"));
}

PanelSpread Reduce::phaseSpread(int count, const QString &name)
{
    PanelSpread spread;
    spread.count = count;
    spread.run = [name](int c, const std::function<void(int)> &job) { runPhase(name, c, job); };
    return spread;
}

void Reduce::runPhase(const QString &name, int count, const std::function<void(int)> &job)
{
    if (count < 1)
        return;
    if (count == 1) {
        job(0);
        return;
    }
    if (WorkerTeam *team = WorkerTeam::current()) {
        team->run(count, job);
        return;
    }
    std::vector<Reduce *> workers(size_t(count), nullptr);
    std::vector<QThread *> threads(size_t(count), nullptr);
    for (int w = 0; w < count; ++w) {
        auto *r = new Reduce();
        r->m_job = job;
        r->m_jobIndex = w;
        workers[size_t(w)] = r;
        threads[size_t(w)] = MyThreads::start(r, SLOT(runJob()), name + QString::number(w));
    }
    // A share whose thread could not be started is done here.
    for (int w = 0; w < count; ++w) {
        if (!threads[size_t(w)])
            job(w);
    }
    for (int w = 0; w < count; ++w) {
        if (threads[size_t(w)])
            threads[size_t(w)]->wait();
    }
    MyThreads::joined();
    for (int w = 0; w < count; ++w)
        delete workers[size_t(w)];
}
