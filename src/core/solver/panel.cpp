#include "panel.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVIX_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

constexpr int W = PanelUpdate::kWidth;

// One row against one packed block, any width up to W: the reference every
// other kernel matches bit for bit.
void blockRowScalar(double *c, const double *l, const double *ub, int kb, int width)
{
    for (int j = 0; j < width; ++j) {
        double acc = 0.0;
        for (int s = 0; s < kb; ++s)
            acc = std::fma(l[s], ub[s * W + j], acc);
        c[j] = c[j] - acc;
    }
}

using BlockKernel = void (*)(double *const *rows, int count, int col, const double *l, int kb,
                             const double *ub);

// Rows one by one, the portable variant.
void blockGeneric(double *const *rows, int count, int col, const double *l, int kb,
                  const double *ub)
{
    for (int r = 0; r < count; ++r)
        blockRowScalar(rows[r] + col, l + size_t(r) * size_t(kb), ub, kb, W);
}

#ifdef TARVIX_X86_KERNELS

__attribute__((target("avx512f"))) void block512(double *const *rows, int count, int col,
                                                 const double *l, int kb, const double *ub)
{
    int r = 0;
    // Four rows at a time: eight accumulators, each panel row read once.
    for (; r + 4 <= count; r += 4) {
        const double *l0 = l + size_t(r) * size_t(kb);
        const double *l1 = l0 + kb, *l2 = l1 + kb, *l3 = l2 + kb;
        __m512d a0 = _mm512_setzero_pd(), b0 = _mm512_setzero_pd();
        __m512d a1 = _mm512_setzero_pd(), b1 = _mm512_setzero_pd();
        __m512d a2 = _mm512_setzero_pd(), b2 = _mm512_setzero_pd();
        __m512d a3 = _mm512_setzero_pd(), b3 = _mm512_setzero_pd();
        for (int s = 0; s < kb; ++s) {
            const __m512d u0 = _mm512_loadu_pd(ub + s * W);
            const __m512d u1 = _mm512_loadu_pd(ub + s * W + 8);
            __m512d x = _mm512_set1_pd(l0[s]);
            a0 = _mm512_fmadd_pd(x, u0, a0);
            b0 = _mm512_fmadd_pd(x, u1, b0);
            x = _mm512_set1_pd(l1[s]);
            a1 = _mm512_fmadd_pd(x, u0, a1);
            b1 = _mm512_fmadd_pd(x, u1, b1);
            x = _mm512_set1_pd(l2[s]);
            a2 = _mm512_fmadd_pd(x, u0, a2);
            b2 = _mm512_fmadd_pd(x, u1, b2);
            x = _mm512_set1_pd(l3[s]);
            a3 = _mm512_fmadd_pd(x, u0, a3);
            b3 = _mm512_fmadd_pd(x, u1, b3);
        }
        double *c0 = rows[r] + col, *c1 = rows[r + 1] + col;
        double *c2 = rows[r + 2] + col, *c3 = rows[r + 3] + col;
        _mm512_storeu_pd(c0, _mm512_sub_pd(_mm512_loadu_pd(c0), a0));
        _mm512_storeu_pd(c0 + 8, _mm512_sub_pd(_mm512_loadu_pd(c0 + 8), b0));
        _mm512_storeu_pd(c1, _mm512_sub_pd(_mm512_loadu_pd(c1), a1));
        _mm512_storeu_pd(c1 + 8, _mm512_sub_pd(_mm512_loadu_pd(c1 + 8), b1));
        _mm512_storeu_pd(c2, _mm512_sub_pd(_mm512_loadu_pd(c2), a2));
        _mm512_storeu_pd(c2 + 8, _mm512_sub_pd(_mm512_loadu_pd(c2 + 8), b2));
        _mm512_storeu_pd(c3, _mm512_sub_pd(_mm512_loadu_pd(c3), a3));
        _mm512_storeu_pd(c3 + 8, _mm512_sub_pd(_mm512_loadu_pd(c3 + 8), b3));
    }
    for (; r < count; ++r) {
        const double *l0 = l + size_t(r) * size_t(kb);
        __m512d a0 = _mm512_setzero_pd(), b0 = _mm512_setzero_pd();
        for (int s = 0; s < kb; ++s) {
            const __m512d x = _mm512_set1_pd(l0[s]);
            a0 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub + s * W), a0);
            b0 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub + s * W + 8), b0);
        }
        double *c0 = rows[r] + col;
        _mm512_storeu_pd(c0, _mm512_sub_pd(_mm512_loadu_pd(c0), a0));
        _mm512_storeu_pd(c0 + 8, _mm512_sub_pd(_mm512_loadu_pd(c0 + 8), b0));
    }
}

