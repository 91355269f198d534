// The elimination solver: ordering, pivot repair with its errors and log
// records, the status word, refinement, and a randomized cross-check against
// a plain elimination with partial pivoting.
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"
#include "solver/validate.h"
#include "prefs/userprefs.h"
#include "store/equationstore.h"
#include "testenv.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using Rows = QVector<QVector<double>>;

struct LogRecord
{
    QtMsgType type;
    QString file;
    int line;
    QString function;
    QString text;
};

QMutex g_logMutex;
QList<LogRecord> g_log;

void captureMessage(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    QMutexLocker lock(&g_logMutex);
    g_log.append({type, QString::fromLatin1(ctx.file), ctx.line, QString::fromLatin1(ctx.function),
                  msg});
}

QList<LogRecord> takeLog()
{
    QMutexLocker lock(&g_logMutex);
    QList<LogRecord> out = g_log;
    g_log.clear();
    return out;
}

struct Matrix
{
    explicit Matrix(int n) : n(n), store(size_t(n) * size_t(n)), rows(size_t(n))
    {
        for (int i = 0; i < n; ++i)
            rows[size_t(i)] = store.data() + size_t(i) * size_t(n);
    }
    explicit Matrix(const Rows &r) : Matrix(r.size())
    {
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                rows[size_t(i)][j] = r[i][j];
    }
    Matrix(const Matrix &o) : Matrix(o.n) { store = o.store; }
    double **ptr() { return rows.data(); }
    int n;
    std::vector<double> store;
    std::vector<double *> rows;
};

// Plain Gaussian elimination with partial pivoting; false when singular.
bool referenceSolve(Matrix a, std::vector<double> b, std::vector<double> &x)
{
    const int n = a.n;
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(a.rows[size_t(i)][k]) > std::fabs(a.rows[size_t(p)][k]))
                p = i;
        if (std::fabs(a.rows[size_t(p)][k]) < 1e-9)
            return false;
        std::swap(a.rows[size_t(k)], a.rows[size_t(p)]);
        std::swap(b[size_t(k)], b[size_t(p)]);
        for (int i = k + 1; i < n; ++i) {
            const double f = a.rows[size_t(i)][k] / a.rows[size_t(k)][k];
            for (int j = k; j < n; ++j)
                a.rows[size_t(i)][j] -= f * a.rows[size_t(k)][j];
            b[size_t(i)] -= f * b[size_t(k)];
        }
    }
    x.assign(size_t(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        double s = b[size_t(i)];
        for (int j = i + 1; j < n; ++j)
            s -= a.rows[size_t(i)][j] * x[size_t(j)];
        x[size_t(i)] = s / a.rows[size_t(i)][i];
    }
    return true;
}

} // namespace

// Receives the solver's error triples like the main window does.
class ErrorSink : public QObject
{
    Q_OBJECT
public:
    QStringList triples;
public slots:
    void errMsg(QString *title, QString *text, QString type)
    {
        triples << (*title + QLatin1Char('|') + *text + QLatin1Char('|') + type);
        delete title;
        delete text;
    }
};

struct SolveRun
{
    int status = 0;
    QList<int> swaps;
    QMap<int, int> columns;
    QMap<int, int> rows;
    std::vector<double> x;
    std::vector<double> ratios; // ur then dr, row by row
};

