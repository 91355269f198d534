// The Solve command: dialogs, validation refusals, outcome messages,
// hidden windows and the command line's "solve".
#include "commandline.h"
#include "files/equationfile.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "scriptedprompter.h"
#include "solverdialog.h"
#include "tarvix.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// Presses a button of every solver dialog that comes up (the dialog is a
// real modal dialog) and counts the dialogs and wait boxes seen.
class DialogDriver : public QObject
{
public:
    explicit DialogDriver(const char *button) : m_button(button)
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
        qApp->installEventFilter(this);
    }
    ~DialogDriver() override { qApp->removeEventFilter(this); }
    int dialogs = 0;
    int waitBoxes = 0;
    int waitBoxesWithButtons = 0;
    QStringList titles;
    QString openclToolTip;
    bool openclEnabled = true;

private:
    void poll()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto *d = qobject_cast<SolverDialog *>(w)) {
                ++dialogs;
                titles << d->windowTitle();
                auto *opencl = d->findChild<QPushButton *>("openclb");
                openclToolTip = opencl->toolTip();
                openclEnabled = opencl->isEnabled();
                if (QByteArray(m_button) == "escape")
                    d->reject();
                else
                    d->findChild<QPushButton *>(m_button)->click();
            }
        }
    }
    // The wait box may come and go between two polls: catch it being shown.
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show) {
            auto *box = qobject_cast<QMessageBox *>(o);
            if (box && box->windowTitle() == "Solving Equations") {
                ++waitBoxes;
                if (!box->buttons().isEmpty())
                    ++waitBoxesWithButtons;
            }
        }
        return false;
    }
    const char *m_button;
    QTimer m_timer;
};

void fill(EquationStore &s, const QVector<double> &a, const QVector<double> &b)
{
    const int n = b.size();
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            s.coef[i][j] = a[i * n + j];
        s.rhs[i] = b[i];
    }
}

// The 3x3 example: x+y+z=6, 2y+5z=-4, 2x+5y-z=27.
const QVector<double> kA{1, 1, 1, 0, 2, 5, 2, 5, -1};
const QVector<double> kB{6, -4, 27};

}

class SolveCommandTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void solvesTheExample_data();
    void solvesTheExample();
    void typedSystemIsSolved();
    void validationRefuses_data();
    void validationRefuses();
    void singularSystemIsReportedIncorrect();
    void optimiseWindowAsksNothing();
    void solverDialogButtons_data();
    void solverDialogButtons();
    void commandLineOpensAndSolves();
    void commandLineSkipsBadArguments();
    void stealthSolve();
    void solvingWindowCannotBeClosed();

private:
    tarvix *exampleWindow();
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedPrompter> m_prompter;
};

void SolveCommandTest::init()
{
    m_env.reset(new TestEnv(2, false));
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(m_env->environment(), TestEnv::screen()));
    m_prompter.reset(new ScriptedPrompter);
}

void SolveCommandTest::cleanup()
{
    while (!tarvix::windows().isEmpty()) {
        m_prompter->answerButton(Prompter::Discard);
        tarvix::windows().first()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (UserPrefs *p = UserPrefs::instance()) {
        UserPrefs::setInstance(nullptr);
        delete p;
    }
    m_prompter.reset();
    m_env.reset();
}

tarvix *SolveCommandTest::exampleWindow()
{
    auto *w = new tarvix();
    w->resizeSystem(3);
    w->on_newb_clicked();
    fill(w->store(), kA, kB);
    w->tableModel()->refreshAll();
    return w;
}

void SolveCommandTest::solvesTheExample_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("no analysis") << int(Prompter::No);
    QTest::newRow("analysis") << int(Prompter::Yes);
}

