// Resuming a saved session against opening its snapshots directly:
//   resume   the saved session "bench" of three windows, each holding a CUT
//            of an n x n system (new windows, each rebuilt from its
//            "Actions.sestrx" and the CUT snapshot it names)
//   open     three new windows, each opening one of those CUT snapshot
//            files directly
//
//   bench_session [--n N] [--runs R]      (default N = 1000, R = 5)
//
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "session/sessionmanager.h"
#include "sessions/sessionmanagerdialog.h"
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
#include <functional>
#include <vector>

namespace {

constexpr int kWindows = 3;

// Names the session "bench" when asked.
class NamingPrompter : public SilentPrompter
{
public:
    QString text(const QString &, const QString &, const QString &, bool *ok) override
    {
        *ok = true;
        return QStringLiteral("bench");
    }
};

void closeAll()
{
    while (!tarvix::windows().isEmpty())
        delete tarvix::windows().first();
}

// Three windows of n unknowns with a recorded CUT each, saved as "bench".
// Gives the CUT snapshot of every window.
bool makeSession(int n, QStringList *snapshots)
{
    auto *keeper = new SessionManager();
    for (int w = 0; w < kWindows; ++w) {
        auto *win = new tarvix();
        win->n_Var(n);
        EquationStore &s = win->store();
        unsigned seed = 1u + unsigned(w);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                seed = seed * 214013u + 2531011u;
                s.coef[i][j] = double((seed >> 16) & 0x7fff) / 327.67 - 50.0;
            }
            s.rhs[i] = i;
        }
        emit win->editbClicked(QStringLiteral("CUT"));
        win->awaitRecorder();
    }
    bool done = false;
    keeper->saveSession(&done);
    for (tarvix *win : tarvix::windows())
        *snapshots << win->historyFolder() + QStringLiteral("/CUT/1.btrx");
    closeAll();
    delete keeper;
    for (const QString &s : qAsConst(*snapshots))
        if (!QFile::exists(s))
            return false;
    return done && snapshots->size() == kWindows;
}

}

int main(int argc, char **argv)
{
    runHeadless();
    const int n = intOption(argc, argv, "--n", 1000, 2);
    const int runs = intOption(argc, argv, "--runs", 5, 1);

    QTemporaryDir dir;
    qputenv("APPDATA", (dir.path() + "/appdata").toUtf8());
    qputenv("TEMP", dir.path().toUtf8());
    QDir().mkpath(dir.path() + "/appdata");
    // Only the figures: the windows' history dumps and the headless
    // platform's notes stay out of the way.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg && type != QtInfoMsg && !msg.contains(QLatin1String("propagateSizeHints")))
            std::fprintf(stderr, "%s\n", qUtf8Printable(msg));
    });
    QApplication app(argc, argv);
    NamingPrompter prompter;
    Prompter::setInstance(&prompter);
    const QStringList env{"Linux", "x64", "bench", "bench", dir.path(), dir.path() + "/appdata",
                          QString::number(QThread::idealThreadCount())};
    // Each window's last close takes the preference store with it.
    auto preferences = [&env]() {
        if (UserPrefs::instance())
            return true;
        auto *prefs = new UserPrefs(nullptr);
        UserPrefs::setInstance(prefs);
        const bool ok = prefs->initialise(env, ScreenInfo{1366, 728, 1366, 768});
        UserPrefs::setUndoEnabled(true);
        return ok;
    };
    QStringList snapshots;
    if (!preferences() || !makeSession(n, &snapshots)) {
        std::fprintf(stderr, "the session could not be made\n");
        return 1;
    }

    std::vector<double> resume, open;
    for (int r = 0; r < runs; ++r) {
        // Alternating, so that neither side profits from a warmer cache.
        if (!preferences())
            return 1;
        auto *keeper = new SessionManager(QStringLiteral("bench"));
        QList<tarvix *> windows;
        resume.push_back(timed([&] {
            windows = SessionManagerDialog::resumeSessionFromFile(QStringLiteral("bench"));
            for (tarvix *w : qAsConst(windows))
                w->awaitRecorder();
        }));
        bool ok = windows.size() == kWindows;
        for (tarvix *w : qAsConst(windows))
            ok = ok && w->store().N == n && w->store().coef[n - 1][n - 1] != 0.0;
        closeAll();
        delete keeper;
        if (!ok) {
            std::fprintf(stderr, "the session did not resume\n");
            return 1;
        }

        if (!preferences())
            return 1;
        keeper = new SessionManager();
        bool failed = false;
        open.push_back(timed([&] {
            for (const QString &s : qAsConst(snapshots)) {
                auto *w = new tarvix();
                w->show();
                bool f = false;
                w->openFile(s, false, &f);
                failed = failed || f;
            }
        }));
        closeAll();
        delete keeper;
        if (failed) {
            std::fprintf(stderr, "a snapshot did not open\n");
            return 1;
        }
    }
    std::printf("resuming a session of %d windows of %d unknowns, each holding a CUT, %d runs (median ms)\n",
                kWindows, n, runs);
    std::printf("%10s %10s %7s\n", "resume", "open", "ratio");
    std::printf("%10.1f %10.1f %7.2f\n", median(resume), median(open), median(resume) / median(open));
    std::printf("target: resume / open <= 1.5\n");
    Prompter::setInstance(nullptr);
    MyThreads::destroyPool();
    return 0;
}