// Runs one Solve the way the solve command does and keeps its records.
SolveRun runSolve(Matrix a, std::vector<double> b, const int *columnZeros, ErrorSink *sink,
                  const ThreadSettings *settings = nullptr, int block = 0)
{
    SolveRun run;
    run.x.assign(size_t(a.n), -7.0);
    std::vector<int> zeros;
    if (columnZeros)
        zeros.assign(columnZeros, columnZeros + a.n);
    Solve *s = new Solve(a.ptr(), b.data(), run.x.data(), columnZeros ? zeros.data() : nullptr,
                         &run.status, a.n);
    if (settings)
        s->setThreadSettings(*settings);
    s->setBlockSize(block);
    if (sink)
        QObject::connect(s, &Solve::throwErr, sink, &ErrorSink::errMsg,
                         Qt::BlockingQueuedConnection);
    QThread *t = MyThreads::start(s, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    while (!t->wait(10))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    run.swaps = s->ratios()->swaps;
    run.columns = s->ratios()->columnExchanges;
    run.rows = s->ratios()->rowExchanges;
    for (int k = 0; k < a.n - 1; ++k)
        run.ratios.insert(run.ratios.end(), s->ratios()->ur[k], s->ratios()->ur[k] + a.n - 1 - k);
    for (int k = 0; k < a.n - 1; ++k)
        run.ratios.insert(run.ratios.end(), s->ratios()->dr[k], s->ratios()->dr[k] + a.n - 1 - k);
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

Q_DECLARE_METATYPE(Rows)

class TestSolve : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reorder_data();
    void reorder();
    void orderingThroughCalc();
    void repair_data();
    void repair();
    void printDump();
    void deviceFailure();
    void refinementAfterRepair();
    void refinementOfExactSolution();
    void randomCrossCheck();
    void blockSizeIndependent();
    void solveStoreEntry();
    void badInput_data();
    void badInput();

private:
    QtMessageHandler m_previous = nullptr;
    std::unique_ptr<TestEnv> m_env;
};

void TestSolve::initTestCase()
{
    m_env.reset(new TestEnv(2));
    m_previous = qInstallMessageHandler(captureMessage);
}

void TestSolve::cleanupTestCase()
{
    qInstallMessageHandler(m_previous);
    m_env.reset();
}

void TestSolve::reorder_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QList<int>>("order");
    QTest::addColumn<QString>("record");
    // Equal keys need not keep their order.
    QTest::newRow("columns 1 1 2") << QList<int>{1, 1, 2} << true << QList<int>{2, 1, 0} << "0>2";
    QTest::newRow("rows 2 0 1") << QList<int>{2, 0, 1} << false << QList<int>{1, 2, 0}
                                << "0>1 1>2";
    QTest::newRow("sorted") << QList<int>{0, 1, 1, 3} << false << QList<int>{0, 1, 2, 3} << "";
    QTest::newRow("all equal") << QList<int>{4, 4, 4} << true << QList<int>{0, 1, 2} << "";
    QTest::newRow("reversed") << QList<int>{3, 2, 1, 0} << false << QList<int>{3, 2, 1, 0}
                              << "0>3 1>2";
    QTest::newRow("one") << QList<int>{5} << true << QList<int>{0} << "";
}

void TestSolve::reorder()
{
    QFETCH(QList<int>, keys);
    QFETCH(bool, descending);
    QFETCH(QList<int>, order);
    QFETCH(QString, record);
    std::vector<int> k(keys.begin(), keys.end());
    QList<int> data;
    for (int i = 0; i < keys.size(); ++i)
        data << i;
    QMap<int, int> rec;
    Solve::reorder(k.data(), int(k.size()), descending, rec,
                   [&data](int p, int q) { data.swapItemsAt(p, q); });
    QCOMPARE(data, order);
    QStringList parts;
    for (auto it = rec.constBegin(); it != rec.constEnd(); ++it)
        parts << QStringLiteral("%1>%2").arg(it.key()).arg(it.value());
    QCOMPARE(parts.join(QLatin1Char(' ')), record);
    for (size_t i = 1; i < k.size(); ++i)
        QVERIFY(descending ? k[i - 1] >= k[i] : k[i - 1] <= k[i]);
}

void TestSolve::orderingThroughCalc()
{
    // Column zero counts 1, 1, 2: column 2 moves to the front; then the row
    // with no leading zero moves to the top.
    Matrix a(Rows{{1, 2, 0}, {0, 3, 0}, {4, 0, 5}});
    std::vector<double> b{3, 6, 9};
    const int zeros[] = {1, 1, 2};
    ErrorSink sink;
    const SolveRun run = runSolve(a, b, zeros, &sink);
    QCOMPARE(run.status, 0);
    QVERIFY(sink.triples.isEmpty());
    QCOMPARE(run.columns, (QMap<int, int>{{0, 2}}));
    QCOMPARE(run.rows, (QMap<int, int>{{0, 2}}));
    QVERIFY(run.swaps.isEmpty());
    // x1 = 2, x0 = -1, x2 = (9 + 4) / 5, in the user's variable order.
    QVERIFY(fuzzyEqual(run.x[0], -1.0, 1e-14));
    QVERIFY(fuzzyEqual(run.x[1], 2.0, 1e-14));
    QVERIFY(fuzzyEqual(run.x[2], 13.0 / 5.0, 1e-14));
}

