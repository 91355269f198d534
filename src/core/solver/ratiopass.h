#ifndef RATIOPASS_H
#define RATIOPASS_H

#include <QList>

// The passes that take a vector through a solve's stored ratios: the right-
// hand side's way through the elimination (and the transpose of the diagonal
// reduction), and the back substitution's way (and the transpose of the
// elimination).
//
// swaps (may be null) are read in pairs (p, q), in the order the solve made
// them; a pair whose entries are not both in 0..n-1 is passed over.
namespace RatioPass {

// Steps k = 0..n-2 in order: v[i] -= r[k][i-k-1] * v[k] for every i > k.
// The rows of r are read one after another, on the calling thread.
void forward(double *v, int n, double *const *r);

// Steps i = n-1 down to 0: v[i] -= the sum over j > i of r[i][j-i-1] * v[j]
// (row n-1 has none). The steps go in blocks of rows; each sum is taken as
// two dotWide sums, over the entries inside its block and over those past
// it, and the sums past the blocks are shared among count workers of the
// calling thread's WorkerTeam (without a team, or for short vectors, the
// caller takes them all). The blocks depend on n only: every count gives
// the same result to the bit.
void backward(double *v, int n, double *const *r, int count);

// The exchanges in order, then for i = 1..n-1: v[i] -= lower[i][k] * v[k]
// for k = 0..i-1, one after another. Each entry takes the same operations
// in the same order as with forward on the multipliers of each step side by
// side and the exchanges made between the steps, so both give the same bits.
// Rows go in blocks; each block's sums over the steps before it are shared
// among count workers as backward shares its own, with the same result.
void lowerForward(double *v, int n, double *const *lower, const QList<int> *swaps,
                  int count = 1);

// The transpose of lowerForward: for i = n-1 down to 1, v[k] -= lower[i][k]
// * v[i] for k = 0..i-1, then the exchanges last first. Rows go in blocks;
// the block's updates left of it are shared among count workers of the
// calling thread's WorkerTeam by columns, so every count gives the same bits.
void lowerBackward(double *v, int n, double *const *lower, const QList<int> *swaps, int count);

} // namespace RatioPass

#endif
