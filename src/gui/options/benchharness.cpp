// The thread optimisation and the benchmark cycle, run on a window.
#include "benchharness.h"

#include "tarvix.h"

#include "mytablemodel.h"
#include "prefs/userprefs.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTime>

#include <charconv>
#include <cstring>

namespace {

// The C library's classic generator (0 to 32767), with a state of its own
// so that a run does not disturb or depend on anyone else's draws.
int nextRandom(unsigned long *state)
{
    *state = *state * 1103515245UL + 12345UL;
    return int((*state / 65536UL) % 32768UL);
}

unsigned long seedFromClock()
{
    return static_cast<unsigned long>(QTime::currentTime().second());
}

// Between -7.5e7 and 0 or between 5e7 and 1e8, never zero.
double randomCoefficient(unsigned long *state)
{
    double x = nextRandom(state) * 1e8 / 32767.0;
    if (x < 5e7)
        x = -(x * (2.0 - x / 1e8));
    if (EquationStore::isZero(x))
        x = 123456.0;
    return x;
}

// The value a field shows when written with 6 significant digits.
double asFieldText(double v)
{
    char buf[32];
    const auto w = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    double back = v;
    std::from_chars(buf, w.ptr, back);
    return back;
}

} // namespace

void BenchHarness::fillRandom(unsigned long *state)
{
    const int n = w.m_store.N;
    // The field grid shows 6 significant digits, and the solve reads the
    // fields: the arrays get exactly what the fields will hold.
    const bool fields = w.m_fancy && w.ui;
    for (int i = 0; i < n; ++i) {
        double *row = w.m_store.coef[i];
        for (int j = 0; j < n; ++j)
            row[j] = randomCoefficient(state);
        w.m_store.rhs[i] = randomCoefficient(state);
        if (fields) {
            for (int j = 0; j < n; ++j)
                row[j] = asFieldText(row[j]);
            w.m_store.rhs[i] = asFieldText(w.m_store.rhs[i]);
        }
    }
    if (fields)
        w.arraysToFancy();
    else if (w.m_model)
        w.m_model->refreshAll();
    w.m_doc.setSaved(false);
}

bool BenchHarness::optimiseThreads(int maxN, int budgetMs)
{
    unsigned long state = seedFromClock();
    bool undoWas = false;
    if (!w.recorderReady(&undoWas))
        return false;
    if (!w.m_quiet)
        emit w.setUndoState(false);

    const int processors = qMax(1, UserPrefs::getProcessorCount());
    QList<int> a;
    for (int t = 0; t < processors; ++t)
        a << 5 * (t + 1);
    QList<int> b = a;
    int n = 5;
    int t = 0;
    qint64 acc = 0;
    bool bounded = false;
    QElapsedTimer budget;
    budget.start();

    while (t < processors - 1) {
        // A fast machine may never show a gain within reach: stop at the
        // bounds and keep what was found.
        if (n + 5 > maxN || budget.elapsed() >= budgetMs) {
            bounded = true;
            break;
        }
        n += 5;
        w.n_Var(n);
        w.m_doc.setFileName(QStringLiteral("%optimise%"));
        fillRandom(&state);

        b[t] = t == 0 ? n / 2 : b[t - 1] + (n - b[t - 1]) / 2;
        b[t + 1] = n;
        UserPrefs::setThreadLimits(b);
        QElapsedTimer timer;
        timer.start();
        w.on_solveb_clicked();
        const qint64 time1 = timer.elapsed();

        a[t] = n;
        UserPrefs::setThreadLimits(a);
        timer.restart();
        w.on_solveb_clicked();
        const qint64 time2 = timer.elapsed();
        acc += time2;

        double q = 0.0;
        if (time1 > 0)
            q = double(time2 - time1) / double(time1) * 100.0;
        else if (time2 > 0)
            q = 100.0;
        bool worth = false;
        if (time2 <= 10)
            worth = false;
        else if (!w.m_fancy)
            worth = time2 > 100 && (acc > 1000 || (q >= 10.0 && acc > 500));
        else
            worth = acc > 500 || (q >= 0.0 && acc > 100);
        if (worth) {
            a[t] = n;
            b[t] = n;
            ++t;
            acc = 0;
        }
    }
    // From the first threshold not found on, each further thread starts 5
    // equations above the previous one, as the defaults do; without a bound
    // this only sets the last entry 5 above the last threshold.
    for (int k = t; k < processors; ++k)
        a[k] = (k == 0 ? 0 : a[k - 1]) + 5;
    UserPrefs::setThreadLimits(a);

    if (!w.m_quiet)
        emit w.setUndoState(undoWas);
    return bounded;
}

void BenchHarness::benchmark(int n, bool binary, QList<int> *times, QString *file, bool stealth)
{
    unsigned long state = seedFromClock();
    times->clear();
    bool undoWas = false;
    if (!w.recorderReady(&undoWas))
        return;
    if (!w.m_quiet)
        emit w.setUndoState(false);

    QElapsedTimer timer;
    timer.start();
    if (stealth) {
        // The hidden window's arrays are allocated directly.
        w.resizeSystem(n);
        const size_t bytes = sizeof(double) * size_t(n);
        std::memset(w.m_store.customSol, 0, bytes);
        std::memset(w.m_store.currentSol, 0, bytes);
        std::memset(w.m_store.fileSol, 0, bytes);
    } else {
        w.n_Var(n);
    }
    *times << int(timer.restart());

    do {
        fillRandom(&state);
        if (w.m_fancy)
            w.fancyToArrays();
    } while (!w.validateSystem());
    *times << int(timer.restart());

    const QString path = UserPrefs::getTempFolder() + QLatin1Char('/') + QString::number(n)
                         + (binary ? QStringLiteral("eq.btrx") : QStringLiteral("eq.trx"));
    *file = path;
    w.m_doc.setFileName(path);
    w.savetoFile(binary);
    *times << int(timer.restart());

    // The save has told the user why it failed; there is nothing to open.
    bool failed = !QFileInfo::exists(path);
    // The stealth cycle opens the file quietly into a second hidden window.
    tarvix *target = stealth && !failed ? new tarvix(QString(), true) : &w;
    timer.restart();
    if (!failed) {
        target->openFile(path, stealth, &failed);
        *times << int(timer.restart());
    }
    if (!failed) {
        target->on_solveb_clicked();
        *times << int(timer.restart()) - target->m_dialogTime;
        target->m_dialogTime = 0;
    }
    if (target != &w)
        delete target;

    if (!w.m_quiet)
        emit w.setUndoState(undoWas);
}