void TestSolve::repair_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QList<int>>("swaps");
    QTest::addColumn<QList<int>>("errors"); // SOLn raised, in order
    QTest::addColumn<QStringList>("texts"); // the texts emitted with them
    const QString notFound = QStringLiteral(
        "Could not find any equation with non-zero value for diagonal element of following "
        "equation after reduction: ");
    const QString faulty =
        QStringLiteral("Following Equation is faulty! All its co-efficients become zero while Solving: ");
    // Step 1 leaves row 1 as (0 0 0 1): its column is 3 and row 3 has a
    // value in column 1, so rows 1 and 3 change places although row 2 would
    // also do.
    QTest::newRow("row named by the column") << Rows{{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}, {1, 3, 2, 1}}
                                  << QList<int>{1, 3} << QList<int>() << QStringList();
    // Row 2 (named by the column) has no value in column 1: the first row
    // after it that has one is taken.
    QTest::newRow("first row after the column") << Rows{{1, 1, 1, 1}, {1, 1, 2, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}}
                                     << QList<int>{1, 3, 2, 3} << QList<int>() << QStringList();
    // No row after it either: the first row below the pivot.
    QTest::newRow("first row below the pivot") << Rows{{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 2, 1, 1}, {1, 1, 2, 1}}
                                    << QList<int>{1, 2, 2, 3} << QList<int>() << QStringList();
    QTest::newRow("SOL1") << Rows{{1, 1, 1}, {1, 1, 2}, {1, 1, 3}} << QList<int>() << QList<int>{1}
                          << QStringList{notFound + QStringLiteral("2")};
    // The zero row is met again as the last pivot.
    QTest::newRow("SOL2") << Rows{{1, 1, 1}, {1, 1, 2}, {2, 2, 2}} << QList<int>() << QList<int>{2, 3}
                          << QStringList{notFound + QStringLiteral("2"), faulty + QStringLiteral("3")};
    QTest::newRow("SOL3") << Rows{{1, 2, 3}, {2, 4, 6}, {1, 0, 1}} << QList<int>() << QList<int>{3}
                          << QStringList{faulty + QStringLiteral("2")};
    QTest::newRow("n=1 zero") << Rows{{0}} << QList<int>() << QList<int>{3}
                              << QStringList{faulty + QStringLiteral("1")};
    QTest::newRow("n=1") << Rows{{4}} << QList<int>() << QList<int>() << QStringList();
    // Pivot bounds: 1e-15 counts as zero, 1.5e-15 does not.
    QTest::newRow("pivot 1e-15") << Rows{{1e-15, 1}, {1e-15, 2}} << QList<int>() << QList<int>{1}
                                 << QStringList{notFound + QStringLiteral("1")};
    QTest::newRow("pivot -1e-15") << Rows{{-1e-15, 1}, {1e-15, 2}} << QList<int>() << QList<int>{1}
                                  << QStringList{notFound + QStringLiteral("1")};
    QTest::newRow("pivot 1.5e-15") << Rows{{1.5e-15, 1}, {1.5e-15, 2}} << QList<int>() << QList<int>()
                                   << QStringList();
    QTest::newRow("pivot -1.5e-15") << Rows{{-1.5e-15, 1}, {1.5e-15, 2}} << QList<int>() << QList<int>()
                                    << QStringList();
}

