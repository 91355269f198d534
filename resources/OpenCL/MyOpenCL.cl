// Kernels of the OpenCL solver. myreal is double where the device has
// double precision and the host defined FP_64, float everywhere else.
#if defined(FP_64) && defined(cl_khr_fp64)
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
typedef double myreal;
#elif defined(FP_64) && defined(cl_amd_fp64)
#pragma OPENCL EXTENSION cl_amd_fp64 : enable
typedef double myreal;
#else
typedef float myreal;
#endif

// One work item per row below the pivot: the row's pivot-column entry comes
// in, its multiplier goes out, and its right-hand side is reduced.
__kernel void calcURatios(__global myreal *ratios, __global myreal *rhs, const myreal c,
                          const myreal r)
{
    const size_t g = get_global_id(0);
    const myreal ratio = ratios[g] / c;
    ratios[g] = ratio;
    rhs[g] = rhs[g] - ratio * r;
}

// One work item per element of the row-update block. The chunk starts
// offset columns into its first row; ref is the pivot row rotated by the
// same offset, so ref[g % minus] is the pivot entry of element g's column.
// A chunk may hold more than 2^31 elements, so the index is 64-bit; the
// multipliers are in global memory (constant memory is small on many GPUs).
__kernel void reduceURatios(__global myreal *coef, __global const myreal *ref,
                            __global const myreal *ratios, const int nvar, const int offset,
                            const int r)
{
    const ulong g = get_global_id(0);
    const ulong minus = (ulong)(nvar - r);
    coef[g] = coef[g] - ref[g % minus] * ratios[(g + (ulong)offset) / minus];
}

#ifdef TRX_BLOCKED
// The blocked solver's kernels, built in a program of their own with the
// tile sizes of the device: TS the edge of a tile of the trailing matrix,
// RTS the work items along each edge (each computes WPT x WPT entries) and
// TK the depth of one step through the panel. Matrices are column-major
// with leading dimension ld: entry (i, j) is a[j * ld + i].
#define WPT (TS / RTS)

// One work item per trailing column: the panel's row exchanges, then the
// unit lower triangle of the panel (l11, row-major w x w) solved into the
// panel's rows of the column.
__kernel void luRowPanel(__global myreal *a, const ulong ld, __global const int *piv,
                         __global const myreal *l11, const int k0, const int w, const int col0,
                         const int cols)
{
    const int j = (int)get_global_id(0);
    if (j >= cols)
        return;
    __global myreal *c = a + (ulong)(col0 + j) * ld;
    for (int p = 0; p < w; ++p) {
        const int r = piv[k0 + p];
        if (r != k0 + p) {
            const myreal t = c[k0 + p];
            c[k0 + p] = c[r];
            c[r] = t;
        }
    }
    c += k0;
    for (int p = 1; p < w; ++p) {
        myreal s = c[p];
        for (int q = 0; q < p; ++q)
            s -= l11[p * w + q] * c[q];
        c[p] = s;
    }
}

