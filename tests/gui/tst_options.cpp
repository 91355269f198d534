// The Options dialog, the thread optimisation and the benchmark pages.
#include "guitestutil.h"
#include "shareddialogs.h"
#include "testutil.h"
#include "options/options.h"

#include <QDir>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>

namespace {
template <typename T> T *child(QObject *o, const char *name)
{
    T *c = o->findChild<T *>(name);
    if (!c)
        qFatal("no child %s", name);
    return c;
}
}

class OptionsTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    // The dialog of the first window, loaded from the store.
    Options *openDialog()
    {
        if (tarvix::windows().isEmpty())
            new tarvix();
        Options *d = SharedDialogs::options();
        d->load();
        return d;
    }
    static QStringList threadCells(Options *d)
    {
        auto *table = child<QTableWidget>(d, "tableWidget");
        QStringList cells;
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < 3; ++c)
                cells << table->item(r, c)->text();
        return cells;
    }
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }
    void optionsCommandFollowsUndoSetting()
    {
        tarvix *w = new tarvix();
        QVERIFY(button(w, "undob")->isEnabled());
        Options *d = SharedDialogs::options();
        bool shown = false;
        QTimer::singleShot(0, d, [&] {
            shown = d->isVisible();
            child<QComboBox>(d, "undoCombo")->setCurrentIndex(1);
            button(d, "OKb")->click();
        });
        trigger(w, "actionOptions");
        QVERIFY(shown);
        QCOMPARE(fx->prompter.count("RESTART APPLICATION"), 1);
        QVERIFY(!UserPrefs::getUndoEnabled() && !button(w, "undob")->isEnabled() && !button(w, "redob")->isEnabled());
        QVERIFY(!w->findChild<QAction *>("actionUndo")->isEnabled() && !w->findChild<QAction *>("actionRedo")->isEnabled());

        // The next opening shows the stored value again, not the last edit.
        QTimer::singleShot(0, d, [&] {
            QCOMPARE(child<QComboBox>(d, "undoCombo")->currentIndex(), 1);
            child<QComboBox>(d, "undoCombo")->setCurrentIndex(0);
            button(d, "Cancelb")->click();
        });
        trigger(w, "actionOptions");
        QVERIFY(!UserPrefs::getUndoEnabled() && !button(w, "undob")->isEnabled());
    }

    void tolerance()
    {
        // Typed, then shown after leaving the field and stored on Apply.
        const struct { const char *typed, *shown; double stored; } cases[] = {
            {"0.01", "0.01", 0.01}, {"0.1", "0.1", 0.1}, {"0.5", "0.001", 0.001}, {"1e-20", "0.001", 0.001},
            {"", "0.001", 0.001}};
        Options *d = openDialog();
        auto *tol = child<QLineEdit>(d, "tolLE");
        for (const auto &c : cases) {
            UserPrefs::setTolerance(0.001);
            d->load();
            QCOMPARE(tol->text(), QString("0.001"));
            d->on_userDatab_clicked();
            tol->setText(c.typed);
            // Leaving the field, also where the validator holds editingFinished back.
            QFocusEvent out(QEvent::FocusOut);
            QApplication::sendEvent(tol, &out);
            QVERIFY2(tol->text() == c.shown, c.typed);
            d->on_Applyb_clicked();
            QCOMPARE(UserPrefs::getTolerance(), c.stored);
        }
    }

    void restartWarningOncePerOpening()
    {
        // OK without changes stores nothing and asks nothing.
        Options *d = openDialog();
        QVERIFY(!UserPrefs::isDirty() && !button(d, "Applyb")->isEnabled());
        button(d, "OKb")->click();
        QVERIFY(fx->prompter.records().isEmpty() && !UserPrefs::isDirty() && !d->isVisible());
        d->load();
        auto *tol = child<QLineEdit>(d, "tolLE");
        tol->clear();
        QTest::keyClicks(tol, "0.5");
        QVERIFY(button(d, "Applyb")->isEnabled());
        auto *cols = child<QSpinBox>(d, "DispColSpin");
        cols->setValue(7);
        button(d, "Applyb")->click();
        QVERIFY(!button(d, "Applyb")->isEnabled());
        cols->setValue(8);
        button(d, "Applyb")->click();
        QCOMPARE(fx->prompter.count("RESTART APPLICATION"), 1);
        QCOMPARE(fx->prompter.last().icon, int(Prompter::Warning));
        QCOMPARE(UserPrefs::getDisplayColumns(), 8);
        // 0.5 never reached the store.
        QCOMPARE(UserPrefs::getTolerance(), 1e-15);

        d->load();
        cols->setValue(9);
        button(d, "OKb")->click();
        QCOMPARE(fx->prompter.count("RESTART APPLICATION"), 2);
        QCOMPARE(UserPrefs::getDisplayColumns(), 9);
    }

    // Each Default button puts its fields back to what the fresh store shows;
    // the simple interface then turns the fancy view's controls off.
    void defaultButtonsAndSimpleUi()
    {
        UserPrefs::setFancyUI(true);   // the display rows are fancy-only
        Options *d = openDialog();
        const struct { const char *field, *property; int set; const char *reset; } cases[] = {
            {"DispColSpin", "value", 40, "DispColDefault"}, {"DispRowSpin", "value", 41, "DispRowDefault"},
            {"coefWidthSpin", "value", 199, "coefWidthDefault"}, {"plusSLWidthSpin", "value", 10, "plusSStyleDefault"},
            {"plusSMLWidthSpin", "value", 10, "plusSStyleDefault"},
            {"varSShadowCombo", "currentIndex", 2, "varStyleDefault"}};
        QVariantList fresh;
        for (const auto &c : cases) {
            QWidget *field = child<QWidget>(d, c.field);
            fresh << field->property(c.property);
            QVERIFY(field->setProperty(c.property, c.set) && field->property(c.property) != fresh.last());
        }
        child<QLineEdit>(d, "tolLE")->setText("0.05");
        d->on_Applyb_clicked();
        for (const auto &c : cases) {
            QVERIFY(!button(d, "Applyb")->isEnabled());
            button(d, c.reset)->click();
            QVERIFY2(child<QWidget>(d, c.field)->property(c.property) == fresh.at(int(&c - cases)), c.field);
            QVERIFY(button(d, "Applyb")->isEnabled());
            d->on_Applyb_clicked();
        }
        button(d, "tolDefault")->click();
        QCOMPARE(child<QLineEdit>(d, "tolLE")->text(), QString("1e-15"));
        QCOMPARE(QList<int>({UserPrefs::getDisplayRows(), UserPrefs::getDisplayColumns()}), QList<int>({5, 3}));

        // The simple interface turns the fancy view's controls off, and back on.
        auto *cols = child<QSpinBox>(d, "DispColSpin");
        cols->setValue(11);
        child<QComboBox>(d, "comboUI")->setCurrentIndex(1);
        for (const char *name : {"DispColSpin", "DispRowSpin", "DispColDefault", "textEditb", "variableb", "plusb"})
            QVERIFY2(!d->findChild<QWidget *>(name)->isEnabled(), name);
        QVERIFY(button(d, "mainWindowb")->isEnabled());
        d->on_Applyb_clicked();
        QVERIFY(!UserPrefs::getFancyUI() && UserPrefs::getDisplayColumns() == 11);
        child<QComboBox>(d, "comboUI")->setCurrentIndex(0);
        QVERIFY(cols->isEnabled() && button(d, "plusb")->isEnabled());
    }

    // The thread table; Default and Optimise change the limits at once,
    // Cancel puts back the ones the dialog opened with, OK keeps them.
    void threadLimits()
    {
        UserPrefs::setThreadLimits({12, 40});
        Options *d = openDialog();
        // Per row: from how many unknowns, threads, up to how many.
        QCOMPARE(threadCells(d), (QStringList{"0", "1", "12", "13", "2", "Infinity"}));
        button(d, "optDefault")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{5, 10}));
        button(d, "Cancelb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{12, 40}));

        // Systems of 10 to 30 unknowns never make a second thread pay off.
        d->load();
        d->setOptimiseBounds(30, 60000);
        button(d, "optb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{5, 10}));
        auto *note = child<QLabel>(d, "optBoundNote");
        QVERIFY(!note->isHidden() && note->text().contains("30 variables"));
        QCOMPARE(tarvix::windows().size(), 1);
        QCOMPARE(d->savedLimits(), (QList<int>{12, 40}));
        // The optimisation asked nothing: no solver dialog, no outcome box.
        QCOMPARE(fx->prompter.count(), 0);
        // A spent time budget stops before the first solve.
        d->setOptimiseBounds(2000, 0);
        button(d, "optb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{5, 10}));
        button(d, "Cancelb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{12, 40}));

        // OK keeps them without a restart warning: the solver reads the limits
        // at every solve. After that, Cancel has nothing to restore.
        d->load();
        button(d, "optDefault")->click();
        button(d, "OKb")->click();
        QCOMPARE(fx->prompter.count("RESTART APPLICATION"), 0);
        d->load();
        button(d, "Cancelb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{5, 10}));

        // A first limit of 0 is repaired to the defaults at load, with no copy
        // for Cancel to restore.
        UserPrefs::setThreadLimits({0, 40});
        d->load();
        QCOMPARE(UserPrefs::getThreadLimits(), (QList<int>{5, 10}));
        QVERIFY(d->savedLimits().isEmpty());
        QCOMPARE(threadCells(d), (QStringList{"0", "1", "5", "6", "2", "Infinity"}));
    }

    void singleProcessorOptimisation()
    {
        fx.reset();
        fx.reset(new GuiFixture(1));
        UserPrefs::setThreadLimits({40});
        Options *d = openDialog();
        button(d, "optb")->click();
        QCOMPARE(UserPrefs::getThreadLimits(), QList<int>{5});
        QVERIFY(child<QLabel>(d, "optBoundNote")->isHidden());
        QCOMPARE(threadCells(d), (QStringList{"0", "1", "Infinity"}));
    }

    // Bad counts, and a temporary folder that is a plain file (nothing can be
    // written there, whoever runs the test): no result and no copy.
    void benchmarkRefused()
    {
        WidgetPoller driver(solveOnCpu);
        Options *d = openDialog();
        child<QComboBox>(d, "benchUI")->setCurrentIndex(1);
        for (const char *count : {"", "1", "-5", "20000", "10"}) {   // 20000: the memory question declined
            const bool blocked = QByteArray(count) == "10";
            QVERIFY(!blocked || (QDir(fx->env.temp()).removeRecursively() && writeFile(fx->env.temp(), "")));
            child<QLineEdit>(d, "benchLE")->setText(count);
            button(d, "benchStartb")->click();
            QCOMPARE(fx->prompter.count("ERROR: Could not save the file!"), blocked ? 1 : 0);
            QCOMPARE(fx->prompter.count("Save Benchmark File?"), 0);
            QCOMPARE(child<QTableWidget>(d, "benchTable")->item(5, 1), nullptr);
            QCOMPARE(QDir(fx->env.temp()).entryList(QDir::Files), QStringList());
            QCOMPARE(tarvix::windows().size(), 1);
        }
        QVERIFY(QFile::remove(fx->env.temp()) && QDir().mkpath(fx->env.temp()));
    }

    void benchmarkFillsTable()
    {
        // Simple text with no copy, simple binary with a copy, a fancy window,
        // stealth text with a copy, stealth binary with none.
        const struct { int ui, fileType; const char *given, *kept; bool fancy; } cases[] = {
            {0, 0, "", "", false}, {0, 1, "run.trx.bak", "run.trx.btrx", false}, {0, 0, "run", "run.trx", true},
            {1, 0, "run.TRX", "run.TRX.trx", false}, {1, 1, "", "", false}};
        for (const auto &[ui, fileType, given, kept, fancy] : cases) {
            fx.reset();
            fx.reset(new GuiFixture);
            UserPrefs::setFancyUI(fancy);
            WidgetPoller driver(solveOnCpu);
            Options *d = openDialog();
            child<QLineEdit>(d, "benchLE")->setText("30");
            child<QComboBox>(d, "benchUI")->setCurrentIndex(ui);
            child<QComboBox>(d, "fileTypecombo")->setCurrentIndex(fileType);
            fx->prompter.answerButton(*given ? Prompter::Yes : Prompter::No);   // a copy?
            if (*given)
                fx->prompter.answerText(fx->env.temp() + "/" + QString(given));
            button(d, "benchStartb")->click();

            QCOMPARE(fx->prompt("Save Benchmark File?").kind, QString("message"));
            // Five steps' seconds, shares and seconds per unknown; the last row sums them.
            auto *table = child<QTableWidget>(d, "benchTable");
            auto cell = [table](int r, int c) { return table->item(r, c)->text().toDouble(); };
            double sum = 0, share = 0, perSum = 0;
            for (int r = 0; r < 5; ++r) {
                QVERIFY(cell(r, 1) >= 0 && fuzzyEqual(cell(r, 3), cell(r, 1) / 30, 1e-5));
                sum += cell(r, 1);
                share += cell(r, 2);
                perSum += cell(r, 3);
            }
            QVERIFY(fuzzyEqual(cell(5, 1), sum, 1e-5) && fuzzyEqual(cell(5, 3), perSum, 1e-5));
            QVERIFY(sum == 0 ? share == 0 : fuzzyEqual(share, 100, 1e-4));
            QCOMPARE(QDir(fx->env.temp()).entryList(QDir::Files), *kept ? QStringList{kept} : QStringList());
            if (*kept) {
                const ScriptedPrompter::Record save = fx->prompt("Save File As");
                QCOMPARE(save.dir, UserPrefs::getTempFolder());
                QCOMPARE(save.items.value(0), fileType ? QString("Tarvix Binary (*.btrx)") : QString("Tarvix Text (*.trx)"));
                // The copy is a whole system of the benchmark's size; through the
                // fields every value has 6 significant digits.
                EquationStore s;
                QVERIFY(!EquationFile::open(fx->env.temp() + "/" + QString(kept), s).failed);
                QCOMPARE(s.N, 30);
                int rounded = 0;
                for (int i = 0; i < 30; ++i)
                    for (int j = 0; j < 30; ++j)
                        rounded += QString::number(s.coef[i][j], 'g', 6).toDouble() == s.coef[i][j] ? 1 : 0;
                QCOMPARE(rounded == 900, fancy);
            }
            QCOMPARE(tarvix::windows().size(), 1);
        }
    }

    // The copy never replaces another file unasked, and a copy that fails
    // leaves the benchmark file for the copy by hand the box asks for.
    void benchmarkCopyKeepsFiles_data()
    {
        QTest::addColumn<QString>("target");     // "" : the folder is a plain file
        QTest::addColumn<int>("replace");         // answer to the replace question, 0: not asked
        QTest::addColumn<QStringList>("left");    // files in the temporary folder afterwards
        QTest::addColumn<bool>("copied");         // the target holds the benchmark system
        QTest::newRow("existing, replaced") << "run.trx" << int(Prompter::Yes) << QStringList{"run.trx"} << true;
        QTest::newRow("existing, kept") << "run.trx" << int(Prompter::No) << QStringList{"run.trx"} << false;
        QTest::newRow("copy fails") << "" << 0 << QStringList{"10eq.trx", "nofolder"} << false;
    }

    void benchmarkCopyKeepsFiles()
    {
        QFETCH(QString, target);
        QFETCH(int, replace);
        QFETCH(QStringList, left);
        QFETCH(bool, copied);
        const QString dir = fx->env.temp();
        QVERIFY(writeFile(dir + (target.isEmpty() ? "/nofolder" : "/" + target), "kept\n"));
        WidgetPoller driver(solveOnCpu);
        Options *d = openDialog();
        child<QLineEdit>(d, "benchLE")->setText("10");
        child<QComboBox>(d, "benchUI")->setCurrentIndex(1);
        fx->prompter.answerButton(Prompter::Yes);
        fx->prompter.answerText(dir + (target.isEmpty() ? "/nofolder/run.trx" : "/" + target));
        if (replace)
            fx->prompter.answerButton(replace);
        button(d, "benchStartb")->click();
        QCOMPARE(fx->prompter.count("File already exists!"), replace ? 1 : 0);
        QCOMPARE(fx->prompter.count("Failure Copying File!"), target.isEmpty() ? 1 : 0);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), left);
        EquationStore s;
        QCOMPARE(!target.isEmpty() && !EquationFile::open(dir + "/" + target, s).failed, copied);
    }

    void benchmarkCopyName()
    {
        // A suffix inside the name and one in other case: benchmarkFillsTable.
        const struct { const char *given; bool binary; const char *name; } cases[] = {
            {"/d/run.txt", false, "/d/run.txt.trx"}, {"/d/run.trx", false, "/d/run.trx"},
            {"/d/run.trx", true, "/d/run.btrx"}, {"/d.x/run.btrx", false, "/d.x/run.trx"},
            {"/d/run", true, "/d/run.btrx"}};
        for (const auto &c : cases)
            QCOMPARE(Options::benchmarkCopyName(c.given, c.binary), QString(c.name));
    }
};

QTEST_MAIN(OptionsTest)
#include "tst_options.moc"