void TestSolve::repair()
{
    QFETCH(Rows, rows);
    QFETCH(QList<int>, swaps);
    QFETCH(QList<int>, errors);
    QFETCH(QStringList, texts);
    Matrix a(rows);
    std::vector<double> b(static_cast<size_t>(a.n));
    for (int i = 0; i < a.n; ++i)
        b[size_t(i)] = i + 1.0;
    UserPrefs::setDebugEnabled(false);
    takeLog();
    ErrorSink sink;
    const SolveRun run = runSolve(a, b, nullptr, &sink);
    QCOMPARE(run.swaps, swaps);
    QList<LogRecord> critical;
    for (const LogRecord &r : takeLog())
        if (r.type == QtCriticalMsg)
            critical << r;
    if (errors.isEmpty()) {
        QCOMPARE(run.status, 0);
        QVERIFY(sink.triples.isEmpty());
        QVERIFY(critical.isEmpty());
        QVERIFY(maxResidual(a, b, run.x) < 1e-12);
        return;
    }
    QCOMPARE(run.status, 1);
    QStringList expected;
    for (const QString &t : texts)
        expected << QStringLiteral("ERROR: Could not solve the equations!|") + t
                        + QStringLiteral("|WARNING");
    QCOMPARE(sink.triples, expected);
    QCOMPARE(critical.size(), errors.size());
    const int lines[] = {0, 310, 333, 359};
    for (int e = 0; e < errors.size(); ++e) {
        QCOMPARE(critical[e].text, QStringLiteral("Error no: SOL%1").arg(errors[e]));
        QCOMPARE(critical[e].file, QStringLiteral("solve"));
        QCOMPARE(critical[e].line, lines[errors[e]]);
        QCOMPARE(critical[e].function, QStringLiteral("void Solve::checkDiagonal(int)"));
    }
}

void TestSolve::printDump()
{
    UserPrefs::setDebugEnabled(true);
    takeLog();
    Matrix a(Rows{{0, 1}, {0, 2.5}});
    std::vector<double> b{1, 1234567};
    const SolveRun run = runSolve(a, b, nullptr, nullptr);
    QCOMPARE(run.status, 1);
    QStringList debug;
    for (const LogRecord &r : takeLog()) {
        if (r.type != QtDebugMsg || r.file != QLatin1String("solve"))
            continue;
        QCOMPARE(r.function, QStringLiteral("void Solve::print(double**, double*)"));
        debug << QStringLiteral("%1:%2").arg(r.line).arg(r.text);
    }
    QCOMPARE(debug, (QStringList{QStringLiteral("631:\nPrinting Matrices:\n"),
                                 QStringLiteral("645:0\t1\t=\t1\n"),
                                 QStringLiteral("645:0\t2.5\t=\t1.23457e+06\n")}));
    UserPrefs::setDebugEnabled(false);
}

