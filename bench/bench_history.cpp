// The undo history against the plain file operations it stands beside, on
// one main window with its recorder thread:
//   recording a CUT        vs  saving the same system as a binary file
//   undoing one cell edit  vs  reopening the system's binary file
//   undoing a CUT          vs  reopening the system's binary file
//
//   bench_history [--n N[,N...]] [--runs R]      (default N = 1000,4000, R = 3)
//
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include "files/atomicfile.h"
#include "files/equationfile.h"
#include "history/undoredo.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
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
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Figures
{
    int n = 0;
    double save = 0, atomicSave = 0, recordCut = 0, reopen = 0, undoEdit = 0, undoCut = 0;
};

bool measure(int n, int runs, const QString &dir, Figures *f)
{
    f->n = n;
    auto *w = new tarvix();
    w->n_Var(n);
    EquationStore &s = w->store();
    unsigned seed = 1;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            seed = seed * 214013u + 2531011u;
            s.coef[i][j] = double((seed >> 16) & 0x7fff) / 327.67 - 50.0;
        }
        s.rhs[i] = i;
    }
    const QString file = dir + QStringLiteral("/history%1.btrx").arg(n);
    EquationFile::Options options;
    options.processors = UserPrefs::getProcessorCount();

    std::vector<double> save, atomicSave, cut, reopen, undoEdit, undoCut;
    for (int r = 0; r < runs; ++r) {
        save.push_back(timed([&] { EquationFile::writeBinary(file, s.coef, s.rhs, s.fileSol, n, options); }));
        // The same save made durable the way user files and snapshots are
        // (write beside, flush to disk, rename).
        atomicSave.push_back(timed([&] {
            AtomicFile::replace(file, [&](const QString &temp, QString *) {
                return !EquationFile::writeBinary(temp, s.coef, s.rhs, s.fileSol, n, options).failed;
            });
        }));
        cut.push_back(timed([&] { emit w->editbClicked(QStringLiteral("CUT")); }));
    }
    for (int r = 0; r < runs; ++r) {
        bool failed = false;
        reopen.push_back(timed([&] { w->openFile(file, false, &failed); }));
        if (failed)
            return false;
    }
    // Two cuts in a row: undoing the second reads the first one's snapshot.
    emit w->editbClicked(QStringLiteral("CUT"));
    emit w->editbClicked(QStringLiteral("CUT"));
    for (int r = 0; r < runs; ++r) {
        const int position = w->recorder()->position();
        undoCut.push_back(timed([&] { w->on_undob_clicked(); }));
        if (w->recorder()->position() != position - 1)
            return false;
        w->on_redob_clicked();
    }
    w->on_redob_clicked();   // back at the live end
    // A text run: its first edit is a snapshot, the others are log lines;
    // undoing a third edit reverts one logged line.
    MyTableModel *m = w->tableModel();
    m->setData(m->index(0, 0), QStringLiteral("1.5"));
    m->setData(m->index(0, 1), QStringLiteral("2.5"));
    w->awaitRecorder();
    for (int r = 0; r < runs; ++r) {
        m->setData(m->index(1, 1), QString::number(r + 2));
        w->awaitRecorder();
        const QList<int> before = w->recorder()->actions();
        undoEdit.push_back(timed([&] { w->on_undob_clicked(); }));
        if (s.coef[1][1] == double(r + 2) || w->recorder()->actions() == before)
            return false;
    }
    f->save = median(save);
    f->atomicSave = median(atomicSave);
    f->recordCut = median(cut);
    f->reopen = median(reopen);
    f->undoEdit = median(undoEdit);
    f->undoCut = median(undoCut);
    delete w;
    return true;
}

}

int main(int argc, char **argv)
{
    runHeadless();
    std::vector<int> sizes{1000, 4000};
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--n")) {
            sizes.clear();
            for (const QString &part : QString::fromLatin1(argv[++i]).split(QLatin1Char(',')))
                sizes.push_back(part.toInt());
        } else if (!std::strcmp(argv[i], "--runs")) {
            runs = std::max(1, std::atoi(argv[++i]));
        }
    }

    QTemporaryDir dir;
    qputenv("APPDATA", (dir.path() + "/appdata").toUtf8());
    qputenv("TEMP", dir.path().toUtf8());
    QDir().mkpath(dir.path() + "/appdata");
    QApplication app(argc, argv);
    const QStringList env{"Linux", "x64", "bench", "bench", dir.path(), dir.path() + "/appdata",
                          QString::number(QThread::idealThreadCount())};
    std::vector<Figures> all;
    for (int n : sizes) {
        auto *prefs = new UserPrefs(nullptr);
        UserPrefs::setInstance(prefs);
        if (!prefs->initialise(env, ScreenInfo{1366, 728, 1366, 768})) {
            std::fprintf(stderr, "preferences failed\n");
            return 1;
        }
        UserPrefs::setUndoEnabled(true);
        Figures f;
        if (!measure(n, runs, dir.path(), &f)) {
            std::fprintf(stderr, "n = %d: a step failed\n", n);
            return 1;
        }
        all.push_back(f);
        // The last window took the preference store with it.
    }
    std::printf("history against plain file work, %d runs each (median ms)\n", runs);
    std::printf("%6s %10s %10s %10s %6s %6s %9s %9s %7s %9s %6s\n", "n", "save", "save+sync", "record CUT",
                "/save", "/sync", "reopen", "undo edit", "ratio", "undo CUT", "ratio");
    for (const Figures &f : all)
        std::printf("%6d %10.1f %10.1f %10.1f %6.2f %6.2f %9.1f %9.2f %7.3f %9.1f %6.2f\n", f.n, f.save,
                    f.atomicSave, f.recordCut, f.recordCut / f.save, f.recordCut / f.atomicSave, f.reopen,
                    f.undoEdit, f.undoEdit / f.reopen, f.undoCut, f.undoCut / f.reopen);
    std::printf("targets: record CUT / save <= 1.3, undo edit / reopen <= 0.05, undo CUT / reopen <= 1.3\n");
    MyThreads::destroyPool();
    return 0;
}