void SolveCommandTest::solvesTheExample()
{
    QFETCH(int, answer);
    tarvix *w = exampleWindow();
    DialogDriver driver("multib");
    m_prompter->answerButton(answer);
    w->findChild<QPushButton *>("solveb")->click();

    const EquationStore &s = w->store();
    const double expected[3] = {5, 3, -2};
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(fuzzyEqual(s.customSol[i], expected[i], 1e-12), qPrintable(QString::number(s.customSol[i])));
        QCOMPARE(s.currentSol[i], s.customSol[i]);
    }
    // The system itself is not touched by the solve.
    QCOMPARE(s.coef[2][1], 5.0);
    QCOMPARE(s.rhs[1], -4.0);
    QCOMPARE(driver.dialogs, 1);
    QCOMPARE(driver.titles, QStringList{"Choose the Solver"});
    QCOMPARE(driver.waitBoxes, 1);
    QCOMPARE(driver.waitBoxesWithButtons, 0);
    QCOMPARE(m_prompter->count(), 1);
    const auto r = m_prompter->last();
    QCOMPARE(r.title, QString("Solving Completed!"));
    QCOMPARE(r.text, QString("Successfully Solved the Equations.\nWould you like to Analyse the Solutions?"));
    QCOMPARE(r.icon, int(Prompter::Information));
    QCOMPARE(r.buttons, int(Prompter::Yes | Prompter::No));
}

void SolveCommandTest::typedSystemIsSolved()
{
    // 2x2 typed through the table: 3x + y = 9, x + 2y = 8 -> (2, 3).
    tarvix w;
    MyTableModel *m = w.tableModel();
    QVERIFY(m->setData(m->index(0, 0), "3"));
    QVERIFY(m->setData(m->index(0, 1), "1"));
    QVERIFY(m->setData(m->index(0, 3), "9"));
    QVERIFY(m->setData(m->index(1, 0), "1"));
    QVERIFY(m->setData(m->index(1, 1), "2"));
    QVERIFY(m->setData(m->index(1, 3), "8"));
    DialogDriver driver("escape");   // Escape still solves, on the CPU
    m_prompter->answerButton(Prompter::No);
    w.on_solveb_clicked();
    QVERIFY(fuzzyEqual(w.store().customSol[0], 2.0, 1e-12));
    QVERIFY(fuzzyEqual(w.store().customSol[1], 3.0, 1e-12));
}

void SolveCommandTest::validationRefuses_data()
{
    QTest::addColumn<QVector<double>>("a");
    QTest::addColumn<QVector<double>>("b");
    QTest::addColumn<QStringList>("texts");
    const QString c = "<u><b>Cannot Solve such Equations.</b></u>";
    QTest::newRow("zero rhs") << QVector<double>{1, 2, 3, 4} << QVector<double>{0, 1e-16}
                              << QStringList{"<p>R.H.S. of all Equations is zero!</p>" + c};
    QTest::newRow("zero equation and duplicates")
        << QVector<double>{1, 2, 3, 0, 0, 0, 0, 0, 0} << QVector<double>{1, 2, 3}
        << QStringList{"<p>All the co-efficients of following Equations are zero!</p><p>2 & 3.</p>" + c,
                       "<p>Following Equations are Duplicate!</p><p></p><p><b><u>2</u></b> -> 3.</p>" + c};
    QTest::newRow("proportional") << QVector<double>{1, 2, 2, 4} << QVector<double>{1, 2}
                                  << QStringList{"<p>Following Equations are Duplicate!</p><p></p><p><b><u>1</u></b> -> 2.</p>" + c};
}

