#ifndef PRECISE_H
#define PRECISE_H

#include "solver/trust.h"

// Refinement with residuals in about twice double precision: each product
// split exactly by a fused multiply-add, the sums compensated (double-double),
// the solution kept as a head and a tail until the last step. It makes an
// answer accurate to about the last digit while the condition number is
// well below 1/eps, and its corrections give forward error bounds.
namespace Precise {

// Steps at most (each a residual and a correction).
constexpr int kMaxSteps = 10;
// A correction that is not at most this share of the one before means no
// progress.
constexpr double kStallRatio = 0.5;
// Where an error is judged from the condition estimate alone (the share of
// its error a correction leaves, about n eps / rcond, and the error a
// residual can hide), the estimate is taken this many times over: it can
// run low by a few times, and the factors' growth and the norms add more.
constexpr double kPredictMargin = 10.0;
// Where that share is at most this, a correction that leaves the answer
// within the least bound is the last: one more pass checks its residual
// instead of solving for another.
constexpr double kPredictShrink = 1e-2;
// Components of at least this share of the largest magnitude are the large
// ones, whose componentwise error is bounded.
constexpr double kLargeShare = 1e-3;

// The smallest forward error bound worth stating for n unknowns.
double boundFloor(int n);

struct Outcome
{
    SolveTrust::Precision state = SolveTrust::NotRefined;
    int steps = 0; // corrections solved
    double errorBound = std::numeric_limits<double>::quiet_NaN();
    double componentBound = std::numeric_limits<double>::quiet_NaN();
    bool replaced = false; // x was changed
    // The backward error (as Trust::backwardError, from the extra-precise
    // residual) of a changed x; NaN where x stays.
    double backwardError = std::numeric_limits<double>::quiet_NaN();
};

// Refines x in place: corrections solve(r) of the residuals r = b - A x, with
// rcond the condition estimate of the factors behind solve. The rows of each
// residual are shared among count workers of runPhase; the result is the same
// for every count. x takes the refined answer (rounded) only when that
// answer's extra-precise residual is smaller than x's, both plainly and with
// each row measured against its largest coefficient. A correction the
// condition estimate says leaves x within the least bound is the last one:
// the next residual only confirms it (where that residual leaves room for
// a larger error, the next correction follows).
Outcome refine(int n, double *const *a, const double *b, double *x, const Trust::Apply &solve,
               double rcond, int count);

} // namespace Precise

#endif
