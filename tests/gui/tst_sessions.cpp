#include "guitestutil.h"
#include "testutil.h"
#include "session/sessionmanager.h"
#include "sessions/sessionmanagerdialog.h"

#include <QListWidget>
#include <QLockFile>
#include <QStatusBar>

namespace {
QStringList listFile()
{
    return QString::fromUtf8(readFile(SessionManager::listFilePath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestSessions : public QObject
{
    Q_OBJECT
private slots:
    void dialogResumesAndDeletes();
    void saveSessionAndExitAsksForUnrecordedWindows();
    void refusedResumeRecordsIntoOwnSession();
    void sessionsOffMeansNoRecording();
    void sessionFileFollowsTheEdits_data();
    void sessionFileFollowsTheEdits();
};

void TestSessions::dialogResumesAndDeletes()
{
    GuiFixture fx;
    const QString root = SessionManager::sessionsRoot() + '/', leftover = "Unsaved Jan 01, 2020";   // of a crashed run
    for (const char *n : {"alpha", "beta", "gamma"})
        QVERIFY(QDir().mkpath(root + n + "/Window 1"));
    QVERIFY(writeFile(SessionManager::listFilePath(), "alpha\nbeta\ngamma\n" + leftover.toUtf8() + '\n'));
    QVERIFY(writeFile(root + leftover + "/Window 1/CUT/1.btrx", "x"));
    SessionManager keeper;
    QList<QStringList> launched;
    SessionManagerDialog::setLauncher([&](const QString &program, const QStringList &args) {
        launched << (QStringList{program} + args);
        return true;
    });
    SessionManagerDialog dialog(&keeper);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    dialog.refresh();
    QCOMPARE(dialog.sessionList()->count(), 4);
    QCOMPARE(dialog.sessionList()->item(3)->text(), "Recovered: " + leftover);

    // Delete "beta" and the recovered session: both gone from the list file
    // at once; the saved folder waits for the next start, the recovered one
    // (which every start would keep) goes now.
    dialog.sessionList()->item(1)->setSelected(true);
    dialog.sessionList()->item(3)->setSelected(true);
    button(&dialog, "deleteSessionb")->click();
    QCOMPARE(dialog.sessionList()->count(), 2);
    QCOMPARE(listFile(), (QStringList{"alpha", "gamma", SessionManager::currentSessionName()}));
    QVERIFY(QFileInfo::exists(root + "beta") && !QFileInfo::exists(root + leftover));

    // The start-up prompt: Not Now leaves this run to go on; Resume of both
    // entries starts one detached process each, and this run has nothing
    // left to show.
    for (const char *name : {"notNowSessionb", "resumeSessionb"}) {
        QTimer::singleShot(0, [name] {
            auto *d = qobject_cast<SessionManagerDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->sessionList()->selectAll();
            button(d, name)->click();
        });
        QCOMPARE(SessionManagerDialog::startUpPrompt(&keeper), name[0] == 'r');   // handed over
    }
    const QString self = QCoreApplication::applicationFilePath();
    QCOMPARE(launched, (QList<QStringList>{{self, "-Session", "alpha"}, {self, "-Session", "gamma"}}));
    SessionManagerDialog::setLauncher(nullptr);
    SessionManagerDialog::deleteShared();
}

// Save Session and Exit closes the windows whose every change is recorded
// without a question; a window that records nothing, or holds a computed
// solution, asks as Close does.
void TestSessions::saveSessionAndExitAsksForUnrecordedWindows()
{
    GuiFixture fx;
    SessionManager keeper;
    auto *a = new tarvix();
    UserPrefs::setUndoEnabled(false);
    auto *b = new tarvix();
    UserPrefs::setUndoEnabled(true);
    auto *c = new tarvix();
    for (tarvix *w : {a, b, c}) {   // every window holds unsaved edits
        w->show();
        w->tableModel()->setData(w->tableModel()->index(0, 0), 4.0);
        w->tableModel()->setData(w->tableModel()->index(1, 1), 5.0);
        w->tableModel()->setData(w->tableModel()->index(0, 3), 8.0);   // right-hand side
        w->awaitRecorder();
        QVERIFY(!w->isSaved());
    }
    {
        WidgetPoller cpu(solveOnCpu);
        fx.prompter.answerButton(Prompter::No);   // no analysis
        button(c, "solveb")->click();
    }
    QPointer<tarvix> pa(a), pb(b), pc(c);
    fx.prompter.answerText(QStringLiteral("study"));
    fx.prompter.answerButton(Prompter::Discard);
    fx.prompter.answerButton(Prompter::Discard);
    trigger(b, "actionSave_Session_and_Exit");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(SessionManager::currentSessionName(), QStringLiteral("study"));
    QVERIFY(pa.isNull() && pb.isNull() && pc.isNull());
    QCOMPARE(fx.prompter.count(QStringLiteral("Session NOT Saved!")), 2);
    QVERIFY(listFile().contains(QStringLiteral("study")));
}

void TestSessions::refusedResumeRecordsIntoOwnSession()
{
    // No such folder starts that session; a session another process works
    // in leaves this run in its own. Either way one empty window says so.
    for (const QString name : {"vanished", "busy"}) {
        GuiFixture fx;
        QDir().mkpath(SessionManager::sessionsRoot() + "/busy/Window 1");
        QLockFile other(SessionManager::sessionsRoot() + "/busy/Session.lock");
        other.setStaleLockTime(0);
        QVERIFY(other.tryLock(0));
        SessionManager keeper(name);
        const QList<tarvix *> windows = SessionManagerDialog::resumeSessionFromFile(name);
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows.first()->statusBar()->currentMessage(), QString("Failed to resume session!"));
        QVERIFY(windows.first()->historyFolder().startsWith(SessionManager::currentSessionFolder() + '/'));
        QCOMPARE(SessionManager::currentSessionName() == name, name == "vanished");
    }
}

// Without a sessions folder the run records nothing: no backup box per
// edit, and the log's saves ask nothing.
void TestSessions::sessionsOffMeansNoRecording()
{
    GuiFixture fx;
    QVERIFY(writeFile(fx.env.appData() + QStringLiteral("/Tarvix/Sessions"), "a file in the way"));
    SessionManager keeper;
    QVERIFY(!SessionManager::unavailableReason().isEmpty());
    auto *w = new tarvix();
    w->show();
    w->tableModel()->setData(w->tableModel()->index(0, 0), 4.0);
    button(w, "incvarb")->click();
    SessionManager::saveCurrentSession(true);
    QCOMPARE(fx.prompter.count(), 0);
    QVERIFY(!w->changesRecorded());
}

// A change after Save Session is in the session once its window closes; an
// unsaved session's window file follows every action, so a run that
// crashes leaves a session that resumes to its last step.
void TestSessions::sessionFileFollowsTheEdits_data()
{
    QTest::addColumn<bool>("named");
    QTest::newRow("saved session, at close") << true;
    QTest::newRow("unsaved session, at once") << false;
}

void TestSessions::sessionFileFollowsTheEdits()
{
    QFETCH(bool, named);
    GuiFixture fx;
    SessionManager keeper;
    auto *w = new tarvix();
    w->show();
    if (named) {
        fx.prompter.answerText(QStringLiteral("study"));
        trigger(w, "actionSave_Session");
    }
    QCOMPARE(SessionManager::currentSessionName().contains(QLatin1String("Unsaved")), !named);
    const QString folder = w->historyFolder(), actions = folder + QStringLiteral("/Actions.sestrx");
    QVERIFY(!readFile(actions).contains("\n9\t"));
    w->tableModel()->setData(w->tableModel()->index(0, 0), 4.0);
    QVERIFY(!named || fx.close(w));
    QTRY_VERIFY2(readFile(actions).contains("\n9\tTEXT/"), readFile(actions).constData());
    auto *resumed = new tarvix();
    resumed->resumeFrom(folder);
    resumed->awaitRecorder();
    QCOMPARE(resumed->tableModel()->data(resumed->tableModel()->index(0, 0)).toDouble(), 4.0);
}

QTEST_MAIN(TestSessions)
#include "tst_sessions.moc"
