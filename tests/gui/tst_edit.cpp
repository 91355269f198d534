// Cut, Copy, Paste and Clear: the chooser, the shared copy buffer across
// windows, the clipboard text, the changed range and the recorder signals.
#include "editdialog.h"
#include "guitestutil.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

#include <functional>
#include <memory>

class EditTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    std::unique_ptr<QObject> m_context;   // owns the chooser timers of one test
    int m_choosersShown = 0;
    // Answers the next chooser: "row", "column" or "rhs" with item k (1-based;
    // typed into the search field when bySearch), or "cancel".
    void answerChooser(const QString &kind, int k = 0, bool bySearch = false);
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
    void prepareTexts_data();
    void prepareTexts();
    void search_data();
    void search();
    void operations_data();
    void operations();
    void busyRecorder_data();
    void busyRecorder();
    void lastWindowDeletesTheShared();
};

void EditTest::answerChooser(const QString &kind, int k, bool bySearch)
{
    // Tries every 20 ms for about a second (an ignored command shows none).
    auto attempt = std::make_shared<std::function<void(int)>>();
    const std::weak_ptr<std::function<void(int)>> self = attempt;
    *attempt = [=](int triesLeft) {
        auto *d = qobject_cast<EditDialog *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) {
            auto again = self.lock();
            if (again && triesLeft > 0)
                QTimer::singleShot(20, m_context.get(), [again, triesLeft] { (*again)(triesLeft - 1); });
            return;
        }
        ++m_choosersShown;
        if (kind == "cancel")
            return d->cancelButton()->click();
        (kind == "row" ? d->rowButton() : kind == "column" ? d->columnButton() : d->rhsButton())->click();
        if (kind != "rhs" && bySearch)
            QTest::keyClicks(d->searchEdit(), QString::number(k));
        else if (kind != "rhs")
            d->combo()->setCurrentIndex(k - 1);
        d->okButton()->click();
    };
    QTimer::singleShot(0, m_context.get(), [attempt] { (*attempt)(50); });
}

void EditTest::prepareTexts_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("word");
    QTest::newRow("cut") << "x" << "CUT";
    QTest::newRow("copy") << "c" << "COPY";
    QTest::newRow("paste") << "v" << "PASTE";
    QTest::newRow("clear") << "d" << "CLEAR";
}

void EditTest::prepareTexts()
{
    QFETCH(QString, code);
    QFETCH(QString, word);
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
    d.prepare(4, code.at(0).toLatin1());
    QVERIFY(d.resultString().isEmpty());
    QCOMPARE(d.elementLabel()->text(), "Select the type of Element to modify by the " + word + " operation :");
    QVERIFY(!d.rowButton()->isChecked() && !d.columnButton()->isChecked() && !d.rhsButton()->isChecked());
    QVERIFY(d.selectLabel()->isHidden() && d.searchLabel()->isHidden() && d.searchEdit()->isHidden());
    QVERIFY(d.searchEdit()->text().isEmpty());
    QVERIFY(d.combo()->isHidden() && d.okButton()->isHidden() && !d.cancelButton()->isHidden());
    QVERIFY(items().isEmpty());

    d.rowButton()->click();
    QCOMPARE(d.selectLabel()->text(), "Select the ROW to perform the " + word + " operation :");
    QVERIFY(!d.selectLabel()->isHidden() && !d.searchEdit()->isHidden() && !d.okButton()->isHidden());
    QCOMPARE(items(), QStringList({"Equation 1", "Equation 2", "Equation 3", "Equation 4"}));
    d.columnButton()->click();
    QCOMPARE(d.selectLabel()->text(), "Select the COLUMN to perform the " + word + " operation :");
    QCOMPARE(items(), QStringList({"X1", "X2", "X3", "X4"}));
    d.rhsButton()->click();
    QVERIFY(d.selectLabel()->isHidden() && d.combo()->isHidden() && d.searchEdit()->isHidden());
    QVERIFY(!d.okButton()->isHidden());

    // An unknown code leaves everything as it is.
    d.prepare(9, 'q');
    QCOMPARE(d.variables(), 4);
    QVERIFY(d.rhsButton()->isChecked());
}

