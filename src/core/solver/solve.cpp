#include "solve.h"

#include "numeric/zero.h"
#include "prefs/userprefs.h"
#include "solver/ratiopass.h"
#include "solver/trust.h"
#include "threads/workerteam.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMessageLogger>
#include <QThread>

#include <cmath>
#include <cstring>
#include <utility>

namespace {

const char *const kCheckDiagonal = "void Solve::checkDiagonal(int)";
const char *const kPrint = "void Solve::print(double**, double*)";

} // namespace

Solve::Solve(double **c, double *r, double *sol, int *columnZeros, int *status, int n,
             std::unique_ptr<RatioStore> store)
    : m_n(n), m_status(status), m_c(c), m_r(r), m_sol(sol),
      m_leadZeros(new int[n > 0 ? n : 1]()), m_columnZeros(columnZeros),
      m_ratios(store && store->size() == (n > 0 ? n : 0)
                   ? std::move(store)
                   : std::make_unique<RatioStore>(n, RatioStore::Placement::InWorkingCopy)),
      m_settings(ThreadSettings::fromPrefs())
{
}

Solve::Solve(double **c, double *r, double *sol, int n, std::unique_ptr<RatioStore> ratios)
    : m_n(n), m_status(nullptr), m_c(c), m_r(r), m_sol(sol), m_columnZeros(nullptr),
      m_ratios(std::move(ratios))
{
}

Solve::~Solve()
{
    delete[] m_leadZeros;
}

void Solve::enableGPU(QThread *t)
{
    if (!m_ratios)
        return;
    m_gpu = true;
    emit initialiseGPU(m_c, m_r, m_ratios->ur(), m_ratios->dr, m_n, &m_ratios->swaps, t);
}

void Solve::calc()
{
    const int n = m_n;
    // Only the solving form solves; a refinement-form object has nothing to do.
    if (n > 0 && m_leadZeros && m_ratios && m_ratios->size() == n) {
        // The check of the input, the elimination's blocks and the diagonal
        // reduction are many short phases: one team of workers serves them.
        const int members = m_gpu ? 1 : Reduce::workerCount(n, m_settings.limits, m_settings.processors);
        std::unique_ptr<WorkerTeam> team = WorkerTeam::forSize(members, QStringLiteral("Solve::solveEq "));

        // Inf or NaN in the input cannot give a trustworthy answer, even
        // when the arithmetic happens to end finite.
        std::vector<char> finite(size_t(members), m_inputFinite ? 1 : 0);
        if (!m_inputLooked) {
            Reduce::runPhase(QStringLiteral("Solve::solveEq "), members, [&](int w) {
                const int first = int((long long)n * w / members);
                const int end = int((long long)n * (w + 1) / members);
                bool ok = true;
                for (int i = first; i < end && ok; ++i)
                    ok = Reduce::allFinite(m_c[i], n);
                finite[size_t(w)] = ok ? 1 : 0;
            });
        }
        bool badInput = !Reduce::allFinite(m_r, n);
        for (char f : finite)
            badInput = badInput || !f;

        m_repairFailed = false;
        orderColumns();
        countLeadZeros();
        orderRows();
        // The rows keep their places from here on (repairs exchange contents).
        m_ratios->placeInWorkingCopy(m_c);

        bool ok = true;
        QElapsedTimer timer;
        timer.start();
        if (m_gpu) {
            emit calcURatios(&ok);
            m_ratios->settleStepRatios();
        } else
            ok = solveEq();
        m_elimSeconds = timer.nsecsElapsed() / 1e9;
        timer.restart();

        if (!ok && m_cancelled) {
            if (m_status)
                *m_status = 3;
        } else if (!ok) {
            emitError(QStringLiteral("ERROR: Could not solve the equations!"),
                      QStringLiteral("Co-efficient matrix could not be reduced to lower triangular "
                                     "matrix.\nHence cannot proceed solving the equations."));
            if (m_status)
                *m_status = 2;
        } else {
            reduceDiagonal();
            RatioPass::backward(m_r, n, m_ratios->dr, members);
            std::vector<double> &diag = m_ratios->pivots;
            diag.resize(size_t(n));
            for (int i = 0; i < n; ++i)
                diag[size_t(i)] = m_c[i][i];
            for (int i = 0; i < n; ++i)
                m_sol[i] = m_r[i] / diag[size_t(i)];
            const QMap<int, int> &cols = m_ratios->columnExchanges;
            for (auto it = cols.constEnd(); it != cols.constBegin();) {
                --it;
                std::swap(m_sol[it.key()], m_sol[it.value()]);
            }
            m_diagSeconds = timer.nsecsElapsed() / 1e9;
            reportProgress(1.0);
            team.reset();
            if (m_status && (m_repairFailed || badInput || !Reduce::allFinite(m_sol, n)))
                *m_status = 1;
        }
    }
    delete[] m_leadZeros;
    m_leadZeros = nullptr;
    // Run directly on the creating thread (no worker thread could be
    // started), there is no pooled thread to hand back.
    if (QThread::currentThread() != creatorThread())
        MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("Solve::calc"), this,
                                  QStringLiteral("SOLVE"));
}