void TestSolve::deviceFailure()
{
    Matrix a(Rows{{2, 1}, {1, 3}});
    std::vector<double> b{3, 4};
    std::vector<double> x{7.0, 7.0};
    int status = 0;
    Solve *s = new Solve(a.ptr(), b.data(), x.data(), nullptr, &status, 2);
    ErrorSink sink;
    QObject::connect(s, &Solve::throwErr, &sink, &ErrorSink::errMsg, Qt::BlockingQueuedConnection);
    int initN = 0;
    QList<int> *initSwaps = nullptr;
    double **initCoef = nullptr;
    connect(s, &Solve::initialiseGPU,
            [&](double **c, double *, double **, double **, int n, QList<int> *diag, QThread *) {
                initCoef = c;
                initN = n;
                initSwaps = diag;
            });
    connect(s, &Solve::calcURatios, [](bool *res) { *res = false; });
    s->enableGPU(nullptr);
    QCOMPARE(initN, 2);
    QCOMPARE(initCoef, a.ptr());
    QCOMPARE(initSwaps, &s->ratios()->swaps);
    QThread *t = MyThreads::start(s, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    while (!t->wait(10))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    delete s;
    QCOMPARE(status, 2);
    QCOMPARE(x[0], 7.0);
    QCOMPARE(x[1], 7.0);
    QCOMPARE(sink.triples,
             QStringList{QStringLiteral(
                 "ERROR: Could not solve the equations!|Co-efficient matrix could not be reduced "
                 "to lower triangular matrix.\nHence cannot proceed solving the equations.|WARNING")});
}

void TestSolve::refinementAfterRepair()
{
    // Step 1 needs rows 1 and 2 exchanged after the multipliers of step 0
    // (2 and 3) were recorded for them.
    Matrix a(Rows{{1, 1, 1}, {2, 2, 3}, {3, 4, 1}});
    const std::vector<double> exact{1.0, -2.0, 3.0};
    std::vector<double> b(3);
    for (int i = 0; i < 3; ++i)
        b[size_t(i)] = a.rows[size_t(i)][0] * exact[0] + a.rows[size_t(i)][1] * exact[1]
                       + a.rows[size_t(i)][2] * exact[2];
    Matrix reduced(a);
    std::vector<double> r(b);
    std::vector<double> x(3, 0.0);
    int status = 0;
    Solve *s = new Solve(reduced.ptr(), r.data(), x.data(), nullptr, &status, 3);
    QThread *t = MyThreads::start(s, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    t->wait();
    QCOMPARE(status, 0);
    QCOMPARE(s->ratios()->swaps, (QList<int>{1, 2}));
    std::unique_ptr<RatioStore> ratios = s->takeRatios();
    QVERIFY(!s->ratios());
    delete s;

    // One refinement step from a wrong solution lands on the exact one.
    std::vector<double> work{1.5, -1.0, 2.0};
    std::vector<double> rhs(b), residual(3), correction(3);
    {
        Solve refiner(reduced.ptr(), rhs.data(), work.data(), 3, std::move(ratios));
        refiner.refine(a.ptr(), residual.data(), correction.data());
    }
    for (int i = 0; i < 3; ++i)
        QVERIFY2(fuzzyEqual(work[size_t(i)], exact[size_t(i)], 1e-12),
                 qPrintable(QStringLiteral("x%1 = %2").arg(i).arg(work[size_t(i)])));

    // The whole refinement from the same wrong start.
    Matrix reduced2(a);
    std::vector<double> r2(b), x2(3, 0.0);
    status = 0;
    Solve *s2 = new Solve(reduced2.ptr(), r2.data(), x2.data(), nullptr, &status, 3);
    t = MyThreads::start(s2, SLOT(calc()), QStringLiteral("Tarvix::solveEq"));
    t->wait();
    std::unique_ptr<RatioStore> ratios2 = s2->takeRatios();
    delete s2;
    std::vector<double> sol{1.5, -1.0, 2.0};
    QVERIFY(countUnsolved(3, a.ptr(), b.data(), sol.data()) > 0);
    QCOMPARE(improveSolution(3, a.ptr(), b.data(), reduced2.ptr(), std::move(ratios2), sol.data()), 0);
    QCOMPARE(countUnsolved(3, a.ptr(), b.data(), sol.data()), 0);
}

void TestSolve::refinementOfExactSolution()
{
    Matrix a(Rows{{2, 0}, {0, 4}});
    std::vector<double> b{2, 8};
    Matrix reduced(a);
    auto ratios = std::make_unique<RatioStore>(2);
    // Nonsense ratios: with nothing unsolved they must not be used.
    ratios->ur[0][0] = 1e9;
    std::vector<double> x{1.0, 2.0};
    QCOMPARE(improveSolution(2, a.ptr(), b.data(), reduced.ptr(), std::move(ratios), x.data()), 0);
    QCOMPARE(x[0], 1.0);
    QCOMPARE(x[1], 2.0);
}

void TestSolve::randomCrossCheck()
{
    std::mt19937 gen(20261206);
    std::uniform_int_distribution<int> small(-4, 4);
    std::uniform_real_distribution<double> real(-1.0, 1.0);
    std::uniform_int_distribution<int> procs(1, 6);
    int compared = 0;
    int repaired = 0;
    for (int round = 0; round < 600; ++round) {
        const int n = 1 + round % 9;
        const bool sparse = round % 2 == 0;
        Matrix a(n);
        std::vector<double> b(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                a.rows[size_t(i)][j] = sparse ? double(small(gen) * (small(gen) > 0 ? 1 : 0))
                                              : real(gen);
            b[size_t(i)] = sparse ? double(small(gen)) : real(gen);
        }
        std::vector<double> ref;
        if (!referenceSolve(a, b, ref))
            continue;
        std::vector<int> zeros(static_cast<size_t>(n));
        const ValidationReport report = Validate::check(n, a.ptr(), b.data(), zeros.data());
        if (!report.valid())
            continue;
        ThreadSettings settings;
        settings.processors = procs(gen);
        for (int t = 0; t < settings.processors; ++t)
            settings.limits << t; // many workers even for tiny phases
        const SolveRun run = runSolve(a, b, zeros.data(), nullptr, &settings);
        repaired += run.swaps.isEmpty() ? 0 : 1;
        QCOMPARE(run.status, 0);
        std::vector<double> x(static_cast<size_t>(n));
        QCOMPARE(solveArrays(n, a.ptr(), b.data(), zeros.data(), x.data(), nullptr, settings), 0);
        for (int i = 0; i < n; ++i) {
            QVERIFY2(fuzzyEqual(x[size_t(i)], ref[size_t(i)], 1e-8),
                     qPrintable(QStringLiteral("round %1 n %2: x%3 = %4, expected %5")
                                    .arg(round).arg(n).arg(i).arg(x[size_t(i)]).arg(ref[size_t(i)])));
        }
        ++compared;
    }
    QVERIFY(compared > 300);
    QVERIFY(repaired > 10); // the sparse systems do exercise the pivot repair
}

// Same value, or both NaN (a zero pivot may leave NaN behind).
bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

void TestSolve::blockSizeIndependent()
{
    // Taking several elimination steps per phase must give what one phase
    // per column gives, to the bit: multipliers, ratios, exchanges, result.
    UserPrefs::setDebugEnabled(false);
    std::mt19937 gen(77);
    std::uniform_int_distribution<int> small(-3, 3);
    std::uniform_real_distribution<double> real(-1.0, 1.0);
    ThreadSettings one;
    one.processors = 1;
    one.limits = {5};
    ThreadSettings many;
    many.processors = 5;
    many.limits = {1, 2, 3, 4, 5};
    int repaired = 0;
    int failedRepairs = 0;
    for (int round = 0; round < 160; ++round) {
        const int n = 2 + round % 37;
        const bool sparse = round % 3 != 0;
        Matrix a(n);
        std::vector<double> b(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                a.rows[size_t(i)][j] = sparse ? double(small(gen) * (small(gen) > 1 ? 1 : 0)) : real(gen);
            b[size_t(i)] = 1.0 + i;
        }
        std::vector<int> zeros(static_cast<size_t>(n));
        Validate::check(n, a.ptr(), b.data(), zeros.data());
        const SolveRun ref = runSolve(a, b, zeros.data(), nullptr, &one, 1);
        repaired += ref.swaps.isEmpty() ? 0 : 1;
        failedRepairs += ref.status;
        for (int block : {2, 3, 7, 0}) {
            const SolveRun run = runSolve(a, b, zeros.data(), nullptr, &many, block);
            const QByteArray where = QStringLiteral("round %1 n %2 block %3").arg(round).arg(n).arg(block).toUtf8();
            QVERIFY2(run.status == ref.status, where.constData());
            QVERIFY2(run.swaps == ref.swaps, where.constData());
            QVERIFY2(run.rows == ref.rows && run.columns == ref.columns, where.constData());
            for (size_t i = 0; i < ref.ratios.size(); ++i)
                QVERIFY2(same(run.ratios[i], ref.ratios[i]), where.constData());
            for (int i = 0; i < n; ++i)
                QVERIFY2(same(run.x[size_t(i)], ref.x[size_t(i)]), where.constData());
        }
    }
    QVERIFY(repaired > 20);
    QVERIFY(failedRepairs > 5);
}

void TestSolve::solveStoreEntry()
{
    EquationStore store;
    store.N = 3;
    QVERIFY(store.reallocate());
    const double a[3][3] = {{0, 2, 1}, {1, 0, 0}, {3, 1, 4}};
    const double b[3] = {5, 1, 9};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            store.coef[i][j] = a[i][j];
        store.rhs[i] = b[i];
    }
    std::vector<int> zeros(3);
    QVERIFY(Validate::check(3, store.coef, store.rhs, zeros.data()).valid());
    QCOMPARE(solveStore(store, zeros.data()), 0);
    // x = (1, 2, 1); the system itself is untouched.
    const double expected[3] = {1, 2, 1};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(fuzzyEqual(store.customSol[i], expected[i], 1e-14));
        QCOMPARE(store.currentSol[i], store.customSol[i]);
        QCOMPARE(store.rhs[i], b[i]);
        for (int j = 0; j < 3; ++j)
            QCOMPARE(store.coef[i][j], a[i][j]);
    }
    QCOMPARE(countUnsolved(3, store.coef, store.rhs, store.customSol), 0);

    // A store whose arrays do not match N is left alone.
    store.N = 4;
    QCOMPARE(solveStore(store, nullptr), -1);
    store.N = 3;
}

