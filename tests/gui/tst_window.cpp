// The main window shell: form, title, New, window list and close handling.
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "scriptedprompter.h"
#include "tarvix.h"
#include "testenv.h"
#include "threads/mythreads.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

#include <memory>

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void titleAndWindowList();
    void menus();
    void actions_data();
    void actions();
    void buttons_data();
    void buttons();
    void simpleInterfaceHidesPanning();
    void undoButtonsFollowThePreference_data();
    void undoButtonsFollowThePreference();
    void newClearsEverything();
    void editingClearsTheSavedFlag();
    void scrollToCellSelectsIt();
    void closeModifiedWindow_data();
    void closeModifiedWindow();
    void closeAllExceptThis();
    void closeAllAsksOnceAndEnds();
    void lastWindowWritesThePreferences();
    void hiddenWindowStaysOffTheList();

private:
    void closeAll();
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedPrompter> m_prompter;
};

void WindowTest::init()
{
    // The last window deletes the preference object, as in the program.
    m_env.reset(new TestEnv(2, false));
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(m_env->environment(), TestEnv::screen()));
    m_prompter.reset(new ScriptedPrompter);
}

void WindowTest::closeAll()
{
    while (!tarvix::windows().isEmpty()) {
        tarvix *w = tarvix::windows().first();
        m_prompter->answerButton(Prompter::Discard);
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void WindowTest::cleanup()
{
    closeAll();
    if (UserPrefs *p = UserPrefs::instance()) {
        UserPrefs::setInstance(nullptr);
        delete p;
    }
    m_prompter.reset();
    m_env.reset();
}

void WindowTest::titleAndWindowList()
{
    auto *a = new tarvix();
    auto *b = new tarvix();
    QCOMPARE(tarvix::windows(), (QList<tarvix *>{a, b}));
    QVERIFY(a->windowName().startsWith("Window "));
    QVERIFY(a->windowName() != b->windowName());
    QCOMPARE(a->windowTitle(), "Tarvix (" + a->windowName() + ")");
    a->setCurrentFileName("/x/a.trx");
    a->store().N = 4;   // only the title is looked at here
    a->updateTitle();
    QCOMPARE(a->windowTitle(), "/x/a.trx - [4x4] - Tarvix (" + a->windowName() + ")");
    a->store().N = 2;
    QVERIFY(!a->windowIcon().isNull());
    QCOMPARE(a->store().N, 2);
    QCOMPARE(a->store().allocated, 2);
    QCOMPARE(a->tableModel()->rowCount(), 2);
    QCOMPARE(a->tableModel()->columnCount(), 4);
}

void WindowTest::menus()
{
    tarvix w;
    QStringList titles;
    QStringList entries;
    for (QAction *m : w.menuBar()->actions()) {
        titles << m->text();
        QStringList items;
        for (QAction *a : m->menu()->actions())
            items << (a->isSeparator() ? QString("|") : a->text());
        entries << items.join(",");
    }
    QCOMPARE(titles, QStringList({"File", "Edit", "Tools", "Variables", "Solution", "Tarvix"}));
    QCOMPARE(entries, QStringList({
        "New,New Window,|,Open,|,Save,Save As,|,Save Session,Save Session and Exit,Session Manager...,|,Close,Close All Except This,Close All",
        "Undo,Redo,|,Cut,Copy,Paste,Clear,|",
        "Options",
        "Increase Variables by 1,Decrease Variables by 1,Define No. of Variables",
        "Solve,Solve in Stealth mode,Analyse Solution",
        "Help,Check for Updates...,About"}));
}

void WindowTest::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("statusTip");
    QTest::addColumn<bool>("hasToolTip");
    QTest::addColumn<QString>("shortcut");
    QTest::newRow("new") << "actionNew" << "Clears the Content in Current Window." << true << "";
    QTest::newRow("session") << "actionSave_Session"
                             << "Saves the current session to file, so that it can be retrieved later." << false << "";
    QTest::newRow("cut") << "actionCut" << "Cut" << false << "Ctrl+X";
    QTest::newRow("paste") << "actionPaste" << "Paste" << false << "Ctrl+V";
    QTest::newRow("stealth") << "actionSolve_in_Stealth_mode"
                             << "Solves the Simultaneous Equations without spending Memory on displaying the data from File."
                             << true << "";
    QTest::newRow("close all") << "actionClose_All" << "Close All Windows i.e. Terminates the Application." << true << "";
}

void WindowTest::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, statusTip);
    QFETCH(bool, hasToolTip);
    QFETCH(QString, shortcut);
    tarvix w;
    auto *a = w.findChild<QAction *>(name);
    QVERIFY(a);
    QCOMPARE(a->statusTip(), statusTip);
    if (hasToolTip)
        QCOMPARE(a->toolTip(), statusTip);
    QCOMPARE(a->shortcut().toString(), shortcut);
}