void Solve::orderColumns()
{
    if (!m_columnZeros)
        return;
    // The caller's counts stay as they were; the ordering works on a copy.
    std::vector<int> keys(m_columnZeros, m_columnZeros + m_n);
    double **c = m_c;
    const int n = m_n;
    reorder(keys.data(), n, true, m_ratios->columnExchanges, [c, n](int p, int q) {
        for (int i = 0; i < n; ++i)
            std::swap(c[i][p], c[i][q]);
    });
}

void Solve::countLeadZeros()
{
    for (int i = 0; i < m_n; ++i) {
        const double *row = m_c[i];
        int z = 0;
        while (z < m_n && isZero(row[z]))
            ++z;
        m_leadZeros[i] = z;
    }
}

void Solve::orderRows()
{
    double **c = m_c;
    double *r = m_r;
    reorder(m_leadZeros, m_n, false, m_ratios->rowExchanges, [c, r](int p, int q) {
        std::swap(c[p], c[q]);
        std::swap(r[p], r[q]);
    });
}

int Solve::defaultBlockSize(int n)
{
    // The rows below take a block's updates right of it as one product of
    // this depth: deep enough that the product runs from the cache, shallow
    // enough that the block's own rows (done on the solve thread) stay cheap.
    // Each block streams the rows below it through memory once: on large
    // systems that traffic, not the arithmetic, sets the pace, and a deeper
    // block halves it.
    return n >= 2500 ? 128 : 64;
}

bool Solve::solveEq()
{
    const int n = m_n;
    int block = m_blockSize > 0 ? m_blockSize : defaultBlockSize(n);
    if (block > Reduce::kMaxSteps)
        block = Reduce::kMaxSteps;
    double **lower = m_ratios->lower;
    // The block's ratios for the rows right of it, block x block.
    std::vector<double> l(size_t(block) * size_t(block), 0.0);
    checkDiagonal(0);
    m_cancelled = false;
    int k0 = 0;
    while (k0 < n - 1) {
        if (m_control && m_control->cancel.load(std::memory_order_relaxed)) {
            m_cancelled = true;
            return false;
        }
        const int k1 = k0 + block < n - 1 ? k0 + block : n - 1;
        // The block's own pivot rows first, on this thread and on the
        // block's columns only. A pivot that comes out zero ends the block
        // before its row, so that its repair sees a matrix that is up to date.
        int kEnd = k1;
        for (int i = k0 + 1; i < k1; ++i) {
            if (!Reduce::eliminatePanelRow(m_c, m_r, lower, k0, k1, i, l.data(), block)) {
                kEnd = i;
                break;
            }
        }
        if (kEnd > k0 + 1) {
            // Their columns right of the block take the block's updates and
            // are packed for the workers, which apply them as one product.
            const PanelUpdate::Spread spread = Reduce::phaseSpread(
                Reduce::workerCount(n - k1, m_settings.limits, m_settings.processors),
                QStringLiteral("Solve::solveEq "));
            m_panel.packSolved(m_c + k0, l.data(), block, kEnd - k0, k1, n, spread);
            if (kEnd < k1)
                m_panel.pack(m_c + k0, kEnd - k0, kEnd, n);
        }
        runElimination(k0, kEnd, kEnd);
        checkDiagonal(kEnd);
        k0 = kEnd;
        reportProgress(SolveControl::shareDone(n, k0));
    }
    return true;
}

