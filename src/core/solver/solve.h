#ifndef SOLVE_H
#define SOLVE_H

#include "solver/panel.h"
#include "solver/ratiostore.h"
#include "solver/reduce.h"
#include "threads/mythreads.h"

#include <QList>
#include <QMap>
#include <QString>

#include <algorithm>
#include <atomic>
#include <functional>

#include <memory>
#include <vector>

class QThread;

// Progress and cancel of a running solve, shared with the thread that waits
// for it. The elimination checks cancel before each block and stores the
// share of its work done (blocks weighed by the work left, ~ (n-k)^2) after
// each; onProgress (may be empty) is called with that share on the solving
// thread. A cancelled solve leaves the solution alone and sets status 3.
struct SolveControl
{
    std::atomic<bool> cancel{false};
    std::atomic<double> done{0.0};
    std::function<void(double)> onProgress;
    // The waiting thread's turn (may be empty): while the solve's threads
    // work, solveArrays calls it on the thread that waits, every few
    // milliseconds (a window paints and updates its progress box there).
    std::function<void()> wait;
    // An elimination elsewhere (may be empty): factors the working copy work
    // of the system in the form of a solve's reduced matrix and returns its
    // ratio store, with the answer in x; null when it did not solve (work is
    // copied afresh and the elimination runs here).
    std::function<std::unique_ptr<RatioStore>(double **work, const double *rhs, double *x)> factor;
    // Called with the solve and its thread before the elimination starts
    // (may be empty; the step-by-step devices attach there).
    std::function<void(class Solve *, QThread *)> attach;
    // The share of the elimination's work done once columns 0..k-1 are
    // eliminated in a system of n.
    static double shareDone(int n, int k);
};

// Solves one system of n linear equations by Gauss-Jordan elimination:
// column and row ordering by zero counts, forward elimination column by
// column with pivot repair by row exchanges (row work spread over Reduce
// workers), diagonal reduction, back substitution and division. Works in
// place on the caller's copies of the coefficients and right-hand side.
//
// The ratios it learns stay in its RatioStore; the caller takes them with
// takeRatios() and hands them to a refinement-form Solve.
class Solve : public TrxWorker
{
    Q_OBJECT
public:
    // Solving form. columnZeros: per-column zero counts from validation
    // (null: no column ordering). status: the caller's status word, written
    // at the end of calc: 0 clean, 1 the result is not to be trusted (a pivot
    // could not be repaired, the input or the result holds inf or NaN), 2 the
    // forward elimination failed and no solution was computed. store: a
    // fresh RatioStore of n made ahead (null: the solve makes its own).
    Solve(double **c, double *r, double *sol, int *columnZeros, int *status, int n,
          std::unique_ptr<RatioStore> store = nullptr);
    // Refinement form: c is the reduced matrix a solve left behind, r the
    // unreduced right-hand side, sol the working solution, ratios the store
    // of that solve.
    Solve(double **c, double *r, double *sol, int n, std::unique_ptr<RatioStore> ratios);
    ~Solve() override;

    // Worker settings; the solving form starts with those of the preferences.
    void setThreadSettings(const ThreadSettings &settings) { m_settings = settings; }
    const ThreadSettings &threadSettings() const { return m_settings; }
    // Elimination steps handed to the workers at once: 1 gives one phase per
    // column; 0 (the default) picks the block. With more than one step the
    // updates right of the block are applied as one product, which rounds
    // differently from single steps; for one block size the results are the
    // same whatever the worker count.
    void setBlockSize(int steps) { m_blockSize = steps; }
    // Progress and cancel (not owned; null: neither).
    void setControl(SolveControl *control) { m_control = control; }
    // Whether the system's coefficients are all finite, where the caller
    // looked already (the solve then does not look again).
    void setInputFinite(bool finite)
    {
        m_inputLooked = true;
        m_inputFinite = finite;
    }
    bool cancelled() const { return m_cancelled; }
    static int defaultBlockSize(int n);

