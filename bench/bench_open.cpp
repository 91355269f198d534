// Opening a large binary equation file into a main window (table view
// included) against reading the same file alone into plain arrays, and the
// same open as File > Open with the history recording it.
//
//   bench_open [--n N] [--runs R]      (default N = 4000, R = 3)
//
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include "files/equationfile.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "store/equationstore.h"
#include "tarvix.h"
#include "threads/mythreads.h"

#include "benchutil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    runHeadless();
    const int n = intOption(argc, argv, "--n", 4000, 1);
    const int runs = intOption(argc, argv, "--runs", 3, 1);

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

    const QString path = dir.path() + "/bench.btrx";
    {
        EquationStore s;
        s.N = n;
        s.reallocate();
        unsigned seed = 1;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                seed = seed * 214013u + 2531011u;
                s.coef[i][j] = double((seed >> 16) & 0x7fff) / 327.67 - 50.0;
            }
            s.rhs[i] = i;
            s.fileSol[i] = 0;
        }
        if (EquationFile::save(path, s, s.fileSol).failed) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
    }
    const double mb = double(QFileInfo(path).size()) / 1048576.0;

    std::vector<double> alone, window, openOnly, recorded, copied;
    auto freshPrefs = [&] {
        prefs = new UserPrefs(nullptr);
        UserPrefs::setInstance(prefs);
        prefs->initialise(env, ScreenInfo{1366, 728, 1366, 768});
    };
    for (int r = 0; r < runs; ++r) {
        {
            EquationStore s;
            QElapsedTimer t;
            t.start();
            const auto out = EquationFile::open(path, s);
            alone.push_back(t.nsecsElapsed() / 1e6);
            if (out.failed)
                return 1;
        }
        {
            auto *w = new tarvix();
            w->show();
            QApplication::processEvents();
            QElapsedTimer t;
            t.start();
            bool failed = false;
            w->openFile(path, false, &failed);
            openOnly.push_back(t.nsecsElapsed() / 1e6);
            QApplication::processEvents();   // the table repaints
            window.push_back(t.nsecsElapsed() / 1e6);
            if (failed)
                return 1;
            delete w;   // the last window also tears down the shared objects
            freshPrefs();
        }
    }
    // After the runs above, so that the copies' disk writes do not meet them.
    for (int r = 0; r < runs; ++r) {
        // File > Open as the user gets it: the history records an OPEN step,
        // whose copy of the file goes on after the window shows it.
        {
            auto *w = new tarvix();
            w->show();
            QApplication::processEvents();
            QElapsedTimer t;
            t.start();
            const bool ok = w->openRecorded(path);
            QApplication::processEvents();
            recorded.push_back(t.nsecsElapsed() / 1e6);
            w->awaitRecorder();
            copied.push_back(t.nsecsElapsed() / 1e6);
            if (!ok)
                return 1;
            delete w;
            freshPrefs();
        }
    }
    const double a = median(alone);
    const double w = median(window);
    std::printf("n = %d, file %.1f MB, %d runs (median)\n", n, mb, runs);
    std::printf("  file read alone      : %8.1f ms  (%.0f MB/s)\n", a, mb / (a / 1000.0));
    std::printf("  open into the window : %8.1f ms  (%.0f MB/s)\n", w, mb / (w / 1000.0));
    std::printf("  (of which openFile   : %8.1f ms)\n", median(openOnly));
    std::printf("  ratio window / alone : %8.2f   (target <= 1.20)\n", w / a);
    std::printf("  recorded open        : %8.1f ms  (history on; its copy of the file done after %.1f ms)\n",
                median(recorded), median(copied));
    UserPrefs::setInstance(nullptr);
    delete prefs;
    MyThreads::destroyPool();
    return 0;
}
