#ifndef REDUCE_H
#define REDUCE_H

#include "solver/panel.h"
#include "threads/mythreads.h"

#include <QList>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <functional>


// Worker thread settings of one solve: the threshold list (entry c is the
// largest number of rows that c+1 workers handle) and the processor count.
struct ThreadSettings
{
    QList<int> limits;
    int processors = 1;
    // Processors that other work of the same solve holds for now (null:
    // none); the phases that ask for freeProcessors leave them to it.
    const std::atomic<int> *held = nullptr;
    // threadLimits and processorCount of the preference store.
    static ThreadSettings fromPrefs();
    // processors less those held, at least 1.
    int freeProcessors() const
    {
        const int taken = held ? held->load(std::memory_order_acquire) : 0;
        return std::max(1, processors - taken);
    }
};

// Rows of one worker. Elimination ranges run upward (first <= last), those of
// the diagonal reduction downward (first >= last). An empty range has no rows.
struct RowRange
{
    int first = 0;
    int last = -1;
    bool empty = true;
    int rows() const { return empty ? 0 : (first <= last ? last - first + 1 : first - last + 1); }
};

// One worker of a row-wise phase of the solver: either the elimination step
// for one column over a range of rows, or the diagonal reduction over a range.
// Workers of one phase write disjoint rows and read only rows nobody writes,
// so they need no locks.
class Reduce : public TrxWorker
{
    Q_OBJECT
public:
    Reduce();

    // lower: the rows the multipliers go to (lower[i][k] for row i and step k).
    void setRange(double **coef, double *rhs, double **lower, double **dr, int k, int n, int first,
                  int last);
    // Elimination workers may take the steps k..kEnd-1 at once with the
    // block's packed pivot rows (see eliminateDelayed); setRange leaves kEnd
    // at k+1.
    void setSteps(int kEnd, const PanelUpdate *panel = nullptr)
    {
        m_kEnd = kEnd;
        m_panel = panel;
    }

    // The work of the two slots without the hand-back to the registry, for
    // a share that runs on the calling thread.
    void eliminate();
    void diagonal();

    // Number of workers for a phase of m rows.
    static int workerCount(int m, const QList<int> &limits, int processors);
    // Ranges of the elimination step for column k: count entries, each inside
    // rows k+1..n-1; together they cover those rows exactly once.
    static QVector<RowRange> eliminationSplit(int n, int k, int count);
    // Ranges of the diagonal reduction (square-root rule): count entries, each
    // inside rows n-2..0; together they cover those rows exactly once.
    static QVector<RowRange> diagonalSplit(int n, int count);

    // dst[j] = dst[j] - src[j] * f for j < len.
    static void subtractScaled(double *dst, const double *src, double f, int len);
    // dst[j] = dst[j] + |src[j]| * f for j < len (dst and src apart).
    static void addAbsScaled(double *dst, const double *src, double f, int len);
    // The largest |v[j]|, NaN passed over; 0 for n < 1.
    static double absMax(const double *v, int n);
    // sum of a[j] * b[j] (four running sums, for speed; the order of the
    // additions is not the plain left-to-right one).
    static double dot(const double *a, const double *b, int n);
    // The same with sixteen running sums: another fixed order, for long
    // passes where the four sums' chain of additions is the bottleneck.
    static double dotWide(const double *a, const double *b, int n);
    // Whether v[0..n-1] holds no inf and no NaN.
    static bool allFinite(const double *v, int n);
    // counts[j] += 1 for each v[j] that counts as zero (the zero test).
    static void addZeroCounts(const double *v, int n, long long *counts);

    // The row kernels behind the two slots.
    // Elimination step for column k over rows first..last; row i's
    // multiplier goes to lower[i][k] (which may be coef[i][k] itself).
    static void eliminateRows(double **coef, double *rhs, double **lower, int k, int n, int first,
                              int last);
    // The most steps one block takes.
    static constexpr int kMaxSteps = PanelUpdate::kMaxSteps;
    // Pivot row i of the block k0..k1-1 (k0 < i < k1) takes the steps
    // k0..i-1 on the block's columns only: ratios, right-hand side and lower
    // exactly as one step at a time; its columns right of the block are left
    // to PanelUpdate::packSolved, which takes l[(i-k0) * ldl + s-k0] (the
    // ratio, or 0 where it counts as zero). Returns false and changes
    // nothing when the pivot the steps leave in column i counts as zero.
    static bool eliminatePanelRow(double **coef, double *rhs, double **lower, int k0, int k1, int i,
                                  double *l, int ldl);
    // The steps k0..k1-1 for rows first..last (below the block): each row
    // takes the steps on the block's columns k0..k1-1 (ratios, right-hand
    // side and lower exactly as one step at a time), then panel (the packed
    // pivot rows k0..k1-1 from column k1) applies all the updates right of
    // the block at once. A ratio that counts as zero leaves the row alone,
    // as in the single steps.
    static void eliminateDelayed(double **coef, double *rhs, double **lower, int k0, int k1, int n,
                                 int first, int last, const PanelUpdate &panel);
    // Diagonal reduction over rows first down to last. Where dr[i] is the
    // row's own upper part (coef[i] + i + 1) the ratios take its entries' places.
    static void diagonalRows(double **coef, double **dr, int n, int first, int last);

    // Runs job(0..count-1) as one phase, each share on its own pooled
    // worker thread named name followed by the share's number, and waits
    // for all. A share whose thread cannot be started runs on the calling
    // thread; one share runs there at once. Within a WorkerTeam made by
    // the calling thread, the team runs the shares.
    static void runPhase(const QString &name, int count, const std::function<void(int)> &job);
    // A packing spread (PanelUpdate) of up to count shares, each share a
    // share of runPhase under name.
    static PanelSpread phaseSpread(int count, const QString &name);
    // The job runJob runs (for a single job started by the caller).
    void setJob(const std::function<void(int)> &job, int index)
    {
        m_job = job;
        m_jobIndex = index;
    }

public slots:
    void reduction();
    void diagonalReduce();
    // The job of runPhase.
    void runJob();

private:
    double **m_coef = nullptr;
    double *m_rhs = nullptr;
    double **m_lower = nullptr;
    double **m_dr = nullptr;
    int m_k = 0;
    int m_kEnd = 1;
    int m_n = 0;
    int m_first = 0;
    int m_last = -1;
    const PanelUpdate *m_panel = nullptr;
    std::function<void(int)> m_job;
    int m_jobIndex = 0;
};

#endif