    // Hands the forward elimination to the device: sets the GPU flag and
    // emits initialiseGPU at once.
    void enableGPU(QThread *t);

    RatioStore *ratios() const { return m_ratios.get(); }
    // Seconds the last calc spent in the forward elimination and in the
    // diagonal reduction with the back substitution (for the benchmark).
    double eliminationSeconds() const { return m_elimSeconds; }
    double diagonalSeconds() const { return m_diagSeconds; }
    // Gives the store away (for the refinement); the Solve keeps none.
    std::unique_ptr<RatioStore> takeRatios() { return std::move(m_ratios); }

    // One refinement step (refinement form): a are the unreduced coefficients,
    // residual and correction scratch vectors of n values.
    void refine(double **a, double *residual, double *correction);
    // The same with residual already holding a x - r for the working
    // solution (computed the same way), which saves a pass over a; count
    // workers of the calling thread's team share its passes.
    void refineFromResidual(double *residual, double *correction, int count = 1);

    // Debug dump of the matrices (only with debug logging on).
    static void print(double **c, double *r, int n);

    // Reorders keys and data with the shared rule: for each position p take
    // the first q >= p whose key equals that of the sorted keys at p and
    // exchange p and q. Exchanges are recorded p -> q; exchange(p, q) moves
    // the data. descending: column order (more zeros first).
    template<typename Exchange>
    static void reorder(int *keys, int n, bool descending, QMap<int, int> &record,
                        Exchange exchange);

public slots:
    void calc();

signals:
    void throwErr(QString *errTitle, QString *errTxt, QString errorType);
    void initialiseGPU(double **c, double *r, double **ur, double **dr, int n, QList<int> *diag,
                       QThread *t);
    void calcURatios(bool *res);

private:
    void orderColumns();
    void countLeadZeros();
    void orderRows();
    bool solveEq();
    void checkDiagonal(int k);
    void swapRows(int k, int r);
    void raiseError(int code, int k);
    void runElimination(int k0, int k1, int rowStart);
    void reduceDiagonal();
    // One Reduce per non-empty range, configured by configure, each run
    // as a share of one phase; waits for them all.
    void runWorkers(const QVector<RowRange> &ranges, const QString &name, bool diagonal,
                    const std::function<void(Reduce *, const RowRange &)> &configure);
    void emitError(const QString &title, const QString &text);

    bool m_gpu = false;
    int m_n;
    int *m_status;
    double **m_c;
    double *m_r;
    double *m_sol;
    int *m_leadZeros = nullptr;
    int *m_columnZeros;
    std::unique_ptr<RatioStore> m_ratios;
    ThreadSettings m_settings;
    bool m_repairFailed = false;
    int m_blockSize = 0;
    bool m_inputLooked = false;
    bool m_inputFinite = true;
    SolveControl *m_control = nullptr;
    bool m_cancelled = false;
    void reportProgress(double share);
    double m_elimSeconds = 0.0;
    double m_diagSeconds = 0.0;
    // Pivot rows of the running block, packed for the workers.
    PanelUpdate m_panel;
};

template<typename Exchange>
void Solve::reorder(int *keys, int n, bool descending, QMap<int, int> &record, Exchange exchange)
{
    std::vector<int> sorted(keys, keys + n);
    if (descending)
        std::sort(sorted.begin(), sorted.end(), [](int a, int b) { return a > b; });
    else
        std::sort(sorted.begin(), sorted.end());
    for (int p = 0; p < n; ++p) {
        if (keys[p] == sorted[size_t(p)])
            continue;
        int q = p + 1;
        while (q < n && keys[q] != sorted[size_t(p)])
            ++q;
        if (q >= n)
            continue; // cannot happen: the sorted keys are a permutation
        std::swap(keys[p], keys[q]);
        record.insert(p, q);
        exchange(p, q);
    }
}

#endif