void TestSolve::badInput_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QVector<double>>("rhs");
    QTest::addColumn<QString>("outcome"); // "refused", or the status word
    QTest::newRow("NaN coefficient") << Rows{{1, nan}, {2, 1}} << QVector<double>{1, 2} << "1";
    // inf in the first column makes the ratio test see proportional rows.
    QTest::newRow("inf first coefficient") << Rows{{inf, 1}, {2, 1}} << QVector<double>{1, 2}
                                           << "refused";
    QTest::newRow("inf coefficient") << Rows{{1, inf}, {2, 1}} << QVector<double>{1, 2} << "1";
    QTest::newRow("-inf pivot") << Rows{{1, 1}, {2, -inf}} << QVector<double>{1, 2} << "1";
    QTest::newRow("NaN right-hand side") << Rows{{1, 0}, {0, 1}} << QVector<double>{nan, 2} << "1";
    QTest::newRow("overflow") << Rows{{1, 1}, {1, -1}} << QVector<double>{1e308, -1e308} << "1";
    QTest::newRow("zero row") << Rows{{1, 2}, {0, 0}} << QVector<double>{1, 2} << "refused";
    QTest::newRow("zero column") << Rows{{0, 2}, {0, 3}} << QVector<double>{1, 2} << "refused";
    QTest::newRow("zero rhs") << Rows{{1, 2}, {3, 4}} << QVector<double>{0, 1e-15} << "refused";
    QTest::newRow("proportional") << Rows{{1, 2, 3}, {2, 4, 6}, {0, 1, 5}}
                                  << QVector<double>{1, 2, 3} << "refused";
    QTest::newRow("dependent, not proportional") << Rows{{1, 2, 3}, {4, 5, 6}, {5, 7, 9}}
                                                 << QVector<double>{1, 2, 3} << "1";
    QTest::newRow("one value per row") << Rows{{0, 0, 3}, {0, -2, 0}, {5, 0, 0}}
                                       << QVector<double>{3, 4, 10} << "0";
    QTest::newRow("n=1") << Rows{{5}} << QVector<double>{10} << "0";
    QTest::newRow("n=1 zero") << Rows{{0}} << QVector<double>{10} << "refused";
    QTest::newRow("pivots 1e-15") << Rows{{1e-15, 1}, {-1e-15, 2}} << QVector<double>{1, 2}
                                  << "refused";
    QTest::newRow("pivots 1.5e-15") << Rows{{1.5e-15, 1}, {1.5e-15, 2}}
                                    << QVector<double>{1, 3} << "0";
}

