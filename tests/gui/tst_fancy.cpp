// The fancy interface: equations written out as fields and labels in pages,
// panning, resizes that keep their widgets, field edits and the fields as
// the working values of Solve, Save, Open and the edit commands.
#include "fancy/fancygrid.h"
#include "guitestutil.h"
#include "logcapture.h"
#include "shareddialogs.h"

#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <map>

namespace {

// A window in the fancy interface with pages of rp equations by cp variables.
tarvix *fancyWindow(int n, int cp = 4, int rp = 5)
{
    UserPrefs::setFancyUI(true);
    UserPrefs::setDisplayColumns(cp);
    UserPrefs::setDisplayRows(rp);
    auto *w = new tarvix();
    if (n != 2)
        w->n_Var(n);
    return w;
}

// One equation row of one page in grid order: "F" for a field, a label's
// plain text ("X3", "+", "=") otherwise.
QStringList pageRow(QFrame *page, int row)
{
    auto *grid = static_cast<QGridLayout *>(page->layout());
    std::map<int, QString> byColumn;
    for (int i = 0; i < grid->count(); ++i) {
        int r, c, rs, cs;
        grid->getItemPosition(i, &r, &c, &rs, &cs);
        QWidget *w = grid->itemAt(i)->widget();
        if (r == row)
            byColumn[c] = qobject_cast<QLineEdit *>(w)
                              ? QString("F")
                              : static_cast<QLabel *>(w)->text().remove(QRegularExpression("<[^>]*>| "));
    }
    QStringList tokens;
    for (const auto &kv : byColumn)
        tokens << kv.second;
    return tokens;
}

// Types text into a field and finishes the edit as a person would.
void type(QLineEdit *f, const QString &text)
{
    f->selectAll();
    QTest::keyClick(f, Qt::Key_Delete);
    QTest::keyClicks(f, text);
    QTest::keyClick(f, Qt::Key_Return);
}

QStringList fieldTexts(FancyGrid *g)
{
    QStringList s;
    for (QLineEdit *f : g->fields())
        s << f->text();
    return s;
}

}

class FancyTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }
    void chosenOnceAtConstruction()
    {
        tarvix *fancy = fancyWindow(2);
        UserPrefs::setFancyUI(false);
        auto *simple = new tarvix();
        UserPrefs::setFancyUI(true);
        QVERIFY(fancy->isFancy() && fancy->fancyGrid() && !fancy->tableView());
        QVERIFY(!simple->isFancy() && !simple->fancyGrid() && simple->tableView());
        fancy->show();
        simple->show();
        QVERIFY(fancy->findChild<QWidget *>("panGroup")->isVisible());
        QVERIFY(!simple->findChild<QWidget *>("panGroup")->isVisible());
    }

    void paging()
    {
        // 4 in 5x4 pages: "=" alone on a page; page size 0 is read as 1.
        const struct { int n, cp, rp, across, down; } cases[] = {
            {10, 4, 5, 3, 2}, {4, 4, 5, 2, 1}, {7, 1, 2, 8, 4}, {2, 0, 0, 3, 2}};
        for (auto [n, cp, rp, across, down] : cases) {
            tarvix *w = fancyWindow(n, cp, rp);
            FancyGrid *g = w->fancyGrid();
            QCOMPARE(QList<int>({g->fields().size(), g->variableLabels().size(), g->plusLabels().size(),
                                 g->equalsLabels().size(), g->pagesAcross(), g->pagesDown()}),
                     QList<int>({(n + 1) * n, n * n, (n - 1) * n, n, across, down}));
            QCOMPARE(w->findChild<QLabel *>("hpanLimit")->text(), "  " + QString::number(across) + "  ");
            QCOMPARE(w->findChild<QLabel *>("vpanLimit")->text(), "  " + QString::number(down) + "  ");
            QCOMPARE(g->currentPage(), g->page(1, 1));

            // Read across the pages, every equation is written out in full; each
            // page holds at most cp terms and a page to the right starts with the
            // "+" or "=" after the last term of the page before, in grid column 0.
            cp = qMax(cp, 1);
            rp = qMax(rp, 1);
            for (int r = 0; r < n; ++r) {
                QStringList all, expected;
                for (int h = 1; h <= across; ++h) {
                    QFrame *page = g->page(r / rp + 1, h);
                    const QStringList part = pageRow(page, r % rp);
                    QVERIFY2(part.count("F") <= cp + (h == across ? 1 : 0), qPrintable(part.join(' ')));
                    if (h > 1)
                        QVERIFY(static_cast<QGridLayout *>(page->layout())->itemAtPosition(r % rp, 0)
                                && (part.first() == "+" || part.first() == "="));
                    all << part;
                }
                for (int j = 1; j <= n; ++j)
                    expected << "F" << "X" + QString::number(j) << (j < n ? "+" : "=");
                QCOMPARE(all, expected << "F");
            }
            if (n == 4 && cp == 4)   // the second page across: only "=" and the right-hand side
                QCOMPARE(pageRow(g->page(1, 2), 3), QStringList({"=", "F"}));
        }
    }

    void panning()
    {
        // steps: buttons L R U D, or "h:text" / "v:text" typed. Right to the
        // last page and once more; up and left at the first page; down to the
        // last row and once more; the page fields, 0 keeping the page, beyond
        // the last page, emptied.
        const struct { const char *steps; int down, across; } cases[] = {
            {"R R R", 1, 3}, {"U L", 1, 1}, {"D D R", 2, 2}, {"h:3 v:2", 2, 3}, {"R h:0", 1, 2}, {"R h:4 v:7", 1, 2},
            {"D v:", 2, 1}};
        for (const auto &[steps, down, across] : cases) {
            tarvix *w = fancyWindow(10);
            w->show();
            FancyGrid *g = w->fancyGrid();
            auto *hField = w->findChild<QLineEdit *>("H_LE");
            auto *vField = w->findChild<QLineEdit *>("V_LE");
            for (const QString &step : QString(steps).split(' ')) {
                if (step.contains(':'))
                    type(step[0] == 'h' ? hField : vField, step.mid(2));
                else
                    button(w, step == "L" ? "left_panb" : step == "R" ? "right_panb" : step == "U" ? "up_panb" : "down_panb")
                        ->click();
            }
            QCOMPARE(QStringList({QString::number(g->currentDown()), QString::number(g->currentAcross()), vField->text(),
                                  hField->text()}),
                     QStringList({QString::number(down), QString::number(across), QString::number(down),
                                  QString::number(across)}));
            // Exactly the one page is in the equation area and on screen.
            QFrame *shown = g->page(down, across);
            QCOMPARE(g->currentPage(), shown);
            QVERIFY(shown->isVisible());
            auto *area = w->findChild<QVBoxLayout *>("areaLayout");
            int pagesInArea = 0;
            for (int v = 1; v <= g->pagesDown(); ++v)
                for (int h = 1; h <= g->pagesAcross(); ++h) {
                    pagesInArea += area->indexOf(g->page(v, h)) >= 0 ? 1 : 0;
                    QCOMPARE(g->page(v, h)->isVisible(), g->page(v, h) == shown);
                }
            QCOMPARE(pagesInArea, 1);
        }
    }

    void growKeepsWidgetsShrinkTurnsPlusIntoEquals()
    {
        tarvix *w = fancyWindow(3);
        RecorderStub rec(w);
        FancyGrid *g = w->fancyGrid();
        QList<QPointer<QLineEdit>> old;
        for (QLineEdit *f : g->fields()) {
            f->setText("1");
            old << f;
        }
        button(w, "incvarb")->click();
        QCOMPARE(rec.signalsOnly(), QStringList{"INC_VAR"});
        QCOMPARE(g->count(), 4);
        for (int p = 0; p < old.size(); ++p) {
            QVERIFY(old[p]);
            QCOMPARE(g->field(p / 4, p % 4), old[p].data());   // the old right-hand side is now X4's field
        }
        // New cleared every field, the reused ones included.
        QCOMPARE(fieldTexts(g).join(""), QString());
        for (QLabel *l : g->plusLabels() + g->equalsLabels())
            QCOMPARE(l->text(), QString(g->plusLabels().contains(l) ? "+" : "="));

        // Shrink 4 -> 2: the field in column 2 serves as the right-hand side
        // and the "+" after X2 becomes the "=".
        QPointer<QLineEdit> becomesRhs = g->field(1, 2);
        QPointer<QLabel> becomesEquals = g->plusLabels().at(1 * 3 + 1);
        QPointer<QLineEdit> dropped = g->field(3, 0);
        w->n_Var(2);
        QCOMPARE(g->count(), 2);
        QVERIFY(!dropped);
        QCOMPARE(g->field(1, 2), becomesRhs.data());
        QCOMPARE(g->equalsLabels().at(1), becomesEquals.data());
        QCOMPARE(becomesEquals->text(), QString("="));
        QCOMPARE(QList<int>({int(g->plusLabels().size()), g->pagesAcross()}), QList<int>({2, 1}));
        QCOMPARE(w->findChild<QLabel *>("hpanLimit")->text(), QString("  1  "));
        QCOMPARE(pageRow(g->page(1, 1), 1), QStringList({"F", "X1", "+", "F", "X2", "=", "F"}));

        // To 100 and back to 2: nothing of the large grid stays behind.
        w->n_Var(100);
        QCoreApplication::processEvents();   // the event loop runs between commands
        QCOMPARE(g->fields().size(), 101 * 100);
        QCOMPARE(g->pagesAcross() * g->pagesDown(), 26 * 20);
        g->panTo(20, 26);
        w->n_Var(2);
        QCOMPARE(g->currentPage(), g->page(1, 1));
        // Pages; fields and the two pan fields; labels and the two pan limits.
        QCOMPARE(QList<int>({g->pagesAcross() * g->pagesDown(), int(w->findChildren<QLineEdit *>().size()),
                             int(w->findChildren<QLabel *>().size())}), QList<int>({1, 6 + 2, 4 + 2 + 2 + 2}));
        int pages = 0;
        for (QFrame *f : w->findChild<QWidget *>("scrollAreaWidgetContents")
                             ->findChildren<QFrame *>(QString(), Qt::FindDirectChildrenOnly))
            pages += qobject_cast<QLabel *>(f) ? 0 : 1;
        QCOMPARE(pages, 1);
    }

    void fieldEdits()
    {
        // The last right-hand side, a coefficient, not a number, emptied (0),
        // the value it had (a field tabbed through); recordedCol -1: nothing
        // recorded. The recorder hears the values' shortest exact text.
        const struct { int row, col; const char *text; int recordedCol; const char *recorded; } cases[] = {
            {2, 3, "7.5", 4, "7.5"}, {1, 0, "-2e3", 0, "-2000"}, {0, 1, "abc", -1, ""}, {0, 2, "", 2, "0"},
            {1, 1, "2.0", -1, ""}};
        for (const auto &[row, col, chars, recordedCol, recorded] : cases) {
            const QString text = QString::fromLatin1(chars);
            tarvix *w = fancyWindow(3);
            FancyGrid *g = w->fancyGrid();
            EquationStore &s = w->store();
            fillStore(s, kExampleA, kExampleB);
            QSignalSpy spy(w, &tarvix::textChanged);
            QLineEdit *f = g->field(row, col);
            f->setText(text);   // set directly: the validator would refuse letters
            emit f->editingFinished();
            if (recordedCol < 0) {
                QCOMPARE(spy.count(), 0);
                QVERIFY(w->isSaved());
                continue;
            }
            QCOMPARE(spy.count(), 1);
            const double old = col == 3 ? kExampleB[row] : kExampleA[row * 3 + col];
            QCOMPARE(spy.first(), QVariantList({row, recordedCol, QString(recorded), QString::number(old)}));
            QVERIFY(!w->isSaved());
            // Only that value changed.
            for (int p = 0; p < 12; ++p)
                QCOMPARE(p % 4 < 3 ? s.coef[p / 4][p % 4] : s.rhs[p / 4],
                         p == row * 4 + col ? text.toDouble() : p % 4 < 3 ? kExampleA[p / 4 * 3 + p % 4] : kExampleB[p / 4]);
        }
    }

    // Typed edits undo one by one, each to its exact old value.
    void fieldEditsUndo()
    {
        tarvix *w = fancyWindow(3);
        w->show();
        FancyGrid *g = w->fancyGrid();
        for (const auto &[column, text] : {std::pair{0, "4"}, {1, "0.30000000000000004"}, {1, "7"}}) {
            type(g->field(0, column), text);
            w->awaitRecorder();   // the event loop runs between two keys of a person
        }
        for (double expected : {0.1 + 0.2, 0.0}) {
            button(w, "undob")->click();
            w->awaitRecorder();
            QCOMPARE(w->store().coef[0][1], expected);
            QCOMPARE(g->field(0, 0)->text(), QString("4"));
        }
        QCOMPARE(w->store().coef[0][0], 4.0);
    }

    void typeSolveSaveReopen()
    {
        tarvix *w = fancyWindow(3);
        w->show();
        FancyGrid *g = w->fancyGrid();
        // Typed in; the zero coefficient of X1 in equation 2 is left empty.
        const char *cells[3][4] = {{"1", "1", "1", "6"}, {"", "2", "5", "-4"}, {"2", "5", "-1", "27"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                if (*cells[r][c])
                    type(g->field(r, c), cells[r][c]);
        QCOMPARE(g->field(1, 0)->placeholderText(), QString("0"));
        {
            WidgetPoller cpu(solveOnCpu);
            fx->prompter.answerButton(Prompter::No);
            button(w, "solveb")->click();
        }
        const EquationStore &s = w->store();
        QVERIFY(fuzzyEqual(s.customSol[0], 5, 1e-12) && fuzzyEqual(s.customSol[1], 3, 1e-12)
                && fuzzyEqual(s.customSol[2], -2, 1e-12));
        QCOMPARE(s.coef[1][0], 0.0);

        // Save reads the fields, Open writes them ('g', 16 digits) and follows
        // the file's count.
        g->field(0, 3)->setText("0.1");   // not committed: Save must still read it
        const QString path = fx->env.root() + "/example.trx";
        fx->prompter.answerText(path);
        w->on_actionSave_As_triggered(false);
        QVERIFY(w->isSaved());
        QCOMPARE(s.rhs[0], 0.1);

        tarvix *other = fancyWindow(5);
        FancyGrid *og = other->fancyGrid();
        other->openFile(path, false, nullptr);
        QCOMPARE(og->count(), 3);
        QCOMPARE(fieldTexts(og), QStringList({"1", "1", "1", "0.1", "0", "2", "5", "-4", "2", "5", "-1", "27"}));
        const QString third = fx->env.root() + "/third.btrx";
        QVERIFY(writeSystem(third, 2, {1, 0, 0, 1}, {1.0 / 3, -2e-300}));
        other->openFile(third, false, nullptr);
        QCOMPARE(og->count(), 2);
        QCOMPARE(og->field(0, 2)->text() + ' ' + og->field(1, 2)->text(), QString("0.3333333333333333 -2e-300"));
        // A number wider than its field is shown from its start.
        QCOMPARE(og->field(0, 2)->cursorPosition(), 0);
    }

    void editCommandsMoveFieldTexts()
    {
        tarvix *w = fancyWindow(3);
        RecorderStub rec(w);
        FancyGrid *g = w->fancyGrid();
        const QStringList typed{"1", "", "3.50", "4", "x", "5", "6", "7", "8", "9", "10", "11"};
        for (int p = 0; p < typed.size(); ++p)
            g->fields()[p]->setText(typed[p]);
        // Cut X1, paste into X3: the texts move as typed, X1 is emptied.
        QObject context;   // owns the chooser timers
        answerChooser(&context, "column", 1);
        w->on_actionCut_triggered();
        QCOMPARE(*SharedDialogs::copyBuffer(), QStringList({"1", "x", "8"}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("1 x 8"));
        answerChooser(&context, "column", 3);
        w->on_actionPaste_triggered();
        answerChooser(&context, "rhs");
        w->on_actionClear_triggered();
        QCOMPARE(fieldTexts(g), QStringList({"", "", "1", "", "", "5", "x", "", "", "9", "8", ""}));
        QCOMPARE(rec.signalsOnly(), QStringList({"CUT", "PASTE", "CLEAR"}));
        // The element's values follow its fields; the others stay as they were.
        const EquationStore &s = w->store();
        QCOMPARE(QVector<double>({s.coef[0][0], s.coef[0][2], s.coef[1][2], s.coef[2][2]}),
                 QVector<double>({0, 1, 0, 8}));   // "x" reads as 0
        QCOMPARE(QVector<double>({s.rhs[0], s.rhs[1], s.rhs[2]}), QVector<double>({0, 0, 0}));
        QCOMPARE(s.coef[1][1], 0.0);   // "5" was never committed: not an edited element
    }

    void missingPageLogsTrx11()
    {
        tarvix *w = fancyWindow(10);
        FancyGrid *g = w->fancyGrid();
        w->findChild<QVBoxLayout *>("areaLayout")->removeWidget(g->currentPage());
        LogCapture log;
        w->n_Var(3);
        QCOMPARE(log.count("critical: error no: TRX11"), 1);
        // The rebuild went on.
        QCOMPARE(g->count(), 3);
        QCOMPARE(g->currentPage(), g->page(1, 1));
        QVERIFY(w->findChild<QVBoxLayout *>("areaLayout")->indexOf(g->currentPage()) >= 0);
    }
};

QTEST_MAIN(FancyTest)
#include "tst_fancy.moc"
