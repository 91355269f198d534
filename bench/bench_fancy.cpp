// The fancy view's resizes and panning, each beside its reference:
//   growing 40 -> 41 variables   against building 41 in a window of 2
//   panning one page at 60       against panning one page at 10
//
//   bench_fancy [--runs R]      (default R = 5; medians are printed)
//
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include "prefs/userprefs.h"
#include "tarvix.h"

#include "benchutil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A shown fancy window of n variables, laid out and painted.
tarvix *window(int n)
{
    auto *w = new tarvix();
    w->show();
    if (n != 2)
        w->n_Var(n);
    QApplication::processEvents();
    return w;
}

void closeWindow(tarvix *w)
{
    w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Milliseconds for a count change, with the resulting layout and paint.
double timeCount(tarvix *w, int n)
{
    QElapsedTimer t;
    t.start();
    w->n_Var(n);
    QApplication::processEvents();
    return double(t.nsecsElapsed()) / 1e6;
}

// Milliseconds per pan: right then left, pans times, each laid out.
double timePans(tarvix *w, int pans)
{
    QPushButton *right = w->findChild<QPushButton *>("right_panb");
    QPushButton *left = w->findChild<QPushButton *>("left_panb");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < pans; ++i) {
        (i % 2 ? left : right)->click();
        QApplication::processEvents();
    }
    return double(t.nsecsElapsed()) / 1e6 / pans;
}

}

int main(int argc, char **argv)
{
    runHeadless();
    const int runs = intOption(argc, argv, "--runs", 5, 1);

    QTemporaryDir dir;
    qputenv("APPDATA", (dir.path() + "/appdata").toUtf8());
    qputenv("TEMP", dir.path().toUtf8());
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
    UserPrefs::setFancyUI(true);
    UserPrefs::setUndoEnabled(false);

    // Keeps the shared objects alive while the measured windows come and go.
    auto *keeper = new tarvix();

    std::vector<double> fresh, grow, pan10, pan60;
    for (int r = 0; r < runs; ++r) {
        tarvix *a = window(2);
        fresh.push_back(timeCount(a, 41));
        closeWindow(a);

        tarvix *b = window(40);
        grow.push_back(timeCount(b, 41));
        closeWindow(b);

        tarvix *c = window(10);
        pan10.push_back(timePans(c, 200));
        closeWindow(c);
        tarvix *d = window(60);
        pan60.push_back(timePans(d, 200));
        closeWindow(d);
    }

    const double f = median(fresh), g = median(grow), p10 = median(pan10), p60 = median(pan60);
    std::printf("pages of %d equations x %d variables, medians of %d runs\n", UserPrefs::getDisplayRows(),
                UserPrefs::getDisplayColumns(), runs);
    std::printf("build 41 in a window of 2 : %9.2f ms (reference)\n", f);
    std::printf("grow 40 -> 41             : %9.2f ms  = %.3fx the reference (limit 0.3x)\n", g, g / f);
    std::printf("one pan at 10 variables   : %9.3f ms (reference)\n", p10);
    std::printf("one pan at 60 variables   : %9.3f ms  = %.3fx the reference (limit 2x)\n", p60, p60 / p10);

    delete keeper;   // the last window tears the shared objects down
    return 0;
}