void WindowTest::buttons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<QString>("group");
    QTest::newRow("new") << "newb" << "New" << "Ctrl+N" << 20 << false << "File :";
    QTest::newRow("redo") << "redob" << "Redo" << "Ctrl+Y" << 18 << true << "Edit :";
    QTest::newRow("inc") << "incvarb" << "+1\nVariable" << "Ctrl+Shift+A" << 14 << false << "Tarvix :";
    QTest::newRow("solve") << "solveb" << "Solve" << "Ctrl+Space" << 22 << true << "Tarvix :";
    QTest::newRow("analyse") << "analyseb" << "Analyse" << "Ctrl+Shift+Space" << 22 << true << "Tarvix :";
}

void WindowTest::buttons()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(int, points);
    QFETCH(bool, italic);
    QFETCH(QString, group);
    tarvix w;
    auto *b = w.findChild<QPushButton *>(name);
    QVERIFY(b);
    QCOMPARE(b->text(), text);
    QCOMPARE(b->shortcut().toString(), shortcut);
    QCOMPARE(b->font().family(), QString("Times New Roman"));
    QCOMPARE(b->font().pointSize(), points);
    QCOMPARE(b->font().italic(), italic);
    QVERIFY(!b->acceptDrops());
    auto *g = qobject_cast<QGroupBox *>(b->parentWidget());
    QVERIFY(g);
    QCOMPARE(g->title(), group);
    if (name == "solveb")
        QCOMPARE(b->whatsThis(), QString("Please refer the Status Bar for Help."));
    QVERIFY(w.statusBar()->styleSheet().startsWith("background-color: rgb(0, 0, 0);\nborder-color"));
}

void WindowTest::simpleInterfaceHidesPanning()
{
    tarvix w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *pan = w.findChild<QGroupBox *>("panGroup");
    QVERIFY(pan);
    QVERIFY(!pan->isVisible());
    QVERIFY(w.tableView()->isVisible());
    QVERIFY(!w.tableView()->isCornerButtonEnabled());
    QVERIFY(!w.findChild<QWidget *>("gridFrame"));
    QVERIFY(w.acceptDrops());
}

void WindowTest::undoButtonsFollowThePreference_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("on") << true;
    QTest::newRow("off") << false;
}

void WindowTest::undoButtonsFollowThePreference()
{
    QFETCH(bool, enabled);
    UserPrefs::setUndoEnabled(enabled);
    tarvix w;
    QCOMPARE(w.findChild<QPushButton *>("undob")->isEnabled(), enabled);
    QCOMPARE(w.findChild<QPushButton *>("redob")->isEnabled(), enabled);
    QCOMPARE(w.findChild<QAction *>("actionUndo")->isEnabled(), enabled);
    QCOMPARE(w.findChild<QAction *>("actionRedo")->isEnabled(), enabled);
}

void WindowTest::newClearsEverything()
{
    tarvix w;
    EquationStore &s = w.store();
    s.coef[0][0] = 1;
    s.coef[1][1] = 2;
    s.rhs[1] = 3;
    s.customSol[0] = 4;
    s.currentSol[1] = 5;
    s.fileSol[0] = 6;
    w.setCurrentFileName("/x/a.trx");
    QSignalSpy refreshed(w.tableModel(), &QAbstractItemModel::dataChanged);
    w.findChild<QAction *>("actionNew")->trigger();
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j)
            QCOMPARE(s.coef[i][j], 0.0);
        QCOMPARE(s.rhs[i], 0.0);
        QCOMPARE(s.customSol[i], 0.0);
        QCOMPARE(s.currentSol[i], 0.0);
        QCOMPARE(s.fileSol[i], 0.0);
    }
    QVERIFY(w.currentFileName().isEmpty());
    QCOMPARE(w.windowTitle(), "Tarvix (" + w.windowName() + ")");
    QVERIFY(w.isSaved());
    QVERIFY(!refreshed.isEmpty());
    // Two unknowns cannot become fewer.
    QVERIFY(!w.findChild<QPushButton *>("decvarb")->isEnabled());
}

void WindowTest::editingClearsTheSavedFlag()
{
    tarvix w;
    QSignalSpy recorded(&w, &tarvix::textChanged);
    QVERIFY(w.isSaved());
    QVERIFY(!w.tableModel()->setData(w.tableModel()->index(0, 0), "x"));
    QVERIFY(w.isSaved());
    QVERIFY(w.tableModel()->setData(w.tableModel()->index(0, 0), "2.5"));
    QVERIFY(!w.isSaved());
    QCOMPARE(w.store().coef[0][0], 2.5);
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(recorded.first(), (QVariantList{0, 0, QString("2.5"), QString("0")}));
    QVERIFY(w.tableModel()->setData(w.tableModel()->index(1, 3), "1e300"));
    QCOMPARE(recorded.last(), (QVariantList{1, 3, QString("1e300"), QString("0")}));
    QVERIFY(w.tableModel()->setData(w.tableModel()->index(0, 0), "-1"));
    QCOMPARE(recorded.last().at(3).toString(), QString("2.5"));
}