void EditTest::search_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("rows");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");   // what the field accepted
    QTest::addColumn<QString>("result");
    QTest::newRow("equation 3") << 5 << true << "3" << "3" << "Equation 3";
    QTest::newRow("two digits") << 12 << false << "12" << "12" << "X12";
    // 12 is refused at 5 variables: the field keeps the 1.
    QTest::newRow("above n") << 5 << true << "12" << "1" << "Equation 1";
    // Text the validator cannot refuse yet selects nothing: the choice stays.
    QTest::newRow("zero") << 5 << false << "0" << "0" << "X1";
    QTest::newRow("single digit above n") << 5 << true << "7" << "7" << "Equation 1";
    QTest::newRow("minus refused") << 5 << true << "-2" << "2" << "Equation 2";
}

void EditTest::search()
{
    QFETCH(int, n);
    QFETCH(bool, rows);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, result);
    EditDialog d;
    d.prepare(n, 'v');
    (rows ? d.rowButton() : d.columnButton())->click();
    QTest::keyClicks(d.searchEdit(), typed);
    QCOMPARE(d.searchEdit()->text(), shown);
    d.okButton()->click();
    QCOMPARE(d.resultString(), result);
}

void EditTest::operations_data()
{
    QTest::addColumn<QString>("prefill");   // row 1 of a second window copied first
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("after");     // the 3 x 3 window afterwards
    QTest::addColumn<QStringList>("buffer");
    QTest::addColumn<QString>("clipboard"); // empty: the prefill's copy stays
    QTest::addColumn<QString>("range");     // row1 col1 row2 col2 of the one dataChanged
    const QString start = "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ";
    const QString two = "0.5 -1.25 0 ;0 0 0 ";
    const QString four = "0.5 -1.25 1e-07 3e+20 0 ;0 0 0 0 0 ;0 0 0 0 0 ;0 0 0 0 0 ";
    const QStringList twoBuf{"0.5", "-1.25"}, fourBuf{"0.5", "-1.25", "1e-07", "3e+20"};
    // Copy: the right-hand side is not part of an equation row.
    QTest::newRow("copy row 2") << two << "actionCopy" << "row" << 2 << start << QStringList{"4", "5", "6"} << "4 5 6" << "";
    QTest::newRow("copy rhs") << four << "actionCopy" << "rhs" << 0 << start << QStringList{"10", "11", "12"} << "10 11 12" << "";
    QTest::newRow("cut X1") << two << "actionCut" << "column" << 1 << "0 2 3 10 ;0 5 6 11 ;0 8 9 12 "
                            << QStringList{"1", "4", "7"} << "1 4 7" << "0 0 2 0";
    QTest::newRow("cut row 3") << two << "actionCut" << "row" << 3 << "1 2 3 10 ;4 5 6 11 ;0 0 0 12 "
                               << QStringList{"7", "8", "9"} << "7 8 9" << "2 0 2 2";
    QTest::newRow("cut rhs") << two << "actionCut" << "rhs" << 0 << "1 2 3 0 ;4 5 6 0 ;7 8 9 0 "
                             << QStringList{"10", "11", "12"} << "10 11 12" << "0 4 2 4";
    // A short buffer is padded with zeros; a long one is cut off.
    QTest::newRow("paste 2 into X2") << two << "actionPaste" << "column" << 2 << "1 0.5 3 10 ;4 -1.25 6 11 ;7 0 9 12 "
                                     << twoBuf << "" << "0 1 2 1";
    QTest::newRow("paste 4 into rhs") << four << "actionPaste" << "rhs" << 0 << "1 2 3 0.5 ;4 5 6 -1.25 ;7 8 9 1e-07 "
                                      << fourBuf << "" << "0 4 2 4";
    QTest::newRow("paste 4 into row 3") << four << "actionPaste" << "row" << 3 << "1 2 3 10 ;4 5 6 11 ;0.5 -1.25 1e-07 12 "
                                        << fourBuf << "" << "2 0 2 2";
    QTest::newRow("clear X3") << two << "actionClear" << "column" << 3 << "1 2 0 10 ;4 5 0 11 ;7 8 0 12 " << twoBuf << ""
                              << "0 2 2 2";
    // Cancelled: Cut (and Copy) still empty the buffer, nothing else changes.
    QTest::newRow("cut cancelled") << four << "actionCut" << "cancel" << 0 << start << QStringList{} << "" << "";
    QTest::newRow("paste cancelled") << two << "actionPaste" << "cancel" << 0 << start << twoBuf << "" << "";
}

