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
    // Where the multipliers and the diagonal-reduction ratios live: in the
    // store's own blocks, or in the working copy the solve reduces, where
    // the elimination and the reduction leave nothing else (the multipliers
    // take the places the elimination zeroes, the ratios the upper entries;
    // see placeInWorkingCopy).
    enum class Placement { Own, InWorkingCopy };

    // Sized for n: nothing for n < 2. Every value of an own block starts
    // at 0; with Placement::InWorkingCopy the store has no room of its own
    // until placeInWorkingCopy.
    explicit RatioStore(int n, Placement placement = Placement::Own);
    ~RatioStore();
    RatioStore(const RatioStore &) = delete;
    RatioStore &operator=(const RatioStore &) = delete;

    int size() const { return m_n; }
    // lower[i] = rows[i] and dr[i] = rows[i] + i + 1 (Placement::InWorkingCopy
    // only): the rows of the working copy in their final order. The rows
    // must outlive the store.
    void placeInWorkingCopy(double *const *rows);

    // lower[i][k], k < i: the multiplier with which the row that ends in
    // place i was reduced against pivot row k. A swap moves a row's earlier
    // multipliers with it, so the exchanges all come before the multipliers.
    double **lower = nullptr;
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

    // The multipliers of each step side by side, ur[k][i-k-1] for the row in
    // place i at step k, as the step-by-step devices write them: room for
    // them, all 0, made on the first call (the processor's elimination
    // writes lower and never needs it).
    double **ur();
    // Moves the multipliers of ur into lower (see followSwaps) and gives
    // ur's room back.
    void settleStepRatios();
    // For multipliers written where their row stood at their step: each
    // swap, in order, takes the two rows' multipliers of the steps before
    // it along, as lower needs.
    void followSwaps();

private:
    int m_n;
    Placement m_placement;
    std::unique_ptr<DoubleBlock> m_block;
    std::unique_ptr<DoubleBlock> m_stepBlock;
    double **m_ur = nullptr;
};

#endif
