#include "panel.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVIX_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

constexpr int W = PanelUpdate::kWidth;

// The pivot rows' block of W columns from column ucol: u[s] + ucol for
// each step s, read in place.
// One row against one block, any width up to W: the reference every other
// kernel matches bit for bit.
void blockRowScalar(double *c, const double *l, const double *const *u, int ucol, int kb,
                    int width)
{
    for (int j = 0; j < width; ++j) {
        double acc = 0.0;
        for (int s = 0; s < kb; ++s)
            acc = std::fma(l[s], u[s][ucol + j], acc);
        c[j] = c[j] - acc;
    }
}

using BlockKernel = void (*)(double *const *rows, int count, int col, const double *l, int kb,
                             const double *const *u, int ucol);

// Rows one by one, the portable variant.
void blockGeneric(double *const *rows, int count, int col, const double *l, int kb,
                  const double *const *u, int ucol)
{
    for (int r = 0; r < count; ++r)
        blockRowScalar(rows[r] + col, l + size_t(r) * size_t(kb), u, ucol, kb, W);
}

#ifdef TARVIX_X86_KERNELS

// The 32 registers of AVX-512 hold a tile of eight rows by sixteen columns:
// sixteen accumulators (enough to cover the multiply-add latency on both
// units), two panel vectors and the broadcast ratio. Each element still sums
// its products in the order of s, so every tile height gives the same bits.
template <int R>
__attribute__((target("avx512f"))) inline void tile512(double *const *rows, int col,
                                                       const double *l, int kb,
                                                       const double *const *u, int ucol)
{
    __m512d a[R], b[R];
    const double *lr[R];
#pragma GCC unroll 8
    for (int q = 0; q < R; ++q) {
        // The tile's rows are on their way while the products run.
        _mm_prefetch(reinterpret_cast<const char *>(rows[q] + col), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(rows[q] + col + 15), _MM_HINT_T0);
        a[q] = _mm512_setzero_pd();
        b[q] = _mm512_setzero_pd();
        lr[q] = l + size_t(q) * size_t(kb);
    }
    for (int s = 0; s < kb; ++s) {
        const double *us = u[s] + ucol;
        const __m512d u0 = _mm512_loadu_pd(us);
        const __m512d u1 = _mm512_loadu_pd(us + 8);
#pragma GCC unroll 8
        for (int q = 0; q < R; ++q) {
            const __m512d x = _mm512_set1_pd(lr[q][s]);
            a[q] = _mm512_fmadd_pd(x, u0, a[q]);
            b[q] = _mm512_fmadd_pd(x, u1, b[q]);
        }
    }
#pragma GCC unroll 8
    for (int q = 0; q < R; ++q) {
        double *c = rows[q] + col;
        _mm512_storeu_pd(c, _mm512_sub_pd(_mm512_loadu_pd(c), a[q]));
        _mm512_storeu_pd(c + 8, _mm512_sub_pd(_mm512_loadu_pd(c + 8), b[q]));
    }
}

__attribute__((target("avx512f"))) void block512(double *const *rows, int count, int col,
                                                 const double *l, int kb, const double *const *u,
                                                 int ucol)
{
    int r = 0;
    for (; r + 8 <= count; r += 8)
        tile512<8>(rows + r, col, l + size_t(r) * size_t(kb), kb, u, ucol);
    for (; r + 4 <= count; r += 4)
        tile512<4>(rows + r, col, l + size_t(r) * size_t(kb), kb, u, ucol);
    for (; r < count; ++r)
        tile512<1>(rows + r, col, l + size_t(r) * size_t(kb), kb, u, ucol);
}

// The 16 registers of AVX2 hold a tile of six rows by eight columns: twelve
// accumulators, two panel vectors and the broadcast ratio. Each panel row
// read serves six rows.
template <int R>
__attribute__((target("avx2,fma"))) inline void tile256(double *const *rows, int col,
                                                        const double *l, int kb,
                                                        const double *const *u, int ucol)
{
    __m256d a[R], b[R];
    const double *lr[R];
#pragma GCC unroll 6
    for (int q = 0; q < R; ++q) {
        // The tile's rows are on their way while the products run.
        _mm_prefetch(reinterpret_cast<const char *>(rows[q] + col), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(rows[q] + col + 7), _MM_HINT_T0);
        a[q] = _mm256_setzero_pd();
        b[q] = _mm256_setzero_pd();
        lr[q] = l + size_t(q) * size_t(kb);
    }
    for (int s = 0; s < kb; ++s) {
        const double *us = u[s] + ucol;
        const __m256d u0 = _mm256_loadu_pd(us);
        const __m256d u1 = _mm256_loadu_pd(us + 4);
#pragma GCC unroll 6
        for (int q = 0; q < R; ++q) {
            const __m256d x = _mm256_broadcast_sd(lr[q] + s);
            a[q] = _mm256_fmadd_pd(x, u0, a[q]);
            b[q] = _mm256_fmadd_pd(x, u1, b[q]);
        }
    }
#pragma GCC unroll 6
    for (int q = 0; q < R; ++q) {
        double *c = rows[q] + col;
        _mm256_storeu_pd(c, _mm256_sub_pd(_mm256_loadu_pd(c), a[q]));
        _mm256_storeu_pd(c + 4, _mm256_sub_pd(_mm256_loadu_pd(c + 4), b[q]));
    }
}

