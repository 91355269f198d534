// Times the whole CPU solve (ordering, elimination, diagonal reduction, back
// substitution, refinement, the trust check) on random systems made like the
// options page makes them, beside LAPACK dgesv from OpenBLAS (2 threads) on
// the same matrices, and the speed-up of the default worker settings over
// one thread. Also times the partial-pivoting solve that replaces a failed
// one, on the same matrix and workers.
//
//   bench_solver [--max N] [--sizes a,b,c] [--seed S] [--repeat R] [--no-single]
//                [--cold] [--ill]
//
// With --repeat every time is the best of R rounds; each round runs the
// default solve, the one-thread solve and dgesv in turn. --cold: every solve
// takes memory that has been free for a few seconds (see settleMemory).
// --ill: the systems are made ill-conditioned (condition about 1e11), so
// that the extra-precise refinement takes several steps.
// Beside the speed-up it prints what the machine allows: the update kernel
// on cached data, on one core alone against on every default worker at once.
#include "solver/doubleblock.h"
#include "solver/panel.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "solver/trust.h"
#include "solver/validate.h"
#include "threads/mythreads.h"
#include "threads/workerteam.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#ifdef HAVE_OPENBLAS
extern "C" {
void dgesv_(const int *n, const int *nrhs, double *a, const int *lda, int *ipiv, double *b,
            const int *ldb, int *info);
void openblas_set_num_threads(int n);
}
#endif

