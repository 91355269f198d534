// Cut, Copy, Paste and Clear: the chooser, the shared copy buffer across
// windows, the clipboard text, the changed range and the recorder signals.
#include "editdialog.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "recorderstub.h"
#include "scriptedprompter.h"
#include "tarvix.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

class EditTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void prepareTexts_data();
    void prepareTexts();
    void search_data();
    void search();
    void operations_data();
    void operations();
    void busyRecorder_data();
    void busyRecorder();
    void growCutPasteAcrossWindows();
    void lastWindowDeletesTheShared();

private:
    void closeAll();
    // Answers the next chooser: "row", "column" or "rhs" with item k (1-based;
    // picked through the search field when bySearch), or "cancel".
    void answerChooser(const QString &kind, int k = 0, bool bySearch = false);
    void trigger(tarvix *w, const char *action);

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<QObject> m_context;
    int m_choosersShown = 0;
};

namespace {
// The window's whole system as text: "a b c r ;d e f s ;...".
QString systemText(tarvix *w)
{
    QString s;
    w->tableModel()->getTableData(&s);
    return s;
}

void setSystem(tarvix *w, const QString &text)
{
    QString t = text;
    w->tableModel()->setTableData(&t);
}
}

namespace {
QtMessageHandler g_testHandler = nullptr;

// The headless platform cannot pass size hints on; every shown dialog says so.
void quietHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (type == QtWarningMsg && msg.contains(QLatin1String("propagateSizeHints")))
        return;
    g_testHandler(type, ctx, msg);
}
}

void EditTest::initTestCase()
{
    g_testHandler = qInstallMessageHandler(quietHandler);
}

void EditTest::init()
{
    m_env.reset(new TestEnv(2, false));
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(m_env->environment(), TestEnv::screen()));
    m_prompter.reset(new ScriptedPrompter);
    m_context.reset(new QObject);
    m_choosersShown = 0;
}