__attribute__((target("avx2,fma"))) void block256(double *const *rows, int count, int col,
                                                  const double *l, int kb, const double *const *u,
                                                  int ucol)
{
    for (int h = 0; h < W; h += 8) {
        int r = 0;
        for (; r + 6 <= count; r += 6)
            tile256<6>(rows + r, col + h, l + size_t(r) * size_t(kb), kb, u, ucol + h);
        for (; r + 3 <= count; r += 3)
            tile256<3>(rows + r, col + h, l + size_t(r) * size_t(kb), kb, u, ucol + h);
        for (; r < count; ++r)
            tile256<1>(rows + r, col + h, l + size_t(r) * size_t(kb), kb, u, ucol + h);
    }
}

#endif

// The triangular solve of packSolved on one packed block of width W:
// ub[s][j] -= sum over t < s of l[s][t] * ub[t][j].
void solveBlockGeneric(double *ub, const double *l, int ldl, int kb)
{
    for (int s = 1; s < kb; ++s) {
        const double *ls = l + size_t(s) * size_t(ldl);
        for (int j = 0; j < W; ++j) {
            double acc = 0.0;
            for (int t = 0; t < s; ++t)
                acc = std::fma(ls[t], ub[t * W + j], acc);
            ub[s * W + j] = ub[s * W + j] - acc;
        }
    }
}

#ifdef TARVIX_X86_KERNELS

// Two blocks at once: four independent sums keep the multiply-add unit busy.
__attribute__((target("avx512f"))) void solveBlock512(double *ub0, double *ub1, const double *l,
                                                      int ldl, int kb)
{
    for (int s = 1; s < kb; ++s) {
        const double *ls = l + size_t(s) * size_t(ldl);
        __m512d a0 = _mm512_setzero_pd(), b0 = _mm512_setzero_pd();
        __m512d a1 = _mm512_setzero_pd(), b1 = _mm512_setzero_pd();
        for (int t = 0; t < s; ++t) {
            const __m512d x = _mm512_set1_pd(ls[t]);
            a0 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub0 + t * W), a0);
            b0 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub0 + t * W + 8), b0);
            a1 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub1 + t * W), a1);
            b1 = _mm512_fmadd_pd(x, _mm512_loadu_pd(ub1 + t * W + 8), b1);
        }
        double *c0 = ub0 + s * W, *c1 = ub1 + s * W;
        _mm512_storeu_pd(c0, _mm512_sub_pd(_mm512_loadu_pd(c0), a0));
        _mm512_storeu_pd(c0 + 8, _mm512_sub_pd(_mm512_loadu_pd(c0 + 8), b0));
        _mm512_storeu_pd(c1, _mm512_sub_pd(_mm512_loadu_pd(c1), a1));
        _mm512_storeu_pd(c1 + 8, _mm512_sub_pd(_mm512_loadu_pd(c1 + 8), b1));
    }
}

__attribute__((target("avx2,fma"))) void solveBlock256(double *ub0, double *ub1, const double *l,
                                                       int ldl, int kb)
{
    for (int h = 0; h < W; h += 8) {
        for (int s = 1; s < kb; ++s) {
            const double *ls = l + size_t(s) * size_t(ldl);
            __m256d a0 = _mm256_setzero_pd(), b0 = _mm256_setzero_pd();
            __m256d a1 = _mm256_setzero_pd(), b1 = _mm256_setzero_pd();
            for (int t = 0; t < s; ++t) {
                const __m256d x = _mm256_broadcast_sd(ls + t);
                a0 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub0 + t * W + h), a0);
                b0 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub0 + t * W + h + 4), b0);
                a1 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub1 + t * W + h), a1);
                b1 = _mm256_fmadd_pd(x, _mm256_loadu_pd(ub1 + t * W + h + 4), b1);
            }
            double *c0 = ub0 + s * W + h, *c1 = ub1 + s * W + h;
            _mm256_storeu_pd(c0, _mm256_sub_pd(_mm256_loadu_pd(c0), a0));
            _mm256_storeu_pd(c0 + 4, _mm256_sub_pd(_mm256_loadu_pd(c0 + 4), b0));
            _mm256_storeu_pd(c1, _mm256_sub_pd(_mm256_loadu_pd(c1), a1));
            _mm256_storeu_pd(c1 + 4, _mm256_sub_pd(_mm256_loadu_pd(c1 + 4), b1));
        }
    }
}