namespace {

struct System
{
    explicit System(int n) : n(n), a(size_t(n) * size_t(n)), rows(size_t(n)), b(size_t(n))
    {
        for (int i = 0; i < n; ++i)
            rows[size_t(i)] = a.data() + size_t(i) * size_t(n);
    }
    int n;
    std::vector<double> a; // row-major
    std::vector<double *> rows;
    std::vector<double> b;
};

// The benchmark page's coefficient: from -7.5e7 to 0 or from 5e7 to 1e8.
double randomCoefficient()
{
    double x = double(std::rand() % 32768) * 1e8 / 32767.0;
    if (x < 5e7)
        x = -(x * (2.0 - x / 1e8));
    if (x >= -1e-15 && x <= 1e-15)
        x = 123456.0;
    return x;
}

void fill(System &s, bool ill)
{
    for (int i = 0; i < s.n; ++i) {
        for (int j = 0; j < s.n; ++j)
            s.rows[size_t(i)][j] = randomCoefficient();
        s.b[size_t(i)] = randomCoefficient();
    }
    // Ill-conditioned: the last column all but a multiple of the first.
    if (ill)
        for (int i = 0; i < s.n; ++i)
            s.rows[size_t(i)][s.n - 1] = s.rows[size_t(i)][0] * 0.75 + 1e-9 * randomCoefficient();
}

// ||Ax-b||inf / (eps (||A||inf ||x||inf + ||b||inf) n), eps = 2^-53.
double scaledResidual(const System &s, const std::vector<double> &x)
{
    const double eps = std::ldexp(1.0, -53);
    double r = 0.0, an = 0.0, xn = 0.0, bn = 0.0;
    for (int i = 0; i < s.n; ++i) {
        const double *row = s.rows[size_t(i)];
        long double sum = 0.0L;
        double rowSum = 0.0;
        for (int j = 0; j < s.n; ++j) {
            sum += (long double)row[j] * x[size_t(j)];
            rowSum += std::fabs(row[j]);
        }
        r = std::fmax(r, double(std::fabs(sum - (long double)s.b[size_t(i)])));
        an = std::fmax(an, rowSum);
        xn = std::fmax(xn, std::fabs(x[size_t(i)]));
        bn = std::fmax(bn, std::fabs(s.b[size_t(i)]));
    }
    return r / (eps * (an * xn + bn) * s.n);
}

struct CpuRun
{
    double total = 0;      // seconds, everything
    double cpu = 0;        // processor seconds of all threads
    double solve = 0;      // Solve::calc on its thread
    double elim = 0;       // of which the forward elimination
    double diag = 0;       // and the diagonal reduction with back substitution
    double refinement = 0; // improveSolution
    double finish = 0;     // refineAndCheck: the refinement and the check
    double precise = 0;    // refinePrecisely: the extra-precise refinement
    int preciseSteps = 0;
    double bound = 0;      // its forward error bound
    double condition = 0;  // the condition estimate
    double pivoting = 0;   // partial-pivoting factorisation and solve (not in total)
    double hpl = 0;        // HPL ratio of the check
    int status = 0;
    std::vector<double> x;
};

// The steps of solveArrays, timed one by one.
CpuRun cpuSolve(System &s, const int *columnZeros, const ThreadSettings &settings,
              bool pivoting = false)
{
    CpuRun run;
    const int n = s.n;
    run.x.assign(size_t(n), 0.0);
    QElapsedTimer total;
    total.start();
    const std::clock_t cpuStart = std::clock();
    // The working copy, made as the solve command makes it.
    RowBlock copy(n);
    double **rows = copy.rows();
    const bool finite = copyRows(n, s.rows.data(), rows, settings);
    auto store = std::make_unique<RatioStore>(n, RatioStore::Placement::InWorkingCopy);
    std::vector<double> r(s.b);
    std::vector<int> zeros(columnZeros, columnZeros + n);
    QElapsedTimer t;
    t.start();
    Solve *solve = new Solve(rows, r.data(), run.x.data(), zeros.data(), &run.status, n,
                             std::move(store));
    solve->setThreadSettings(settings);
    solve->setInputFinite(finite);
    QThread *thread = MyThreads::start(solve, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    thread->wait();
    run.solve = t.nsecsElapsed() / 1e9;
    run.elim = solve->eliminationSeconds();
    run.diag = solve->diagonalSeconds();
    std::unique_ptr<RatioStore> ratios = solve->takeRatios();
    delete solve;
    const double solveWall = total.nsecsElapsed() / 1e9;
    const std::clock_t solveCpu = std::clock() - cpuStart;
    // The refinement alone, on a copy of the answer: what the check adds to
    // it is the check's cost.
    std::vector<double> alone(run.x);
    t.restart();
    {
        // On a team, as refineAndCheck runs it.
        const std::unique_ptr<WorkerTeam> team = refinementTeam(n, settings);
        improveSolution(n, s.rows.data(), s.b.data(), rows, ratios.get(), alone.data(), nullptr,
                        &settings);
    }
    run.refinement = t.nsecsElapsed() / 1e9;
    t.restart();
    const std::clock_t finishCpu = std::clock();
    const SolveTrust trust =
        refineAndCheck(n, s.rows.data(), s.b.data(), rows, ratios.get(), run.x.data(), settings);
    run.finish = t.nsecsElapsed() / 1e9;
    t.restart();
    SolveTrust refined = trust;
    refinePrecisely(n, s.rows.data(), s.b.data(), rows, ratios.get(), {}, run.x.data(), settings,
                    refined);
    run.precise = t.nsecsElapsed() / 1e9;
    run.preciseSteps = refined.preciseSteps;
    run.bound = refined.errorBound;
    run.condition = refined.condition();
    run.hpl = refined.hplRatio;
    run.total = solveWall + run.finish + run.precise;
    run.cpu = double(solveCpu + (std::clock() - finishCpu)) / CLOCKS_PER_SEC;
    if (pivoting) {
        // What the fallback costs: factorisation with partial pivoting and
        // the solve, on a fresh copy.
        for (int i = 0; i < n; ++i)
            std::memcpy(rows[i], s.rows[size_t(i)], sizeof(double) * size_t(n));
        std::vector<int> perm;
        std::vector<double> x(s.b);
        t.restart();
        Trust::factorPartialPivoting(n, rows, perm, settings);
        Trust::luSolve(n, rows, perm, x.data());
        run.pivoting = t.nsecsElapsed() / 1e9;
    }
    return run;
}

// Every timed solve starts from the same state of the memory it is about to
// take. Virtual machines that hand free memory back to their host (free
// page reporting) make memory left free for a second or two ten times
// dearer at its next touch; in a round the solve after dgesv's pause would
// pay that and the one after it would not. By default the memory is taken
// and given back just before, as a program that has been solving would
// find it; with --cold the solve waits long enough for it to go back to
// the host, as a first solve might find it.
void settleMemory(int n, bool cold)
{
    if (cold) {
        QThread::msleep(3000);
        return;
    }
    // The working copy and the ratio store.
    DoubleBlock scratch(2 * size_t(n) * DoubleBlock::rowStride(n));
}

// The update's shape in a large solve: a block of 128 steps into a chunk of
// the rows below it (as many as the solver takes at once), 512 columns of
// them here, so that it all stays in the core's own caches.
constexpr int kSteps = 128, kCols = 512;
int kernelRows()
{
    return PanelUpdate::chunkRows(kSteps);
}

// Seconds for one thread to apply that block rounds times.
double kernelSeconds(int rounds)
{
    const int kRows = kernelRows();
    std::vector<double> u(size_t(kSteps) * kCols), c(size_t(kRows) * kCols), l(size_t(kRows) * kSteps);
    for (size_t i = 0; i < u.size(); ++i)
        u[i] = 1e-3 * double(i % 7);
    std::fill(c.begin(), c.end(), 1.0);
    std::fill(l.begin(), l.end(), 1e-3);
    std::vector<double *> up(kSteps), cp(kRows);
    for (int s = 0; s < kSteps; ++s)
        up[size_t(s)] = u.data() + size_t(s) * kCols;
    for (int r = 0; r < kRows; ++r)
        cp[size_t(r)] = c.data() + size_t(r) * kCols;
    PanelUpdate panel;
    panel.pack(up.data(), kSteps, 0, kCols);
    QElapsedTimer t;
    t.start();
    for (int k = 0; k < rounds; ++k)
        panel.apply(cp.data(), kRows, l.data());
    return t.nsecsElapsed() / 1e9;
}

// The most p workers can gain over one on this machine now: p times the
// kernel's speed on each of p cores running it at once over its speed on
// one core alone (best of three tries each). Several rounds keep the best.
double kernelCeiling(int p)
{
    constexpr int kRounds = 200;
    double alone = 1e300, together = 1e300;
    for (int k = 0; k < 3; ++k) {
        alone = std::min(alone, kernelSeconds(kRounds));
        std::vector<double> seconds(static_cast<size_t>(p), 0.0);
        std::vector<std::thread> threads;
        for (int w = 0; w < p; ++w)
            threads.emplace_back([&seconds, w] { seconds[size_t(w)] = kernelSeconds(kRounds); });
        for (std::thread &th : threads)
            th.join();
        together = std::min(together, *std::max_element(seconds.begin(), seconds.end()));
    }
    return p * alone / together;
}

// The core's clock now: a loop of one taken branch a cycle (best of three).
double measuredMhz()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    double best = 0.0;
    for (int k = 0; k < 3; ++k) {
        long left = 100000000;
        QElapsedTimer t;
        t.start();
        asm volatile("1: dec %0\n\tjnz 1b" : "+r"(left));
        best = std::max(best, 1e11 / double(t.nsecsElapsed()));
    }
    return best;
#else
    return 0.0;
#endif
}

// The update's peak on one core: the clock (measured, or what /proc/cpuinfo
// names when that is higher) times the flops a cycle of two fused
// multiply-add units of the kernel's width.
double peakGflops(PanelUpdate::Kernel k)
{
    double mhz = measuredMhz();
    if (FILE *f = std::fopen("/proc/cpuinfo", "r")) {
        char line[512];
        bool read = false;
        while (!read && std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "cpu MHz", 7) == 0) {
                if (const char *colon = std::strchr(line, ':'))
                    mhz = std::max(mhz, std::atof(colon + 1));
                read = true;
            }
        }
        std::fclose(f);
    }
    const int lanes = k == PanelUpdate::Kernel::Avx512 ? 8 : k == PanelUpdate::Kernel::Avx2 ? 4 : 1;
    return mhz * 1e-3 * 2 * 2 * lanes;
}

