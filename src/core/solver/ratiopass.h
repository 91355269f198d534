#ifndef RATIOPASS_H
#define RATIOPASS_H

#include <QList>

// The two passes that take a vector through a solve's stored ratios: the
// right-hand side's way through the elimination (and the transpose of the
// diagonal reduction), and the back substitution's way (and the transpose
// of the elimination).
//
// swaps (may be null) are read in pairs (p, q), in the order the solve made
// them; a pair whose entries are not both in 0..n-1 is passed over.
namespace RatioPass {

// Steps k = 0..n-2 in order: first the exchanges listed for step k (those
// from the next unread pair on whose p <= k), then v[i] -= r[k][i-k-1] * v[k]
// for every i > k; before step n-1 the exchanges listed for it. The rows of
// r are read one after another, on the calling thread.
void forward(double *v, int n, double *const *r, const QList<int> *swaps);

// Steps i = n-1 down to 0: v[i] -= the sum over j > i of r[i][j-i-1] * v[j]
// (row n-1 has none), then the exchanges listed for step i (those from the
// last unread pair back whose p >= i). The steps go in blocks of rows; each
// sum is taken as two dotWide sums, over the entries inside its block and
// over those past it, and the sums past the blocks are shared among count
// workers of the calling thread's WorkerTeam (without a team, or for short
// vectors, the caller takes them all). The blocks depend on n and the
// exchanges only: every count gives the same result to the bit.
void backward(double *v, int n, double *const *r, const QList<int> *swaps, int count);

} // namespace RatioPass

#endif