void SolveCommandTest::validationRefuses()
{
    QFETCH(QVector<double>, a);
    QFETCH(QVector<double>, b);
    QFETCH(QStringList, texts);
    auto *w = new tarvix();
    w->resizeSystem(b.size());
    w->on_newb_clicked();
    fill(w->store(), a, b);
    w->store().customSol[0] = 42;
    DialogDriver driver("multib");
    w->on_solveb_clicked();
    QCOMPARE(driver.dialogs, 0);
    QCOMPARE(m_prompter->count(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        const auto r = m_prompter->records().at(i);
        QCOMPARE(r.title, QString("ERROR: INVALID DATA!"));
        QCOMPARE(r.icon, int(Prompter::Warning));
        QCOMPARE(r.text, texts.at(i));
    }
    QCOMPARE(w->store().customSol[0], 42.0);
}

void SolveCommandTest::singularSystemIsReportedIncorrect()
{
    // Row 3 = row 1 + row 2: passes every validation check, but no pivot
    // can be found for the last column.
    auto *w = new tarvix();
    w->resizeSystem(3);
    w->on_newb_clicked();
    fill(w->store(), {1, 1, 0, 0, 1, 1, 1, 2, 1}, {1, 2, 3});
    DialogDriver driver("multib");
    w->on_solveb_clicked();
    QVERIFY(m_prompter->count() >= 1);
    const auto last = m_prompter->last();
    QCOMPARE(last.title, QString("ERROR: Solution is INCORRECT!"));
    QCOMPARE(last.text, QString("<p><b>The co-efficient Matrix could NOT be reduced to Upper Triangular Matrix!</b></p>\n"
                                "The calculated solution will be incorrect.\nPlease check the errors in equations."));
    QCOMPARE(last.icon, int(Prompter::Warning));
    for (const auto &r : m_prompter->records())
        QVERIFY(r.title != "Solving Completed!");
}

void SolveCommandTest::optimiseWindowAsksNothing()
{
    tarvix hidden(QString(), true);
    hidden.setCurrentFileName("%Optimise%");
    hidden.resizeSystem(3);
    fill(hidden.store(), kA, kB);
    DialogDriver driver("multib");
    hidden.on_solveb_clicked();
    QCOMPARE(driver.dialogs, 0);
    QCOMPARE(driver.waitBoxes, 0);
    QCOMPARE(m_prompter->count(), 0);
    QVERIFY(fuzzyEqual(hidden.store().currentSol[0], 5.0, 1e-12));
    QVERIFY(fuzzyEqual(hidden.store().currentSol[2], -2.0, 1e-12));
}

void SolveCommandTest::solverDialogButtons_data()
{
    QTest::addColumn<bool>("openCL");
    QTest::newRow("OpenCL preference off") << false;
    QTest::newRow("OpenCL preference on") << true;
}

void SolveCommandTest::solverDialogButtons()
{
    QFETCH(bool, openCL);
    UserPrefs::setOpenCLEnabled(openCL);
    const bool loads = SolverDialog::openCLLibraryLoads();
    SolverDialog d;
    QCOMPARE(d.windowTitle(), QString("Choose the Solver"));
    QCOMPARE(d.getResult(), 0);
    auto *opencl = d.findChild<QPushButton *>("openclb");
    QVERIFY(d.findChild<QPushButton *>("multib"));
    QCOMPARE(opencl->isEnabled(), openCL && loads);
    if (!loads)
        QCOMPARE(opencl->toolTip(), QString("Could not find OpenCL drivers for your PC."));
    else if (!openCL)
        QVERIFY(opencl->toolTip().startsWith("You have disabled this feature."));
    d.findChild<QPushButton *>("multib")->click();
    QCOMPARE(d.getResult(), 1);
    QCOMPARE(d.result(), int(QDialog::Accepted));
}

void SolveCommandTest::commandLineOpensAndSolves()
{
    const QString dir = m_env->root();
    EquationStore s;
    s.N = 3;
    QVERIFY(s.reallocate());
    s.clear();
    fill(s, kA, kB);
    QVERIFY(!EquationFile::save(dir + "/a.trx", s, s.fileSol).failed);
    QVERIFY(!EquationFile::save(dir + "/b.btrx", s, s.fileSol).failed);

    DialogDriver driver("multib");
    m_prompter->answerButton(Prompter::No);
    m_prompter->answerButton(Prompter::No);
    const QList<tarvix *> opened =
        CommandLine::openFromArguments({dir + "/a.trx", "solve", dir + "/b.btrx", "SOLVE"});
    QCOMPARE(opened.size(), 2);
    QCOMPARE(driver.dialogs, 2);
    for (tarvix *w : opened) {
        QCOMPARE(w->store().N, 3);
        QVERIFY(fuzzyEqual(w->store().currentSol[0], 5.0, 1e-12));
        QVERIFY(fuzzyEqual(w->store().currentSol[1], 3.0, 1e-12));
        QVERIFY(w->isVisible());
    }
    QCOMPARE(opened.at(0)->currentFileName(), dir + "/a.trx");
    QCOMPARE(opened.at(1)->windowTitle(),
             dir + "/b.btrx - [3x3] - Tarvix (" + opened.at(1)->windowName() + ")");
}

void SolveCommandTest::commandLineSkipsBadArguments()
{
    const QString dir = m_env->root();
    EquationStore s;
    s.N = 2;
    QVERIFY(s.reallocate());
    s.clear();
    QVERIFY(!EquationFile::save(dir + "/notes.trx.bak", s, s.fileSol).failed);
    DialogDriver driver("multib");
    QTest::ignoreMessage(QtWarningMsg, "error no: MAIN2 - solve. Unkown Argument!");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("error no: MAIN1 - .*missing.trx. File does not exist!"));
    QTest::ignoreMessage(QtWarningMsg, "error no: MAIN2 - a.TRX. Unkown Argument!");
    const QList<tarvix *> opened = CommandLine::openFromArguments(
        {"solve", dir + "/missing.trx", "a.TRX", dir + "/notes.trx.bak"});
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.first()->currentFileName(), dir + "/notes.trx");
    QCOMPARE(driver.dialogs, 0);
    QCOMPARE(m_prompter->count(), 1);
    QCOMPARE(m_prompter->last().title, QString("WARNING!"));
    QCOMPARE(m_prompter->last().text, dir + "/missing.trx. File does not exist!");
}

