// The elimination solver: ordering, pivot repair with its errors and log
// records, the status word, refinement, the same bits for every worker
// count, and the solves through the factors. (Answers against exact ones:
// tst_accuracy.)
#include "logcapture.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "solver/trust.h"
#include "solver/validate.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QtTest>

#include <cstring>
#include <functional>
#include <random>

namespace {

struct SolveRun
{
    int status = 0;
    QList<int> swaps;
    QMap<int, int> columns;
    QMap<int, int> rows;
    std::vector<double> x;
    std::vector<double> ratios; // the multipliers then dr, row by row
    Matrix reduced{0};
    std::unique_ptr<RatioStore> store;
};

// Runs one Solve the way the solve command does and keeps its records, the
// reduced matrix and the ratio store. prepare() sees the Solve and the matrix
// it works on before it starts.
SolveRun runSolve(const Matrix &a, std::vector<double> b, const int *columnZeros, ErrorSink *sink,
                  const ThreadSettings *settings = nullptr, int block = 0,
                  const std::function<void(Solve *, double **)> &prepare = {})
{
    SolveRun run;
    run.reduced = a;
    run.x.assign(size_t(a.n), -7.0);
    std::vector<int> zeros;
    if (columnZeros)
        zeros.assign(columnZeros, columnZeros + a.n);
    Solve *s = new Solve(run.reduced.ptr(), b.data(), run.x.data(),
                         columnZeros ? zeros.data() : nullptr, &run.status, a.n);
    if (settings)
        s->setThreadSettings(*settings);
    s->setBlockSize(block);
    if (sink)
        QObject::connect(s, &Solve::throwErr, sink, &ErrorSink::errMsg, Qt::BlockingQueuedConnection);
    if (prepare)
        prepare(s, run.reduced.ptr());
    QThread *t = MyThreads::start(s, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    while (!t->wait(10))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    MyThreads::joined();
    run.swaps = s->ratios()->swaps;
    run.columns = s->ratios()->columnExchanges;
    run.rows = s->ratios()->rowExchanges;
    const RatioStore *store = s->ratios();
    for (int i = 1; i < a.n; ++i)
        run.ratios.insert(run.ratios.end(), store->lower[i], store->lower[i] + i);
    for (int k = 0; k < a.n - 1; ++k)
        run.ratios.insert(run.ratios.end(), store->dr[k], store->dr[k] + a.n - 1 - k);
    run.store = s->takeRatios();
    delete s;
    return run;
}

double maxResidual(Matrix &a, const std::vector<double> &b, const std::vector<double> &x)
{
    double worst = 0.0;
    for (int i = 0; i < a.n; ++i) {
        double s = -b[size_t(i)];
        for (int j = 0; j < a.n; ++j)
            s += a.rows[size_t(i)][j] * x[size_t(j)];
        worst = std::fmax(worst, std::fabs(s));
    }
    return worst;
}

// p workers for every phase, however few its rows.
ThreadSettings workers(int p)
{
    ThreadSettings settings;
    settings.processors = p;
    for (int t = 0; t < p; ++t)
        settings.limits << t;
    return settings;
}

const QString kFailed = QStringLiteral("ERROR: Could not solve the equations!|");

} // namespace

class TestSolve : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<LogCapture> m_log;

private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv(2));
        m_log.reset(new LogCapture);
    }
    void cleanupTestCase()
    {
        m_log.reset();
        m_env.reset();
    }
    void init() { UserPrefs::setDebugEnabled(false); }

    void reorder()
    {
        // The exchanges made and their record; equal keys need not keep their order.
        const struct { QList<int> keys; bool descending; QList<int> order; const char *record; } cases[] = {
            {{1, 1, 2}, true, {2, 1, 0}, "0>2"}, {{2, 0, 1}, false, {1, 2, 0}, "0>1 1>2"},
            {{0, 1, 1, 3}, false, {0, 1, 2, 3}, ""}, {{3, 2, 1, 0}, false, {3, 2, 1, 0}, "0>3 1>2"},
            {{5}, true, {0}, ""}};
        for (const auto &c : cases) {
            std::vector<int> k(c.keys.begin(), c.keys.end());
            QList<int> data;
            for (int i = 0; i < c.keys.size(); ++i)
                data << i;
            QMap<int, int> rec;
            Solve::reorder(k.data(), int(k.size()), c.descending, rec,
                           [&data](int p, int q) { data.swapItemsAt(p, q); });
            QCOMPARE(data, c.order);
            QStringList parts;
            for (auto it = rec.constBegin(); it != rec.constEnd(); ++it)
                parts << QStringLiteral("%1>%2").arg(it.key()).arg(it.value());
            QCOMPARE(parts.join(QLatin1Char(' ')), QString(c.record));
            for (size_t i = 1; i < k.size(); ++i)
                QVERIFY(c.descending ? k[i - 1] >= k[i] : k[i - 1] <= k[i]);
        }
    }

    void orderingThroughCalc()
    {
        // Column zero counts 1, 1, 2: column 2 moves to the front; then the
        // row with no leading zero moves to the top.
        const int zeros[] = {1, 1, 2};
        ErrorSink sink;
        const SolveRun run = runSolve(Matrix(Rows{{1, 2, 0}, {0, 3, 0}, {4, 0, 5}}), {3, 6, 9}, zeros, &sink);
        QCOMPARE(run.status, 0);
        QVERIFY(sink.triples.isEmpty());
        QCOMPARE(run.columns, (QMap<int, int>{{0, 2}}));
        QCOMPARE(run.rows, (QMap<int, int>{{0, 2}}));
        QVERIFY(run.swaps.isEmpty());
        // In the user's variable order.
        const double expected[] = {-1.0, 2.0, 13.0 / 5.0};
        for (int i = 0; i < 3; ++i)
            QVERIFY(fuzzyEqual(run.x[size_t(i)], expected[i], 1e-14));
    }

    void repair()
    {
        // errors: SOLn raised, in order; texts: those emitted with them.
        struct Case { Rows rows; QList<int> swaps, errors; QStringList texts; };
        const QString notFound = QStringLiteral(
            "Could not find any equation with non-zero value for diagonal element of following "
            "equation after reduction: ");
        const QString faulty = QStringLiteral(
            "Following Equation is faulty! All its co-efficients become zero while Solving: ");
        QList<Case> cases{
            // Step 1 leaves row 1 as (0 0 0 1): its column is 3 and row 3 has a
            // value in column 1, so rows 1 and 3 change places although row 2 would also do.
            {{{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}, {1, 3, 2, 1}}, {1, 3}, {}, {}},
            // Row 2 (named by the column) has no value in column 1: the first row after it that has one.
            {{{1, 1, 1, 1}, {1, 1, 2, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}}, {1, 3, 2, 3}, {}, {}},
            // No row after it either: the first row below the pivot.
            {{{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}, {1, 1, 2, 1}}, {1, 2, 2, 3}, {}, {}},
            {{{1, 1, 1}, {1, 1, 2}, {1, 1, 3}}, {}, {1}, {notFound + "2"}},
            // The zero row is met again as the last pivot.
            {{{1, 1, 1}, {1, 1, 2}, {2, 2, 2}}, {}, {2, 3}, {notFound + "2", faulty + "3"}},
            {{{1, 2, 3}, {2, 4, 6}, {1, 0, 1}}, {}, {3}, {faulty + "2"}},
            {{{0}}, {}, {3}, {faulty + "1"}},
            {{{4}}, {}, {}, {}}};
        // Pivot bounds: ±1e-15 counts as zero, ±1.5e-15 does not.
        for (double p : {1e-15, -1e-15, 1.5e-15, -1.5e-15}) {
            const bool zero = std::fabs(p) <= 1e-15;
            cases.append({{{p, 1}, {std::fabs(p), 2}}, {}, zero ? QList<int>{1} : QList<int>(),
                          zero ? QStringList{notFound + "1"} : QStringList()});
        }
        for (const auto &[rows, swaps, errors, texts] : cases) {
            Matrix a(rows);
            std::vector<double> b(size_t(a.n));
            for (int i = 0; i < a.n; ++i)
                b[size_t(i)] = i + 1.0;
            m_log->clear();
            ErrorSink sink;
            const SolveRun run = runSolve(a, b, nullptr, &sink);
            QCOMPARE(run.swaps, swaps);
            QList<LogCapture::Entry> critical;
            for (const LogCapture::Entry &r : m_log->take())
                if (r.type == QtCriticalMsg)
                    critical << r;
            QCOMPARE(run.status, errors.isEmpty() ? 0 : 1);
            QStringList expected;
            for (const QString &t : texts)
                expected << kFailed + t + QStringLiteral("|WARNING");
            QCOMPARE(sink.triples, expected);
            QCOMPARE(critical.size(), errors.size());
            const int lines[] = {0, 310, 333, 359};
            for (int e = 0; e < errors.size(); ++e) {
                QCOMPARE(critical[e].text, QStringLiteral("Error no: SOL%1").arg(errors[e]));
                QCOMPARE(critical[e].file, QStringLiteral("solve"));
                QCOMPARE(critical[e].line, lines[errors[e]]);
                QCOMPARE(critical[e].function, QStringLiteral("void Solve::checkDiagonal(int)"));
            }
            if (errors.isEmpty())
                QVERIFY(maxResidual(a, b, run.x) < 1e-12);
        }
    }

    void printDump()
    {
        UserPrefs::setDebugEnabled(true);
        m_log->clear();
        QCOMPARE(runSolve(Matrix(Rows{{0, 1}, {0, 2.5}}), {1, 1234567}, nullptr, nullptr).status, 1);
        QStringList debug;
        for (const LogCapture::Entry &r : m_log->take()) {
            if (r.type != QtDebugMsg || r.file != QLatin1String("solve"))
                continue;
            QCOMPARE(r.function, QStringLiteral("void Solve::print(double**, double*)"));
            debug << QStringLiteral("%1:%2").arg(r.line).arg(r.text);
        }
        QCOMPARE(debug, (QStringList{"631:\nPrinting Matrices:\n", "645:0\t1\t=\t1\n",
                                     "645:0\t2.5\t=\t1.23457e+06\n"}));
    }

    void deviceFailure()
    {
        const Matrix a(Rows{{2, 1}, {1, 3}});
        int initN = 0;
        QList<int> *initSwaps = nullptr, *swaps = nullptr;
        double **initCoef = nullptr, **coef = nullptr;
        ErrorSink sink;
        const SolveRun run = runSolve(a, {3, 4}, nullptr, &sink, nullptr, 0, [&](Solve *s, double **c) {
            connect(s, &Solve::initialiseGPU,
                    [&](double **c, double *, double **, double **, int n, QList<int> *diag, QThread *) {
                        initCoef = c;
                        initN = n;
                        initSwaps = diag;
                    });
            connect(s, &Solve::calcURatios, [](bool *res) { *res = false; });
            s->enableGPU(nullptr);
            coef = c;
            swaps = &s->ratios()->swaps;
        });
        QCOMPARE(initN, 2);
        QCOMPARE(initCoef, coef);
        QCOMPARE(initSwaps, swaps);
        QCOMPARE(run.status, 2);
        QCOMPARE(run.x, (std::vector<double>{-7.0, -7.0}));
        QCOMPARE(sink.triples, QStringList{kFailed + "Co-efficient matrix could not be reduced to lower "
                                                     "triangular matrix.\nHence cannot proceed solving the equations.|WARNING"});
    }

    void refinement()
    {
        // Step 1 needs rows 1 and 2 exchanged after the multipliers of step 0
        // (2 and 3) were recorded for them. The exact solution is (1, -2, 3).
        Matrix a(Rows{{1, 1, 1}, {2, 2, 3}, {3, 4, 1}});
        const std::vector<double> b{2, 7, -2}, exact{1, -2, 3}, wrong{1.5, -1.0, 2.0};
        SolveRun run = runSolve(a, b, nullptr, nullptr);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.swaps, (QList<int>{1, 2}));
        // One refinement step from a wrong solution lands on the exact one.
        std::vector<double> x(wrong), rhs(b), residual(3), correction(3);
        {
            Solve refiner(run.reduced.ptr(), rhs.data(), x.data(), 3, std::move(run.store));
            refiner.refine(a.ptr(), residual.data(), correction.data());
        }
        for (int i = 0; i < 3; ++i)
            QVERIFY2(fuzzyEqual(x[size_t(i)], exact[size_t(i)], 1e-12), qPrintable(QString::number(x[size_t(i)])));
        // The whole refinement from the same wrong start.
        run = runSolve(a, b, nullptr, nullptr);
        x = wrong;
        QVERIFY(countUnsolved(3, a.ptr(), b.data(), x.data()) > 0);
        QCOMPARE(improveSolution(3, a.ptr(), b.data(), run.reduced.ptr(), std::move(run.store), x.data()), 0);
        QCOMPARE(countUnsolved(3, a.ptr(), b.data(), x.data()), 0);

        // With nothing unsolved the (nonsense) ratios are never used.
        Matrix d(Rows{{2, 0}, {0, 4}});
        std::vector<double> db{2, 8}, dx{1.0, 2.0};
        auto ratios = std::make_unique<RatioStore>(2);
        ratios->lower[1][0] = 1e9;
        QCOMPARE(improveSolution(2, d.ptr(), db.data(), Matrix(d).ptr(), std::move(ratios), dx.data()), 0);
        QCOMPARE(dx, (std::vector<double>{1.0, 2.0}));
    }

    // The whole finish of a solve (the back substitution, the refinement
    // with its passes through the factors, the backward error, the
    // condition estimate beside the refinement or after it with the
    // backward error's row scales, the extra-precise refinement with its
    // bounds) gives the same bits for every worker count, and when threads
    // cannot be had. The system is big enough for every part to be shared,
    // with rows of very different sizes so that the scales count, and pivot
    // repairs so that the passes meet exchanges.
    void finishSameForEveryWorkerCount()
    {
        const int n = 600;
        std::vector<double> b;
        Matrix a = randomMatrix(n, 7, 0.0, &b);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                a.rows[size_t(i)][j] *= std::pow(10.0, i % 5 - 2);
        // Rows that start alike: after step 0 the pivots of steps 1 and 2
        // are zero, and the repair exchanges rows.
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                a.rows[size_t(i)][j] = j + 1.0;
        struct Way { int processors; int failedStarts; };
        // One failed start: the estimate's own thread (it then runs after
        // the refinement, on the team); many: no team either.
        const Way ways[] = {{1, 0}, {2, 0}, {3, 0}, {2, 1}, {3, 1}, {3, 1000}};
        SolveTrust first;
        std::vector<double> firstX;
        for (const Way &way : ways) {
            const ThreadSettings settings = workers(way.processors);
            SolveRun run = runSolve(a, b, nullptr, nullptr, &settings);
            // The passes divide by the store's copy of the pivots.
            QCOMPARE(run.store->pivots.size(), size_t(n));
            for (int i = 0; i < n; ++i)
                QCOMPARE(run.store->pivots[size_t(i)], run.reduced.rows[size_t(i)][i]);
            MyThreads::failNextStarts(way.failedStarts);
            SolveTrust trust;
            run.status = finishSolve(n, a.ptr(), b.data(), run.reduced.ptr(), std::move(run.store),
                                     run.x.data(), run.status, settings, &trust);
            MyThreads::failNextStarts(0);
            const QByteArray where = QStringLiteral("%1 processors, %2 failed starts")
                                         .arg(way.processors).arg(way.failedStarts).toUtf8();
            QVERIFY2(run.status == 0 && trust.bounded() && trust.preciseSteps >= 1, where.constData());
            if (way.processors == 1) {
                QVERIFY2(!run.swaps.isEmpty(), "the system takes pivot repairs");
                first = trust;
                firstX = run.x;
                continue;
            }
            QVERIFY2(sameBits(run.x, firstX) && sameBits(trust.rcond, first.rcond)
                         && sameBits(trust.backwardError, first.backwardError) && sameBits(trust.errorBound, first.errorBound),
                     where.constData());
            QCOMPARE(trust.refinementSteps, first.refinementSteps);
            QCOMPARE(trust.preciseSteps, first.preciseSteps);
        }
        // NaN in an answer is not lost when the backward error is spread;
        // from kept residuals and row norms it has the pass's bits.
        const ThreadSettings three = workers(3);
        Trust::RowNorms norms{std::vector<double>(size_t(n)), std::vector<double>(size_t(n))};
        for (int i = 0; i < n; ++i)
            Trust::rowNorms(a.rows[size_t(i)], n, &norms.sum[size_t(i)], &norms.max[size_t(i)]);
        for (bool withNaN : {false, true}) {
            if (withNaN)
                firstX[size_t(n) - 50] = std::nan("");
            std::vector<double> r(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                r[size_t(i)] = Reduce::dot(a.rows[size_t(i)], firstX.data(), n) - b[size_t(i)];
            const double pass = Trust::backwardError(n, a.ptr(), b.data(), firstX.data(), nullptr, &three);
            QCOMPARE(std::isnan(pass), withNaN);
            QVERIFY(sameBits(Trust::backwardError(n, norms, b.data(), firstX.data(), r.data(), &three), pass));
        }
    }

    void randomCrossCheck()
    {
        // For each block size every worker count gives the bits of one
        // worker; trusted answers of small systems solve them.
        // The sparse systems exercise the pivot repair and its failures.
        std::mt19937 gen(20261206);
        std::uniform_int_distribution<int> small(-4, 4), procs(1, 6);
        std::uniform_real_distribution<double> real(-1.0, 1.0);
        const ThreadSettings one = workers(1);
        int compared = 0, repaired = 0, failedRepairs = 0;
        for (int round = 0; round < 600; ++round) {
            const int n = round % 4 ? 1 + round % 9 : 2 + round % 37;
            const bool sparse = round % 3 != 0;
            Matrix a(n);
            std::vector<double> b(static_cast<size_t>(n)), x(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j)
                    a.rows[size_t(i)][j] = sparse ? double(small(gen) * (small(gen) > round % 2 ? 1 : 0)) : real(gen);
                b[size_t(i)] = sparse ? double(small(gen)) : real(gen);
            }
            std::vector<int> zeros(static_cast<size_t>(n));
            const bool valid = Validate::check(n, a.ptr(), b.data(), zeros.data()).valid();
            const int block = (round / 4) % 4 == 3 ? 0 : 1 + (round / 4) % 4 * 2;   // 1, 3, 5, default
            const SolveRun first = runSolve(a, b, zeros.data(), nullptr, &one, block);
            repaired += first.swaps.isEmpty() ? 0 : 1;
            failedRepairs += first.status;
            const ThreadSettings many = workers(procs(gen));
            const SolveRun run = runSolve(a, b, zeros.data(), nullptr, &many, block);
            const QByteArray where = QStringLiteral("round %1 n %2 block %3").arg(round).arg(n).arg(block).toUtf8();
            QVERIFY2(run.status == first.status && run.swaps == first.swaps, where.constData());
            QVERIFY2(run.rows == first.rows && run.columns == first.columns, where.constData());
            QVERIFY2(sameBits(run.ratios, first.ratios) && sameBits(run.x, first.x), where.constData());
            if (n > 9 || !valid || solveArrays(n, a.ptr(), b.data(), zeros.data(), x.data(), nullptr, many) != 0)
                continue;
            // A trusted answer: the pivot repair found every pivot, and it
            // solves the system.
            QVERIFY2(first.status == 0, where.constData());
            const double size = std::fabs(*std::max_element(x.begin(), x.end(), [](double p, double q) {
                return std::fabs(p) < std::fabs(q);
            }));
            QVERIFY2(maxResidual(a, b, x) <= 1e-12 * n * std::fmax(1.0, size), where.constData());
            ++compared;
        }
        QVERIFY(compared > 200);
        QVERIFY(repaired > 40);
        QVERIFY(failedRepairs > 40);
    }

    void progressAndCancel_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("cancelAt"); // report that asks to cancel; -1 never, 0 before the start
        QTest::newRow("one block") << 40 << -1;
        QTest::newRow("several blocks") << 300 << -1;
        QTest::newRow("cancel before start") << 40 << 0;
        QTest::newRow("cancel mid-way") << 300 << 2;
    }
    void progressAndCancel()
    {
        QFETCH(int, n);
        QFETCH(int, cancelAt);
        std::vector<double> b;
        Matrix a = randomMatrix(n, 7u + unsigned(n), n, &b);
        const Matrix a0 = a;
        const std::vector<double> b0 = b;
        std::vector<int> zeros(static_cast<size_t>(n));
        QVERIFY(Validate::check(n, a.ptr(), b.data(), zeros.data()).valid());
        const ThreadSettings settings = workers(2);
        std::vector<double> plain(static_cast<size_t>(n), -7.0), plainCurrent(static_cast<size_t>(n), -7.0);
        const int plainStatus = solveArrays(n, a.ptr(), b.data(), zeros.data(), plain.data(),
                                            plainCurrent.data(), settings);

        SolveControl control;
        control.cancel = cancelAt == 0;
        std::vector<double> shares;
        control.onProgress = [&](double share) {
            shares.push_back(share);
            if (int(shares.size()) == cancelAt)
                control.cancel = true;
        };
        std::vector<double> x(static_cast<size_t>(n), -7.0), current(x);
        SolveTrust trust;
        trust.backwardError = 42.0;
        const int status = solveArrays(n, a.ptr(), b.data(), zeros.data(), x.data(), current.data(),
                                       settings, nullptr, &trust, &control);
        QVERIFY(std::is_sorted(shares.begin(), shares.end()));
        for (int i = 0; i < n; ++i)
            QVERIFY(std::equal(a.rows[size_t(i)], a.rows[size_t(i)] + n, a0.rows[size_t(i)]));
        QVERIFY(sameBits(b, b0));
        if (cancelAt < 0) {
            // Not cancelled: the bits of a run without control.
            QCOMPARE(status, plainStatus);
            QVERIFY(sameBits(x, plain) && sameBits(current, plainCurrent));
            QVERIFY(!shares.empty() && shares.front() > 0.0 && shares.back() == 1.0);
        } else {
            QCOMPARE(status, 3);
            QVERIFY(sameBits(x, std::vector<double>(size_t(n), -7.0)) && sameBits(current, x));
            QCOMPARE(trust.backwardError, 42.0);
            QCOMPARE(int(shares.size()), cancelAt);
        }
    }

    void badInput()
    {
        // Non-finite values are refused before the solver (see the
        // validation tests); so are columns that are zero within 1e-15.
        // outcome: "refused", or the status word.
        const struct { Rows rows; QVector<double> rhs; const char *outcome; } cases[] = {
            {{{1, 1}, {1, -1}}, {1e308, -1e308}, "1"}, // overflow
            {{{1, 2, 3}, {4, 5, 6}, {5, 7, 9}}, {1, 2, 3}, "1"}, // dependent, not proportional
            {{{0, 2, 1}, {1, 0, 0}, {3, 1, 4}}, {5, 1, 9}, "0"}, // zero diagonal
            {{{0, 0, 3}, {0, -2, 0}, {5, 0, 0}}, {3, 4, 10}, "0"}, // one value per row
            {{{1e-15, 1}, {-1e-15, 2}}, {1, 2}, "refused"}, // pivots 1e-15
            {{{1.5e-15, 1}, {1.5e-15, 2}}, {1, 3}, "0"}, // pivots 1.5e-15
        };
        for (const auto &[rows, rhs, word] : cases) {
            const QString outcome = QString::fromLatin1(word);
            const int n = rows.size();
            Matrix a(rows);
            const std::vector<double> b(rhs.begin(), rhs.end());
            EquationStore store;
            store.N = n;
            QVERIFY(store.reallocate());
            for (int i = 0; i < n; ++i) {
                std::copy(a.rows[size_t(i)], a.rows[size_t(i)] + n, store.coef[i]);
                store.rhs[i] = b[size_t(i)];
            }
            std::vector<int> zeros(static_cast<size_t>(n));
            if (!Validate::check(n, store.coef, store.rhs, zeros.data()).valid()) {
                QCOMPARE(QStringLiteral("refused"), outcome);
                continue;
            }
            ErrorSink sink;
            const int status = solveStore(store, zeros.data(), &sink);
            QCOMPARE(QString::number(status), outcome);
            // The system itself is untouched, and the current solution is a copy.
            for (int i = 0; i < n; ++i)
                QVERIFY(std::memcmp(store.coef[i], a.rows[size_t(i)], sizeof(double) * size_t(n)) == 0);
            QVERIFY(std::memcmp(store.rhs, b.data(), sizeof(double) * size_t(n)) == 0);
            QVERIFY(std::memcmp(store.customSol, store.currentSol, sizeof(double) * size_t(n)) == 0);
            if (status == 0) {
                const std::vector<double> x(store.customSol, store.customSol + n);
                QVERIFY(std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); }));
                QVERIFY(maxResidual(a, b, x) <= 1e-12 * (1.0 + std::fabs(b[0]) + std::fabs(b.back())));
                QVERIFY(sink.triples.isEmpty());
            }
            // A store whose arrays do not match N is left alone.
            store.N = n + 1;
            QCOMPARE(solveStore(store, nullptr), -1);
            store.N = n;
        }
    }

    // The solves through either kind of factors are those of the matrix and
    // of its transpose (the condition estimate depends on both).
    void factorSolves()
    {
        const Rows ordered{{1, 2, 0}, {0, 3, 0}, {4, 0, 5}};    // column and row exchanges
        const Rows repaired{{1, 1, 1}, {2, 2, 3}, {3, 4, 1}};   // a pivot-repair swap
        Matrix random = randomMatrix(23, 7);
        random.rows[0][0] = 0.0;
        for (bool pivoting : {false, true}) {
            for (const Matrix &a : {Matrix(ordered), Matrix(repaired), random}) {
                const int n = a.n;
                std::vector<int> zeros(static_cast<size_t>(n)), perm;
                Matrix copy(a);
                QVERIFY(Validate::check(n, copy.ptr(), std::vector<double>(size_t(n), 1.0).data(), zeros.data()).valid());
                SolveRun run = runSolve(a, std::vector<double>(size_t(n), 1.0), zeros.data(), nullptr);
                Matrix lu(a);
                const ThreadSettings settings = workers(2);
                QVERIFY(Trust::factorPartialPivoting(n, lu.ptr(), perm, settings));
                std::vector<double> invColSum(static_cast<size_t>(n), 0.0); // column sums of |A^-1|
                for (int transposed = 0; transposed < 2; ++transposed) {
                    for (int e = 0; e < n; ++e) {
                        std::vector<double> v(static_cast<size_t>(n), 0.0);
                        v[size_t(e)] = 1.0;
                        if (pivoting)
                            (transposed ? Trust::luSolveTransposed : Trust::luSolve)(n, lu.ptr(), perm, v.data());
                        else
                            (transposed ? Trust::specifiedSolveTransposed : Trust::specifiedSolve)(n, run.reduced.ptr(), *run.store, v.data(), 1);
                        for (int i = 0; i < n; ++i) {
                            double s = 0.0;
                            for (int j = 0; j < n; ++j)
                                s += (transposed ? a.rows[size_t(j)][i] : a.rows[size_t(i)][j]) * v[size_t(j)];
                            QVERIFY2(std::fabs(s - (i == e ? 1.0 : 0.0)) < 1e-9,
                                     qPrintable(QStringLiteral("transposed %1 column %2 row %3: %4").arg(transposed).arg(e).arg(i).arg(s)));
                            if (!transposed)
                                invColSum[size_t(e)] += std::fabs(v[size_t(i)]);
                        }
                    }
                }
                // The estimate against the exact reciprocal condition of the
                // row-equilibrated matrix R A: it never exceeds it by much and, as
                // an estimate of a norm from below, is never below it.
                std::vector<double> rowMax(static_cast<size_t>(n), 0.0), colSum(static_cast<size_t>(n), 0.0);
                for (int i = 0; i < n; ++i)
                    for (int j = 0; j < n; ++j)
                        rowMax[size_t(i)] = std::fmax(rowMax[size_t(i)], std::fabs(a.rows[size_t(i)][j]));
                double normB = 0.0, normInv = 0.0;
                for (int j = 0; j < n; ++j) {
                    for (int i = 0; i < n; ++i)
                        colSum[size_t(j)] += std::fabs(a.rows[size_t(i)][j]) / rowMax[size_t(i)];
                    normB = std::fmax(normB, colSum[size_t(j)]);
                    normInv = std::fmax(normInv, rowMax[size_t(j)] * invColSum[size_t(j)]);
                }
                const double exactRcond = 1.0 / (normB * normInv);
                Matrix am(a);
                const double rc = pivoting
                    ? Trust::estimateRcond(n, am.ptr(), [&](double *v) { Trust::luSolve(n, lu.ptr(), perm, v); },
                                           [&](double *v) { Trust::luSolveTransposed(n, lu.ptr(), perm, v); })
                    : Trust::estimateRcond(n, am.ptr(), [&](double *v) { Trust::specifiedSolve(n, run.reduced.ptr(), *run.store, v); },
                                           [&](double *v) { Trust::specifiedSolveTransposed(n, run.reduced.ptr(), *run.store, v); });
                QVERIFY2(rc >= exactRcond * (1 - 1e-9) && rc <= 10.0 * exactRcond,
                         qPrintable(QStringLiteral("estimate %1, exact %2").arg(rc).arg(exactRcond)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestSolve)
#include "tst_solve.moc"
