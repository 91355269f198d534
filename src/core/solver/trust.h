#ifndef TRUST_H
#define TRUST_H

#include "solver/reduce.h"

#include <QString>

#include <functional>
#include <limits>
#include <vector>

class RatioStore;

// How far one solution can be trusted, kept by whoever solved (the window
// keeps the last one for its analysis dialog).
struct SolveTrust
{
    enum Method {
        NotSolved,       // no solution was computed
        Specified,       // the ordered elimination with pivot repair
        PartialPivoting, // elimination with partial pivoting, after the first failed
    };
    Method method = NotSolved;
    // ||Ax - b||inf / (||A||inf ||x||inf + ||b||inf) on the caller's own
    // system, or the same with every row divided by its largest coefficient
    // when that is larger.
    double backwardError = std::numeric_limits<double>::quiet_NaN();
    // backwardError / (n eps), eps = 2^-53; a solution passes below 16.
    double hplRatio = std::numeric_limits<double>::quiet_NaN();
    // Estimated reciprocal 1-norm condition number of the row-equilibrated
    // matrix, from the factors that gave the solution.
    double rcond = std::numeric_limits<double>::quiet_NaN();
    // Refinement steps taken on the final solution.
    int refinementSteps = 0;
    // Where and how the first elimination ran when not on the processor
    // ("blocked LU with partial pivoting on OpenCL: <devices>"); empty: the
    // ordered elimination on the processor.
    QString elimination;

    // The extra-precise refinement of a trusted answer and its bounds.
    enum Precision {
        NotRefined,        // not refined so (the answer is not trusted)
        Bounded,           // refined; the bounds below hold
        NoProgress,        // the corrections stopped shrinking: no bound
        TooIllConditioned, // the condition leaves nothing to bound
    };
    Precision precision = NotRefined;
    // Extra-precise steps (residual and correction) taken; after the last
    // one a residual may only confirm it.
    int preciseSteps = 0;
    // Bound on ||x - exact||inf / ||x||inf; NaN where there is none.
    double errorBound = std::numeric_limits<double>::quiet_NaN();
    // Bound on |x[i] - exact[i]| / |x[i]| over the large components (at
    // least a thousandth of the largest); NaN where there is none.
    double componentBound = std::numeric_limits<double>::quiet_NaN();

    static constexpr double kEps = 1.0 / 9007199254740992.0; // 2^-53
    static constexpr double kPassRatio = 16.0;
    static constexpr double kLostDigits = 1e-8;

    bool passes() const { return hplRatio < kPassRatio; }
    // Singular to working precision (or no estimate at all).
    bool singular() const { return !(rcond >= kEps); }
    bool trusted() const { return method != NotSolved && passes() && !singular(); }
    // Trusted, but digits are lost to the condition.
    bool digitsLost() const { return trusted() && rcond < kLostDigits; }

    // 1 / rcond: the condition estimate every report shows, under this label.
    double condition() const { return 1.0 / rcond; }
    static QString conditionLabel();
    bool bounded() const { return precision == Bounded && errorBound >= 0.0; }
    // Correct significant digits the error bound guarantees (about).
    int correctDigits() const;
    // "forward error bound X (about N correct digits)", or why there is none.
    QString boundText() const;

    // Why the solution is not trusted ("" when it is).
    QString reason() const;
    // The warning of a trusted solution that loses digits ("" otherwise).
    QString warning() const;
    QString methodName() const;
};

// Linear-algebra pieces of the trust check. Matrices are n row pointers.
namespace Trust {

// Row scales of a matrix: each row's largest magnitude, and the column sums
// of the matrix with its rows divided by them.
struct Scales
{
    std::vector<double> rowMax;
    std::vector<double> colSum;
};

// The backward error of SolveTrust: the larger of the plain and the
// row-equilibrated normwise one. scales (may be null) receives the row
// scales, gathered on the way. The work is spread over the workers of
// settings (may be null: this thread alone); the result, scales included,
// is the same for every worker count.
double backwardError(int n, double *const *a, const double *b, const double *x,
                     Scales *scales = nullptr, const ThreadSettings *settings = nullptr);
// What the backward error needs of a that does not depend on x: each row's
// sum and largest of magnitudes (rowNorms).
struct RowNorms
{
    std::vector<double> sum, max;
};
void rowNorms(const double *row, int n, double *sum, double *max);
// The same backward error from the residuals of x already taken
// (residual[i] = Reduce::dot(a[i], x, n) - b[i]) and a's row norms, without
// a pass over a: the same value to the bit.
double backwardError(int n, const RowNorms &norms, const double *b, const double *x,
                     const double *residual, const ThreadSettings *settings = nullptr);
double hplRatio(double backwardError, int n);

// Applies the inverse of the factored matrix (or of its transpose) to v.
using Apply = std::function<void(double *v)>;

// Hager/Higham estimate of rcond of the row-equilibrated matrix R A (R the
// reciprocal of each row's largest magnitude) in O(n^2), given solves with A
// and with its transpose.
// scales: those of a, from backwardError, or null to compute them here.
double estimateRcond(int n, double *const *a, const Apply &solve, const Apply &solveTransposed,
                     const Scales *scales = nullptr);

// Solves with the factors an ordered elimination left: the reduced matrix
// (diagonal = pivots) and its ratio store. Within a WorkerTeam of the
// calling thread, count workers share the passes; the result is the same
// for every count.
void specifiedSolve(int n, double *const *reduced, const RatioStore &ratios, double *v,
                    int count = 1);
void specifiedSolveTransposed(int n, double *const *reduced, const RatioStore &ratios, double *v,
                              int count = 1);

// Elimination with partial pivoting, in place: on return lu holds L (unit,
// below the diagonal) and U; rows are exchanged by exchanging the pointers,
// step k having exchanged rows k and perm[k]. The row updates are spread over
// workers by the thread settings. False when a pivot is exactly zero.
bool factorPartialPivoting(int n, double **lu, std::vector<int> &perm,
                           const ThreadSettings &settings);
void luSolve(int n, double *const *lu, const std::vector<int> &perm, double *v);
void luSolveTransposed(int n, double *const *lu, const std::vector<int> &perm, double *v);

// Iterative refinement x -= solve(Ax - b), at most maxSteps times, stopping
// when the backward error no longer halves. Keeps the best x. Returns the
// steps taken; *error receives the final backward error.
int refine(int n, double *const *a, const double *b, double *x, const Apply &solve, int maxSteps,
           double *error);

} // namespace Trust

#endif