// GFLOP/s of the update kernel on one core, data in the cache (best of three).
double kernelGflops()
{
    constexpr int kRounds = 100;
    double best = 1e300;
    for (int k = 0; k < 3; ++k)
        best = std::min(best, kernelSeconds(kRounds));
    return 2.0 * kSteps * kernelRows() * kCols * kRounds / best * 1e-9;
}

ThreadSettings defaultThreads(int p)
{
    ThreadSettings s;
    s.processors = p;
    for (int t = 1; t <= p; ++t)
        s.limits << 5 * t;
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int maxN = 4000;
    unsigned seed = 12345;
    bool single = true;
    bool cold = false;
    bool ill = false;
    int repeat = 1;
    QList<int> sizes{500, 1000, 2000, 4000};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--max") && i + 1 < args.size())
            maxN = args[++i].toInt();
        else if (args[i] == QLatin1String("--seed") && i + 1 < args.size())
            seed = args[++i].toUInt();
        else if (args[i] == QLatin1String("--repeat") && i + 1 < args.size())
            repeat = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--no-single"))
            single = false;
        else if (args[i] == QLatin1String("--cold"))
            cold = true;
        else if (args[i] == QLatin1String("--ill"))
            ill = true;
        else if (args[i] == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString &v : args[++i].split(QLatin1Char(',')))
                sizes << v.toInt();
        } else {
            std::fprintf(stderr, "usage: bench_solver [--max N] [--sizes a,b] [--seed S] "
                                 "[--repeat R] [--no-single] [--cold] [--ill]\n");
            return 2;
        }
    }
    const int processors = 2;
    const ThreadSettings threads = defaultThreads(processors);
    ThreadSettings one;
    one.processors = 1;
    one.limits = {5};

