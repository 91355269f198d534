#include "ratiostore.h"

#include "solver/doubleblock.h"

RatioStore::RatioStore(int n) : m_n(n > 0 ? n : 0)
{
    if (m_n < 2)
        return;
    const int rows = m_n - 1;
    const size_t half = size_t(rows) * size_t(rows + 1) / 2;
    // Both triangles in one zero-filled block: a big solve's store costs a
    // few page faults, not one allocation per row.
    m_block.reset(new DoubleBlock(2 * half));
    ur = new double *[rows];
    dr = new double *[rows];
    double *u = m_block->data();
    double *d = u + half;
    for (int k = 0; k < rows; ++k) {
        ur[k] = u;
        dr[k] = d;
        u += rows - k;
        d += rows - k;
    }
}

RatioStore::~RatioStore()
{
    delete[] ur;
    delete[] dr;
}
