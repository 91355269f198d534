// Opening the analysis dialog on a solved system (display copies, errors,
// the first tables filled) against one residual pass A·x - b over the same
// system, measured side by side.
//
//   bench_analysis [--n N] [--runs R]      (default N = 10000, R = 5)
//
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include "analysis/analysedialog.h"
#include "prefs/userprefs.h"
#include "store/equationstore.h"
#include "threads/mythreads.h"

#include "benchutil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The reference: one plain residual pass, in the order the dialog sums.
double residualPass(int n, double *const *coef, const double *rhs, const double *x, double *out)
{
    double check = 0.0;
    for (int i = 0; i < n; ++i) {
        const double *row = coef[i];
        double sum = 0.0;
        for (int j = 0; j < n; ++j)
            sum += row[j] * x[j];
        out[i] = sum - rhs[i];
        check += out[i];
    }
    return check;
}

}

int main(int argc, char **argv)
{
    runHeadless();
    const int n = intOption(argc, argv, "--n", 10000, 2);
    const int runs = intOption(argc, argv, "--runs", 5, 1);

    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/appdata");
    QApplication app(argc, argv);
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    const QStringList env{"Linux", "x64", "bench", "bench", dir.path(), dir.path() + "/appdata",
                          QString::number(QThread::idealThreadCount())};
    if (!prefs->initialise(env, ScreenInfo{1366, 728, 1366, 768})) {
        std::fprintf(stderr, "preferences failed\n");
        return 1;
    }
    UserPrefs::setErrorSolutionSet(0);

    EquationStore s;
    s.N = n;
    if (!s.reallocate())
        return 1;
    unsigned seed = 1;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            seed = seed * 214013u + 2531011u;
            s.coef[i][j] = double((seed >> 16) & 0x7fff) / 327.67 - 50.0;
        }
        s.rhs[i] = i;
        s.customSol[i] = s.currentSol[i] = 1.0 / (i + 1);
        s.fileSol[i] = 0.0;
    }

    std::vector<double> out(static_cast<size_t>(n), 0.0);
    std::vector<double> reference, dialog;
    double sink = 0.0;
    AnalyseDialog d;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        sink += residualPass(n, s.coef, s.rhs, s.currentSol, out.data());
        reference.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        d.setUp(s.N, s.coef, s.rhs, s.customSol, s.fileSol, s.currentSol);
        dialog.push_back(t.nsecsElapsed() / 1e6);
    }
    const double ref = median(reference), dlg = median(dialog);
    std::printf("analysis dialog set-up, N = %d, %d runs (medians)\n", n, runs);
    std::printf("  residual pass A*x - b : %9.2f ms\n", ref);
    std::printf("  dialog set-up         : %9.2f ms  (%.2fx the residual pass)\n", dlg, dlg / ref);
    std::printf("  (check %g)\n", sink);
    return 0;
}