#endif

using SolvePair = void (*)(double *ub0, double *ub1, const double *l, int ldl, int kb);

void solvePairGeneric(double *ub0, double *ub1, const double *l, int ldl, int kb)
{
    solveBlockGeneric(ub0, l, ldl, kb);
    solveBlockGeneric(ub1, l, ldl, kb);
}

struct KernelSet
{
    BlockKernel block;
    SolvePair solve;
};

KernelSet kernelSet(PanelUpdate::Kernel k)
{
    switch (k) {
#ifdef TARVIX_X86_KERNELS
    case PanelUpdate::Kernel::Avx512:
        return {block512, solveBlock512};
    case PanelUpdate::Kernel::Avx2:
        return {block256, solveBlock256};
#endif
    default:
        return {blockGeneric, solvePairGeneric};
    }
}

PanelUpdate::Kernel bestKernel()
{
    const std::vector<PanelUpdate::Kernel> all = PanelUpdate::supportedKernels();
    return all.back();
}

// The kernel named by TARVIX_KERNEL where this processor has it, else the
// best it has.
PanelUpdate::Kernel startKernel()
{
    const char *forced = std::getenv("TARVIX_KERNEL");
    if (!forced || !*forced)
        return bestKernel();
    for (PanelUpdate::Kernel k : PanelUpdate::supportedKernels()) {
        if (std::strcmp(forced, PanelUpdate::kernelName(k)) == 0)
            return k;
    }
    std::fprintf(stderr, "TARVIX_KERNEL=%s: not a kernel this processor runs (portable, avx2, "
                         "avx512); using %s\n",
                 forced, PanelUpdate::kernelName(bestKernel()));
    return bestKernel();
}

// The second-level cache of one core, read once at start-up.
long levelTwoBytes()
{
    const long bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
    return bytes >= 65536 ? bytes : 262144;
}

const long kLevelTwo = levelTwoBytes();
constexpr int kMaxChunk = 240;

PanelUpdate::Kernel gKernel = startKernel();
KernelSet gKernels = kernelSet(gKernel);

} // namespace

int PanelUpdate::chunkRows(int kb)
{
    // Rows whose ratios fill about half the core's second-level cache, in
    // whole tiles of 24 (eight-, six-, four- and three-row tiles all divide
    // it): each block of the pivot rows then serves them all from the first
    // level.
    const long rows = kLevelTwo / 2 / (long(kb > 0 ? kb : 1) * long(sizeof(double)));
    return int(std::clamp(rows / 24 * 24, 24L, long(kMaxChunk)));
}

int PanelUpdate::setRows(double *const *u, int kb, int col0, int n)
{
    m_rows = u;
    m_kb = kb;
    m_col0 = col0;
    m_n = n;
    const int cols = n - col0;
    return cols > 0 ? (cols + W - 1) / W : 0;
}

void PanelUpdate::copyTail()
{
    const int cols = m_n - m_col0;
    const int width = cols > 0 ? cols % W : 0;
    m_tail.assign(width > 0 ? size_t(m_kb) * W : 0, 0.0);
    m_tailRows.assign(width > 0 ? size_t(m_kb) : 0, nullptr);
    if (width == 0)
        return;
    const int j0 = m_n - width;
    for (int s = 0; s < m_kb; ++s) {
        std::memcpy(m_tail.data() + size_t(s) * W, m_rows[s] + j0, sizeof(double) * size_t(width));
        m_tailRows[size_t(s)] = m_tail.data() + size_t(s) * W;
    }
}

void PanelUpdate::pack(double *const *u, int kb, int col0, int n)
{
    setRows(u, kb, col0, n);
    copyTail();
}

void PanelUpdate::inShares(int blocks, const Spread &spread,
                           const std::function<void(int, int)> &part)
{
    // Shares of whole pairs of blocks, so that each block is solved as it
    // would be in one pass.
    const int pairs = (blocks + 1) / 2;
    const int count = spread && pairs > 1 ? std::min(spread.count, pairs) : 1;
    if (count <= 1) {
        part(0, blocks);
        return;
    }
    spread.run(count, [&](int w) {
        const int b0 = 2 * int((long long)pairs * w / count);
        const int b1 = std::min(blocks, 2 * int((long long)pairs * (w + 1) / count));
        if (b0 < b1)
            part(b0, b1);
    });
}