void EditTest::closeAll()
{
    while (!tarvix::windows().isEmpty()) {
        tarvix *w = tarvix::windows().first();
        m_prompter->answerButton(Prompter::Discard);
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void EditTest::cleanup()
{
    m_context.reset();
    closeAll();
    if (UserPrefs *p = UserPrefs::instance()) {
        UserPrefs::setInstance(nullptr);
        delete p;
    }
    m_prompter.reset();
    m_env.reset();
}

void EditTest::answerChooser(const QString &kind, int k, bool bySearch)
{
    // Answers the modal chooser once it is up; gives up after about a
    // second (a command that was ignored shows none). The timers die with
    // the test function's context object.
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
        if (kind == "cancel") {
            d->cancelButton()->click();
            return;
        }
        if (kind == "row")
            d->rowButton()->click();
        else if (kind == "column")
            d->columnButton()->click();
        else
            d->rhsButton()->click();
        if (kind != "rhs") {
            if (bySearch)
                QTest::keyClicks(d->searchEdit(), QString::number(k));
            else
                d->combo()->setCurrentIndex(k - 1);
        }
        d->okButton()->click();
    };
    QTimer::singleShot(0, m_context.get(), [attempt] { (*attempt)(50); });
}

void EditTest::trigger(tarvix *w, const char *action)
{
    auto *a = w->findChild<QAction *>(action);
    QVERIFY2(a, action);
    a->trigger();
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
    QVERIFY(d.windowTitle().isEmpty());
    QVERIFY(!(d.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(d.rowButton()->text(), QString("Equation (Row)"));
    QCOMPARE(d.columnButton()->text(), QString("Variable (Column)"));
    QCOMPARE(d.rhsButton()->text(), QString("R.H.S."));
    QCOMPARE(d.searchLabel()->text(), QString("Search :"));

    // A previous use leaves a choice behind; preparing wipes it.
    d.prepare(7, 'c');
    d.columnButton()->click();
    d.searchEdit()->setText("5");
    d.okButton()->click();
    QCOMPARE(d.resultString(), QString("X5"));

    d.prepare(4, code.at(0).toLatin1());
    QVERIFY(d.resultString().isEmpty());
    QCOMPARE(d.variables(), 4);
    QCOMPARE(d.elementLabel()->text(), "Select the type of Element to modify by the " + word + " operation :");
    QVERIFY(!d.rowButton()->isChecked() && !d.columnButton()->isChecked() && !d.rhsButton()->isChecked());
    QVERIFY(d.selectLabel()->isHidden());
    QVERIFY(d.searchLabel()->isHidden());
    QVERIFY(d.searchEdit()->isHidden());
    QVERIFY(d.searchEdit()->text().isEmpty());
    QVERIFY(d.combo()->isHidden());
    QCOMPARE(d.combo()->count(), 0);
    QVERIFY(d.okButton()->isHidden());
    QVERIFY(!d.cancelButton()->isHidden());

    d.rowButton()->click();
    QCOMPARE(d.selectLabel()->text(), "Select the ROW to perform the " + word + " operation :");
    QVERIFY(!d.selectLabel()->isHidden() && !d.searchLabel()->isHidden() && !d.searchEdit()->isHidden());
    QVERIFY(!d.combo()->isHidden() && !d.okButton()->isHidden());
    QStringList items;
    for (int i = 0; i < d.combo()->count(); ++i)
        items << d.combo()->itemText(i);
    QCOMPARE(items, QStringList({"Equation 1", "Equation 2", "Equation 3", "Equation 4"}));

    d.columnButton()->click();
    QCOMPARE(d.selectLabel()->text(), "Select the COLUMN to perform the " + word + " operation :");
    items.clear();
    for (int i = 0; i < d.combo()->count(); ++i)
        items << d.combo()->itemText(i);
    QCOMPARE(items, QStringList({"X1", "X2", "X3", "X4"}));

    d.rhsButton()->click();
    QVERIFY(d.selectLabel()->text().isEmpty());
    QVERIFY(d.selectLabel()->isHidden() && d.searchLabel()->isHidden());
    QVERIFY(d.combo()->isHidden() && d.searchEdit()->isHidden());
    QVERIFY(!d.okButton()->isHidden());

    // An unknown code leaves everything as it is.
    d.prepare(9, 'q');
    QCOMPARE(d.variables(), 4);
    QVERIFY(d.rhsButton()->isChecked());
    QVERIFY(d.elementLabel()->text().contains(word));
}

void EditTest::search_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("rows");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");   // what the field accepted
    QTest::addColumn<QString>("result");

    QTest::newRow("equation 3") << 5 << true << "3" << "3" << "Equation 3";
    QTest::newRow("variable 3") << 5 << false << "3" << "3" << "X3";
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
    QCOMPARE(d.combo()->currentIndex(), 0);
    QTest::keyClicks(d.searchEdit(), typed);
    QCOMPARE(d.searchEdit()->text(), shown);
    auto *v = qobject_cast<const QIntValidator *>(d.searchEdit()->validator());
    QVERIFY(v);
    QCOMPARE(v->bottom(), 1);
    QCOMPARE(v->top(), n);
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
    QTest::addColumn<QString>("clipboard"); // null: the prefill's copy stays
    QTest::addColumn<QList<int>>("range");  // row1, col1, row2, col2; empty: none
    QTest::addColumn<QStringList>("recorded");

    const QString start = "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ";
    const QString two = "0.5 -1.25 0 ;0 0 0 ";
    const QString four = "0.5 -1.25 1e-07 3e+20 0 ;0 0 0 0 0 ;0 0 0 0 0 ;0 0 0 0 0 ";
    const QStringList twoBuf{"0.5", "-1.25"};
    const QStringList fourBuf{"0.5", "-1.25", "1e-07", "3e+20"};
    const QString same;
    const QList<int> none;

    // Copy: the right-hand side is not part of an equation row.
    QTest::newRow("copy row 2") << two << "actionCopy" << "row" << 2 << start << QStringList{"4", "5", "6"}
                                << "4 5 6" << none << QStringList{};
    QTest::newRow("copy X3") << two << "actionCopy" << "column" << 3 << start << QStringList{"3", "6", "9"}
                             << "3 6 9" << none << QStringList{};
    QTest::newRow("copy rhs") << four << "actionCopy" << "rhs" << 0 << start << QStringList{"10", "11", "12"}
                              << "10 11 12" << none << QStringList{};
    QTest::newRow("cut X1") << two << "actionCut" << "column" << 1 << "0 2 3 10 ;0 5 6 11 ;0 8 9 12 "
                            << QStringList{"1", "4", "7"} << "1 4 7" << QList<int>{0, 0, 2, 0}
                            << QStringList{"CUT"};
    QTest::newRow("cut row 3") << two << "actionCut" << "row" << 3 << "1 2 3 10 ;4 5 6 11 ;0 0 0 12 "
                               << QStringList{"7", "8", "9"} << "7 8 9" << QList<int>{2, 0, 2, 2}
                               << QStringList{"CUT"};
    QTest::newRow("cut rhs") << two << "actionCut" << "rhs" << 0 << "1 2 3 0 ;4 5 6 0 ;7 8 9 0 "
                             << QStringList{"10", "11", "12"} << "10 11 12" << QList<int>{0, 4, 2, 4}
                             << QStringList{"CUT"};
    // A short buffer is padded with zeros; a long one is cut off.
    QTest::newRow("paste 2 into X2") << two << "actionPaste" << "column" << 2
                                     << "1 0.5 3 10 ;4 -1.25 6 11 ;7 0 9 12 " << twoBuf << same
                                     << QList<int>{0, 1, 2, 1} << QStringList{"PASTE"};
    QTest::newRow("paste 2 into row 1") << two << "actionPaste" << "row" << 1
                                        << "0.5 -1.25 0 10 ;4 5 6 11 ;7 8 9 12 " << twoBuf << same
                                        << QList<int>{0, 0, 0, 2} << QStringList{"PASTE"};
    QTest::newRow("paste 4 into rhs") << four << "actionPaste" << "rhs" << 0
                                      << "1 2 3 0.5 ;4 5 6 -1.25 ;7 8 9 1e-07 " << fourBuf << same
                                      << QList<int>{0, 4, 2, 4} << QStringList{"PASTE"};
    QTest::newRow("paste 4 into row 3") << four << "actionPaste" << "row" << 3
                                        << "1 2 3 10 ;4 5 6 11 ;0.5 -1.25 1e-07 12 " << fourBuf << same
                                        << QList<int>{2, 0, 2, 2} << QStringList{"PASTE"};
    QTest::newRow("clear row 2") << two << "actionClear" << "row" << 2 << "1 2 3 10 ;0 0 0 11 ;7 8 9 12 "
                                 << twoBuf << same << QList<int>{1, 0, 1, 2} << QStringList{"CLEAR"};
    QTest::newRow("clear X3") << two << "actionClear" << "column" << 3 << "1 2 0 10 ;4 5 0 11 ;7 8 0 12 "
                              << twoBuf << same << QList<int>{0, 2, 2, 2} << QStringList{"CLEAR"};
    QTest::newRow("clear rhs") << two << "actionClear" << "rhs" << 0 << "1 2 3 0 ;4 5 6 0 ;7 8 9 0 "
                               << twoBuf << same << QList<int>{0, 4, 2, 4} << QStringList{"CLEAR"};
    // Cancelled: Copy and Cut still empty the buffer, nothing else changes.
    QTest::newRow("copy cancelled") << two << "actionCopy" << "cancel" << 0 << start << QStringList{} << same
                                    << none << QStringList{};
    QTest::newRow("cut cancelled") << four << "actionCut" << "cancel" << 0 << start << QStringList{} << same
                                   << none << QStringList{};
    QTest::newRow("paste cancelled") << two << "actionPaste" << "cancel" << 0 << start << twoBuf << same
                                     << none << QStringList{};
    QTest::newRow("clear cancelled") << four << "actionClear" << "cancel" << 0 << start << fourBuf << same
                                     << none << QStringList{};
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
    QFETCH(QList<int>, range);
    QFETCH(QStringList, recorded);

    // The buffer is filled by a copy in another window of another size.
    auto *other = new tarvix();
    const int otherN = prefill.count(';') + 1;
    other->n_Var(otherN);
    setSystem(other, prefill);
    answerChooser("row", 1, true);
    trigger(other, "actionCopy");
    QCOMPARE(m_choosersShown, 1);
    const QString prefillClip = QGuiApplication::clipboard()->text();

    auto *w = new tarvix();
    w->n_Var(3);
    setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
    QVERIFY(w->isSaved());
    RecorderStub rec(w);
    QSignalSpy changed(w->tableModel(), &QAbstractItemModel::dataChanged);
    const QString otherBefore = systemText(other);

    answerChooser(kind, k);
    trigger(w, action.toLatin1().constData());
    QCOMPARE(m_choosersShown, 2);
    QCOMPARE(tarvix::editDialog()->variables(), 3);

    QCOMPARE(systemText(w), after);
    QCOMPARE(*tarvix::copyBuffer(), buffer);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard.isNull() ? prefillClip : clipboard);
    if (range.isEmpty()) {
        QVERIFY(changed.isEmpty());
    } else {
        QCOMPARE(changed.count(), 1);
        const QModelIndex tl = changed.first().at(0).value<QModelIndex>();
        const QModelIndex br = changed.first().at(1).value<QModelIndex>();
        QCOMPARE((QList<int>{tl.row(), tl.column(), br.row(), br.column()}), range);
    }
    QCOMPARE(rec.signalsOnly(), recorded);
    QVERIFY(rec.enabled);
    // Copy and the cancelled commands leave the saved flag alone.
    QCOMPARE(w->isSaved(), recorded.isEmpty());
    // The other window is never touched.
    QCOMPARE(systemText(other), otherBefore);
}

void EditTest::busyRecorder_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("proceeds");
    QTest::newRow("cut") << "actionCut" << false;
    QTest::newRow("paste") << "actionPaste" << false;
    QTest::newRow("clear") << "actionClear" << false;
    // Copy changes nothing and asks the recorder nothing.
    QTest::newRow("copy") << "actionCopy" << true;
}

