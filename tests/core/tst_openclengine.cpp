// The OpenCL plugin on a real OpenCL runtime (pocl in CI): loading, the
// device list, both engines against the CPU, the single-precision
// path and the work sizes.
#include "logcapture.h"
#include "opencl/devicesolve.h"
#include "opencl/pluginhost.h"
#include "plugininterface.h"
#include "qttestwatchdog.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "testenv.h"
#include "testutil.h"
#include "threads/mythreads.h"
#include "worksizes.h"

#include <QThread>
#include <QtTest>

namespace {

#ifdef TRX_PLUGIN
const char *const kPlugin = TRX_PLUGIN;
const char *const kFloatPlugin = TRX_FLOAT_PLUGIN;
#else
const char *const kPlugin = "";
const char *const kFloatPlugin = "";
#endif

// What one solve leaves behind.
struct Outcome
{
    int status = 0;
    std::vector<double> solution;
    std::vector<std::vector<double>> ur;
    QList<int> swaps;
};

// Runs Solve (without refinement) on copies of a, on the CPU or, with a
// host, on its devices.
Outcome runSolve(PluginHost *host, Matrix a, std::vector<double> r, QObject *errors = nullptr)
{
    const int n = a.n;
    Outcome out;
    out.solution.assign(size_t(n), 0.0);
    std::vector<int> zeros(size_t(n), 0);
    auto *solve = new Solve(a.ptr(), r.data(), out.solution.data(), zeros.data(), &out.status, n);
    if (errors) {
        QObject::connect(solve, SIGNAL(throwErr(QString*,QString*,QString)), errors,
                         SLOT(errMsg(QString*,QString*,QString)), Qt::BlockingQueuedConnection);
        if (host)
            host->setErrorReceiver(errors);
    }
    QThread *t = MyThreads::thrOpt(QStringLiteral("Tarvix::solveEq"));
    QObject::connect(t, SIGNAL(started()), solve, SLOT(calc()));
    if (host) {
        QObject::connect(solve, &Solve::initialiseGPU, host, &PluginHost::initialiseGPU, Qt::DirectConnection);
        QObject::connect(solve, &Solve::calcURatios, host, &PluginHost::calcURatios, Qt::DirectConnection);
        solve->enableGPU(t);
    }
    solve->moveToThread(t);
    t->start();
    while (!t->wait(10))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    RatioStore *store = solve->ratios();
    for (int k = 0; k < n - 1; ++k) {
        out.ur.emplace_back();
        for (int i = k + 1; i < n; ++i)
            out.ur.back().push_back(store->lower[i][k]);
    }
    out.swaps = store->swaps;
    delete solve;
    return out;
}

// The engine's forward elimination alone, on the calling thread's arrays.
struct Forward
{
    explicit Forward(const Matrix &m, const std::vector<double> &rhs)
        : a(m), r(rhs), ratios(m.n), ur(ratios.ur())
    {
    }
    Matrix a;
    std::vector<double> r;
    RatioStore ratios;
    double **ur; // the step-by-step multipliers
};

bool runEngine(PluginInterface *plugin, Forward &f)
{
    plugin->initialise(f.a.ptr(), f.r.data(), f.ur, f.ratios.dr, f.a.n, &f.ratios.swaps,
                       QThread::currentThread());
    bool ok = true;
    plugin->calcURatios(&ok);
    return ok;
}

// Plain Gaussian forward elimination without pivoting: the reference.
void referenceForward(Forward &f)
{
    const int n = f.a.n;
    double **c = f.a.ptr();
    for (int k = 0; k < n - 1; ++k) {
        for (int i = k + 1; i < n; ++i) {
            const double ratio = c[i][k] / c[k][k];
            f.ur[k][i - k - 1] = ratio;
            f.r[size_t(i)] -= ratio * f.r[size_t(k)];
            for (int j = k; j < n; ++j)
                c[i][j] -= c[k][j] * ratio;
        }
    }
}

} // namespace

// QSKIP leaves the function it is written in, so this is a macro.
#define NEED_RUNTIME()                                                                  \
    if (m_devices.isEmpty())                                                            \
    QSKIP("no OpenCL platform with a device on this machine (or no plugin built)")