// The trailing update: A(row0 + i, col0 + j) -= sum over q of
// P(i, q) * A(u0 + q, col0 + j), P column-major with leading dimension pld.
// A work group takes a TS x TSN tile, RTS x RTSN items, each item WPT rows
// (RTS apart) of WPTN columns (RTSN apart).
#ifndef TSN
#define TSN TS
#define RTSN RTS
#endif
#define WPTN (TSN / RTSN)
__kernel __attribute__((reqd_work_group_size(RTS, RTSN, 1)))
void luGemm(__global myreal *a, const ulong ld, const int row0, const int rows, const int col0,
            const int cols, __global const myreal *p, const ulong pld, const int u0, const int depth)
{
    __local myreal pt[TK][TS];
    __local myreal ut[TSN][TK + 1];
    const int li = (int)get_local_id(0);
    const int lj = (int)get_local_id(1);
    const int bi = (int)get_group_id(0) * TS;
    const int bj = (int)get_group_id(1) * TSN;
    const int item = lj * RTS + li;
    myreal acc[WPT][WPTN];
    for (int x = 0; x < WPT; ++x)
        for (int y = 0; y < WPTN; ++y)
            acc[x][y] = 0;
    for (int q0 = 0; q0 < depth; q0 += TK) {
        for (int e = item; e < TK * TS; e += RTS * RTSN) {
            const int i = e % TS;
            const int q = e / TS;
            const int gi = bi + i;
            const int gq = q0 + q;
            pt[q][i] = (gi < rows && gq < depth) ? p[(ulong)gq * pld + gi] : 0;
        }
        for (int e = item; e < TK * TSN; e += RTS * RTSN) {
            const int q = e % TK;
            const int j = e / TK;
            const int gj = bj + j;
            const int gq = q0 + q;
            ut[j][q] = (gj < cols && gq < depth) ? a[(ulong)(col0 + gj) * ld + (ulong)(u0 + gq)] : 0;
        }
        barrier(CLK_LOCAL_MEM_FENCE);
        for (int q = 0; q < TK; ++q) {
            myreal pv[WPT];
            for (int x = 0; x < WPT; ++x)
                pv[x] = pt[q][li + x * RTS];
            for (int y = 0; y < WPTN; ++y) {
                const myreal uv = ut[lj + y * RTSN][q];
                for (int x = 0; x < WPT; ++x)
                    acc[x][y] += pv[x] * uv;
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);
    }
    for (int y = 0; y < WPTN; ++y) {
        const int gj = bj + lj + y * RTSN;
        if (gj >= cols)
            continue;
        __global myreal *c = a + (ulong)(col0 + gj) * ld + (ulong)row0;
        for (int x = 0; x < WPT; ++x) {
            const int gi = bi + li + x * RTS;
            if (gi < rows)
                c[gi] -= acc[x][y];
        }
    }
}

// The same update for processors, where local memory is plain memory and
// the work items of a group share vector lanes: each item keeps a 16 x CN
// block of the result in vector registers, reading the panel's rows and
// the block's columns straight from the (cached) buffers.
#define CN 6
__kernel void luGemmVec(__global myreal *a, const ulong ld, const int row0, const int rows,
                        const int col0, const int cols, __global const myreal *p, const ulong pld,
                        const int u0, const int depth)
{
    const int i0 = (int)get_global_id(0) * 16;
    const int j0 = (int)get_global_id(1) * CN;
    if (i0 >= rows || j0 >= cols)
        return;
    __global myreal *c0 = a + (ulong)(col0 + j0) * ld;
    if (i0 + 16 <= rows && j0 + CN <= cols) {
        double8 lo[CN], hi[CN];
        for (int c = 0; c < CN; ++c) {
            lo[c] = (double8)(0.0);
            hi[c] = (double8)(0.0);
        }
        for (int q = 0; q < depth; ++q) {
            __global const myreal *pq = p + (ulong)q * pld + (ulong)i0;
            const double8 p0 = vload8(0, pq);
            const double8 p1 = vload8(1, pq);
            for (int c = 0; c < CN; ++c) {
                const double u = c0[(ulong)c * ld + (ulong)(u0 + q)];
                lo[c] = fma(p0, (double8)(u), lo[c]);
                hi[c] = fma(p1, (double8)(u), hi[c]);
            }
        }
        for (int c = 0; c < CN; ++c) {
            __global myreal *cc = c0 + (ulong)c * ld + (ulong)(row0 + i0);
            vstore8(vload8(0, cc) - lo[c], 0, cc);
            vstore8(vload8(1, cc) - hi[c], 1, cc);
        }
        return;
    }
    // The edges of the matrix, one entry at a time.
    const int ie = min(rows, i0 + 16);
    const int je = min(cols, j0 + CN);
    for (int j = j0; j < je; ++j) {
        __global myreal *cc = a + (ulong)(col0 + j) * ld;
        for (int i = i0; i < ie; ++i) {
            myreal s = 0;
            for (int q = 0; q < depth; ++q)
                s += p[(ulong)q * pld + (ulong)i] * cc[u0 + q];
            cc[row0 + i] -= s;
        }
    }
}

// The triangular solves, one work group over count columns of a block
// (global columns gcol0.., local columns lcol0.. of this device's part).
// Forward: the block's row exchanges, then its multipliers (which are in
// the order of the block's last exchange).
__kernel void luForward(__global const myreal *a, const ulong ld, __global const int *piv,
                        __global myreal *x, const int n, const int gcol0, const int lcol0,
                        const int count)
{
    const int lid = (int)get_local_id(0);
    const int size = (int)get_local_size(0);
    if (lid == 0) {
        for (int p = 0; p < count; ++p) {
            const int col = gcol0 + p;
            const int r = piv[col];
            if (r != col) {
                const myreal t = x[col];
                x[col] = x[r];
                x[r] = t;
            }
        }
    }
    barrier(CLK_GLOBAL_MEM_FENCE);
    for (int p = 0; p < count; ++p) {
        const int col = gcol0 + p;
        const myreal xc = x[col];
        __global const myreal *c = a + (ulong)(lcol0 + p) * ld;
        for (int i = col + 1 + lid; i < n; i += size)
            x[i] -= c[i] * xc;
        barrier(CLK_GLOBAL_MEM_FENCE);
    }
}

// Backward: the columns from the last, each divided by its pivot first.
__kernel void luBackward(__global const myreal *a, const ulong ld, __global myreal *x,
                         const int gcol0, const int lcol0, const int count)
{
    const int lid = (int)get_local_id(0);
    const int size = (int)get_local_size(0);
    for (int p = count - 1; p >= 0; --p) {
        const int col = gcol0 + p;
        __global const myreal *c = a + (ulong)(lcol0 + p) * ld;
        if (lid == 0)
            x[col] = x[col] / c[col];
        barrier(CLK_GLOBAL_MEM_FENCE);
        const myreal xc = x[col];
        for (int i = lid; i < col; i += size)
            x[i] -= c[i] * xc;
        barrier(CLK_GLOBAL_MEM_FENCE);
    }
}
#endif