void EditTest::busyRecorder()
{
    QFETCH(QString, action);
    QFETCH(bool, proceeds);
    auto *w = new tarvix();
    w->n_Var(3);
    setSystem(w, "1 2 3 10 ;4 5 6 11 ;7 8 9 12 ");
    RecorderStub rec(w, true, true);
    answerChooser("column", 2);
    trigger(w, action.toLatin1().constData());
    QCOMPARE(m_choosersShown, proceeds ? 1 : 0);
    QCOMPARE(systemText(w), QString("1 2 3 10 ;4 5 6 11 ;7 8 9 12 "));
    QCOMPARE(*tarvix::copyBuffer(), proceeds ? QStringList({"2", "5", "8"}) : QStringList());
    QVERIFY(rec.log.isEmpty());
    QVERIFY(w->isSaved());
}

void EditTest::growCutPasteAcrossWindows()
{
    auto *a = new tarvix();
    m_prompter->answer(4);
    trigger(a, "actionVariables_n");
    QCOMPARE(a->store().N, 4);

    // Typed in through the model as the table's editor does.
    const QStringList typed{"1.25", "-3.5e-05", "123456.789", "0.1"};
    MyTableModel *m = a->tableModel();
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            QVERIFY(m->setData(m->index(i, j), j == 0 ? typed[i] : QString::number(10 * i + j), Qt::EditRole));
        QVERIFY(m->setData(m->index(i, 5), QString::number(-i), Qt::EditRole));
    }
    double column[4];
    for (int i = 0; i < 4; ++i)
        column[i] = a->store().coef[i][0];

    auto *b = new tarvix();
    trigger(b, "actionIncrease_Variables");
    b->findChild<QPushButton *>("incvarb")->click();
    QCOMPARE(b->store().N, 4);

    answerChooser("column", 1, true);
    trigger(a, "actionCut");
    answerChooser("column", 3, true);
    trigger(b, "actionPaste");
    QCOMPARE(m_choosersShown, 2);

    QCOMPARE(QGuiApplication::clipboard()->text(), QString("1.25 -3.5e-05 123456.789 0.1"));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(a->store().coef[i][0], 0.0);
        QCOMPARE(b->store().coef[i][2], column[i]);
        for (int j = 1; j < 4; ++j)
            QCOMPARE(a->store().coef[i][j], double(10 * i + j));
        for (int j : {0, 1, 3})
            QCOMPARE(b->store().coef[i][j], 0.0);
        QCOMPARE(b->store().rhs[i], 0.0);
        QCOMPARE(a->store().rhs[i], double(-i));
    }
    QCOMPARE(m->data(m->index(3, 0)).toDouble(), 0.0);
    QCOMPARE(b->tableModel()->data(b->tableModel()->index(2, 2)).toDouble(), 123456.789);
}

