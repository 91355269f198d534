// Undo and redo on a real window with its real recorder thread: the files
// each action leaves in the history folder, undo and redo across every kind,
// text runs, discarded entries, damaged snapshots, awkward session names,
// and the table fixes that share the recorded edit path.
#include "app/applog.h"
#include "commandline.h"
#include "guitestutil.h"
#include "history/undoredo.h"
#include "logcapture.h"
#include "testutil.h"
#include "session/sessionmanager.h"
#include "sessions/sessionmanagerdialog.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>

#include <unistd.h>

namespace {

// The program's own log wiring while it lives: the real message handler,
// which asks for a session save after every warning, and the busy query
// that save waits on. A deadlock meanwhile ends the test (SIGALRM after a
// minute) instead of hanging it.
struct RealLog
{
    explicit RealLog(const QString &path)
    {
        ::alarm(60);
        AppLog::install();
        QString p = path;
        opened = AppLog::openLog(p);
        AppLog::setSessionSaver([] { SessionManager::saveCurrentSession(); });
        SessionManager::setBusyQuery([] { return tarvix::anyWindowBusy(); });
    }
    ~RealLog()
    {
        AppLog::setSessionSaver(nullptr);
        SessionManager::setBusyQuery(nullptr);
        AppLog::closeLog();
        AppLog::uninstall();
        AppLog::setInternalError(false);
        ::alarm(0);
    }
    bool opened = false;
};

// Files below the window's history folder, relative to it, sorted; the
// snapshot of the state the window was built with and the session file
// left out.
QStringList historyFiles(tarvix *w)
{
    QStringList files;
    const QString root = w->historyFolder() + '/';
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(root.size());
    files.removeOne("NEW/0.btrx");
    files.removeOne("Actions.sestrx");
    files.sort();
    return files;
}

QList<int> actions(tarvix *w)
{
    w->awaitRecorder();
    return w->recorder()->actions();
}

QString status(tarvix *w)
{
    return w->statusBar()->currentMessage();
}

// Resumes w from folder; true when its status bar says that worked.
bool resumed(tarvix *w, const QString &folder)
{
    w->resumeFrom(folder);
    w->awaitRecorder();
    return status(w) == QLatin1String("Successfully resumed session from file!");
}

// What the window shows (system, title, two solution values) and, withHistory,
// where its history stands.
QStringList state(tarvix *w, bool withHistory = false)
{
    const EquationStore &s = w->store();
    QStringList l{systemText(w), w->windowTitle(), QString::number(s.currentSol[0]), QString::number(s.customSol[1])};
    for (int a : withHistory ? actions(w) << w->recorder()->position() : QList<int>())
        l << QString::number(a);
    return l;
}

}

class HistoryTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    std::unique_ptr<QObject> m_context;
    QString m_fileA;   // 3x3 example, text
    QString m_fileB;   // 2x2, binary
    QString m_fileC;   // 2x2, text

    tarvix *openedWindow()
    {
        auto *w = new tarvix();
        open(w, m_fileA);
        return w;
    }

    static bool shown(QWidget *w)
    {
        w->show();
        QApplication::setActiveWindow(w);
        return QTest::qWaitForWindowActive(w);
    }

    // The copy of the file is made after the open returns; the next
    // command (or this wait) waits for it.
    void open(tarvix *w, const QString &path)
    {
        fx->prompter.answerText(path);
        w->on_openb_clicked();
        w->awaitRecorder();
    }

    void edit(tarvix *w, int row, int col, const QString &text)
    {
        QVERIFY(w->tableModel()->setData(w->tableModel()->index(row, col), text, Qt::EditRole));
        w->awaitRecorder();
    }

    // One recorded command by name: a button, an edit command with its
    // chooser's answer, or one of the rest.
    void act(tarvix *w, const QString &action)
    {
        const QMap<QString, const char *> buttons{
            {"inc", "incvarb"}, {"dec", "decvarb"}, {"new", "newb"}, {"undo", "undob"}, {"redo", "redob"}};
        const QMap<QString, std::tuple<const char *, const char *, int>> commands{
            {"cut", {"actionCut", "row", 2}}, {"paste", {"actionPaste", "column", 1}}, {"clear", {"actionClear", "rhs", 1}}};
        if (buttons.contains(action)) {
            button(w, buttons.value(action))->click();
        } else if (commands.contains(action)) {
            const auto [name, kind, k] = commands.value(action);
            answerChooser(m_context.get(), kind, k);
            trigger(w, name);
        } else if (action == "define") {
            fx->prompter.answer(5);
            trigger(w, "actionVariables_n");
        } else if (action == "open trx" || action == "open btrx") {
            open(w, action == "open trx" ? m_fileC : m_fileB);
        } else if (action == "edit") {
            edit(w, 1, 4, "-2.5");
        } else if (action == "edit2") {
            edit(w, 0, 0, "10");
        } else if (action == "save") {
            w->on_saveb_clicked();
        } else {
            QFAIL(qPrintable(action));
        }
    }

