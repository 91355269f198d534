#include "ratiostore.h"

#include "solver/doubleblock.h"

RatioStore::RatioStore(int n, Diagonal diagonal) : m_n(n > 0 ? n : 0), m_diagonal(diagonal)
{
    if (m_n < 2)
        return;
    const int rows = m_n - 1;
    const size_t half = size_t(rows) * size_t(rows + 1) / 2;
    const bool own = diagonal == Diagonal::Own;
    // Both triangles in one zero-filled block: a big solve's store costs a
    // few page faults, not one allocation per row.
    m_block.reset(new DoubleBlock(own ? 2 * half : half));
    ur = new double *[rows];
    dr = new double *[rows]();
    double *u = m_block->data();
    double *d = u + half;
    for (int k = 0; k < rows; ++k) {
        ur[k] = u;
        u += rows - k;
        if (own) {
            dr[k] = d;
            d += rows - k;
        }
    }
}

void RatioStore::placeDiagonal(double *const *rows)
{
    if (m_diagonal != Diagonal::InWorkingCopy || !rows)
        return;
    for (int k = 0; k + 1 < m_n; ++k)
        dr[k] = rows[k] + k + 1;
}

RatioStore::~RatioStore()
{
    delete[] ur;
    delete[] dr;
}