void TestSolve::badInput()
{
    QFETCH(Rows, rows);
    QFETCH(QVector<double>, rhs);
    QFETCH(QString, outcome);
    UserPrefs::setDebugEnabled(false);
    Matrix a(rows);
    const Matrix original(a);
    std::vector<double> b(rhs.begin(), rhs.end());
    std::vector<int> zeros(static_cast<size_t>(a.n));
    const ValidationReport report = Validate::check(a.n, a.ptr(), b.data(), zeros.data());
    if (!report.valid()) {
        QCOMPARE(QStringLiteral("refused"), outcome);
        return;
    }
    std::vector<double> custom(static_cast<size_t>(a.n), 0.0);
    std::vector<double> current(static_cast<size_t>(a.n), 0.0);
    ErrorSink sink;
    const int status = solveArrays(a.n, a.ptr(), b.data(), zeros.data(), custom.data(),
                                   current.data(), ThreadSettings::fromPrefs(), &sink);
    QCOMPARE(QString::number(status), outcome);
    // The caller's system is untouched, and the current solution is a copy.
    QVERIFY(std::memcmp(original.store.data(), a.store.data(), sizeof(double) * a.store.size()) == 0);
    QVERIFY(std::memcmp(custom.data(), current.data(), sizeof(double) * custom.size()) == 0);
    if (status == 0) {
        for (double v : custom)
            QVERIFY(std::isfinite(v));
        QVERIFY(maxResidual(a, b, custom) <= 1e-12 * (1.0 + std::fabs(b[0]) + std::fabs(b.back())));
        QVERIFY(sink.triples.isEmpty());
    }
    takeLog();
}

QTEST_GUILESS_MAIN(TestSolve)
#include "tst_solve.moc"