#ifdef HAVE_OPENBLAS
    openblas_set_num_threads(2);
#endif
    std::printf("Tarvix solver benchmark: default threads = threadLimits 5,10 with %d processors; "
                "one thread = processorCount 1. Times in seconds.\n",
                processors);
    {
        const PanelUpdate::Kernel k = PanelUpdate::kernel();
        const double peak = peakGflops(k);
        const double got = kernelGflops();
        std::printf("update kernel: %s (TARVIX_KERNEL=portable|avx2|avx512 forces one); %d steps into "
                    "%d x %d from the cache: %.1f GFLOP/s on one core, %.0f %% of a peak of %.1f "
                    "(%.0f MHz x 2 fused multiply-add units)\n",
                    PanelUpdate::kernelName(k), kSteps, kernelRows(), kCols, got, peak > 0 ? 100.0 * got / peak : 0.0, peak,
                    peak / (4.0 * (k == PanelUpdate::Kernel::Avx512 ? 8 : k == PanelUpdate::Kernel::Avx2 ? 4 : 1)) * 1e3);
    }
    std::printf("tarvix: wall time of the whole solve; elim+bs: ordering to division; refine: "
                "the refinement; check: what the backward error and the condition estimate add to it (%% of the whole solve); "
                "pivot: the partial-pivoting solve of the fallback (not in tarvix; x elim+bs); "
                "cpu/wall: processor time of all threads over wall time; ceiling: the most the default "
                "threads can gain over one (the update kernel alone and on every processor at once); "
                "ratio: tarvix / dgesv; "
                "hpl: HPL ratio of the answer (passes below 16); elim, diag: the forward "
                "elimination and the diagonal reduction with back substitution inside elim+bs; "
                "xp: the extra-precise refinement (in tarvix), xp%%: its cost over the rest of the "
                "solve, xp%%hi: the same in the round where it was largest, xs: its steps, bound: its forward error bound; cond: the condition estimate.\n");
    std::printf("%6s %8s %8s %7s %7s %7s %7s %6s %7s %6s %6s %3s %9s %8s %6s %8s %8s %7s %7s %8s %6s %6s %9s %10s %9s\n", "n", "tarvix",
                "elim+bs", "elim", "diag", "refine", "check", "chk%", "xp", "xp%", "xp%hi", "xs", "bound", "pivot", "x", "cpu/wall", "1-thread", "speedup",
                "ceiling", "dgesv", "ratio", "status", "hpl", "res-lapack", "cond");
    for (int n : sizes) {
        if (n > maxN || n < 1)
            continue;
        std::srand(seed + unsigned(n));
        System s(n);
        fill(s, ill);
        std::vector<int> zeros(static_cast<size_t>(n));
        const ValidationReport report = Validate::check(n, s.rows.data(), s.b.data(), zeros.data());
        if (!report.valid()) {
            std::printf("%6d system refused by validation\n", n);
            continue;
        }
        // The three solves take turns in every round, so that a change in
        // the machine's speed during the run falls on all of them alike.
        CpuRun cpu;
        double refinement = 0, finish = 0, precise = 0, ceiling = 0, preciseShareHi = 0;
        double oneTime = std::nan("");
        double lapackTime = std::nan("");
        double lapackRes = std::nan("");
        for (int r = 0; r < repeat; ++r) {
            settleMemory(n, cold);
            CpuRun again = cpuSolve(s, zeros.data(), threads, true);
            // The check's cost: the best finish against the best
            // refinement alone, each over every round.
            refinement = r == 0 ? again.refinement : std::min(refinement, again.refinement);
            finish = r == 0 ? again.finish : std::min(finish, again.finish);
            precise = r == 0 ? again.precise : std::min(precise, again.precise);
            preciseShareHi = std::max(preciseShareHi, again.precise / (again.total - again.precise));
            if (r == 0) {
                cpu = std::move(again);
            } else {
                const double pivoting = std::min(again.pivoting, cpu.pivoting);
                if (again.total < cpu.total)
                    cpu = std::move(again);
                cpu.pivoting = pivoting;
            }
            cpu.refinement = refinement;
            // The machine's room for the workers, in this round too.
            ceiling = std::max(ceiling, kernelCeiling(processors));
            if (single && n <= 4000) {
                settleMemory(n, cold);
                const double t = cpuSolve(s, zeros.data(), one).total;
                oneTime = r == 0 ? t : std::min(oneTime, t);
            }
#ifdef HAVE_OPENBLAS
            std::vector<double> cm(size_t(n) * size_t(n));
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j)
                    cm[size_t(j) * size_t(n) + size_t(i)] = s.rows[size_t(i)][j];
            std::vector<double> x(s.b);
            std::vector<int> ipiv(static_cast<size_t>(n));
            settleMemory(n, cold);
            const int nrhs = 1;
            int info = 0;
            QElapsedTimer t;
            t.start();
            dgesv_(&n, &nrhs, cm.data(), &n, ipiv.data(), x.data(), &n, &info);
            const double elapsed = t.nsecsElapsed() / 1e9;
            lapackTime = r == 0 ? elapsed : std::min(lapackTime, elapsed);
            lapackRes = info == 0 ? scaledResidual(s, x) : std::nan("");
            // OpenBLAS's threads keep spinning for a while after a call;
            // the next solve must not share the processors with them.
            QThread::msleep(500);
#endif
        }
        const double check = finish - refinement;
        std::printf("%6d %8.3f %8.3f %7.3f %7.3f %7.3f %7.4f %6.2f %7.4f %6.2f %6.2f %3d %9.2e %8.3f %6.2f %8.2f %8.3f %7.2f %7.2f %8.3f %6.2f %6d %9.2e %10.2e %9.2e\n",
                    n, cpu.total, cpu.solve, cpu.elim, cpu.diag, cpu.refinement, check, 100.0 * check / cpu.total,
                    precise, 100.0 * precise / (cpu.total - cpu.precise), 100.0 * preciseShareHi, cpu.preciseSteps, cpu.bound,
                    cpu.pivoting, cpu.pivoting / cpu.solve, cpu.cpu / cpu.total, oneTime,
                    oneTime / cpu.total, ceiling, lapackTime, cpu.total / lapackTime, cpu.status, cpu.hpl,
                    lapackRes, cpu.condition);
        std::fflush(stdout);
    }
    MyThreads::destroyPool();
    return 0;
}