void EditTest::lastWindowDeletesTheShared()
{
    const int geo[4] = {40, 50, 380, 210};
    UserPrefs::setGeometry(UserPrefs::EditWindow, geo);
    auto *a = new tarvix();
    auto *b = new tarvix();
    EditDialog *d = tarvix::editDialog();
    QVERIFY(d);
    QVERIFY(tarvix::copyBuffer());
    QCOMPARE(d->pos(), QPoint(40, 50));
    QCOMPARE(d->size(), QSize(380, 210));

    answerChooser("rhs");
    trigger(a, "actionCopy");
    QCOMPARE(tarvix::copyBuffer()->size(), 2);

    m_prompter->answerButton(Prompter::Discard);
    a->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(tarvix::editDialog(), d);
    QCOMPARE(tarvix::copyBuffer()->size(), 2);

    d->move(70, 80);
    d->resize(600, 320);
    const std::array<int, 4> last{d->x(), d->y(), d->width(), d->height()};
    m_prompter->answerButton(Prompter::Discard);
    b->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(tarvix::windows().isEmpty());
    QVERIFY(!tarvix::editDialog());
    QVERIFY(!tarvix::copyBuffer());
    QCOMPARE(UserPrefs::getGeometry(UserPrefs::EditWindow), last);
    QCOMPARE(last[2], 600);
}

QTEST_MAIN(EditTest)
#include "tst_edit.moc"
