// The analysis dialog driven headless: after a solve, paging and colours,
// Custom edits, resets, comparison, clipboard and unequal count, bad values,
// and the choice of the solution set Save writes.
#include "analysis/analysedialog.h"
#include "analysis/analyseoptions.h"
#include "analysis/analysetable.h"
#include "guitestutil.h"

#include <QAbstractItemModelTester>
#include <QScreen>
#include <QCheckBox>
#include <QClipboard>
#include <QMessageBox>
#include <QSpinBox>
#include <QtCharts/QBarSet>

#include <limits>

namespace {
QString cell(AnalyseTable *m, int row, int col, int role = Qt::DisplayRole)
{
    return m->index(row, col).data(role).toString();
}

QColor tone(AnalyseTable *m, int row)
{
    return m->index(row, 3).data(Qt::BackgroundRole).value<QBrush>().color();
}

QList<int> counts(std::initializer_list<std::pair<int, int>> nonZero)
{
    QList<int> c = QVector<int>(10, 0).toList();
    for (auto [k, v] : nonZero)
        c[k] = v;
    return c;
}

QList<int> asList(const std::array<int, 10> &a)
{
    return QList<int>(a.begin(), a.end());
}

// A system of its own for a dialog used without a window.
struct System
{
    explicit System(int n)
    {
        s.N = n;
        s.reallocate();
        s.clear();
    }
    void setUp(AnalyseDialog &d) { d.setUp(s.N, s.coef, s.rhs, s.customSol, s.fileSol, s.currentSol); }
    EquationStore s;
};
}

class AnalyseDialogTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }
    void staysOnScreen_data()
    {
        QTest::addColumn<QList<int>>("saved"); // x, y, width, height from the preferences
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("tables");
        QTest::newRow("huge size") << QList<int>{0, 0, 9000, 9000} << 3 << 1;
        QTest::newRow("off the screen") << QList<int>{5000, -4000, 300, 200} << 3 << 1;
        QTest::newRow("many wide tables") << QList<int>{10, 10, 400, 300} << 3000 << 12;
    }
    void staysOnScreen()
    {
        QFETCH(QList<int>, saved);
        QFETCH(int, n);
        QFETCH(int, tables);
        const int geo[4] = {saved[0], saved[1], saved[2], saved[3]};
        UserPrefs::setGeometry(UserPrefs::AnalyseWindow, geo);
        UserPrefs::setAnalysisTables(tables);
        System sys(n);
        for (int i = 0; i < n; ++i)
            sys.s.customSol[i] = -371979.2493247469 * (i + 1);
        AnalyseDialog d;
        sys.setUp(d);
        d.show();
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        // Only the dialog's least width (its buttons in a row) may be wider
        // than a small screen.
        const QRect frame = d.frameGeometry();
        const bool fits = frame.top() >= room.top() && frame.left() >= room.left() && frame.bottom() <= room.bottom()
                          && (frame.right() <= room.right() || d.width() <= d.minimumSizeHint().width());
        QVERIFY2(fits, qPrintable(QStringLiteral("%1,%2 %3x%4").arg(d.x()).arg(d.y())
                                                                .arg(d.frameGeometry().width()).arg(d.frameGeometry().height())));
    }

    void exampleAfterSolve()
    {
        tarvix *w = systemWindow(kExampleA, kExampleB);
        auto check = [&](AnalyseDialog *d) {
            // As a user: look at the solutions, then pick the Current set for errors.
            AnalyseTable *sol = d->table(AnalyseDialog::SolutionPage, 0);
            QCOMPARE(d->tableCount(AnalyseDialog::SolutionPage), 1);
            QCOMPARE(sol->rowCount(), 3);
            const char *x[3] = {"5", "3", "-2"};
            for (int r = 0; r < 3; ++r)
                QCOMPARE(QStringList({cell(sol, r, 0), cell(sol, r, 1), cell(sol, r, 2)}), QStringList({x[r], x[r], "0"}));
            d->findChild<QPushButton *>("errorb")->click();
            QCOMPARE(d->currentPage(), int(AnalyseDialog::ErrorPage));
            QVERIFY(d->findChild<QComboBox *>("errCombo")->isVisible());
            d->findChild<QComboBox *>("errCombo")->setCurrentIndex(0);
            QCOMPARE(UserPrefs::getErrorSolutionSet(), 0);
            AnalyseTable *err = d->table(AnalyseDialog::ErrorPage, 0);
            for (int r = 0; r < 3; ++r)
                QCOMPARE(QStringList({cell(err, r, 0), cell(err, r, 2), cell(err, r, 3), tone(err, r).name()}),
                         QStringList({cell(err, r, 1), "0", "0 %", QColor(Qt::green).name()}));
            QCOMPARE(d->options()->shownCounts(), counts({{0, 3}}));
            QCOMPARE(d->options()->chartBars()->at(9), 3.0);   // range 1
            QCOMPARE(d->options()->chartBars()->at(0), 0.0);
            // The solve's own measure of its answer, its bound included,
            // reaches the dialog.
            QVERIFY2(d->solveTrustText().startsWith("Solve: backward error ")
                         && !d->solveTrustText().contains("not known")
                         && d->solveTrustText().endsWith("(about 15 correct digits)"),
                     qPrintable(d->solveTrustText()));
        };
        // Solve on the processor; each analysis shown is checked, then closed.
        int analyses = 0;
        WidgetPoller poller([&](QWidget *top) {
            solveOnCpu(top);
            if (auto *d = qobject_cast<AnalyseDialog *>(top)) {
                ++analyses;
                check(d);   // a failed check returns here: the dialog still closes
                d->findChild<QPushButton *>("pushButton_3")->click();
            }
        });
        fx->prompter.answerButton(Prompter::Yes);
        button(w, "solveb")->click();
        QCOMPARE(analyses, 1);
        QVERIFY(!w->analyseDialog()->isVisible());
        // The Analyse button opens the same dialog again.
        button(w, "analyseb")->click();
        QCOMPARE(analyses, 2);
    }

    void pagingAndColours()
    {
        // 350: the tables grow past the preferred 100 rows (the layout's
        // other cases: tst_analysis).
        const int n = 350;
        const QVector<int> rows{120, 120, 110};
        UserPrefs::setErrorSolutionSet(1);
        System sys(n);
        for (int i = 0; i < n; ++i) {
            sys.s.coef[i][i] = 1;
            sys.s.rhs[i] = 1;
            sys.s.customSol[i] = 1;
        }
        sys.s.rhs[0] = 0;              // NA
        sys.s.customSol[1] = 1.15;     // 15 %
        sys.s.customSol[2] = 1.5;      // 50 %
        sys.s.customSol[3] = 1.9;      // 90 %
        sys.s.customSol[n - 1] = 3;    // 200 %
        AnalyseDialog d;
        sys.setUp(d);
        for (auto page : {AnalyseDialog::SolutionPage, AnalyseDialog::ErrorPage}) {
            QCOMPARE(d.tableCount(page), rows.size());
            int first = 0;
            for (int t = 0; t < rows.size(); ++t) {
                QCOMPARE(d.table(page, t)->rowCount(), rows[t]);
                QCOMPARE(d.table(page, t)->headerData(0, Qt::Vertical).toString(), "X" + QString::number(first + 1));
                first += rows[t];
            }
        }
        AnalyseTable *err = d.table(AnalyseDialog::ErrorPage, 0);
        QAbstractItemModelTester tester(err, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(cell(err, 0, 3), QString("NA"));
        QCOMPARE(QList<QColor>({tone(err, 0), tone(err, 1), tone(err, 2), tone(err, 3)}),
                 QList<QColor>({Qt::gray, Qt::green, Qt::yellow, Qt::red}));
        QCOMPARE(cell(err, 2, 3), QString("50 %"));
        QCOMPARE(asList(d.distribution()), counts({{0, n - 4}, {1, 1}, {4, 1}, {8, 1}, {9, 1}}));
        QCOMPARE(d.options()->shownCounts(), asList(d.distribution()));
        // Fewer tables: views go back to the pool and the layout follows.
        d.findChild<QSpinBox *>("tableSpin")->setValue(1);
        d.findChild<QPushButton *>("viewApplyb")->click();
        QCOMPARE(d.tableCount(AnalyseDialog::ErrorPage), 1);
        QCOMPARE(d.table(AnalyseDialog::ErrorPage, 0)->rowCount(), n);
    }

    void customEditRecomputes()
    {
        UserPrefs::setErrorSolutionSet(1);
        System sys(3);
        for (int i = 0; i < 9; ++i)
            sys.s.coef[i / 3][i % 3] = kExampleA[i];
        std::copy(kExampleB.begin(), kExampleB.end(), sys.s.rhs);
        const double x[3] = {5, 3, -2};
        std::copy(x, x + 3, sys.s.customSol);
        AnalyseDialog d;
        sys.setUp(d);
        AnalyseTable *sol = d.table(AnalyseDialog::SolutionPage, 0);
        AnalyseTable *err = d.table(AnalyseDialog::ErrorPage, 0);
        QAbstractItemModelTester tester(sol, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(sol->flags(sol->index(0, 1)) & Qt::ItemIsEditable);
        QVERIFY(!(sol->flags(sol->index(0, 0)) & Qt::ItemIsEditable) && !sol->setData(sol->index(0, 1), "abc"));
        QVERIFY(!sol->setData(sol->index(0, 0), "1"));
        QCOMPARE(sys.s.customSol[0], 5.0);
        // x = 6: the first and last equations are off by 1 and 2.
        QVERIFY(sol->setData(sol->index(0, 1), " 6 "));
        QCOMPARE(sys.s.customSol[0], 6.0);
        QCOMPARE(cell(sol, 0, 1), QString("6"));
        QCOMPARE(QStringList({cell(err, 0, 2), cell(err, 1, 2), cell(err, 2, 2)}), QStringList({"1", "0", "2"}));
        QCOMPARE(asList(d.distribution()), counts({{0, 2}, {1, 1}}));   // 1/6 and 2/27
        QVERIFY(sol->setData(sol->index(0, 1), "25"));   // 20/6 and 40/27
        QCOMPARE(asList(d.distribution()), counts({{0, 1}, {9, 2}}));
    }

    void resetCustom()
    {
        // Copy the Current set raw or as shown, the file's set as shown, or zero.
        const struct { int choice; bool accuracy; double expected; } cases[] = {
            {1, false, 3.14159265358979}, {1, true, 3.14}, {2, true, -2.71}, {3, false, 0.0}};
        for (const auto &[choice, accuracy, expected] : cases) {
            UserPrefs::setAccuracyDigits(3);
            System sys(2);
            sys.s.currentSol[0] = 3.14159265358979;
            sys.s.fileSol[0] = -2.71828182845905;
            sys.s.customSol[0] = 42;
            AnalyseDialog d;
            sys.setUp(d);
            AnalyseOptions *o = d.options();
            o->showSolutionPage();
            auto *combo = o->findChild<QComboBox *>("copyCombo");
            auto *acc = o->findChild<QCheckBox *>("copyAccCheck");
            auto *apply = o->findChild<QPushButton *>("copyApplyb");
            QVERIFY(!apply->isEnabled());
            combo->setCurrentIndex(choice);
            QCOMPARE(acc->isEnabled(), choice != 3);
            acc->setChecked(accuracy);
            apply->click();
            QCOMPARE(sys.s.customSol[0], expected);
            QCOMPARE(combo->currentIndex(), 0);
            QVERIFY(!apply->isEnabled());
            // The shown Custom set is remade at the preferred accuracy.
            QCOMPARE(cell(d.table(AnalyseDialog::SolutionPage, 0), 0, 1),
                     Analysis::formatValue(Analysis::reduceAccuracy(expected, 0, 3)));
        }
    }

    void compareRefusesClose()
    {
        System sys(3);
        const double custom[3] = {5, 3, 2}, file[3] = {4, 3, 0};
        std::copy(custom, custom + 3, sys.s.customSol);
        std::copy(file, file + 3, sys.s.fileSol);
        AnalyseDialog d;
        sys.setUp(d);
        d.show();
        AnalyseOptions *o = d.options();
        o->showSolutionPage();
        auto *current = o->findChild<QCheckBox *>("currentCheck");
        auto *compare = o->findChild<QPushButton *>("compareb");
        o->findChild<QCheckBox *>("customCheck")->setChecked(true);
        QVERIFY(!compare->isEnabled());
        o->findChild<QCheckBox *>("fileCheck")->setChecked(true);
        QVERIFY(!current->isEnabled() && compare->isEnabled());
        QCOMPARE(o->comparePair(), qMakePair(1, 2));
        compare->click();

        QCOMPARE(d.currentPage(), int(AnalyseDialog::ComparePage));
        QVERIFY(!d.findChild<QFrame *>("topFrame")->isVisible() && d.compareBox()->isVisible());
        AnalyseTable *cmp = d.table(AnalyseDialog::ComparePage, 0);
        QCOMPARE(cmp->headerData(1, Qt::Horizontal).toString().trimmed(), QString("Solution from File"));
        QCOMPARE(QStringList({cell(cmp, 0, 2), cell(cmp, 0, 3), cell(cmp, 2, 3)}), QStringList({"1", "25 %", "NA"}));
        // Neither the dialog nor the question can be closed; only Yes ends it.
        d.close();
        d.compareBox()->close();
        QVERIFY(d.isVisible() && d.compareBox()->isVisible());
        d.compareBox()->button(QMessageBox::Yes)->click();
        QCOMPARE(d.tableCount(AnalyseDialog::ComparePage), 0);
        QCOMPARE(d.currentPage(), int(AnalyseDialog::SolutionPage));
        QVERIFY(d.findChild<QFrame *>("topFrame")->isVisible());
        d.findChild<QPushButton *>("pushButton_3")->click();
        QVERIFY(!d.isVisible());
    }

    void clipboardAndUnequal()
    {
        System sys(3);
        for (int i = 0; i < 3; ++i)
            sys.s.coef[i][i] = 1;
        const double rhs[3] = {1, 2, 3}, current[3] = {1, 2.5, 1};
        std::copy(rhs, rhs + 3, sys.s.rhs);
        std::copy(current, current + 3, sys.s.currentSol);
        UserPrefs::setErrorSolutionSet(0);
        AnalyseDialog d;
        sys.setUp(d);
        AnalyseOptions *o = d.options();
        o->showSolutionPage();
        o->findChild<QPushButton *>("copyTextb")->click();
        QCOMPARE(QApplication::clipboard()->text(), QString("1 2.5 1 "));
        o->findChild<QComboBox *>("copyTextCombo")->setCurrentIndex(2);
        o->findChild<QLineEdit *>("copyTextLE")->setText(";");
        o->findChild<QPushButton *>("copyTextb")->click();
        QCOMPARE(QApplication::clipboard()->text(), QString("0;0;0;"));

        o->showErrorPage();
        auto *spin = o->findChild<QSpinBox *>("errDiffSpin");
        auto *calc = o->findChild<QPushButton *>("unequalCalc");
        auto *shown = o->findChild<QLineEdit *>("errUnequal");
        calc->click();
        QCOMPARE(shown->text(), QString("2"));
        QVERIFY(!calc->isEnabled());
        spin->setValue(0);   // threshold 1: the 0.5 difference is equal
        QVERIFY(shown->text().isEmpty());
        calc->click();
        QCOMPARE(shown->text(), QString("1"));
    }

    void viewApplyStoresBoth()
    {
        System sys(500);
        AnalyseDialog d;
        sys.setUp(d);
        d.show();
        auto *rows = d.findChild<QSpinBox *>("rowSpin");
        auto *tables = d.findChild<QSpinBox *>("tableSpin");
        auto *apply = d.findChild<QPushButton *>("viewApplyb");
        QVERIFY(!apply->isEnabled());
        rows->setValue(55);
        tables->setValue(2);
        QVERIFY(apply->isEnabled());
        apply->click();
        QCOMPARE(QList<int>({UserPrefs::getAnalysisRows(), UserPrefs::getAnalysisTables(), rows->value()}), QList<int>({60, 2, 60}));
        QCOMPARE(d.table(AnalyseDialog::SolutionPage, 0)->rowCount(), 250);
        // Unapplied changes are dropped on close.
        rows->setValue(70);
        QVERIFY(apply->isEnabled());
        d.close();
        QCOMPARE(rows->value(), 60);
        QVERIFY(!apply->isEnabled());
    }

    void badValues()
    {
        const double inf = std::numeric_limits<double>::infinity();
        System sys(2);
        sys.s.coef[0][0] = sys.s.coef[1][1] = 1;
        sys.s.rhs[0] = sys.s.rhs[1] = 1;
        sys.s.currentSol[0] = inf;
        sys.s.currentSol[1] = std::numeric_limits<double>::quiet_NaN();
        UserPrefs::setErrorSolutionSet(0);
        UserPrefs::setAccuracyMode(1);
        AnalyseDialog d;
        sys.setUp(d);
        AnalyseTable *sol = d.table(AnalyseDialog::SolutionPage, 0);
        QCOMPARE(cell(sol, 0, 0) + ' ' + cell(sol, 1, 0), QString("inf nan"));
        AnalyseTable *err = d.table(AnalyseDialog::ErrorPage, 0);
        QCOMPARE(cell(err, 1, 3), QString("nan %"));
        QCOMPARE(tone(err, 1), QColor(Qt::red));
        QCOMPARE(asList(d.distribution()), counts({{9, 2}}));

        // 20000 unknowns in one table (rows share one zero row: no 3 GB matrix).
        const int n = 20000;
        std::vector<double> zero(n, 0.0), ones(n, 1.0), rhs(n, 0.0);
        std::vector<double *> rowPtrs(n, zero.data());
        rhs[7] = 2;
        UserPrefs::setAnalysisRows(10);
        UserPrefs::setAnalysisTables(1);
        d.setUp(n, rowPtrs.data(), rhs.data(), ones.data(), ones.data(), ones.data());
        QCOMPARE(d.tableCount(AnalyseDialog::ErrorPage), 1);
        QCOMPARE(d.table(AnalyseDialog::ErrorPage, 0)->rowCount(), n);
        QCOMPARE(asList(d.distribution()), counts({{0, n - 1}, {9, 1}}));
        QCOMPARE(cell(d.table(AnalyseDialog::ErrorPage, 0), n - 1, 3), QString("NA"));
    }

    // The solution set Save writes follows the combo (what Save then
    // writes: tst_solvecommand's solutionKeptBySave).
    void savedSetFollowsTheCombo()
    {
        System sys(3);
        AnalyseDialog d;
        sys.setUp(d);
        d.findChild<QComboBox *>("solCombo")->setCurrentIndex(1);
        QCOMPARE(UserPrefs::getSavedSolutionSet(), 1);
        d.findChild<QComboBox *>("solCombo")->setCurrentIndex(2);
        QCOMPARE(UserPrefs::getSavedSolutionSet(), 2);
    }
};

QTEST_MAIN(AnalyseDialogTest)
#include "tst_analysedialog.moc"