void WindowTest::scrollToCellSelectsIt()
{
    tarvix w;
    w.show();
    w.tableView()->selectAll();
    w.scrollToCell(1, 3);
    const QModelIndexList sel = w.tableView()->selectionModel()->selectedIndexes();
    QCOMPARE(sel.size(), 1);
    QCOMPARE(sel.first(), w.tableModel()->index(1, 3));
}

void WindowTest::closeModifiedWindow_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<bool>("closes");
    QTest::newRow("cancel") << int(Prompter::Cancel) << QString() << false;
    QTest::newRow("discard") << int(Prompter::Discard) << QString() << true;
    QTest::newRow("save, no name") << int(Prompter::Save) << QString() << false;
}

void WindowTest::closeModifiedWindow()
{
    QFETCH(int, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, closes);
    auto *w = new tarvix();
    QPointer<tarvix> guard(w);
    auto *keep = new tarvix();   // keeps the process-wide objects alive
    Q_UNUSED(keep)
    QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 1), "7"));
    m_prompter->clear();
    m_prompter->answerButton(answer);
    m_prompter->answerButton(Prompter::Yes);   // the validation question of Save
    m_prompter->answerText(saveAs);
    const bool closed = w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(closed, closes);
    QCOMPARE(guard.isNull(), closes);
    const auto first = m_prompter->records().first();
    QCOMPARE(first.title, QString("Session NOT Saved!"));
    QCOMPARE(first.text, QString("The Session has been modified.\nDo you want to save your changes?"));
    QCOMPARE(first.buttons, int(Prompter::Save | Prompter::Discard | Prompter::Cancel));
    QCOMPARE(first.icon, int(Prompter::Warning));
    if (!closes) {
        QCOMPARE(w->store().coef[0][1], 7.0);
        QVERIFY(tarvix::windows().contains(w));
    }
}

void WindowTest::closeAllExceptThis()
{
    auto *a = new tarvix();
    auto *b = new tarvix();
    auto *c = new tarvix();
    auto *d = new tarvix();
    QVERIFY(c->tableModel()->setData(c->tableModel()->index(0, 0), "1"));
    // c asks; Cancel keeps it and ends the command there.
    m_prompter->answerButton(Prompter::Cancel);
    b->findChild<QAction *>("actionClose_All_Except_This")->trigger();
    QCOMPARE(tarvix::windows(), (QList<tarvix *>{b, c, d}));
    Q_UNUSED(a)
    m_prompter->answerButton(Prompter::Discard);
    b->findChild<QAction *>("actionClose_All_Except_This")->trigger();
    QCOMPARE(tarvix::windows(), (QList<tarvix *>{b}));
    QCOMPARE(m_prompter->count(), 2);
}

void WindowTest::closeAllAsksOnceAndEnds()
{
    auto *a = new tarvix();
    new tarvix();
    QVERIFY(a->tableModel()->setData(a->tableModel()->index(1, 1), "3"));
    m_prompter->clear();
    m_prompter->answerButton(Prompter::Discard);
    tarvix::windows().last()->findChild<QAction *>("actionClose_All")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(tarvix::windows().isEmpty());
    QCOMPARE(m_prompter->count(), 1);
    // The last window took the process-wide objects with it.
    QVERIFY(!UserPrefs::instance());
    QCOMPARE(MyThreads::poolSize(), 0);
}

void WindowTest::lastWindowWritesThePreferences()
{
    const QString prefsFile = UserPrefs::prefsFilePath();
    auto *w = new tarvix();
    w->show();
    w->setGeometry(40, 50, 640, 380);
    QCoreApplication::processEvents();
    // Stored as the frame's position and the client size, as move() and
    // resize() take them back.
    const QRect before(w->pos(), w->size());
    QFile::remove(prefsFile);
    QVERIFY(w->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(tarvix::windows().isEmpty());
    QVERIFY(QFile::exists(prefsFile));
    QFile f(prefsFile);
    QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString all = QString::fromUtf8(f.readAll());
    const QString geometry = QString("%1\t%2\t%3\t%4").arg(before.x()).arg(before.y())
                                 .arg(before.width()).arg(before.height());
    QVERIFY2(all.contains(geometry), qPrintable(all));
}

void WindowTest::hiddenWindowStaysOffTheList()
{
    auto *shown = new tarvix();
    {
        tarvix hidden(QString(), true);
        QVERIFY(hidden.testAttribute(Qt::WA_DontShowOnScreen));
        QVERIFY(!hidden.tableModel());
        QCOMPARE(tarvix::windows(), QList<tarvix *>{shown});
        QCOMPARE(hidden.store().N, 2);
        QVERIFY(hidden.store().coef);
    }
    QCOMPARE(tarvix::windows(), QList<tarvix *>{shown});
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
