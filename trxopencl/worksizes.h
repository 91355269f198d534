#ifndef WORKSIZES_H
#define WORKSIZES_H

#include <cstdint>

// Global and local work sizes for one device's chunk of N items.
struct WorkSizes
{
    uint64_t global = 0;
    uint64_t local = 0;
};

// fp64: element size 8 (else 4); globalMem / maxAlloc: the device's memory
// (0: unknown, then only the item count limits); W: the kernel's work-group
// size, P: its preferred multiple, C: compute units, N: items wanted, n: the
// number of unknowns (counted against the memory), noOvershoot: the size
// may not go beyond N.
WorkSizes workSizes(bool fp64, uint64_t globalMem, uint64_t maxAlloc, uint64_t W, uint64_t P,
                    uint64_t C, uint64_t N, uint64_t n, bool noOvershoot);

// Sizes for a chunk smaller than one wave of work groups (W * C > N).
WorkSizes smallWorkSizes(uint64_t W, uint64_t P, uint64_t C, uint64_t N);

// Whether an OpenCL version text ("OpenCL 1.2 ...") names 1.1 or later:
// after the first O or o, the digits before the first "." give the major
// version; 1 needs a minor digit 1 to 9 after it.
bool openCLVersionAccepted(const char *version);

#endif
