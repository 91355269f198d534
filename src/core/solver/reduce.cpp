#include "reduce.h"

#include "solver/panel.h"

#include "prefs/userprefs.h"
#include "store/equationstore.h"

#include <QThread>

#include <cmath>
#include <cstdlib>
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
#endif
#ifndef TARVIX_CLONES
#define TARVIX_CLONES
#endif

namespace {

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

// Two rows against the same pivot row: the pivot row is read once.
inline void rowUpdate2(double *__restrict d0, double *__restrict d1, const double *__restrict src,
                       double r0, double r1, int len)
{
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const double s0 = src[j], s1 = src[j + 1], s2 = src[j + 2], s3 = src[j + 3];
        const double a0 = d0[j] - s0 * r0;
        const double a1 = d0[j + 1] - s1 * r0;
        const double a2 = d0[j + 2] - s2 * r0;
        const double a3 = d0[j + 3] - s3 * r0;
        const double b0 = d1[j] - s0 * r1;
        const double b1 = d1[j + 1] - s1 * r1;
        const double b2 = d1[j + 2] - s2 * r1;
        const double b3 = d1[j + 3] - s3 * r1;
        d0[j] = a0;
        d0[j + 1] = a1;
        d0[j + 2] = a2;
        d0[j + 3] = a3;
        d1[j] = b0;
        d1[j + 1] = b1;
        d1[j + 2] = b2;
        d1[j + 3] = b3;
    }
    for (; j < len; ++j) {
        d0[j] = d0[j] - src[j] * r0;
        d1[j] = d1[j] - src[j] * r1;
    }
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

void Reduce::setRange(double **coef, double *rhs, double **ur, double **dr, int k, int n,
                      int first, int last)
{
    m_coef = coef;
    m_rhs = rhs;
    m_ur = ur;
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

void Reduce::applyURatios(double *v, int n, double **ur)
{
    // v[i] - ur[k][i-k-1] * v[k] for every i below k, as one row update.
    for (int k = 0; k < n - 1; ++k)
        rowUpdate(v + k + 1, ur[k], v[k], n - k - 1);
}

void Reduce::subtractScaled(double *dst, const double *src, double f, int len)
{
    rowUpdate(dst, src, f, len);
}

TARVIX_CLONES
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

void Reduce::applyDRatios(double *v, int n, double **dr)
{
    for (int i = n - 2; i >= 0; --i) {
        const double *dri = dr[i];
        const double *vj = v + i + 1;
        const int len = n - i - 1;
        double sum = 0.0;
        for (int j = 0; j < len; ++j)
            sum += dri[j] * vj[j];
        v[i] = v[i] - sum;
    }
}

void Reduce::eliminateRows(double **coef, double *rhs, double *urk, int k, int n, int first,
                           int last)
{
    const double *pivotRow = coef[k];
    const double p = pivotRow[k];
    if (EquationStore::isZero(p)) {
        for (int i = first; i <= last; ++i)
            urk[i - k - 1] = 0.0;
        return;
    }
    const double rk = rhs[k];
    const int len = n - k;
    for (int i = first; i <= last; ++i) {
        double *row = coef[i];
        const double ratio = row[k] / p;
        rhs[i] = rhs[i] - rk * ratio;
        urk[i - k - 1] = ratio;
        // Sparse systems: a row that needs no change is not touched.
        if (!EquationStore::isZero(ratio))
            rowUpdate(row + k, pivotRow + k, ratio, len);
    }
}

namespace {

// The block kernel, built also for AVX2 where the processor has it (same
// operations without fused multiply-add, so the same results).
TARVIX_CLONES
void eliminateBlockKernel(double **coef, double *rhs, double **ur, int k0, int k1, int n,
                          int first, int last)
{
    int i = first;
    // Rows two at a time, so each pivot row is read once for both.
    for (; i + 1 <= last; i += 2) {
        double *row0 = coef[i];
        double *row1 = coef[i + 1];
        double rhs0 = rhs[i];
        double rhs1 = rhs[i + 1];
        for (int s = k0; s < k1; ++s) {
            const double *pivotRow = coef[s];
            const double p = pivotRow[s];
            double *urs = ur[s] + (i - s - 1); // rows i and i+1
            if (EquationStore::isZero(p)) {
                urs[0] = 0.0;
                urs[1] = 0.0;
                continue;
            }
            const double ratio0 = row0[s] / p;
            const double ratio1 = row1[s] / p;
            rhs0 = rhs0 - rhs[s] * ratio0;
            rhs1 = rhs1 - rhs[s] * ratio1;
            urs[0] = ratio0;
            urs[1] = ratio1;
            const bool use0 = !EquationStore::isZero(ratio0);
            const bool use1 = !EquationStore::isZero(ratio1);
            if (use0 && use1)
                rowUpdate2(row0 + s, row1 + s, pivotRow + s, ratio0, ratio1, n - s);
            else if (use0)
                rowUpdate(row0 + s, pivotRow + s, ratio0, n - s);
            else if (use1)
                rowUpdate(row1 + s, pivotRow + s, ratio1, n - s);
        }
        rhs[i] = rhs0;
        rhs[i + 1] = rhs1;
    }
    for (; i <= last; ++i) {
        double *row = coef[i];
        double ri = rhs[i];
        for (int s = k0; s < k1; ++s) {
            const double *pivotRow = coef[s];
            const double p = pivotRow[s];
            if (EquationStore::isZero(p)) {
                ur[s][i - s - 1] = 0.0;
                continue;
            }
            const double ratio = row[s] / p;
            ri = ri - rhs[s] * ratio;
            ur[s][i - s - 1] = ratio;
            if (!EquationStore::isZero(ratio))
                rowUpdate(row + s, pivotRow + s, ratio, n - s);
        }
        rhs[i] = ri;
    }
}

} // namespace

void Reduce::eliminateBlock(double **coef, double *rhs, double **ur, int k0, int k1, int n,
                            int first, int last)
{
    eliminateBlockKernel(coef, rhs, ur, k0, k1, n, first, last);
}

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
        diagonalRow(coef[i] + start, d + (start - base), dr[i], n - start);
    }
    delete[] d;
}