double SolveControl::shareDone(int n, int k)
{
    // Column k leaves (n-k)^2 updates; the sum of m^2 for m = 1..M is
    // M(M+1)(2M+1)/6.
    auto left = [](double m) { return m * (m + 1.0) * (2.0 * m + 1.0) / 6.0; };
    if (n < 1 || k >= n)
        return 1.0;
    if (k <= 0)
        return 0.0;
    return 1.0 - left(double(n - k)) / left(double(n));
}

void Solve::reportProgress(double share)
{
    if (!m_control)
        return;
    // Never backwards, whatever the caller's rounding.
    if (share < m_control->done.load(std::memory_order_relaxed))
        return;
    m_control->done.store(share, std::memory_order_relaxed);
    if (m_control->onProgress)
        m_control->onProgress(share);
}

void Solve::runElimination(int k0, int k1, int rowStart)
{
    if (rowStart > m_n - 1)
        return;
    const int count = Reduce::workerCount(m_n - rowStart, m_settings.limits, m_settings.processors);
    const QVector<RowRange> ranges = Reduce::eliminationSplit(m_n, rowStart - 1, count);
    // Several steps: the workers apply the packed pivot rows right of the
    // block as one product.
    const PanelUpdate *panel = k1 > k0 + 1 ? &m_panel : nullptr;
    runWorkers(ranges, QStringLiteral("Solve::solveEq "), false,
               [this, k0, k1, panel](Reduce *r, const RowRange &range) {
                   r->setRange(m_c, m_r, m_ratios->lower, nullptr, k0, m_n, range.first, range.last);
                   r->setSteps(k1, panel);
               });
}

void Solve::reduceDiagonal()
{
    const int count = Reduce::workerCount(m_n, m_settings.limits, m_settings.processors);
    const QVector<RowRange> ranges = Reduce::diagonalSplit(m_n, count);
    runWorkers(ranges, QStringLiteral("Solve::reduceDiagonal "), true,
               [this](Reduce *r, const RowRange &range) {
                   r->setRange(m_c, m_r, nullptr, m_ratios->dr, 0, m_n, range.first, range.last);
               });
}

void Solve::runWorkers(const QVector<RowRange> &ranges, const QString &name, bool diagonal,
                       const std::function<void(Reduce *, const RowRange &)> &configure)
{
    Reduce::runPhase(name, ranges.size(), [&](int w) {
        // A range cut away entirely has no rows to do.
        const RowRange &range = ranges.at(w);
        if (range.empty)
            return;
        Reduce r;
        configure(&r, range);
        if (diagonal)
            r.diagonal();
        else
            r.eliminate();
    });
}