private slots:
    void init()
    {
        fx.reset(new GuiFixture);
        m_context.reset(new QObject);
        m_fileA = fx->env.temp() + "/a.trx";
        m_fileB = fx->env.temp() + "/b.btrx";
        m_fileC = fx->env.temp() + "/c.trx";
        QVERIFY(writeSystem(m_fileA, 3, kExampleA, kExampleB) && writeSystem(m_fileB, 2, {1, 2, 3, 4}, {5, 6})
                && writeSystem(m_fileC, 2, {9, 8, 7, 6}, {5, 4}));
    }

    void cleanup()
    {
        m_context.reset();
        fx.reset();
    }

    void everyKind()
    {
        const struct { const char *action; QStringList added; } cases[] = {
            {"open trx", {"OPEN/2.trx", "OPEN/2.trx.md"}}, {"open btrx", {"OPEN/2.btrx", "OPEN/2.btrx.md"}},
            {"inc", {"INC_VAR/1.btrx", "INC_VAR/1.btrx.md"}}, {"dec", {"DEC_VAR/1.btrx", "DEC_VAR/1.btrx.md"}},
            {"define", {"N_VAR/1.btrx", "N_VAR/1.btrx.md"}}, {"new", {"NEW/1.btrx"}},
            {"cut", {"CUT/1.btrx", "CUT/1.btrx.md"}}, {"paste", {"PASTE/1.btrx", "PASTE/1.btrx.md"}},
            {"clear", {"CLEAR/1.btrx", "CLEAR/1.btrx.md"}}, {"edit", {"TEXT/1.btrx", "TEXT/1.btrx.md"}}};
        for (const auto &[action, added] : cases) {
            auto *w = openedWindow();
            const QStringList before = state(w), beforeFiles = historyFiles(w);
            // Solution sets travel in the meta-data records: the opened file's are
            // zero, the action's are those of the moment after it.
            w->store().currentSol[0] = 1.5;
            w->store().customSol[1] = -7;

            act(w, action);
            const QStringList after = state(w);
            QVERIFY2(after[0] != before[0] || action == QString("new"), action);
            QStringList expected = beforeFiles + added;
            expected.sort();
            QCOMPARE(historyFiles(w), expected);

            act(w, "undo");
            QCOMPARE(state(w), before);
            act(w, "redo");
            QCOMPARE(state(w), after);
            // Nothing further to redo: back at the live end, nothing read.
            act(w, "redo");
            QCOMPARE(systemText(w), after[0]);
            QCOMPARE(actions(w).last(), 1);
            QCOMPARE(w->recorder()->position(), actions(w).size() - 1);
            // New on a system that is already new records nothing.
            if (action == QString("new")) {
                act(w, "new");
                QVERIFY(historyFiles(w) == expected && actions(w) == QList<int>({0, 3, 2, 1}));
            }
        }
    }

    // Every way a file reaches a window is recorded like File > Open, after
    // the state the window was built with: +1 Variable and Undo bring the
    // file back, one more Undo the empty window, and a session saved then
    // resumes there with the file one Redo away.
    void historyAfterEveryOpen_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("opens");
        QTest::newRow("command line") << "command line" << true;
        QTest::newRow("command line, solve") << "solve" << true;
        QTest::newRow("drop") << "drop" << true;
        QTest::newRow("dialog") << "dialog" << true;
        QTest::newRow("dialog, corrupt file") << "corrupt" << false;
        QTest::newRow("session manager fallback") << "fallback" << false;
    }

    void historyAfterEveryOpen()
    {
        QFETCH(QString, how);
        QFETCH(bool, opens);
        SessionManager session("study");
        QList<tarvix *> made;
        if (how == "command line" || how == "solve") {
            WidgetPoller cpu(solveOnCpu);
            fx->prompter.answerButton(Prompter::No);
            made = CommandLine::openFromArguments(how == "solve" ? QStringList{m_fileA, "solve"} : QStringList{m_fileA});
        } else if (how == "fallback") {
            made = SessionManagerDialog::resumeSessionFromFile("never saved");
        } else if (how == "drop") {
            made << new tarvix();
            made[0]->show();
            QVERIFY(dropUrls(made[0], {QUrl::fromLocalFile(m_fileA)}));
        } else {
            made << new tarvix();
            QVERIFY(writeFile(fx->env.temp() + "/bad.trx", "Tarvix 1.20.1\n3\n1 2\n"));
            open(made[0], how == "dialog" ? m_fileA : fx->env.temp() + "/bad.trx");
        }
        QCOMPARE(made.size(), 1);
        tarvix *w = made.first();
        const QString built = systemText(new tarvix());
        const QString loaded = systemText(w);
        QCOMPARE(w->currentFileName(), opens ? m_fileA : QString());
        QCOMPARE(loaded != built, opens);
        QCOMPARE(actions(w), opens ? QList<int>({0, 3, 1}) : QList<int>({0, 1}));
        QCOMPARE(historyFiles(w).filter("OPEN/").size(), opens ? 2 : 0);
        QVERIFY(QFile::exists(w->historyFolder() + "/NEW/0.btrx"));

        // The buttons' shortcuts click them a moment later.
        QVERIFY(shown(w));
        const int n = w->store().N;
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(w->store().N, n + 1);
        QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE(w->store().N, n);
        QCOMPARE(status(w), QString("Undo of action INCREASE VARIABLES BY 1 complete."));
        QVERIFY(!w->isQuiet());
        QCOMPARE(systemText(w), loaded);
        QCOMPARE(w->currentFileName(), opens ? m_fileA : QString());
        act(w, "undo");
        QCOMPARE(systemText(w), built);
        QCOMPARE(w->windowTitle(), "Tarvix (" + w->windowName() + ")");

        w->saveWindowToFile();
        auto *back = new tarvix();
        QVERIFY(resumed(back, w->historyFolder()));
        QCOMPARE(systemText(back), built);
        if (opens) {
            act(back, "redo");
            QCOMPARE(systemText(back), loaded);
        }
        QTest::keyClick(w, Qt::Key_Y, Qt::ControlModifier);
        QTRY_VERIFY(status(w).startsWith("Redo of action "));
    }

    // The saved flag after undo and redo: set only where the window again
    // holds what its file holds, or an empty system without a file.
    void savedFlagFollowsTheData_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("saved");
        QTest::newRow("inc, undo onto the open") << "inc,undo" << true;
        QTest::newRow("typed, inc, undo onto the edit") << "edit,inc,undo" << false;
        QTest::newRow("typed, undo onto the open") << "edit,undo" << true;
        QTest::newRow("typed, undo, redo onto the edit") << "edit,undo,redo" << false;
        QTest::newRow("inc, typed, undo onto the empty inc") << "inc,edit2,undo" << true;
        QTest::newRow("typed, new, undo onto the edit") << "edit,new,undo" << false;
        QTest::newRow("cut, undo, redo onto the cut") << "cut,undo,redo" << false;
        QTest::newRow("undo onto the empty start") << "undo" << true;
        QTest::newRow("second file, undo onto the first") << "open btrx,undo" << true;
        QTest::newRow("typed, saved, undo") << "edit,save,undo" << false;
        QTest::newRow("typed, saved, undo, redo onto the save") << "edit,save,undo,redo" << true;
        QTest::newRow("a saved run rebuilt by undo") << "edit,edit2,save,inc,undo" << true;
    }

    void savedFlagFollowsTheData()
    {
        QFETCH(QString, steps);
        QFETCH(bool, saved);
        auto *w = openedWindow();
        QVERIFY(w->isSaved());
        for (const QString &step : steps.split(','))
            act(w, step);
        QCOMPARE(w->isSaved(), saved);
    }

    // Kind words and extensions in the session name do not confuse the history.
    void textRun()
    {
        SessionManager session("NEW ideas OPEN TEXT my.btrx.files");
        auto *w = openedWindow();
        QVERIFY(w->historyFolder().contains("/NEW ideas OPEN TEXT my.btrx.files/"));
        QStringList states{systemText(w)};
        for (const auto &[row, col, text] : {std::make_tuple(0, 0, "10"), std::make_tuple(2, 4, "11"), std::make_tuple(1, 2, "1e3")}) {
            edit(w, row, col, text);
            states << systemText(w);
        }
        QCOMPARE(actions(w), QList<int>({0, 3, 9, 9, 9, 1}));
        QCOMPARE(w->recorder()->fileMap().value(3), QString("TEXT/1.btrx.btrx2"));
        QCOMPARE(w->recorder()->fileMap().value(4), QString("TEXT/1.btrx.btrx3"));
        QCOMPARE(readFile(w->historyFolder() + "/TEXT/1.btrx.btrx"), QByteArray("2 4 27 11\n1 2 5 1000\n"));

        // A cut after the run: undoing it rebuilds the run's last state.
        act(w, "cut");
        for (int i = 3; i >= 0; --i) {
            act(w, "undo");
            QCOMPARE(systemText(w), states[i]);
        }
        for (int i = 1; i <= 3; ++i) {
            act(w, "redo");
            QCOMPARE(systemText(w), states[i]);
        }
        // A logged edit puts back the exact value, not one of 15 digits.
        edit(w, 1, 2, "0.30000000000000004");
        edit(w, 1, 2, "7");
        button(w, "undob")->click();
        QCOMPARE(w->store().coef[1][2], 0.1 + 0.2);
    }

    void newEditDiscardsUndone()
    {
        auto *w = openedWindow();
        edit(w, 0, 0, "10");
        edit(w, 0, 1, "12");
        act(w, "cut");
        act(w, "clear");
        for (int i = 0; i < 4; ++i)
            act(w, "undo");
        const QString opened = systemText(w);
        // The whole text run goes: its snapshot, record and edit log as well.
        edit(w, 2, 2, "4");
        QCOMPARE(actions(w), QList<int>({0, 3, 9, 1}));
        QCOMPARE(historyFiles(w), QStringList({"OPEN/1.trx", "OPEN/1.trx.md", "TEXT/1.btrx", "TEXT/1.btrx.md"}));
        // Undo twice, then a new edit: the two entries and their files go.
        act(w, "cut");
        act(w, "paste");
        act(w, "undo");
        act(w, "undo");
        edit(w, 1, 1, "6");
        QCOMPARE(actions(w), QList<int>({0, 3, 9, 9, 1}));
        QCOMPARE(historyFiles(w),
                 QStringList({"OPEN/1.trx", "OPEN/1.trx.md", "TEXT/1.btrx", "TEXT/1.btrx.btrx", "TEXT/1.btrx.md"}));
        button(w, "undob")->click();
        button(w, "undob")->click();
        QCOMPARE(systemText(w), opened);
    }

    void recordingDisabled()
    {
        UserPrefs::setUndoEnabled(false);
        auto *w = openedWindow();
        const QString opened = systemText(w);
        act(w, "cut");
        edit(w, 0, 0, "5");
        button(w, "incvarb")->click();
        QCOMPARE(actions(w), QList<int>({0, 1}));
        QCOMPARE(historyFiles(w), QStringList());
        // Off from the start: every undo and redo control.
        QVERIFY(!button(w, "undob")->isEnabled() && !button(w, "redob")->isEnabled());
        QVERIFY(!w->findChild<QAction *>("actionUndo")->isEnabled() && !w->findChild<QAction *>("actionRedo")->isEnabled());
        w->on_undob_clicked();
        QVERIFY(w->store().N == 4 && systemText(w) != opened);
    }

    void damagedHistory()
    {
        // content null: the file is deleted.
        const struct { const char *file, *content; int size; bool redo; } cases[] = {
            {"OPEN/1.trx", nullptr, 0, false}, {"OPEN/1.trx", "not an equation file\n", 21, false},
            {"OPEN/1.trx.md", "\0\0\0", 3, false}, {"OPEN/1.trx.md", nullptr, 0, false},
            {"INC_VAR/1.btrx", "xx", 2, true}, {"TEXT/1.btrx.btrx", "1 1 x\n", 6, false}};
        for (const auto &[file, content, size, redo] : cases) {
            LogCapture log;
            auto *w = openedWindow();
            if (QString(file).startsWith("TEXT")) {
                for (int col = 0; col < 3; ++col)
                    edit(w, 0, col, QString::number(10 + 2 * col));
            } else {
                button(w, "incvarb")->click();
            }
            if (redo)
                button(w, "undob")->click();
            const QStringList before = state(w, true);

            const QString path = w->historyFolder() + '/' + QString(file);
            QVERIFY(content ? writeFile(path, QByteArray(content, size)) : QFile::remove(path));
            button(w, redo ? "redob" : "undob")->click();
            QVERIFY2(status(w).endsWith(" failed."), qPrintable(status(w)));
            QVERIFY(!log.messages().filter(QRegularExpression(QString("^warning: error no: UR%1 - ").arg(redo ? 26 : 19))).isEmpty());
            QCOMPARE(state(w, true), before);
            QVERIFY(!w->isQuiet());
        }
    }

    // A window's history saved to its session file and resumed into another
    // window: the data shown at the save comes back, and redo goes on from there.
    void sessionSavedAndResumed()
    {
        SessionManager session("study");
        auto *w = openedWindow();
        act(w, "new");
        edit(w, 0, 0, "10");
        edit(w, 2, 4, "11");
        edit(w, 1, 2, "1e3");
        act(w, "cut");
        const QString cut = systemText(w);
        button(w, "undob")->click();
        const QString shown = systemText(w);
        QVERIFY(shown != cut);
        w->saveWindowToFile();
        QTRY_COMPARE(status(w), QString("Successfully saved the session to file!"));
        QCOMPARE(readFile(w->historyFolder() + "/Actions.sestrx"),
                 QByteArray("0\tNEW/0.btrx\t\n3\tOPEN/1.trx\t\n2\tNEW/1.btrx\t\n9\tTEXT/1.btrx\t\n9\tTEXT/1.btrx.btrx2\t\n"
                         "9\tTEXT/1.btrx.btrx3\t\n4\t*\n10\tCUT/1.btrx\t\n1\t\n"));

        auto *back = new tarvix();
        const QString fresh = back->historyFolder();
        QVERIFY(resumed(back, w->historyFolder()));
        QCOMPARE(systemText(back), shown);
        QCOMPARE(back->historyFolder(), w->historyFolder());
        QVERIFY(!QFileInfo::exists(fresh));   // its own empty folder is gone
        QCOMPARE(actions(back), actions(w));
        QVERIFY(!back->isQuiet());
        act(back, "redo");
        QCOMPARE(systemText(back), cut);

        // Later changes keep the saved session whole: it resumes to the latest
        // state, never naming a file that a discarded entry took along.
        act(w, "undo");
        act(w, "clear");
        auto *latest = new tarvix();
        QVERIFY(resumed(latest, w->historyFolder()));
        QCOMPARE(systemText(latest), systemText(w));
        QCOMPARE(actions(latest), actions(w));

        // A session file of an older build, without the first state, resumes
        // as well, also into a window made for its folder.
        const QString folder = w->historyFolder();
        const QByteArray saved = readFile(folder + "/Actions.sestrx");
        QVERIFY(saved.startsWith("0\tNEW/0.btrx\t\n") && QFile::remove(folder + "/NEW/0.btrx"));
        QVERIFY(writeFile(folder + "/Actions.sestrx", "0\t\n" + saved.mid(14)));
        SessionManager::setNextWindowName(QFileInfo(folder).fileName());
        auto *old = new tarvix();
        QCOMPARE(old->historyFolder(), folder);
        QVERIFY(resumed(old, folder));
        QCOMPARE(systemText(old), systemText(w));
        QCOMPARE(readFile(folder + "/Actions.sestrx").left(3), QByteArray("0\t\n"));
    }

    void damagedSessionFile()
    {
        // content "-": no file at all. Only the first resumes.
        const QByteArray contents[] = {QByteArray("  0 \t\n\n\n   1\t  *  \n"), "-", "0\t\n77\t\n1\t*\n", "0\t\nten\t\n1\t*\n",
            "0\t\n10\tCUT/9.btrx\t\n1\t*\n", "0\t\n10\t../../../x/CUT/1.btrx\t\n1\t*\n", "0\t\n1\t\n",
            QByteArray("\x00\xff\x01\x02junk\t*\n\xfe", 13)};
        for (const QByteArray &content : contents) {
            const int i = int(&content - contents);
            const bool resumes = i == 0;
            SessionManager session("damaged");
            const QString folder = UndoRedo::folderFor(QString("Window %1").arg(990 + i));
            QVERIFY(UndoRedo::createFolders(folder));
            if (content != "-")
                QVERIFY(writeFile(folder + "/Actions.sestrx", content));
            auto *w = new tarvix();
            edit(w, 0, 0, "4");
            const QString before = systemText(w);
            QCOMPARE(resumed(w, folder), resumes);
            // Nothing half loaded: a failed resume says so and leaves the window's data alone.
            if (!resumes)
                QVERIFY(status(w) == "Failed to resume session from file!" && systemText(w) == before);
            QVERIFY(!w->isQuiet());
            // The history still works afterwards.
            edit(w, 1, 1, "5");
            edit(w, 1, 1, "6");
            button(w, "undob")->click();
            QCOMPARE(w->store().coef[1][1], 5.0);
        }
    }

    // Text typed into a cell is committed by Return (the delegate commits on
    // its next event), by Save and by a command; closing the window with a
    // commit on its way is safe.
    void typedEditCommitted_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("return, then undo") << "return";
        QTest::newRow("save") << "save";
        QTest::newRow("increase, then undo") << "inc";
        QTest::newRow("return, then close") << "close";
    }

    void typedEditCommitted()
    {
        QFETCH(QString, command);
        auto *w = openedWindow();
        QVERIFY(shown(w));
        QTableView *view = w->tableView();
        view->setFocus();
        view->setCurrentIndex(w->tableModel()->index(0, 0));
        QTest::keyClicks(view, "9");
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        if (command == "return" || command == "close")
            QTest::keyClick(editor, Qt::Key_Return);
        if (command == "close") {
            QVERIFY(fx->close(w));
            return;
        }
        if (command == "return") {
            QTRY_COMPARE(w->store().coef[0][0], 9.0);
        } else if (command == "save") {
            QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
            QTRY_COMPARE(actions(w), QList<int>({0, 3, 9, 1}));
            EquationStore saved;
            QVERIFY(!EquationFile::open(m_fileA, saved).failed);
            QCOMPARE(saved.coef[0][0], 9.0);
            QVERIFY(w->isSaved());
            return;
        } else {
            act(w, "inc");
        }
        act(w, "undo");
        QCOMPARE(w->store().N, 3);
        QCOMPARE(w->store().coef[0][0], command == "inc" ? 9.0 : 1.0);
        QCOMPARE(actions(w), command == "inc" ? QList<int>({0, 3, 9, 4, 6, 1}) : QList<int>({0, 3, 4, 9, 1}));
    }

    // A snapshot lost under a step logs a warning; the log's session save
    // then meets a window that is serving its recorder.
    void realHandlerNoDeadlock_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("lost");
        QTest::newRow("undo") << "undo" << "OPEN/1.trx.md";
        QTest::newRow("redo") << "redo" << "CUT/1.btrx";
        QTest::newRow("record after undo") << "record" << "CUT/1.btrx";
        QTest::newRow("resume") << "resume" << "CUT/1.btrx";
    }

    void realHandlerNoDeadlock()
    {
        QFETCH(QString, step);
        QFETCH(QString, lost);
        SessionManager session("study");
        auto *w = openedWindow();
        act(w, "cut");
        if (step == "redo" || step == "record")
            act(w, "undo");
        QVERIFY(QFile::remove(w->historyFolder() + '/' + lost));
        int saves = 0;
        connect(&session, &SessionManager::SaveSession, m_context.get(), [&saves] { ++saves; });
        const RealLog log(fx->env.temp() + "/session.log");
        QVERIFY(log.opened);
        tarvix *target = step == "resume" ? new tarvix() : w;
        if (step == "resume")
            target->resumeFrom(w->historyFolder());
        else
            act(w, step == "record" ? "inc" : step);
        target->awaitRecorder();
        QTRY_VERIFY(saves > 0);
        QVERIFY(!target->isQuiet());
        QVERIFY(AppLog::internalError());
    }
};

QTEST_MAIN(HistoryTest)
#include "tst_history.moc"
