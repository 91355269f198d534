// Cut, Copy, Paste and Clear: the chooser, the shared copy buffer across
// windows, the clipboard text, the changed range and the recorder signals.
#include "guitestutil.h"
#include "shareddialogs.h"

#include "about/aboutdialog.h"
#include "options/options.h"

#include <QClipboard>
#include <QLabel>
#include <QSignalSpy>

class EditTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    std::unique_ptr<QObject> m_context;   // owns the chooser timers of one test
    int m_choosersShown = 0;
    void answer(const QString &kind, int k = 0, bool bySearch = false)
    {
        answerChooser(m_context.get(), kind, k, bySearch, &m_choosersShown);
    }
private slots:
    void init()
    {
        fx.reset(new GuiFixture);
        m_context.reset(new QObject);
        m_choosersShown = 0;
    }
    void cleanup()
    {
        m_context.reset();
        fx.reset();
    }

    void prepareTexts()
    {
        EditDialog d;
        auto items = [&d] {
            QStringList l;
            for (int i = 0; i < d.combo()->count(); ++i)
                l << d.combo()->itemText(i);
            return l;
        };

        // A previous use leaves a choice behind; preparing wipes it.
        d.prepare(7, 'c');
        d.columnButton()->click();
        d.searchEdit()->setText("5");
        d.okButton()->click();
        QCOMPARE(d.resultString(), QString("X5"));
        d.prepare(4, 'x');
        QVERIFY(d.resultString().isEmpty());
        QCOMPARE(d.elementLabel()->text(), "Select the type of Element to modify by the CUT operation :");
        QVERIFY(!d.rowButton()->isChecked() && !d.columnButton()->isChecked() && !d.rhsButton()->isChecked());
        QVERIFY(d.selectLabel()->isHidden() && d.searchLabel()->isHidden() && d.searchEdit()->isHidden());
        QVERIFY(d.searchEdit()->text().isEmpty());
        QVERIFY(d.combo()->isHidden() && d.okButton()->isHidden() && !d.cancelButton()->isHidden());
        QVERIFY(items().isEmpty());

        d.rowButton()->click();
        QCOMPARE(d.selectLabel()->text(), "Select the ROW to perform the CUT operation :");
        QVERIFY(!d.selectLabel()->isHidden() && !d.searchEdit()->isHidden() && !d.okButton()->isHidden());
        QCOMPARE(items(), QStringList({"Equation 1", "Equation 2", "Equation 3", "Equation 4"}));
        d.columnButton()->click();
        QCOMPARE(d.selectLabel()->text(), "Select the COLUMN to perform the CUT operation :");
        QCOMPARE(items(), QStringList({"X1", "X2", "X3", "X4"}));
        d.rhsButton()->click();
        QVERIFY(d.selectLabel()->isHidden() && d.combo()->isHidden() && d.searchEdit()->isHidden());
        QVERIFY(!d.okButton()->isHidden());

        // An unknown code leaves everything as it is.
        d.prepare(9, 'q');
        QCOMPARE(d.variables(), 4);
        QVERIFY(d.rhsButton()->isChecked());
    }

    void search()
    {
        // shown: what the field accepted.
        const struct { int n; bool rows; const char *typed, *shown, *result; } cases[] = {
            {5, true, "3", "3", "Equation 3"}, {12, false, "12", "12", "X12"},
            // 12 is refused at 5 variables: the field keeps the 1.
            {5, true, "12", "1", "Equation 1"},
            // Text the validator cannot refuse yet selects nothing: the choice stays.
            {5, false, "0", "0", "X1"}, {5, true, "7", "7", "Equation 1"}, {5, true, "-2", "2", "Equation 2"}};
        for (const auto &[n, rows, typed, shown, result] : cases) {
            EditDialog d;
            d.prepare(n, 'v');
            (rows ? d.rowButton() : d.columnButton())->click();
            QTest::keyClicks(d.searchEdit(), QString(typed));
            QCOMPARE(d.searchEdit()->text(), QString(shown));
            d.okButton()->click();
            QCOMPARE(d.resultString(), QString(result));
        }
    }

    void operations()
    {
        // prefill: row 1 of a second window copied first; after: the 3 x 3 window afterwards;
        // clipboard empty: the prefill's copy stays; range: row1 col1 row2 col2 of the one dataChanged.
        const char *start = "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ", *two = "0.5 -1.25 0 ;0 0 0 ",
                   *four = "0.5 -1.25 1e-07 3e+20 0 ;0 0 0 0 0 ;0 0 0 0 0 ;0 0 0 0 0 ";
        const QStringList twoBuf{"0.5", "-1.25"}, fourBuf{"0.5", "-1.25", "1e-07", "3e+20"};
        const struct { const char *prefill, *action, *kind; int k; const char *after; QStringList buffer;
                       const char *clipboard, *range; } cases[] = {
            // Copy: the right-hand side is not part of an equation row.
            {two, "actionCopy", "row", 2, start, {"4", "5", "6"}, "4 5 6", ""},
            {four, "actionCopy", "rhs", 0, start, {"10", "11", "12"}, "10 11 12", ""},
            {two, "actionCut", "column", 1, "0 2 3 10 ;0 5 6 11 ;0 8 9 12 ", {"1", "4", "7"}, "1 4 7", "0 0 2 0"},
            {two, "actionCut", "row", 3, "1 2 3 10 ;4 5 6 11 ;0 0 0 12 ", {"7", "8", "9"}, "7 8 9", "2 0 2 2"},
            {two, "actionCut", "rhs", 0, "1 2 3 0 ;4 5 6 0 ;7 8 9 0 ", {"10", "11", "12"}, "10 11 12", "0 4 2 4"},
            // A short buffer is padded with zeros; a long one is cut off.
            {two, "actionPaste", "column", 2, "1 0.5 3 10 ;4 -1.25 6 11 ;7 0 9 12 ", twoBuf, "", "0 1 2 1"},
            {four, "actionPaste", "rhs", 0, "1 2 3 0.5 ;4 5 6 -1.25 ;7 8 9 1e-07 ", fourBuf, "", "0 4 2 4"},
            {four, "actionPaste", "row", 3, "1 2 3 10 ;4 5 6 11 ;0.5 -1.25 1e-07 12 ", fourBuf, "", "2 0 2 2"},
            {two, "actionClear", "column", 3, "1 2 0 10 ;4 5 0 11 ;7 8 0 12 ", twoBuf, "", "0 2 2 2"},
            // Cancelled: Cut (and Copy) still empty the buffer, nothing else changes.
            {four, "actionCut", "cancel", 0, start, {}, "", ""},
            {two, "actionPaste", "cancel", 0, start, twoBuf, "", ""}};
        for (const auto &[prefill, action, kind, k, after, buffer, clipboard, range] : cases) {
            // The buffer is filled by a copy in another window of another size.
            auto *other = new tarvix();
            other->n_Var(QString(prefill).count(';') + 1);
            setSystem(other, QString(prefill));
            answer("row", 1, true);
            trigger(other, "actionCopy");
            const QString prefillClip = QGuiApplication::clipboard()->text();
            const QString otherBefore = systemText(other);

            auto *w = new tarvix();
            w->n_Var(3);
            setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
            RecorderStub rec(w);
            QSignalSpy changed(w->tableModel(), &QAbstractItemModel::dataChanged);
            answer(kind, k);
            trigger(w, action);
            QCOMPARE(m_choosersShown, 2);
            QCOMPARE(SharedDialogs::edit()->variables(), 3);
            QCOMPARE(systemText(w), QString(after));
            QCOMPARE(*SharedDialogs::copyBuffer(), buffer);
            QCOMPARE(QGuiApplication::clipboard()->text(), *clipboard ? QString(clipboard) : prefillClip);
            QStringList seen;
            for (const auto &args : changed) {
                const auto tl = args.at(0).toModelIndex(), br = args.at(1).toModelIndex();
                seen << QString("%1 %2 %3 %4").arg(tl.row()).arg(tl.column()).arg(br.row()).arg(br.column());
            }
            QCOMPARE(seen.join(";"), QString(range));
            // Only the commands that change the system are recorded and clear the saved flag.
            const QStringList recorded = !*range ? QStringList() : QStringList{QString(action).mid(6).toUpper()};
            QCOMPARE(rec.signalsOnly(), recorded);
            QVERIFY(rec.enabled);
            QCOMPARE(w->isSaved(), !*range);
            QCOMPARE(systemText(other), otherBefore);
            // Fresh windows, shared dialog and buffer for the next case.
            fx->close(w);
            fx->close(other);
            m_choosersShown = 0;
        }
    }

    void busyRecorder()
    {
        // Paste and Clear share Cut's check; Copy changes nothing and asks the recorder nothing.
        for (const char *action : {"actionCut", "actionCopy"}) {
            const bool proceeds = action == std::string("actionCopy");
            auto *w = new tarvix();
            w->n_Var(3);
            setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
            RecorderStub rec(w, true, true);
            answer("column", 2);
            trigger(w, action);
            QCOMPARE(m_choosersShown, proceeds ? 1 : 0);
            QCOMPARE(systemText(w), QString("1 2 3 10 ;4 5 6 11 ;7 8 9 12 "));
            QCOMPARE(*SharedDialogs::copyBuffer(), proceeds ? QStringList({"2", "5", "8"}) : QStringList());
            QVERIFY(rec.log.isEmpty() && w->isSaved());
        }
    }

    void sharedDialogsLiveWithTheWindows()
    {
        // Placed where they were stored by the first window, kept while a
        // window is left, stored again and deleted by the last one.
        const UserPrefs::Window where[] = {UserPrefs::EditWindow, UserPrefs::AboutWindow, UserPrefs::OptionsWindow};
        for (int i = 0; i < 3; ++i) {
            const int geo[4] = {40 + i, 50, 700 + i, 500};
            UserPrefs::setGeometry(where[i], geo);
        }
        auto *a = new tarvix();
        auto *b = new tarvix();
        QDialog *const dialogs[] = {SharedDialogs::edit(), SharedDialogs::about(), SharedDialogs::options()};
        answer("rhs");
        trigger(a, "actionCopy");
        fx->close(a);
        QCOMPARE(SharedDialogs::copyBuffer()->size(), 2);
        std::array<int, 4> last[3];
        for (int i = 0; i < 3; ++i) {
            QDialog *d = dialogs[i];
            QCOMPARE(QRect(d->pos(), d->size()), QRect(40 + i, 50, 700 + i, 500));
            d->move(70 + i, 80);
            d->resize(720 + i, 520);
            last[i] = {d->x(), d->y(), d->width(), d->height()};
        }
        QCOMPARE(SharedDialogs::edit(), dialogs[0]);
        fx->close(b);
        QVERIFY(!SharedDialogs::edit() && !SharedDialogs::about() && !SharedDialogs::options());
        QVERIFY(!SharedDialogs::copyBuffer());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(UserPrefs::getGeometry(where[i]), last[i]);
    }
};

QTEST_MAIN(EditTest)
#include "tst_edit.moc"
