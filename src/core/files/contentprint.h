#ifndef CONTENTPRINT_H
#define CONTENTPRINT_H

#include <QtGlobal>

// The digest that tells whether a window's arrays still hold what its file
// holds (the saved flag after undo and redo): a digest of every row's
// values, folded in row order with N, the right-hand side and the solution.
// The file readers and writers take each row's digest while the row is in
// the cache, so opening or saving needs no second pass over the arrays; the
// document takes the same digests from its arrays when nothing was read.
namespace ContentPrint {

// A digest of n values' bit patterns. Four lanes (value j goes to lane
// j mod 4), each adding the value and the product of the two halves of the
// value mixed with a key of its position, folded at the end: a change of
// one value, or two values trading places, changes the digest. The same
// sums are taken four values at a time where the processor has AVX2.
quint64 values(const double *v, int n);

// The digest of a system of n unknowns from its n row digests (values() of
// each row, in order), its right-hand side and the solution that is saved
// with it (either may be null: no values).
quint64 fold(int n, const quint64 *rows, const double *rhs, const double *solution);

} // namespace ContentPrint

#endif