__attribute__((target("avx2,fma"))) void block256(double *const *rows, int count, int col,
                                                  const double *l, int kb, const double *ub)
{
    // Each half of the block: four rows by eight columns.
    for (int h = 0; h < W; h += 8) {
        int r = 0;
        for (; r + 4 <= count; r += 4) {
            const double *l0 = l + size_t(r) * size_t(kb);
            const double *l1 = l0 + kb, *l2 = l1 + kb, *l3 = l2 + kb;
            __m256d a0 = _mm256_setzero_pd(), b0 = _mm256_setzero_pd();
            __m256d a1 = _mm256_setzero_pd(), b1 = _mm256_setzero_pd();
            __m256d a2 = _mm256_setzero_pd(), b2 = _mm256_setzero_pd();
            __m256d a3 = _mm256_setzero_pd(), b3 = _mm256_setzero_pd();
            for (int s = 0; s < kb; ++s) {
                const __m256d u0 = _mm256_loadu_pd(ub + s * W + h);
                const __m256d u1 = _mm256_loadu_pd(ub + s * W + h + 4);
                __m256d x = _mm256_broadcast_sd(l0 + s);
                a0 = _mm256_fmadd_pd(x, u0, a0);
                b0 = _mm256_fmadd_pd(x, u1, b0);
                x = _mm256_broadcast_sd(l1 + s);
                a1 = _mm256_fmadd_pd(x, u0, a1);
                b1 = _mm256_fmadd_pd(x, u1, b1);
                x = _mm256_broadcast_sd(l2 + s);
                a2 = _mm256_fmadd_pd(x, u0, a2);
                b2 = _mm256_fmadd_pd(x, u1, b2);
                x = _mm256_broadcast_sd(l3 + s);
                a3 = _mm256_fmadd_pd(x, u0, a3);
                b3 = _mm256_fmadd_pd(x, u1, b3);
            }
            double *c0 = rows[r] + col + h, *c1 = rows[r + 1] + col + h;
            double *c2 = rows[r + 2] + col + h, *c3 = rows[r + 3] + col + h;
            _mm256_storeu_pd(c0, _mm256_sub_pd(_mm256_loadu_pd(c0), a0));
            _mm256_storeu_pd(c0 + 4, _mm256_sub_pd(_mm256_loadu_pd(c0 + 4), b0));
            _mm256_storeu_pd(c1, _mm256_sub_pd(_mm256_loadu_pd(c1), a1));
            _mm256_storeu_pd(c1 + 4, _mm256_sub_pd(_mm256_loadu_pd(c1 + 4), b1));
            _mm256_storeu_pd(c2, _mm256_sub_pd(_mm256_loadu_pd(c2), a2));
            _mm256_storeu_pd(c2 + 4, _mm256_sub_pd(_mm256_loadu_pd(c2 + 4), b2));
            _mm256_storeu_pd(c3, _mm256_sub_pd(_mm256_loadu_pd(c3), a3));
            _mm256_storeu_pd(c3 + 4, _mm256_sub_pd(_mm256_loadu_pd(c3 + 4), b3));
        }
        for (; r < count; ++r) {
            const double *l0 = l + size_t(r) * size_t(kb);
            __m256d a0 = _mm256_setzero_pd(), b0 = _mm256_setzero_pd();
            for (int s = 0; s < kb; ++s) {
                const __m256d x = _mm256_broadcast_sd(l0 + s);
                a0 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub + s * W + h), a0);
                b0 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub + s * W + h + 4), b0);
            }
            double *c0 = rows[r] + col + h;
            _mm256_storeu_pd(c0, _mm256_sub_pd(_mm256_loadu_pd(c0), a0));
            _mm256_storeu_pd(c0 + 4, _mm256_sub_pd(_mm256_loadu_pd(c0 + 4), b0));
        }
    }
}

#endif

BlockKernel pickKernel()
{
#ifdef TARVIX_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return block512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return block256;
#endif
    return blockGeneric;
}

const BlockKernel kKernel = pickKernel();

} // namespace

void PanelUpdate::pack(double *const *u, int kb, int col0, int n)
{
    m_kb = kb;
    m_col0 = col0;
    m_n = n;
    const int cols = n - col0;
    const int blocks = cols > 0 ? (cols + W - 1) / W : 0;
    m_u.assign(size_t(blocks) * size_t(kb) * W, 0.0);
    for (int b = 0; b < blocks; ++b) {
        const int j0 = col0 + b * W;
        const int width = n - j0 < W ? n - j0 : W;
        double *dst = m_u.data() + size_t(b) * size_t(kb) * W;
        for (int s = 0; s < kb; ++s)
            std::memcpy(dst + s * W, u[s] + j0, sizeof(double) * size_t(width));
    }
}

void PanelUpdate::apply(double *const *rows, int count, const double *l) const
{
    if (count < 1 || m_kb < 1)
        return;
    const int cols = m_n - m_col0;
    const int full = cols / W;
    const size_t blockSize = size_t(m_kb) * W;
    // Rows in chunks, so that each packed block is reused from the cache by
    // every row of the chunk.
    constexpr int kChunk = 64;
    for (int r0 = 0; r0 < count; r0 += kChunk) {
        const int rc = count - r0 < kChunk ? count - r0 : kChunk;
        const double *lc = l + size_t(r0) * size_t(m_kb);
        for (int b = 0; b < full; ++b)
            kKernel(rows + r0, rc, m_col0 + b * W, lc, m_kb, m_u.data() + size_t(b) * blockSize);
        if (full * W < cols) {
            const double *ub = m_u.data() + size_t(full) * blockSize;
            for (int r = 0; r < rc; ++r)
                blockRowScalar(rows[r0 + r] + m_col0 + full * W, lc + size_t(r) * size_t(m_kb), ub,
                               m_kb, cols - full * W);
        }
    }
}
