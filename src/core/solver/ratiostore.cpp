#include "ratiostore.h"

RatioStore::RatioStore(int n) : m_n(n > 0 ? n : 0)
{
    if (m_n < 2)
        return;
    const int rows = m_n - 1;
    ur = new double *[rows];
    dr = new double *[rows];
    for (int k = 0; k < rows; ++k) {
        ur[k] = new double[rows - k]();
        dr[k] = new double[rows - k]();
    }
}

RatioStore::~RatioStore()
{
    if (m_n < 2)
        return;
    for (int k = 0; k < m_n - 1; ++k) {
        delete[] ur[k];
        delete[] dr[k];
    }
    delete[] ur;
    delete[] dr;
}
