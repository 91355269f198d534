// Saved sessions across processes: a session saved here is resumed by the
// real program in a child process (tarvix -Session NAME), and a process
// killed in the middle of its session saves leaves whole files behind.
#include "../gui/guitestutil.h"
#include "childrun.h"
#include "history/undoredo.h"
#include "session/sessionmanager.h"
#include "testutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

void edit(tarvix *w, int row, int col, const char *text)
{
    QVERIFY(w->tableModel()->setData(w->tableModel()->index(row, col), QString(text), Qt::EditRole));
    w->awaitRecorder();
}

const QByteArray kCut = "10\tCUT/1.btrx\t\n";
constexpr int kLines = 60000;      // a window history big enough that a save takes a while
constexpr int kSessions = 20000;   // names in the list file

// The child of killedWhileSaving: works in the saved session "big" and
// saves its window (an undo, then a redo, each followed by a save of
// "Actions.sestrx" and a rewrite of the list file) until it is killed.
int keepSaving(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    UserPrefs::probeEnvironment({"Linux", "x64", "tester", "testhost", qEnvironmentVariable("TEMP"),
                                 qEnvironmentVariable("APPDATA"), "2"},
                                TestEnv::screen());
    SessionManager keeper("big");
    UndoRedo recorder(true, "Window 1");
    // Stands in for the window: every snapshot reads back.
    QObject::connect(&recorder, &UndoRedo::ReadHistory, [](QString, bool *ok, bool) { *ok = true; });
    recorder.resumeWindow(SessionManager::currentSessionFolder() + "/Window 1");
    if (!keeper.ownsFolder() || recorder.actions().size() < kLines + 2)
        return 2;
    for (bool ready = false;; ready = true) {
        recorder.UndobClicked();
        recorder.saveWindowSession();
        keeper.removeFromList({"gone"});
        recorder.RedobClicked();
        recorder.saveWindowSession();
        keeper.removeFromList({"gone"});
        if (!ready) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}

}

class SessionResumeTest : public QObject
{
    Q_OBJECT

private slots:
    void resumedInChildProcess();
    void killedWhileSaving();
};

// Two windows edited and saved as "study", the program ended; the child
// resumes "study" and reports each window's data, then after one redo and
// one undo: the first window redoes its undone CUT, the second (at its live
// end) redoes nothing and undoes its last cell edit.
void SessionResumeTest::resumedInChildProcess()
{
    GuiFixture fx;
    auto *keeper = new SessionManager();
    QString expected;
    {
        auto *a = new tarvix();
        button(a, "newb")->click();
        edit(a, 0, 0, "10");
        edit(a, 1, 1, "11");
        edit(a, 1, 3, "1e3");
        answerChooser(a, "row", 2);
        trigger(a, "actionCut");
        a->awaitRecorder();
        const QString cut = systemText(a);
        button(a, "undob")->click();
        a->awaitRecorder();
        const QString shown = systemText(a);
        QVERIFY(shown != cut);

        auto *b = new tarvix();
        button(b, "incvarb")->click();
        edit(b, 2, 2, "5");
        const QString before = systemText(b);
        edit(b, 0, 4, "2.5");
        const QString live = systemText(b);
        QVERIFY(live != before);

        fx.prompter.answerText("study");
        trigger(b, "actionSave_Session");
        QVERIFY(b->isSaved());
        QCOMPARE(SessionManager::currentSessionName(), QString("study"));
        const QString ok = "Successfully resumed session from file!";
        expected = "# Window 1\n" + ok + "\n" + shown + "\n# redo\n" + cut + "\n# undo\n" + shown + "\n"
                   + "# Window 2\n" + ok + "\n" + live + "\n# redo\n" + live + "\n# undo\n" + before + "\n";
        QVERIFY(fx.close(a));
        QVERIFY(fx.close(b));
    }
    delete keeper;   // the program has ended

    const QString report = fx.env.temp() + "/report.txt";
    QProcess child;
    prepareChild(child, fx.env.root());   // this test's application data
    QProcessEnvironment env = child.processEnvironment();
    env.insert("TARVIX_SESSION_REPORT", report);
    child.setProcessEnvironment(env);
    child.start(TARVIX_BIN_DIR "/tarvix", {"-Session", "study"});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(readFile(report)), expected);
    // The saved session stays saved and listed.
    QVERIFY(readFile(SessionManager::listFilePath()).split('\n').contains("study"));
}

// A process killed at a random moment while it saves the session leaves
// "Actions.sestrx" and the list file whole: each is one of the states the
// process saved, never cut short or mixed.
void SessionResumeTest::killedWhileSaving()
{
    TestEnv env;
    const QString window = SessionManager::sessionsRoot() + "/big/Window 1";
    QVERIFY(UndoRedo::createFolders(window));
    QVERIFY(writeFile(window + "/CUT/1.btrx", "snapshot"));
    QVERIFY(writeFile(window + "/Actions.sestrx", "0\t\n" + kCut.repeated(kLines) + "1\t*\n"));
    // Whole: every CUT line, one position marker, the live end last.
    auto whole = [](const QByteArray &actions) {
        QList<QByteArray> lines = actions.split('\n');
        if (lines.size() < 3 || !lines.takeLast().isEmpty() || lines.takeFirst() != "0\t")
            return false;
        const QByteArray end = lines.takeLast();
        int cuts = 0, markers = end == "1\t*" ? 1 : 0;
        for (const QByteArray &l : lines) {
            cuts += l + '\n' == kCut;
            markers += l == "4\t*" || l == "5\t*";
        }
        return (end == "1\t" || end == "1\t*") && cuts == kLines && markers == 1 && lines.size() <= kLines + 1;
    };
    QByteArray list;
    for (int i = 1; i <= kSessions; ++i)
        list += "session " + QByteArray::number(i) + "\n";
    list += "big\n";
    QVERIFY(writeFile(SessionManager::listFilePath(), list));

    // Both files must read whole at any moment: while the child saves (a
    // reader meets every moment of a save) and after it was killed at a
    // random one.
    auto check = [&](int round) {
        const QByteArray actions = readFile(window + "/Actions.sestrx");
        QVERIFY2(whole(actions), qPrintable(QString("round %1: %2 bytes").arg(round).arg(actions.size())));
        QVERIFY2(readFile(SessionManager::listFilePath()) == list, qPrintable(QString("round %1").arg(round)));
    };
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        prepareChild(child, env.root());
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--keep-saving"});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (!out.contains("saving") && child.waitForReadyRead(60000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains("saving"), out.constData());
        QElapsedTimer t;
        t.start();
        for (const qint64 until = QRandomGenerator::global()->bounded(400); t.elapsed() < until;) {
            check(round);
            if (QTest::currentTestFailed())
                return;
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(30000));
        check(round);
    }
}

int main(int argc, char **argv)
{
    if (argc == 2 && !std::strcmp(argv[1], "--keep-saving"))
        return keepSaving(argc, argv);
    QApplication app(argc, argv);
    SessionResumeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionresume.moc"