class TestOpenCLEngine : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<LogCapture> m_log;
    QList<QStringList> m_devices;

    // A host with the plugin at path and the given devices prepared.
    std::unique_ptr<PluginHost> host(const char *path, const QList<int> &devices)
    {
        std::unique_ptr<PluginHost> h(new PluginHost);
        if (!h->loadPlugin(QString::fromLocal8Bit(path)))
            return nullptr;
        QList<QStringList> lists;
        if (!h->deviceInfo(&lists) || !h->setCustomDevices(devices))
            return nullptr;
        return h;
    }

private slots:
    // No global data: only the window around QtTest's watchdog start.
    void initTestCase_data() { watchdogStarting(); }
    void initTestCase()
    {
        watchdogStarted();
        // pocl then offers two devices, so work is split between them.
        if (qEnvironmentVariableIsEmpty("POCL_DEVICES"))
            qputenv("POCL_DEVICES", "pthread pthread");
        m_env.reset(new TestEnv(2));
        m_log.reset(new LogCapture);
        if (*kPlugin) {
            PluginHost probe;
            QVERIFY2(probe.loadPlugin(QString::fromLocal8Bit(kPlugin)), "the built plugin does not load");
            probe.deviceInfo(&m_devices);
        }
    }
    void cleanupTestCase()
    {
        MyThreads::destroyPool();
        m_log.reset();
        m_env.reset();
    }

    void deviceListHasSevenStrings()
    {
        NEED_RUNTIME();
        for (const QStringList &d : qAsConst(m_devices)) {
            QCOMPARE(d.size(), 7);
            QVERIFY(!d.at(0).isEmpty());
            QVERIFY(d.at(2) == QLatin1String("CPU") || d.at(2) == QLatin1String("GPU")
                    || d.at(2) == QLatin1String("Accelerator"));
            QVERIFY(d.at(6) == QLatin1String("Good") || d.at(6) == QLatin1String("Bad"));
        }
        // The single-precision build says so for the same devices.
        PluginHost floatHost;
        QVERIFY(floatHost.loadPlugin(QString::fromLocal8Bit(kFloatPlugin)));
        QList<QStringList> lists;
        QVERIFY(floatHost.deviceInfo(&lists));
        QCOMPARE(lists.size(), m_devices.size());
        QCOMPARE(lists.first().at(6), QStringLiteral("Bad"));
    }

    void badPluginsDoNotLoad()
    {
        PluginHost missing;
        QVERIFY(!missing.loadPlugin(QStringLiteral("/nonexistent/plugins/TrxOpenCL.so")) && !missing.isLoaded());
        PluginHost wrong;
        QVERIFY(!wrong.loadPlugin(QStringLiteral(TRX_WRONG_PLUGIN)));
        QTemporaryDir dir;
        const QString broken = dir.path() + QStringLiteral("/TrxOpenCL.so");
        QVERIFY(writeFile(broken, "\x7f" "ELF this is no library"));
        PluginHost garbage;
        QVERIFY(!garbage.loadPlugin(broken));
        // Without a plugin the device requests fail instead of crashing.
        bool ok = true;
        garbage.calcURatios(&ok);
        QVERIFY(!ok && !garbage.setCustomDevices({0}));
    }

    void nothingChosenIsRefused()
    {
        NEED_RUNTIME();
        PluginHost h;
        QVERIFY(h.loadPlugin(QString::fromLocal8Bit(kPlugin)));
        QList<QStringList> lists;
        QVERIFY(h.deviceInfo(&lists) && !h.setCustomDevices({}));
        // A device number that does not exist leaves nothing to build for.
        QVERIFY(!h.setCustomDevices({lists.size() + 5}));
    }

    // Whole solves: the device's forward elimination gives the CPU's
    // multipliers and solution for every size from 1 to 200 (so every
    // column count around the CPU limits of 32 rows and 100 elements); with
    // two devices each column's row update is split between them, so
    // chunks start inside a row.
    void solveMatchesCpu_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<int>("devices");
        QList<int> all;
        for (int n = 1; n <= 200; ++n)
            all << n;
        QTest::newRow("1..200, one device") << all << 1;
        QTest::newRow("two devices") << QList<int>{12, 40, 77, 150, 201} << 2;
    }
    void solveMatchesCpu()
    {
        NEED_RUNTIME();
        QFETCH(QList<int>, sizes);
        QFETCH(int, devices);
        if (m_devices.size() < devices)
            QSKIP("too few OpenCL devices");
        // One set-up serves every solve: the engine comes back after each.
        auto h = host(kPlugin, devices == 1 ? QList<int>{0} : QList<int>{0, 1});
        QVERIFY(h);
        for (int n : qAsConst(sizes)) {
            std::vector<double> rhs;
            const Matrix a = randomMatrix(n, unsigned(n), n, &rhs);
            const Outcome cpu = runSolve(nullptr, a, rhs);
            const Outcome dev = runSolve(h.get(), a, rhs);
            QCOMPARE(dev.status, cpu.status);
            QVERIFY(dev.swaps.isEmpty());
            for (int k = 0; k < n - 1; ++k)
                for (int i = 0; i < n - 1 - k; ++i)
                    QVERIFY2(fuzzyEqual(dev.ur[size_t(k)][size_t(i)], cpu.ur[size_t(k)][size_t(i)], 1e-12),
                             qPrintable(QStringLiteral("n %1 ur[%2][%3]").arg(n).arg(k).arg(i)));
            for (int i = 0; i < n; ++i)
                QVERIFY2(fuzzyEqual(dev.solution[size_t(i)], cpu.solution[size_t(i)], 1e-10),
                         qPrintable(QStringLiteral("n %1 x%2").arg(n).arg(i)));
        }
    }

    // The blocked engine against the processor: every size up to 200, the
    // sizes around its 64-column blocks and 32 x 32 tiles, on one and on two
    // devices (blocks dealt out in turn), a pivot at every step on a matrix
    // without a strong diagonal. The host's check must pass every answer.
    void blockedMatchesCpu_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<int>("devices");
        QTest::addColumn<bool>("tiled");
        QList<int> all;
        for (int n = 1; n <= 200; ++n)
            all << n;
        const QList<int> edges{31, 33, 63, 64, 65, 127, 128, 129, 191, 257, 300};
        QTest::newRow("1..200, one device") << all << 1 << false;
        QTest::newRow("block edges, two devices") << edges << 2 << false;
        // The local-memory update that devices other than processors get.
        QTest::newRow("tiled update, two devices") << edges << 2 << true;
    }
    void blockedMatchesCpu()
    {
        NEED_RUNTIME();
        QFETCH(QList<int>, sizes);
        QFETCH(int, devices);
        QFETCH(bool, tiled);
        if (m_devices.size() < devices)
            QSKIP("too few OpenCL devices");
        auto h = host(kPlugin, devices == 1 ? QList<int>{0} : QList<int>{0, 1});
        QVERIFY(h && h->blocked());
        for (int n : qAsConst(sizes)) {
            std::vector<double> b;
            Matrix a = randomMatrix(n, 11u + unsigned(n), 0.0, &b);
            std::vector<double> cpu(static_cast<size_t>(n)), dev(static_cast<size_t>(n));
            solveArrays(n, a.ptr(), b.data(), nullptr, cpu.data(), nullptr, ThreadSettings::fromPrefs());
            SolveTrust trust;
            DeviceRun run;
            run.tiledUpdate = tiled;
            const int status = solveArraysBlocked(h.get(), n, a.ptr(), b.data(), dev.data(), nullptr, &trust, &run);
            const QString where = QStringLiteral("n %1: %2").arg(n).arg(run.message);
            QVERIFY2(status == 0 && run.outcome == DeviceRun::Solved, qPrintable(where));
            // The device's own factors passed: no fallback to the processor.
            QVERIFY2(trust.method == SolveTrust::Specified && trust.passes(), qPrintable(where));
            QVERIFY(trust.methodName().contains(QLatin1String("blocked LU")));
            for (int i = 0; i < n; ++i)
                QVERIFY2(std::fabs(dev[size_t(i)] - cpu[size_t(i)]) <= 1e-9 * (1.0 + std::fabs(cpu[size_t(i)])),
                         qPrintable(where + QStringLiteral(" x%1").arg(i)));
        }
    }

    // Too little device memory, and a device without double precision:
    // the blocked engine refuses before allocating and says why.
    void blockedRefuses()
    {
        NEED_RUNTIME();
        const int n = 100;
        std::vector<double> rhs;
        Matrix a = randomMatrix(n, 4u, n, &rhs);
        std::vector<double> sol(static_cast<size_t>(n), 7.0);
        DeviceRun run;
        run.memoryCap = 60000;
        auto h = host(kPlugin, {0});
        QVERIFY(h);
        QCOMPARE(solveArraysBlocked(h.get(), n, a.ptr(), rhs.data(), sol.data(), nullptr, nullptr, &run), 2);
        QCOMPARE(run.outcome, DeviceRun::TooLittleMemory);
        QVERIFY2(run.message.contains(QLatin1String("needs")) && run.message.contains(QLatin1String("MB")),
                 qPrintable(run.message));
        QCOMPARE(sol[0], 7.0);
        auto f = host(kFloatPlugin, {0});
        QVERIFY(f);
        QCOMPARE(solveArraysBlocked(f.get(), n, a.ptr(), rhs.data(), sol.data(), nullptr, nullptr, &run), 2);
        QCOMPARE(run.outcome, DeviceRun::NoDoublePrecision);
    }

    // A zero pivot is repaired by the same exchange as on the CPU; a row
    // that becomes all zero ends the device elimination with its message.
    void pivotRepairAndFailure()
    {
        NEED_RUNTIME();
        const int n = 40;
        std::vector<double> rhs;
        Matrix a = randomMatrix(n, 99u, n, &rhs);
        // Row 1 = 2 * row 0 + e5: after column 0 its pivot is zero and row 5
        // is the one to exchange with.
        for (int j = 0; j < n; ++j)
            a.rows[1][j] = 2.0 * a.rows[0][j] + (j == 5 ? 1.0 : 0.0);
        const Outcome cpu = runSolve(nullptr, a, rhs);
        auto h = host(kPlugin, {0});
        QVERIFY(h);
        const Outcome dev = runSolve(h.get(), a, rhs);
        QVERIFY(!cpu.swaps.isEmpty());
        QCOMPARE(dev.swaps, cpu.swaps);
        for (int i = 0; i < n; ++i)
            QVERIFY(fuzzyEqual(dev.solution[size_t(i)], cpu.solution[size_t(i)], 1e-8));

        for (int j = 0; j < n; ++j)
            a.rows[1][j] = 2.0 * a.rows[0][j];
        h.reset();
        h = host(kPlugin, {0});
        QVERIFY(h);
        ErrorSink sink;
        const Outcome failed = runSolve(h.get(), a, rhs, &sink);
        QCOMPARE(failed.status, 2);
        QCOMPARE(sink.triples.size(), 2);
        QCOMPARE(sink.triples.at(0), QStringLiteral("ERROR: Could not solve the equations!|Following Equation is "
                                                    "faulty! All its co-efficients become zero while Solving: 2|WARNING"));
        QVERIFY(sink.triples.at(1).contains(QLatin1String("could not be reduced to lower triangular")));
        QVERIFY(m_log->contains(QStringLiteral("critical: Error no: MO19")));
    }

    // Single precision: what the devices compute comes back rounded to
    // float; 32 rows and 100 elements or fewer stay in double on the CPU.
    void floatPath()
    {
        NEED_RUNTIME();
        // n = 34: 33 rows below and 110 elements; 33: 32 rows below; 11: 110
        // elements; 10: 90 elements.
        const struct { int n; bool ratiosOnDevice, updateOnDevice; } cases[] = {
            {34, true, true}, {33, false, true}, {11, false, true}, {10, false, false}};
        for (const auto &[n, ratiosOnDevice, updateOnDevice] : cases) {
            auto h = host(kFloatPlugin, {0});
            QVERIFY(h);
            std::vector<double> rhs;
            const Matrix a = randomMatrix(n, 3u, n, &rhs);
            Forward dev(a, rhs), ref(a, rhs);
            QVERIFY(runEngine(h->plugin(), dev));
            referenceForward(ref);
            // Column 0's multipliers, and row 1 (changed only by column 0's
            // update). A device chunk may leave a tail to the CPU, so only
            // whether any value is float-rounded tells where the work went.
            int ratiosFloat = 0, rowFloat = 0;
            auto isFloat = [](double x) { return double(float(x)) == x; };
            for (int i = 0; i < n - 1; ++i)
                ratiosFloat += isFloat(dev.ur[0][i]) ? 1 : 0;
            for (int j = 1; j < n; ++j) // column 0 ends near zero either way
                rowFloat += isFloat(dev.a.rows[1][j]) ? 1 : 0;
            QCOMPARE(ratiosFloat > 0, ratiosOnDevice);
            QCOMPARE(rowFloat > 0, updateOnDevice);
            for (int i = 0; i < n; ++i)
                for (int j = i; j < n; ++j)
                    QVERIFY(fuzzyEqual(dev.a.rows[size_t(i)][j], ref.a.rows[size_t(i)][j], 1e-4));
        }
    }

    void floatSolveIsRefined()
    {
        NEED_RUNTIME();
        const int n = 120;
        std::vector<double> rhs;
        const Matrix a = randomMatrix(n, 5u, n, &rhs);
        auto h = host(kFloatPlugin, {0});
        QVERIFY(h);
        Matrix copy(a);
        std::vector<double> sol(static_cast<size_t>(n)), current(static_cast<size_t>(n));
        QCOMPARE(solveArraysOnDevice(h.get(), n, copy.ptr(), rhs.data(), nullptr, sol.data(), current.data()), 0);
        // The refinement on the CPU brings the float elimination to double accuracy.
        for (int i = 0; i < n; ++i) {
            double sum = -rhs[size_t(i)];
            for (int j = 0; j < n; ++j)
                sum += a.rows[size_t(i)][j] * current[size_t(j)];
            QVERIFY2(std::fabs(sum) < 1e-9 * n, qPrintable(QString::number(sum)));
        }
    }

    void versionTexts()
    {
        const struct { const char *text; bool accepted; } cases[] = {
            {"OpenCL 1.0 CUDA", false}, {"OpenCL 1.1 Mesa", true}, {"OpenCL 3.0 PoCL 3.1+debian  Linux", true},
            {"OpenCL x", false}, {"", false}};
        for (const auto &c : cases)
            QVERIFY2(openCLVersionAccepted(c.text) == c.accepted, c.text);
    }

    void workSizeTables()
    {
        // small: smallWorkSizes(W, P, C, N); else workSizes(all of in).
        const struct { const char *name; bool small; qulonglong in[9], global, local; } cases[] = {
            // fp64, gm, ma, W, P, C, N, n, noOvershoot
            {"small, groups of P until N", true, {0, 0, 0, 256, 32, 4, 100, 0, 0}, 96, 32},
            {"small, L reaches W, c up to 2C", true, {0, 0, 0, 256, 64, 2, 1000, 0, 0}, 768, 256},
            {"small, pocl 33 rows", true, {0, 0, 0, 4096, 8, 2, 33, 0, 0}, 32, 16},
            {"small, P above N", true, {0, 0, 0, 64, 100, 4, 10, 0, 0}, 8, 2},
            {"small, one left over", true, {0, 0, 0, 64, 100, 1, 5, 0, 0}, 4, 4},
            {"small, L halved as c doubles", true, {0, 0, 0, 64, 100, 8, 5, 0, 0}, 4, 1},
            {"small, one item", true, {0, 0, 0, 64, 100, 1, 1, 0, 0}, 1, 1},
            {"overshoot allowed", false, {1, 1000000000, 1000000000, 256, 32, 4, 10000, 100, 0}, 10240, 256},
            {"no overshoot", false, {1, 1000000000, 1000000000, 256, 32, 4, 10000, 100, 1}, 9984, 256},
            {"global memory limit", false, {1, 100000, 1000000000, 256, 32, 4, 100000, 1000, 0}, 10240, 256},
            {"allocation limit, float", false, {0, 0, 20000, 128, 32, 2, 100000, 10, 0}, 4480, 128},
            {"below one wave goes small", false, {1, 1000000000, 1000000000, 256, 32, 4, 100, 100, 0}, 96, 32}};
        for (const auto &c : cases) {
            const qulonglong *in = c.in;
            const WorkSizes ws = c.small ? smallWorkSizes(in[3], in[4], in[5], in[6])
                                         : workSizes(in[0] != 0, in[1], in[2], in[3], in[4], in[5], in[6], in[7], in[8] != 0);
            QVERIFY2(qulonglong(ws.global) == c.global && qulonglong(ws.local) == c.local,
                     qPrintable(QStringLiteral("%1: %2 / %3").arg(c.name).arg(ws.global).arg(ws.local)));
            QVERIFY(ws.global % ws.local == 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestOpenCLEngine)
#include "tst_openclengine.moc"