void SolveCommandTest::stealthSolve()
{
    const QString dir = m_env->root();
    EquationStore s;
    s.N = 3;
    QVERIFY(s.reallocate());
    s.clear();
    fill(s, kA, kB);
    QVERIFY(!EquationFile::save(dir + "/big.btrx", s, s.fileSol).failed);
    tarvix w;
    DialogDriver driver("multib");
    m_prompter->answerText(dir + "/big.btrx");
    w.findChild<QAction *>("actionSolve_in_Stealth_mode")->trigger();
    const auto first = m_prompter->records().first();
    QCOMPARE(first.kind, QString("open"));
    QCOMPARE(first.title, QString("Open a File"));
    QCOMPARE(first.items.first(), QString("Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"));
    QCOMPARE(driver.dialogs, 1);
    // A hidden window never says "Solving Completed!" and the shown window
    // keeps its own system.
    for (const auto &r : m_prompter->records())
        QVERIFY(r.title != "Solving Completed!");
    QCOMPARE(w.store().N, 2);
    QCOMPARE(tarvix::windows(), QList<tarvix *>{&w});
}

void SolveCommandTest::solvingWindowCannotBeClosed()
{
    tarvix *w = exampleWindow();
    QPointer<tarvix> guard(w);
    auto *other = new tarvix();
    DialogDriver driver("multib");
    bool closeRefused = false;
    // Once the wait box is up, another window tries to close everything.
    struct ShowHook : QObject
    {
        std::function<void()> onShow;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Show && o->objectName().isEmpty()
                && qobject_cast<QMessageBox *>(o)
                && static_cast<QWidget *>(o)->windowTitle() == "Solving Equations" && onShow) {
                auto f = onShow;
                onShow = nullptr;
                QTimer::singleShot(0, f);
            }
            return false;
        }
    } showHook;
    showHook.onShow = [&] {
        closeRefused = !w->close();
        other->findChild<QAction *>("actionClose_All_Except_This")->trigger();
    };
    qApp->installEventFilter(&showHook);
    m_prompter->answerButton(Prompter::No);
    w->on_solveb_clicked();
    qApp->removeEventFilter(&showHook);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closeRefused);
    QVERIFY(!guard.isNull());
    QVERIFY(tarvix::windows().contains(w));
    QVERIFY(fuzzyEqual(w->store().currentSol[1], 3.0, 1e-12));
}

QTEST_MAIN(SolveCommandTest)
#include "tst_solvecommand.moc"
