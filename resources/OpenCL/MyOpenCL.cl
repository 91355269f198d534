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
