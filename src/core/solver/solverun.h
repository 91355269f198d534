#ifndef SOLVERUN_H
#define SOLVERUN_H

#include "solver/ratiostore.h"
#include "solver/reduce.h"
#include "solver/trust.h"

#include <functional>
#include <memory>
#include <vector>

class EquationStore;
class WorkerTeam;
class QObject;

// The core work of the Solve command without any window or dialog.
//
// Copies the coefficients and right-hand side of store, runs Solve::calc on
// a pooled thread "Tarvix::solveEq" and waits for it (processing the calling
// thread's events, so errors can reach errorReceiver), then verifies the
// result with finishSolve and copies the custom solution into the current
// solution. Returns the status word: 0 the solution passed the check; 1 it
// did not, or the system is singular to working precision; -1 store not
// allocated for N (nothing done). trust (may be null) receives the check.
//
// columnZeros: the per-column zero counts from validation (null: no column
// ordering). errorReceiver: null, or an object living in the calling thread
// with a slot errMsg(QString*, QString*, QString); the solver's error
// triples reach it through a blocking queued connection.
// control (may be null): see solveArrays.
struct SolveControl;
int solveStore(EquationStore &store, const int *columnZeros, QObject *errorReceiver = nullptr,
               SolveTrust *trust = nullptr, SolveControl *control = nullptr);

// The same on plain arrays with explicit worker settings (benchmarks and the
// thread optimisation). coef and rhs are not changed; the result goes into
// customSol and, unless the status is -1, into currentSol (may be null).
// to[i][0..n-1] = from[i][0..n-1], the rows spread over the workers of
// settings (the working copy of a solve). Returns whether every value is
// finite, looked at while each row is in the cache.
bool copyRows(int n, double *const *from, double **to, const ThreadSettings &settings);

// control (may be null) gives progress and cancel: a cancelled solve
// returns 3 and leaves customSol, currentSol and trust as they were.
int solveArrays(int n, double **coef, const double *rhs, const int *columnZeros,
                double *customSol, double *currentSol, const ThreadSettings &settings,
                QObject *errorReceiver = nullptr, SolveTrust *trust = nullptr,
                SolveControl *control = nullptr);

// What follows a solve, on the calling thread. status is the solve's status
// word (2: no solution was computed). Refines sol with the solve's factors
// (work, the reduced copy, and ratios), measures the backward error on the
// caller's own system a, b and, when it does not pass, solves again by
// elimination with partial pivoting in work (overwritten), refines with those
// factors and measures again. The condition is estimated from the factors of
// the solution kept. A trusted solution is then refined with extra-precise
// residuals (see Precise::refine), which give its forward error bounds; the
// same for every worker count. Returns the status word for the outcome: 0
// trusted, 1 not.
// The refinement of a specified solve's answer and its trust check: the
// refined sol, the backward error and, where that passes, the condition
// estimate (worked out beside the refinement on a thread of its own where
// settings allow more than one worker). The result is the same for every
// worker count.
// The team that serves a refinement of n unknowns with settings (null where
// its phases would have one share): refineAndCheck keeps one for its steps.
std::unique_ptr<WorkerTeam> refinementTeam(int n, const ThreadSettings &settings);

SolveTrust refineAndCheck(int n, double **a, const double *b, double **work, RatioStore *ratios,
                          double *sol, const ThreadSettings &settings);

// The last step of finishSolve: a trusted answer sol refined with
// extra-precise residuals (Precise::refine) through the factors that gave
// it, the reduced copy work with ratios, or (ratios null) the partial-
// pivoting factors in work with perm; trust receives the steps and bounds
// (and the backward error of a changed answer).
void refinePrecisely(int n, double **a, const double *b, double **work, const RatioStore *ratios,
                     const std::vector<int> &perm, double *sol, const ThreadSettings &settings,
                     SolveTrust &trust);

int finishSolve(int n, double **a, const double *b, double **work,
                std::unique_ptr<RatioStore> ratios, double *sol, int status,
                const ThreadSettings &settings, SolveTrust *trust);

// Number of equations i whose residual sum_j a[i][j] * x[j] - b[i] is not
// zero (-1e-15..1e-15 counts as zero; inf and NaN are not zero).
int countUnsolved(int n, double **a, const double *b, const double *x);

// The accuracy refinement after a solve: a and b the unreduced system,
// reduced the coefficient copy the solve left behind, ratios the solve's
// store (released here), sol the custom solution, improved in place. Keeps
// the best solution seen (fewest unsolved equations). Returns that count.
int improveSolution(int n, double **a, const double *b, double **reduced,
                    std::unique_ptr<RatioStore> ratios, double *sol);
// The same with a store that stays the caller's; steps (may be null)
// receives the number of refinement steps taken.
// settings (may be null: all on the calling thread) spread the residuals'
// rows over workers.
// norms (may be null) receives a's row norms, taken with the first
// residuals; bestResidual (may be null) the residuals of the solution kept.
int improveSolution(int n, double **a, const double *b, double **reduced, RatioStore *ratios,
                    double *sol, int *steps, const ThreadSettings *settings = nullptr,
                    Trust::RowNorms *norms = nullptr, std::vector<double> *bestResidual = nullptr);

#endif
