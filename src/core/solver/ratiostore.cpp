#include "ratiostore.h"

#include "solver/doubleblock.h"

#include <algorithm>

namespace {

size_t triangle(int n)
{
    return n < 2 ? 0 : size_t(n - 1) * size_t(n) / 2;
}

} // namespace

RatioStore::RatioStore(int n, Placement placement) : m_n(n > 0 ? n : 0), m_placement(placement)
{
    if (m_n < 2)
        return;
    lower = new double *[m_n]();
    dr = new double *[m_n - 1]();
    if (placement == Placement::InWorkingCopy)
        return;
    // Both triangles in one zero-filled block: a big solve's store costs a
    // few page faults, not one allocation per row.
    const size_t half = triangle(m_n);
    m_block.reset(new DoubleBlock(2 * half));
    double *l = m_block->data();
    double *d = l + half;
    for (int i = 0; i < m_n; ++i) {
        lower[i] = l;
        l += i;
    }
    for (int k = 0; k + 1 < m_n; ++k) {
        dr[k] = d;
        d += m_n - 1 - k;
    }
}

void RatioStore::placeInWorkingCopy(double *const *rows)
{
    if (m_placement != Placement::InWorkingCopy || !rows || m_n < 2)
        return;
    for (int i = 0; i < m_n; ++i)
        lower[i] = rows[i];
    for (int k = 0; k + 1 < m_n; ++k)
        dr[k] = rows[k] + k + 1;
}

double **RatioStore::ur()
{
    if (m_n < 2 || m_ur)
        return m_ur;
    m_stepBlock.reset(new DoubleBlock(triangle(m_n)));
    m_ur = new double *[m_n - 1];
    double *u = m_stepBlock->data();
    for (int k = 0; k + 1 < m_n; ++k) {
        m_ur[k] = u;
        u += m_n - 1 - k;
    }
    return m_ur;
}

void RatioStore::settleStepRatios()
{
    if (!m_ur || !lower || !lower[0])
        return;
    // Steps of 64 at a time: each row of lower is written in one stretch.
    for (int k0 = 0; k0 + 1 < m_n; k0 += 64) {
        const int k1 = std::min(m_n - 1, k0 + 64);
        for (int i = k0 + 1; i < m_n; ++i) {
            double *row = lower[i];
            for (int k = k0; k < std::min(k1, i); ++k)
                row[k] = m_ur[k][i - k - 1];
        }
    }
    followSwaps();
    delete[] m_ur;
    m_ur = nullptr;
    m_stepBlock.reset();
}

void RatioStore::followSwaps()
{
    if (!lower || !lower[0])
        return;
    for (int s = 0; s + 1 < swaps.size(); s += 2) {
        const int k = swaps.at(s);
        const int r = swaps.at(s + 1);
        if (k < 0 || k >= m_n || r < 0 || r >= m_n || r == k)
            continue;
        std::swap_ranges(lower[k], lower[k] + std::min(k, r), lower[r]);
    }
}

RatioStore::~RatioStore()
{
    delete[] lower;
    delete[] dr;
    delete[] m_ur;
}