void PanelUpdate::apply(double *const *rows, int count, const double *l) const
{
    if (count < 1 || m_kb < 1 || !m_rows)
        return;
    const int cols = m_n - m_col0;
    const int full = cols / W;
    // Rows in chunks, so that each block of the pivot rows is reused from
    // the cache by every row of the chunk, and the chunk's ratios stay in
    // the second-level cache beside it.
    const int kChunk = chunkRows(m_kb);
    // Each block of the pivot rows is copied side by side before the chunk's
    // rows take it: one stretch of memory, which the cache holds whole.
    alignas(64) double ub[kMaxSteps * W];
    const double *ubRows[kMaxSteps];
    for (int s = 0; s < m_kb; ++s)
        ubRows[s] = ub + s * W;
    for (int r0 = 0; r0 < count; r0 += kChunk) {
        const int rc = count - r0 < kChunk ? count - r0 : kChunk;
        const double *lc = l + size_t(r0) * size_t(m_kb);
        for (int b = 0; b < full; ++b) {
            const int col = m_col0 + b * W;
            // The next block of the pivot rows on its way to the core's
            // cache while this one is applied (two lines a row).
            if (b + 1 < full) {
                for (int s = 0; s < m_kb; ++s) {
                    __builtin_prefetch(m_rows[s] + col + W, 0, 2);
                    __builtin_prefetch(m_rows[s] + col + W + 8, 0, 2);
                }
            }
            for (int s = 0; s < m_kb; ++s)
                std::memcpy(ub + s * W, m_rows[s] + col, sizeof(double) * W);
            gKernels.block(rows + r0, rc, col, lc, m_kb, ubRows, 0);
        }
        if (full * W < cols) {
            // The last, narrow block: the rows' ends through a full-width
            // scratch tile, against the pivot rows' ends padded with zeros,
            // so that they get the same kernel as the rest.
            const int width = cols - full * W;
            const int col = m_col0 + full * W;
            double tile[kMaxChunk][W];
            double *tileRows[kMaxChunk];
            for (int r = 0; r < rc; ++r) {
                tileRows[r] = tile[r];
                std::memcpy(tile[r], rows[r0 + r] + col, sizeof(double) * size_t(width));
                std::fill(tile[r] + width, tile[r] + W, 0.0);
            }
            gKernels.block(tileRows, rc, 0, lc, m_kb, m_tailRows.data(), 0);
            for (int r = 0; r < rc; ++r)
                std::memcpy(rows[r0 + r] + col, tile[r], sizeof(double) * size_t(width));
        }
    }
}

void PanelUpdate::packSolved(double *const *u, const double *l, int ldl, int kb, int col0, int n,
                             const Spread &spread)
{
    const int blocks = setRows(u, kb, col0, n);
    const size_t blockSize = size_t(kb) * W;
    inShares(blocks, spread, [&](int b0, int b1) {
        // Each pair of blocks is solved in a copy of its own, padded with
        // zeros (which stay zero), and written back.
        std::vector<double> pair(2 * blockSize);
        for (int b = b0; b < b1; b += 2) {
            const int end = std::min(b1, b + 2);
            std::fill(pair.begin(), pair.end(), 0.0);
            for (int q = b; q < end; ++q) {
                const int j0 = col0 + q * W;
                const int width = n - j0 < W ? n - j0 : W;
                double *dst = pair.data() + size_t(q - b) * blockSize;
                for (int s = 0; s < kb; ++s)
                    std::memcpy(dst + s * W, u[s] + j0, sizeof(double) * size_t(width));
            }
            gKernels.solve(pair.data(), pair.data() + blockSize, l, ldl, kb);
            for (int q = b; q < end; ++q) {
                const int j0 = col0 + q * W;
                const int width = n - j0 < W ? n - j0 : W;
                const double *src = pair.data() + size_t(q - b) * blockSize;
                for (int s = 1; s < kb; ++s)
                    std::memcpy(u[s] + j0, src + s * W, sizeof(double) * size_t(width));
            }
        }
    });
    copyTail();
}

std::vector<PanelUpdate::Kernel> PanelUpdate::supportedKernels()
{
    std::vector<Kernel> all{Kernel::Portable};
#ifdef TARVIX_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        all.push_back(Kernel::Avx2);
    if (__builtin_cpu_supports("avx512f"))
        all.push_back(Kernel::Avx512);
#endif
    return all;
}

const char *PanelUpdate::kernelName(Kernel k)
{
    switch (k) {
    case Kernel::Avx512:
        return "avx512";
    case Kernel::Avx2:
        return "avx2";
    default:
        return "portable";
    }
}

PanelUpdate::Kernel PanelUpdate::kernel()
{
    return gKernel;
}

bool PanelUpdate::setKernel(Kernel k)
{
    for (Kernel s : supportedKernels()) {
        if (s == k) {
            gKernel = k;
            gKernels = kernelSet(k);
            return true;
        }
    }
    return false;
}
