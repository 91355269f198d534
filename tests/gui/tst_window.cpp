// The main window shell: title, New, window list and close handling.
#include "guitestutil.h"
#include "testutil.h"
#include "threads/mythreads.h"

#include <QSignalSpy>
#include <QTableView>

class WindowTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }

    // Which interface a window has is checked with the fancy one.
    void scrolledToCellIsTheOnlySelection()
    {
        tarvix w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.tableView()->selectAll();
        w.scrollToCell(1, 3);
        QCOMPARE(w.tableView()->selectionModel()->selectedIndexes(), QModelIndexList{w.tableModel()->index(1, 3)});
    }

    // An edit clears the saved flag and reaches the recorder as its shortest
    // exact text; New clears the system, the solutions and the file name and
    // sets the flag again. (Every array, the title and the model refresh are
    // checked with the count changes, which run New too.)
    void editThenNew()
    {
        tarvix w;
        QSignalSpy recorded(&w, &tarvix::textChanged);
        MyTableModel *m = w.tableModel();
        QVERIFY(!m->setData(m->index(0, 0), "x") && w.isSaved() && m->setData(m->index(0, 0), "2.5") && !w.isSaved());
        QCOMPARE(recorded.size(), 1);
        QCOMPARE(recorded.first(), (QVariantList{0, 0, QString("2.5"), QString("0")}));
        QVERIFY(m->setData(m->index(1, 3), "1e300"));
        QCOMPARE(recorded.last(), (QVariantList{1, 3, QString("1e+300"), QString("0")}));
        w.store().customSol[1] = 4;
        w.setCurrentFileName("/x/a.trx");
        trigger(&w, "actionNew");
        QCOMPARE(w.store().coef[0][0] + w.store().rhs[1] + w.store().customSol[1], 0.0);
        QVERIFY(w.currentFileName().isEmpty() && w.isSaved());
    }

    void closeModifiedWindow()
    {
        // Save without a file name closes nothing; with one the file holds the edit.
        const struct { int answer; const char *file; bool closes; } cases[] = {
            {Prompter::Cancel, "", false}, {Prompter::Discard, "", true}, {Prompter::Save, "", false},
            {Prompter::Save, "onclose.btrx", true}};
        for (const auto &[answer, file, closes] : cases) {
            fx->prompter.clear();
            tarvix *w = systemWindow(kExampleA, kExampleB);
            QPointer<tarvix> guard(w);
            new tarvix();   // keeps the process-wide objects alive
            QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 1), "7"));
            const QString path = fx->env.temp() + "/" + file;
            fx->prompter.answerButton(answer);
            *file ? fx->prompter.answerText(path) : fx->prompter.answerCancel();
            QCOMPARE(w->close(), closes);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(guard.isNull(), closes);
            const ScriptedPrompter::Record asked = fx->prompter.records().first();
            QCOMPARE(asked.title, QString("Session NOT Saved!"));
            QCOMPARE(asked.buttons, int(Prompter::Save | Prompter::Discard | Prompter::Cancel));
            if (!closes)
                QCOMPARE(w->store().coef[0][1], 7.0);
            EquationStore saved;
            QCOMPARE(!EquationFile::open(path, saved).failed && saved.coef[0][1] == 7.0, *file != '\0');
        }
    }

    void closeAllExceptThisThenAll()
    {
        new tarvix();
        auto *b = new tarvix();
        auto *c = new tarvix();
        auto *d = new tarvix();
        QVERIFY(c->tableModel()->setData(c->tableModel()->index(0, 0), "1"));
        // c asks; Cancel keeps it and ends the command there.
        fx->prompter.answerButton(Prompter::Cancel);
        trigger(b, "actionClose_All_Except_This");
        QCOMPARE(tarvix::windows(), (QList<tarvix *>{b, c, d}));
        fx->prompter.answerButton(Prompter::Discard);
        trigger(b, "actionClose_All_Except_This");
        QCOMPARE(tarvix::windows(), (QList<tarvix *>{b}));
        QCOMPARE(fx->prompter.count(), 2);

        // Close All asks once and ends the program's objects.
        new tarvix();
        QVERIFY(b->tableModel()->setData(b->tableModel()->index(1, 1), "3"));
        fx->prompter.answerButton(Prompter::Discard);
        trigger(tarvix::windows().last(), "actionClose_All");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(tarvix::windows().isEmpty());
        QCOMPARE(fx->prompter.count(), 3);
        // The last window took the process-wide objects with it.
        QVERIFY(!UserPrefs::instance());
        QCOMPARE(MyThreads::poolSize(), 0);
    }

    void lastWindowWritesThePreferences()
    {
        const QString prefsFile = UserPrefs::prefsFilePath();
        auto *w = new tarvix();
        w->show();
        w->setGeometry(40, 50, 640, 380);
        QCoreApplication::processEvents();
        // Stored as the frame's position and the client size, as move() and
        // resize() take them back.
        const QString geometry = QString("%1\t%2\t%3\t%4").arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height());
        QFile::remove(prefsFile);
        QVERIFY(fx->close(w));
        const QByteArray all = readFile(prefsFile);
        QVERIFY2(all.contains(geometry.toUtf8()), all.constData());
    }

    void hiddenWindowStaysOffTheList()
    {
        auto *shown = new tarvix();
        {
            tarvix hidden(QString(), true);
            QVERIFY(hidden.testAttribute(Qt::WA_DontShowOnScreen) && !hidden.tableModel());
            QCOMPARE(tarvix::windows(), QList<tarvix *>{shown});
        }
        QCOMPARE(tarvix::windows(), QList<tarvix *>{shown});
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
