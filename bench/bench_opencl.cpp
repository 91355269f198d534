// The OpenCL solves beside the CPU solve on the same random systems, all
// with the host's refinement and check: the blocked engine (the system on
// the devices, with its time split into copy in, factorisation, triangular
// solves, copy out and the host's finish) and the step-by-step engine
// (forward elimination on the devices, the rest on the CPU; with the share
// of its elimination spent moving data between host rows and buffers).
//
//   bench_opencl [--sizes a,b,c] [--devices 1,2] [--plugin PATH] [--seed S]
//                [--stepwise-max N]   (step by step only up to N; default 1000)
//
// Every size is solved once on the devices before the reported runs: pocl
// builds a kernel for each new work-group size on first use.
// Devices are numbered as in tarvix-cli --list-devices (default: all).
#include "opencl/devicesolve.h"
#include "opencl/pluginhost.h"
#include "solver/reduce.h"
#include "solver/solverun.h"
#include "solver/validate.h"
#include "threads/mythreads.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double g_elimSeconds = -1.0;
double g_copySeconds = -1.0;

// Picks the engine's timing record out of the log.
void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    static const QRegularExpression re(QStringLiteral("forward elimination: ([0-9.]+) s, ([0-9.]+) s"));
    const QRegularExpressionMatch m = re.match(msg);
    if (m.hasMatch()) {
        g_elimSeconds = m.captured(1).toDouble();
        g_copySeconds = m.captured(2).toDouble();
    }
}

// Coefficients like the options page's benchmark: -7.5e7..0 or 5e7..1e8.
double randomCoefficient()
{
    double x = double(std::rand() % 32768) * 1e8 / 32767.0;
    if (x < 5e7)
        x = -(x * (2.0 - x / 1e8));
    if (x >= -1e-15 && x <= 1e-15)
        x = 123456.0;
    return x;
}

