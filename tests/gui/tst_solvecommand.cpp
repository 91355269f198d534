// The Solve command: dialogs, validation refusals, outcome messages,
// hidden windows and the command line's "solve".
#include "analysis/analysedialog.h"
#include "commandline.h"
#include "guitestutil.h"

#include <QMessageBox>
#include <QStatusBar>

namespace {
// Presses a button of every solver dialog that comes up ("escape" rejects
// it) and counts the dialogs and the analyses seen.
class DialogDriver : public QObject
{
public:
    explicit DialogDriver(const char *button = "multib")
        : m_poller([this, button](QWidget *w) {
              if (auto *a = qobject_cast<AnalyseDialog *>(w)) {
                  ++analyses;
                  a->close();
              } else if (auto *d = qobject_cast<SolverDialog *>(w)) {
                  ++dialogs;
                  if (onDialog)
                      onDialog();
                  if (QByteArray(button) == "escape")
                      d->reject();
                  else
                      d->findChild<QPushButton *>(button)->click();
              }
          })
    {
    }
    int dialogs = 0;
    int analyses = 0;   // analysis dialogs shown (and closed at once)
    std::function<void()> onDialog; // runs as a solver dialog comes up

private:
    WidgetPoller m_poller;
};

// A 3x3 store's system and its three solutions.
std::vector<double> values(const EquationStore &s)
{
    std::vector<double> v;
    for (const double *a : {s.coef[0], s.coef[1], s.coef[2], s.rhs, s.fileSol, s.customSol, s.currentSol})
        v.insert(v.end(), a, a + 3);
    return v;
}
}

class SolveCommandTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }

    void solvesTheExample()
    {
        // Escape still solves, on the processor; Yes opens the analysis.
        const std::pair<const char *, int> cases[] = {
            {"multib", Prompter::No}, {"multib", Prompter::Yes}, {"escape", Prompter::No}};
        // A caller's wait box (the benchmark's) steps aside while the solver
        // is chosen, and comes back after.
        QMessageBox wait(QMessageBox::Information, "Benchmarking Tarvix",
                         "Please wait while Tarvix is performing the Benchmark.\n", QMessageBox::NoButton);
        wait.setStandardButtons(QMessageBox::NoButton);
        wait.show();
        for (const auto &[button, answer] : cases) {
            fx->prompter.clear();
            tarvix *w = systemWindow(kExampleA, kExampleB);
            DialogDriver driver(button);
            driver.onDialog = [&] { QVERIFY(!wait.isVisible()); };
            fx->prompter.answerButton(answer);
            ::button(w, "solveb")->click();
            const EquationStore &s = w->store();
            QVERIFY(solvesToExample(s.customSol) && std::equal(s.customSol, s.customSol + 3, s.currentSol));
            // The system itself is not touched by the solve.
            QCOMPARE(s.coef[2][1], 5.0);
            QCOMPARE(s.rhs[1], -4.0);
            // Solver dialogs, progress boxes, analyses.
            QCOMPARE(QList<int>({driver.dialogs, fx->prompter.count("Solving Equations"), driver.analyses}),
                     QList<int>({1, 1, answer == Prompter::Yes ? 1 : 0}));
            QCOMPARE(fx->prompter.count(), 2);
            QVERIFY(wait.isVisible());
            QCOMPARE(fx->prompter.last().title, QString("Solving Completed!"));
            QCOMPARE(fx->prompter.last().buttons, int(Prompter::Yes | Prompter::No));
        }
    }

    // One warning box per failed check or solver complaint, in order; the
    // texts of the checks and the solver are the core tests' business.
    void refused()
    {
        const QString invalid = "ERROR: INVALID DATA!";
        const struct { QVector<double> a, b; QStringList titles; } cases[] = {
            {{1, 2, 3, 4}, {0, 1e-16}, {invalid}},   // right-hand side zero
            {{1, 2, 3, 0, 0, 0, 0, 0, 0}, {1, 2, 3}, {invalid, invalid}},   // zero rows, duplicates
            // Row 3 = row 1 + row 2 passes every check, but the last column has no pivot.
            {{1, 1, 0, 0, 1, 1, 1, 2, 1}, {1, 2, 3}, {"ERROR: Could not solve the equations!", "ERROR: Solution is INCORRECT!"}}};
        for (const auto &[a, b, titles] : cases) {
            fx->prompter.clear();
            auto *w = systemWindow(a, b);
            w->store().customSol[0] = 42;
            DialogDriver driver;
            w->on_solveb_clicked();
            const bool solved = titles.last().contains("INCORRECT");
            QCOMPARE(driver.dialogs, solved ? 1 : 0);
            QStringList seen;
            for (const auto &r : fx->prompter.records()) {
                if (r.kind == "progress")
                    continue;
                seen << r.title;
                QCOMPARE(r.icon, int(Prompter::Warning));
            }
            QCOMPARE(seen, titles);
            if (!solved)
                QCOMPARE(w->store().customSol[0], 42.0);
            else
                QVERIFY(fx->prompt(titles.last()).text.contains("<p>Reason: the equations are singular or nearly singular"));
        }
    }

    void solverDialogButtons()
    {
        for (bool openCL : {false, true}) {
            UserPrefs::setOpenCLEnabled(openCL);
            const QString missing = SolverDialog::openCLUnavailable();
            SolverDialog d;
            auto *opencl = d.findChild<QPushButton *>("openclb");
            QCOMPARE(opencl->isEnabled(), openCL && missing.isEmpty());
            // Off, it says why: what keeps OpenCL from running, or that it is switched off.
            if (!opencl->isEnabled())
                QVERIFY(!opencl->toolTip().isEmpty() && (!openCL || opencl->toolTip() == missing));
            d.findChild<QPushButton *>("multib")->click();
            QCOMPARE(d.getResult(), 1);
        }
    }

    // Files open in order and "solve", in any case, solves the file before it;
    // other words and missing files are skipped with a warning.
    void commandLine()
    {
        const QString dir = fx->env.root();
        QVERIFY(writeSystem(dir + "/a.trx", 3, kExampleA, kExampleB) && writeSystem(dir + "/b.btrx", 3, kExampleA, kExampleB)
                && writeSystem(dir + "/notes.trx.bak", 2));
        DialogDriver driver;
        for (int answer : {Prompter::Ok, Prompter::No, Prompter::No})
            fx->prompter.answerButton(answer);
        QTest::ignoreMessage(QtWarningMsg, "error no: MAIN2 - solve. Unkown Argument!");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("error no: MAIN1 - .*missing.trx. File does not exist!"));
        QTest::ignoreMessage(QtWarningMsg, "error no: MAIN2 - a.TRX. Unkown Argument!");
        const QList<tarvix *> opened = CommandLine::openFromArguments({"solve", dir + "/missing.trx", "a.TRX",
            dir + "/notes.trx.bak", dir + "/a.trx", "solve", dir + "/b.btrx", "SOLVE"});
        QCOMPARE(opened.size(), 3);
        QCOMPARE(driver.dialogs, 2);
        QCOMPARE(opened.at(0)->currentFileName(), dir + "/notes.trx");
        QCOMPARE(opened.at(1)->currentFileName(), dir + "/a.trx");
        QCOMPARE(opened.at(2)->windowTitle(), dir + "/b.btrx - [3x3] - Tarvix (" + opened.at(2)->windowName() + ")");
        for (tarvix *w : opened.mid(1))
            QVERIFY(solvesToExample(w->store().currentSol) && w->isVisible());
        QCOMPARE(fx->prompter.count("WARNING!"), 1);
        QCOMPARE(fx->prompt("WARNING!").text, dir + "/missing.trx. File does not exist!");
    }

    // A solve that changes the solution Save writes marks the window
    // modified; saved and reopened, the file holds that solution. A solve
    // cancelled before its first block leaves the system, every solution and
    // the saved flag as they were, and asks nothing.
    void solveCancelAndSave_data()
    {
        QTest::addColumn<int>("savedSet");
        QTest::addColumn<bool>("modified");
        QTest::newRow("current") << 0 << true;
        QTest::newRow("custom") << 1 << true;
        QTest::newRow("from file") << 2 << false;
    }

    void solveCancelAndSave()
    {
        QFETCH(int, savedSet);
        QFETCH(bool, modified);
        UserPrefs::setSavedSolutionSet(savedSet);
        const QString path = fx->env.root() + "/eq.trx";
        QVERIFY(writeSystem(path, 3, kExampleA, kExampleB));
        auto *w = new tarvix(path);
        QVERIFY(w->isSaved());
        DialogDriver driver;
        fx->prompter.answerButton(Prompter::No);
        button(w, "solveb")->click();
        QCOMPARE(w->isSaved(), !modified);
        w->on_saveb_clicked();
        QVERIFY(w->isSaved());

        const std::vector<double> before = values(w->store());
        fx->prompter.clear();
        fx->prompter.cancelProgressAt(0);
        button(w, "solveb")->click();
        fx->prompter.cancelProgressAt(-1);
        QVERIFY(values(w->store()) == before && w->isSaved());
        QCOMPARE(fx->prompter.count(), 1);   // the progress box; no outcome
        QCOMPARE(w->statusBar()->currentMessage(), QString("Solving cancelled."));

        // The same solution again changes nothing Save would write.
        fx->prompter.answerButton(Prompter::No);
        button(w, "solveb")->click();
        QVERIFY(w->isSaved());
        auto *reopened = new tarvix(path);
        QCOMPARE(solvesToExample(reopened->store().fileSol), modified);
    }

    void stealthSolve()
    {
        QVERIFY(writeSystem(fx->env.root() + "/big.btrx", 3, kExampleA, kExampleB));
        tarvix w;
        DialogDriver driver;
        fx->prompter.answerText(fx->env.root() + "/big.btrx");
        trigger(&w, "actionSolve_in_Stealth_mode");
        QCOMPARE(fx->prompter.records().first().kind, QString("open"));
        QCOMPARE(driver.dialogs, 1);
        // A hidden window never says "Solving Completed!"; the shown window
        // keeps its own system.
        QVERIFY(fx->prompt("Solving Completed!").kind.isEmpty());
        QCOMPARE(driver.analyses, 1);
        QCOMPARE(w.store().N, 2);
        QCOMPARE(tarvix::windows(), QList<tarvix *>{&w});
    }

    void solvingWindowCannotBeClosed()
    {
        tarvix *w = systemWindow(kExampleA, kExampleB);
        QPointer<tarvix> guard(w);
        auto *other = new tarvix();
        DialogDriver driver;
        bool closeRefused = false;
        // Once the wait box is up, another window tries to close everything.
        fx->prompter.onProgress = [&] {
            closeRefused = !w->close();
            trigger(other, "actionClose_All_Except_This");
        };
        fx->prompter.answerButton(Prompter::No);
        w->on_solveb_clicked();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(closeRefused && !guard.isNull() && tarvix::windows().contains(w));
        QVERIFY(fuzzyEqual(w->store().currentSol[1], 3.0, 1e-12));
    }
};

QTEST_MAIN(SolveCommandTest)
#include "tst_solvecommand.moc"
