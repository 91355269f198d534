#ifndef BENCHHARNESS_H
#define BENCHHARNESS_H

#include <QList>
#include <QString>

class tarvix;

// The thread optimisation and the benchmark cycle on one window: random
// systems of growing size, solved (and saved and opened) the way the
// window's commands do, with the recorder off meanwhile.
class BenchHarness
{
public:
    explicit BenchHarness(tarvix &window) : w(window) {}
    // See tarvix::optimiseThreads and tarvix::benchmark.
    bool optimiseThreads(int maxN, int budgetMs);
    void benchmark(int n, bool binary, QList<int> *times, QString *file, bool stealth);

private:
    // Random coefficients (what the fields would show, in the field grid).
    void fillRandom(unsigned long *state);
    tarvix &w;
};

#endif