void EditTest::operations()
{
    QFETCH(QString, prefill);
    QFETCH(QString, action);
    QFETCH(QString, kind);
    QFETCH(int, k);
    QFETCH(QString, after);
    QFETCH(QStringList, buffer);
    QFETCH(QString, clipboard);
    QFETCH(QString, range);

    // The buffer is filled by a copy in another window of another size.
    auto *other = new tarvix();
    other->n_Var(prefill.count(';') + 1);
    setSystem(other, prefill);
    answerChooser("row", 1, true);
    trigger(other, "actionCopy");
    const QString prefillClip = QGuiApplication::clipboard()->text();
    const QString otherBefore = systemText(other);

    auto *w = new tarvix();
    w->n_Var(3);
    setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
    RecorderStub rec(w);
    QSignalSpy changed(w->tableModel(), &QAbstractItemModel::dataChanged);
    answerChooser(kind, k);
    trigger(w, action.toLatin1());
    QCOMPARE(m_choosersShown, 2);
    QCOMPARE(tarvix::editDialog()->variables(), 3);
    QCOMPARE(systemText(w), after);
    QCOMPARE(*tarvix::copyBuffer(), buffer);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard.isEmpty() ? prefillClip : clipboard);
    QStringList seen;
    for (const auto &args : changed) {
        const auto tl = args.at(0).toModelIndex(), br = args.at(1).toModelIndex();
        seen << QString("%1 %2 %3 %4").arg(tl.row()).arg(tl.column()).arg(br.row()).arg(br.column());
    }
    QCOMPARE(seen.join(";"), range);
    // Only the commands that change the system are recorded and clear the saved flag.
    const QStringList recorded = range.isEmpty() ? QStringList() : QStringList{action.mid(6).toUpper()};
    QCOMPARE(rec.signalsOnly(), recorded);
    QVERIFY(rec.enabled);
    QCOMPARE(w->isSaved(), range.isEmpty());
    QCOMPARE(systemText(other), otherBefore);
}

void EditTest::busyRecorder_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("cut") << "actionCut";
    // Paste and Clear share Cut's check; Copy changes nothing and asks the recorder nothing.
    QTest::newRow("copy") << "actionCopy";
}

void EditTest::busyRecorder()
{
    QFETCH(QString, action);
    const bool proceeds = action == "actionCopy";
    auto *w = new tarvix();
    w->n_Var(3);
    setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
    RecorderStub rec(w, true, true);
    answerChooser("column", 2);
    trigger(w, action.toLatin1());
    QCOMPARE(m_choosersShown, proceeds ? 1 : 0);
    QCOMPARE(systemText(w), QString("1 2 3 10 ;4 5 6 11 ;7 8 9 12 "));
    QCOMPARE(*tarvix::copyBuffer(), proceeds ? QStringList({"2", "5", "8"}) : QStringList());
    QVERIFY(rec.log.isEmpty());
    QVERIFY(w->isSaved());
}

void EditTest::lastWindowDeletesTheShared()
{
    const int geo[4] = {40, 50, 380, 210};
    UserPrefs::setGeometry(UserPrefs::EditWindow, geo);
    auto *a = new tarvix();
    auto *b = new tarvix();
    EditDialog *d = tarvix::editDialog();
    QVERIFY(d);
    QCOMPARE(QRect(d->pos(), d->size()), QRect(40, 50, 380, 210));
    answerChooser("rhs");
    trigger(a, "actionCopy");
    QCOMPARE(tarvix::copyBuffer()->size(), 2);

    fx->close(a);
    QCOMPARE(tarvix::editDialog(), d);
    QCOMPARE(tarvix::copyBuffer()->size(), 2);
    d->move(70, 80);
    d->resize(600, 320);
    const std::array<int, 4> last{d->x(), d->y(), d->width(), d->height()};
    fx->close(b);
    QVERIFY(!tarvix::editDialog());
    QVERIFY(!tarvix::copyBuffer());
    QCOMPARE(UserPrefs::getGeometry(UserPrefs::EditWindow), last);
}

QTEST_MAIN(EditTest)
#include "tst_edit.moc"
