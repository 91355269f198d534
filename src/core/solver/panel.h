#ifndef PANEL_H
#define PANEL_H

#include <functional>
#include <vector>

// How a packing may be spread: run(c, job) runs job(0..c-1) and waits for
// all, c at most count. Empty: on the calling thread.
struct PanelSpread
{
    int count = 1;
    std::function<void(int, const std::function<void(int)> &)> run;
    explicit operator bool() const { return count > 1 && run; }
};

// The delayed update of the blocked elimination: after a panel of kb steps,
// the columns right of the panel take all kb row updates at once, read from
// the pivot rows in place (which must stay as they are while it applies),
//     c[i][j] -= sum over s of l[i][s] * u[s][j],
// the sum taken in increasing s with fused multiply-adds and subtracted
// once. Every element gets the same operations in the same order wherever
// its row and column fall, so the result does not depend on how the rows
// are split among workers or which instruction set runs.
class PanelUpdate
{
public:
    static constexpr int kWidth = 16; // columns per packed block
    static constexpr int kMaxSteps = 256; // the most steps of one block
    using Spread = PanelSpread;

    // Takes u[s][col0..n-1] for s < kb (u: kb row pointers, kept) in blocks
    // of kWidth columns; the last, narrow block is copied, padded with zeros.
    void pack(double *const *u, int kb, int col0, int n);

    // The same for the pivot rows of a block whose columns right of the
    // block still lack the block's own updates: row s takes
    //     u[s][j] -= sum over t < s of l[s * ldl + t] * u[t][j]
    // (t increasing, fused multiply-adds, subtracted once) in increasing s,
    // and is then taken as pack takes it.
    // Each column comes out the same however the blocks are spread.
    void packSolved(double *const *u, const double *l, int ldl, int kb, int col0, int n,
                    const Spread &spread = Spread());

    int steps() const { return m_kb; }

    // The instruction sets the update runs on; every one gives the same bits.
    // The process starts with the one TARVIX_KERNEL names (portable, avx2,
    // avx512) where the processor has it, else the best it has.
    enum class Kernel { Portable, Avx2, Avx512 };
    static std::vector<Kernel> supportedKernels(); // from the plainest up
    static const char *kernelName(Kernel k);
    static Kernel kernel();
    // Switches kernel between solves (none may run); false when this
    // processor lacks it.
    static bool setKernel(Kernel k);

    // Rows the update takes at a time for kb steps, from the cache sizes.
    static int chunkRows(int kb);
    // rows[r][col0..n-1] -= sum over s of l[r * kb + s] * u[s][...], for
    // r < count.
    void apply(double *const *rows, int count, const double *l) const;

private:
    // Keeps the rows; returns the block count.
    int setRows(double *const *u, int kb, int col0, int n);
    void copyTail();
    // part(b0, b1) over all blocks, in shares of spread.
    static void inShares(int blocks, const Spread &spread,
                         const std::function<void(int, int)> &part);

    double *const *m_rows = nullptr;
    std::vector<double> m_tail; // the narrow last block, kb x kWidth
    std::vector<const double *> m_tailRows;
    int m_kb = 0;
    int m_col0 = 0;
    int m_n = 0;
};

#endif
