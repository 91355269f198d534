#ifndef RATIOSTORE_H
#define RATIOSTORE_H

#include <QList>
#include <QMap>

#include <memory>
#include <vector>

class DoubleBlock;

// What one solve learns and the refinement needs afterwards: the elimination
// multipliers, the diagonal-reduction ratios, the column and row exchanges of
// the ordering and the pivot-repair swaps. It belongs to exactly one solve;
// the solve hands it on to the refinement (see Solve::takeRatios).
class RatioStore
{
public:
    // Where the diagonal-reduction ratios live: in the store's own block, or
    // in the upper part of the working copy the solve reduces, where the
    // reduction leaves nothing else (see placeDiagonal).
    enum class Diagonal { Own, InWorkingCopy };

    // Sized for n: n-1 rows each for ur and dr (row k holds n-1-k values);
    // nothing for n < 2. Every value starts at 0. With Diagonal::InWorkingCopy
    // dr has no room of its own until placeDiagonal.
    explicit RatioStore(int n, Diagonal diagonal = Diagonal::Own);
    ~RatioStore();
    RatioStore(const RatioStore &) = delete;
    RatioStore &operator=(const RatioStore &) = delete;

    int size() const { return m_n; }
    bool diagonalInWorkingCopy() const { return m_diagonal == Diagonal::InWorkingCopy; }
    // dr[i] = rows[i] + i + 1 (Diagonal::InWorkingCopy only): the rows of the
    // working copy, in their final order, that the reduction turns into ratios.
    // The rows must outlive the store.
    void placeDiagonal(double *const *rows);

    // ur[k][i-k-1]: multiplier with which row i was reduced against pivot row k.
    double **ur = nullptr;
    // dr[i][j-i-1]: ratio of upper entry (i, j) to the diagonal entry (j, j).
    double **dr = nullptr;
    // Position p -> position exchanged with it by the column / row ordering.
    QMap<int, int> columnExchanges;
    QMap<int, int> rowExchanges;
    // Read in pairs (k, r): rows k and r were exchanged before step k.
    QList<int> swaps;
    // The diagonal the solve left, once its diagonal reduction is done
    // (empty before): read in one line, not one row of the matrix each.
    std::vector<double> pivots;

private:
    int m_n;
    Diagonal m_diagonal;
    std::unique_ptr<DoubleBlock> m_block;
};

#endif