void Reduce::eliminate()
{
    if (m_kEnd == m_k + 1)
        eliminateRows(m_coef, m_rhs, m_ur[m_k], m_k, m_n, m_first, m_last);
    else if (m_panel)
        eliminateDelayed(m_coef, m_rhs, m_ur, m_k, m_kEnd, m_n, m_first, m_last, *m_panel);
    else
        eliminateBlock(m_coef, m_rhs, m_ur, m_k, m_kEnd, m_n, m_first, m_last);
}

void Reduce::eliminateDelayed(double **coef, double *rhs, double **ur, int k0, int k1, int n,
                              int first, int last, const PanelUpdate &panel)
{
    (void)n; // the panel knows the columns
    const int kb = k1 - k0;
    if (kb < 1 || first > last)
        return;
    constexpr int kChunk = 64;
    std::vector<double> l(size_t(kChunk) * size_t(kb));
    for (int i0 = first; i0 <= last; i0 += kChunk) {
        const int rc = last - i0 + 1 < kChunk ? last - i0 + 1 : kChunk;
        for (int r = 0; r < rc; ++r) {
            const int i = i0 + r;
            double *row = coef[i];
            double ri = rhs[i];
            double *lr = l.data() + size_t(r) * size_t(kb);
            for (int s = k0; s < k1; ++s) {
                const double *pivotRow = coef[s];
                const double p = pivotRow[s];
                if (EquationStore::isZero(p)) {
                    ur[s][i - s - 1] = 0.0;
                    lr[s - k0] = 0.0;
                    continue;
                }
                const double ratio = row[s] / p;
                ri = ri - rhs[s] * ratio;
                ur[s][i - s - 1] = ratio;
                if (EquationStore::isZero(ratio)) {
                    lr[s - k0] = 0.0;
                    continue;
                }
                lr[s - k0] = ratio;
                rowUpdate(row + s, pivotRow + s, ratio, k1 - s);
            }
            rhs[i] = ri;
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

void Reduce::runPhase(const QString &name, int count, const std::function<void(int)> &job)
{
    if (count < 1)
        return;
    if (count == 1) {
        job(0);
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
        delete workers[size_t(w)];
    }
}
