#include "ratiopass.h"

#include "solver/reduce.h"
#include "threads/workerteam.h"

#include <QString>

#include <algorithm>
#include <utility>

namespace {

// Steps (or rows) of one block: enough that a block's shared part outweighs
// a phase of the team, few enough that its part of v stays in the cache.
constexpr int kBlock = 128;
// Shorter vectors are passed through on the calling thread alone.
constexpr int kSpreadFrom = 512;
// A block's shared part of fewer products than this is not worth a phase.
constexpr long long kPhaseWork = 16384;

int sharesFor(int n, int count)
{
    return count > 1 && n >= kSpreadFrom && WorkerTeam::current() ? count : 1;
}

// Runs part(0..shares-1), as one phase of the team when it pays.
template <typename Part>
void spread(int shares, long long work, const Part &part)
{
    if (shares > 1 && work >= kPhaseWork) {
        Reduce::runPhase(QStringLiteral("Tarvix::pass "), shares, part);
    } else {
        for (int w = 0; w < shares; ++w)
            part(w);
    }
}

inline void exchange(double *v, int n, int p, int q)
{
    if (p >= 0 && p < n && q >= 0 && q < n)
        std::swap(v[p], v[q]);
}

} // namespace

void RatioPass::forward(double *v, int n, double *const *r, const QList<int> *swaps)
{
    const int listed = swaps ? int(swaps->size()) : 0;
    int s = 0;
    for (int k = 0; k < n; ++k) {
        while (s + 1 < listed && swaps->at(s) <= k) {
            exchange(v, n, swaps->at(s), swaps->at(s + 1));
            s += 2;
        }
        if (k < n - 1)
            Reduce::subtractScaled(v + k + 1, r[k], v[k], n - k - 1);
    }
}

void RatioPass::backward(double *v, int n, double *const *r, const QList<int> *swaps, int count)
{
    const int shares = sharesFor(n, count);
    const int listed = swaps ? int(swaps->size()) : 0;
    int s = listed - 2 - (listed % 2);
    double far[kBlock];
    int hi = n - 1;
    while (hi >= 0) {
        // The block lo..hi ends at the next step that exchanges.
        int lo = std::max(0, hi - kBlock + 1);
        if (s >= 0 && swaps->at(s) >= lo)
            lo = std::min(hi, swaps->at(s));
        // Row n-1 has no sum.
        const int top = std::min(hi, n - 2);
        const int past = hi + 1;
        // The parts of the block's sums over the entries past it, which are
        // all final: shared by rows.
        spread(shares, (long long)(top - lo + 1) * (n - past), [&](int w) {
            const int rows = top - lo + 1;
            const int first = lo + int((long long)rows * w / shares);
            const int end = lo + int((long long)rows * (w + 1) / shares);
            for (int i = first; i < end; ++i)
                far[i - lo] = Reduce::dotWide(r[i] + (past - i - 1), v + past, n - past);
        });
        for (int i = top; i >= lo; --i)
            v[i] = v[i] - (Reduce::dotWide(r[i], v + i + 1, past - i - 1) + far[i - lo]);
        while (s >= 0 && swaps->at(s) >= lo) {
            exchange(v, n, swaps->at(s), swaps->at(s + 1));
            s -= 2;
        }
        hi = lo - 1;
    }
}