void Solve::checkDiagonal(int k)
{
    double **c = m_c;
    const int n = m_n;
    if (!isZero(c[k][k]))
        return;
    int col = -1;
    for (int j = k + 1; j < n; ++j) {
        if (!isZero(c[k][j])) {
            col = j;
            break;
        }
    }
    if (col < 0) {
        raiseError(3, k);
        return;
    }
    // The row whose index equals that column is tried first.
    if (!isZero(c[col][k])) {
        swapRows(k, col);
        return;
    }
    bool rowHasValue = false;
    for (int j = k + 1; j < n && !rowHasValue; ++j)
        rowHasValue = !isZero(c[col][j]);
    if (!rowHasValue) {
        raiseError(2, k);
        return;
    }
    for (int r = col + 1; r < n; ++r) {
        if (!isZero(c[r][k])) {
            swapRows(k, r);
            return;
        }
    }
    for (int r = k + 1; r < n; ++r) {
        if (!isZero(c[r][k])) {
            swapRows(k, r);
            return;
        }
    }
    raiseError(1, k);
}

void Solve::swapRows(int k, int r)
{
    m_ratios->swaps.append(k);
    m_ratios->swaps.append(r);
    double *a = m_c[k];
    double *b = m_c[r];
    for (int j = 0; j < m_n; ++j)
        std::swap(a[j], b[j]);
    std::swap(m_r[k], m_r[r]);
}

void Solve::raiseError(int code, int k)
{
    m_repairFailed = true;
    print(m_c, m_r, m_n);
    const QString pos = QString::number(k + 1);
    QString text;
    switch (code) {
    case 1:
        QMessageLogger("solve", 310, kCheckDiagonal).critical("Error no: SOL1");
        text = QStringLiteral("Could not find any equation with non-zero value for diagonal "
                              "element of following equation after reduction: ") + pos;
        break;
    case 2:
        QMessageLogger("solve", 333, kCheckDiagonal).critical("Error no: SOL2");
        text = QStringLiteral("Could not find any equation with non-zero value for diagonal "
                              "element of following equation after reduction: ") + pos;
        break;
    default:
        QMessageLogger("solve", 359, kCheckDiagonal).critical("Error no: SOL3");
        text = QStringLiteral("Following Equation is faulty! All its co-efficients become zero "
                              "while Solving: ") + pos;
        break;
    }
    emitError(QStringLiteral("ERROR: Could not solve the equations!"), text);
}

void Solve::emitError(const QString &title, const QString &text)
{
    // The receiver owns the strings; with nobody listening there is nobody
    // to hand them to.
    if (receivers(SIGNAL(throwErr(QString*,QString*,QString))) <= 0)
        return;
    emit throwErr(new QString(title), new QString(text), QStringLiteral("WARNING"));
}

void Solve::print(double **c, double *r, int n)
{
    if (!UserPrefs::getDebugEnabled())
        return;
    QMessageLogger("solve", 631, kPrint).debug("%s", "\nPrinting Matrices:\n");
    for (int i = 0; i < n; ++i) {
        QString line;
        for (int j = 0; j < n; ++j) {
            line += QString::number(c[i][j], 'g', 6);
            line += QLatin1Char('\t');
        }
        line += QStringLiteral("=\t");
        line += QString::number(r[i], 'g', 6);
        // One row per line, so the dump reads as a matrix.
        line += QLatin1Char('\n');
        QMessageLogger("solve", 645, kPrint).debug("%s", line.toUtf8().constData());
    }
}

void Solve::refine(double **a, double *residual, double *correction)
{
    const int n = m_n;
    if (n < 1 || !m_ratios || m_ratios->size() != n)
        return;
    for (int i = 0; i < n; ++i)
        residual[i] = Reduce::dot(a[i], m_sol, n) - m_r[i];
    refineFromResidual(residual, correction);
}

void Solve::refineFromResidual(double *residual, double *correction, int count)
{
    const int n = m_n;
    if (n < 1 || !m_ratios || m_ratios->size() != n)
        return;
    // The residual goes the right-hand side's way through the solve.
    Trust::specifiedSolve(n, m_c, *m_ratios, residual, count);
    std::memcpy(correction, residual, sizeof(double) * size_t(n));
    for (int i = 0; i < n; ++i)
        m_sol[i] = m_sol[i] - correction[i];
}
