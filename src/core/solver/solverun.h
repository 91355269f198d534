#ifndef SOLVERUN_H
#define SOLVERUN_H

#include "solver/ratiostore.h"
#include "solver/reduce.h"

#include <memory>

class EquationStore;
class QObject;

// The core work of the Solve command without any window or dialog.
//
// Copies the coefficients and right-hand side of store, runs Solve::calc on
// a pooled thread "Tarvix::solveEq" and waits for it (processing the calling
// thread's events, so errors can reach errorReceiver), then refines the
// result against the unreduced system with the reduced copy and copies the
// custom solution into the current solution. Returns the status word: 0 clean,
// 1 solved but not to be trusted (pivot repair failed, inf or NaN), 2 the
// forward elimination failed (solutions unchanged), -1 store not allocated
// for N (nothing done).
//
// columnZeros: the per-column zero counts from validation (null: no column
// ordering). errorReceiver: null, or an object living in the calling thread
// with a slot errMsg(QString*, QString*, QString); the solver's error
// triples reach it through a blocking queued connection.
int solveStore(EquationStore &store, const int *columnZeros, QObject *errorReceiver = nullptr);

// The same on plain arrays with explicit worker settings (benchmarks and the
// thread optimisation). coef and rhs are not changed; the result goes into
// customSol and, unless status is 2 or -1, into currentSol (may be null).
int solveArrays(int n, double **coef, const double *rhs, const int *columnZeros,
                double *customSol, double *currentSol, const ThreadSettings &settings,
                QObject *errorReceiver = nullptr);

// Number of equations i whose residual sum_j a[i][j] * x[j] - b[i] is not
// zero (-1e-15..1e-15 counts as zero; inf and NaN are not zero).
int countUnsolved(int n, double **a, const double *b, const double *x);

// The accuracy refinement after a solve: a and b the unreduced system,
// reduced the coefficient copy the solve left behind, ratios the solve's
// store (released here), sol the custom solution, improved in place. Keeps
// the best solution seen (fewest unsolved equations). Returns that count.
int improveSolution(int n, double **a, const double *b, double **reduced,
                    std::unique_ptr<RatioStore> ratios, double *sol);

#endif