double scaledResidual(int n, double **a, const double *b, const double *x)
{
    double res = 0, na = 0, nx = 0, nb = 0;
    for (int i = 0; i < n; ++i) {
        double s = -b[i], row = 0;
        for (int j = 0; j < n; ++j) {
            s += a[i][j] * x[j];
            row += std::fabs(a[i][j]);
        }
        res = std::fmax(res, std::fabs(s));
        na = std::fmax(na, row);
        nx = std::fmax(nx, std::fabs(x[i]));
        nb = std::fmax(nb, std::fabs(b[i]));
    }
    return res / (2.220446049250313e-16 * (na * nx + nb) * n);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(handler);
    QList<int> sizes{500, 1000, 2000};
    QList<int> devices;
    QString plugin = QCoreApplication::applicationDirPath() + QStringLiteral("/../plugins/TrxOpenCL.so");
    unsigned seed = 12345;
    int stepwiseMax = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        auto list = [](const QString &v) {
            QList<int> out;
            for (const QString &p : v.split(QLatin1Char(',')))
                out << p.toInt();
            return out;
        };
        if (args[i] == QLatin1String("--sizes") && i + 1 < args.size())
            sizes = list(args[++i]);
        else if (args[i] == QLatin1String("--devices") && i + 1 < args.size())
            devices = list(args[++i]);
        else if (args[i] == QLatin1String("--plugin") && i + 1 < args.size())
            plugin = args[++i];
        else if (args[i] == QLatin1String("--seed") && i + 1 < args.size())
            seed = args[++i].toUInt();
        else if (args[i] == QLatin1String("--stepwise-max") && i + 1 < args.size())
            stepwiseMax = args[++i].toInt();
        else {
            std::fprintf(stderr, "usage: bench_opencl [--sizes a,b] [--devices 1,2] [--plugin PATH] [--seed S] [--stepwise-max N]\n");
            return 2;
        }
    }

    QList<QStringList> lists;
    {
        PluginHost probe;
        if (!probe.loadPlugin(plugin) || !probe.deviceInfo(&lists)) {
            std::fprintf(stderr, "bench_opencl: no OpenCL plugin at %s or no device\n", qPrintable(plugin));
            return 1;
        }
    }
    QList<int> chosen;
    for (int d : devices)
        chosen << d - 1;
    if (chosen.isEmpty())
        for (int i = 0; i < lists.size(); ++i)
            chosen << i;
    std::printf("OpenCL devices:\n");
    for (int d : chosen)
        std::printf("  %d: %s\n", d + 1, qPrintable(lists.value(d).join(QStringLiteral(" | "))));
    std::printf("Times in seconds (wall). cpu: the CPU solve with 2 worker threads. blocked: the\n"
                "blocked device solve, of it build / in / lu / solve / out / finish: building the\n"
                "kernels (once per prepared device), copy in, factorisation,\n"
                "triangular solves, copy out, host refinement and check. stepwise: the step-by-step\n"
                "engine (- above --stepwise-max), copy: its elimination's share moving buffers.\n"
                "x: device time / cpu time. res: ||Ax-b|| / (eps (||A|| ||x|| + ||b||) n).\n");
    std::printf("%6s %8s %8s %6s %7s %7s %7s %7s %7s %7s %8s %6s %6s %8s %8s\n", "n", "cpu", "blocked", "x",
                "build", "in", "lu", "solve", "out", "finish", "stepwise", "x", "copy%", "res-cpu", "res-blk");
    ThreadSettings threads;
    threads.processors = 2;
    threads.limits = {5, 10};
    // Pass 0 warms the devices up, pass 1 reports.
    for (int pass = 0; pass < 2; ++pass)
    for (int n : sizes) {
        const bool report = pass == 1;
        std::srand(seed + unsigned(n));
        std::vector<double> store(size_t(n) * size_t(n)), b(static_cast<size_t>(n));
        std::vector<double *> rows(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            rows[size_t(i)] = store.data() + size_t(i) * size_t(n);
            for (int j = 0; j < n; ++j)
                rows[size_t(i)][j] = randomCoefficient();
            b[size_t(i)] = randomCoefficient();
        }
        std::vector<int> zeros(static_cast<size_t>(n));
        if (!Validate::check(n, rows.data(), b.data(), zeros.data()).valid()) {
            std::printf("%6d system refused by validation\n", n);
            continue;
        }
        std::vector<double> xc(static_cast<size_t>(n)), xd(static_cast<size_t>(n));
        QElapsedTimer t;
        t.start();
        const int sc = report ? solveArrays(n, rows.data(), b.data(), zeros.data(), xc.data(), nullptr, threads)
                              : 0;
        const double cpu = t.nsecsElapsed() / 1e9;

        std::vector<double> xs(static_cast<size_t>(n));
        DeviceRun run;
        double blocked = -1.0, stepwise = -1.0;
        int sb = -1, ss = 0;
        {
            PluginHost host;
            if (host.loadPlugin(plugin) && host.deviceInfo(&lists) && host.setCustomDevices(chosen)) {
                t.restart();
                sb = solveArraysBlocked(&host, n, rows.data(), b.data(), xd.data(), nullptr, nullptr, &run);
                blocked = t.nsecsElapsed() / 1e9;
            }
        }
        g_elimSeconds = g_copySeconds = -1.0;
        if (n <= stepwiseMax) {
            PluginHost host;
            if (host.loadPlugin(plugin) && host.deviceInfo(&lists) && host.setCustomDevices(chosen)) {
                t.restart();
                ss = solveArraysOnDevice(&host, n, rows.data(), b.data(), zeros.data(), xs.data(), nullptr);
                stepwise = t.nsecsElapsed() / 1e9;
            }
        }
        if (!report)
            continue;
        if (sb == 2)
            std::printf("%6d blocked engine did not solve: %s\n", n, qPrintable(run.message));
        char step[3][16] = {"-", "-", "-"};
        if (stepwise >= 0) {
            std::snprintf(step[0], sizeof step[0], "%.3f", stepwise);
            std::snprintf(step[1], sizeof step[1], "%.1f", cpu > 0 ? stepwise / cpu : 0.0);
            std::snprintf(step[2], sizeof step[2], "%.0f%%",
                          g_elimSeconds > 0 ? 100.0 * g_copySeconds / g_elimSeconds : 0.0);
        }
        std::printf("%6d %8.3f %8.3f %6.2f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %8s %6s %6s %8.3g %8.3g%s\n", n,
                    cpu, blocked, cpu > 0 ? blocked / cpu : 0.0, run.buildSeconds, run.seconds[0], run.seconds[1], run.seconds[2],
                    run.seconds[3], run.seconds[4], step[0], step[1], step[2],
                    scaledResidual(n, rows.data(), b.data(), xc.data()),
                    scaledResidual(n, rows.data(), b.data(), xd.data()),
                    (sc != 0 || sb != 0 || ss != 0) ? "  (status not 0)" : "");
        std::fflush(stdout);
    }
    MyThreads::destroyPool();
    return 0;
}
