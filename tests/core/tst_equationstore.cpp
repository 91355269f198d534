#include "scriptedprompter.h"
#include "session/sessionmanager.h"
#include "store/equationstore.h"
#include "testenv.h"

#include <QtTest>

#include <limits>

class TestEquationStore : public QObject
{
    Q_OBJECT
private slots:
    void memoryQuestion()
    {
        // shown: the count the question names (-1: count itself); go: the
        // operation may go ahead.
        const struct { int count, shown, answer; bool asked, go; const char *megabytes; } cases[] = {
            {15000, -1, Prompter::No, false, true, ""},
            {15001, -1, Prompter::No, true, false, "3434"},
            {15001, -1, Prompter::Yes, true, true, "3434"},
            {15002, 15001, Prompter::No, true, false, "3434"},      // increase names the old count
            {15001, 15002, Prompter::No, true, false, "3435"},      // decrease too
            {999999999, -1, Prompter::No, true, false, "15258789093017"}, // 64-bit product
            {16000, -1, Prompter::NoButton, true, false, "3907"},   // closing the box declines
        };
        TestEnv env;
        for (const auto &c : cases) {
            ScriptedPrompter prompter;
            prompter.answerButton(c.answer);
            QCOMPARE(EquationStore::memoryCheck(c.count, c.shown), c.go);
            QCOMPARE(prompter.count(), c.asked ? 1 : 0);
            if (!c.asked)
                continue;
            const auto r = prompter.last();
            QCOMPARE(r.title, QStringLiteral("Memory Limitation Warning!"));
            QCOMPARE(r.icon, int(Prompter::Warning));
            QCOMPARE(r.buttons, int(Prompter::Yes | Prompter::No));
            QCOMPARE(r.text, QStringLiteral("The current no. of variables requires <b>") + QLatin1String(c.megabytes)
                                 + QStringLiteral("MB</b> free memory in RAM.\nPlease check if you have sufficient memory otherwise if you proceed, it will result in slow down of your PC.<p>Would you still like to continue the operation? <b>This may result in a crash, so please save your session before proceeding!</b></p>"));
        }
    }

    void acceptedQuestionSavesTheSessionOnce()
    {
        TestEnv env;
        SessionManager sessions;
        ScriptedPrompter prompter;
        prompter.answerButton(Prompter::Yes);
        prompter.answerCancel();                  // no name for the unsaved session
        QVERIFY(EquationStore::memoryCheck(15001));
        const auto r = prompter.records();
        QCOMPARE(r.size(), 3);                    // the question, the name, "Session not saved!" - once
        QCOMPARE(r[1].title, QStringLiteral("Session Name"));
        QCOMPARE(r[2].title, QStringLiteral("Session not saved!"));
        QVERIFY(SessionManager::currentSessionName().startsWith(QStringLiteral("Unsaved ")));
    }

    void reallocateZeroesFileSolutionAndClearZeroesAll()
    {
        EquationStore s;
        s.N = 3;
        QVERIFY(s.reallocate());
        QCOMPARE(s.allocated, 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(s.fileSol[i], 0.0);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                s.coef[i][j] = i + j + 1;
            s.rhs[i] = s.customSol[i] = s.fileSol[i] = s.currentSol[i] = 7;
        }
        s.N = 5;                                  // grow: nothing survives
        QVERIFY(s.reallocate());
        s.clear();
        for (int i = 0; i < 5; ++i) {
            for (int j = 0; j < 5; ++j)
                QCOMPARE(s.coef[i][j], 0.0);
            QCOMPARE(s.rhs[i] + s.customSol[i] + s.fileSol[i] + s.currentSol[i], 0.0);
        }
        s.N = 0;
        s.release();
        QVERIFY(!s.coef && !s.rhs && !s.customSol && !s.fileSol && !s.currentSol);
        s.release();                              // twice is harmless
    }

    void incorrectCount()
    {
        // a: row-major 3x3. A residual of 1e-15 counts as zero, 2e-15 does not.
        const QVector<double> ex{1, 1, 1, 0, 2, 5, 2, 5, -1}, unit{1, 0, 0, 0, 1, 0, 0, 0, 1}, zero(3, 0.0);
        const struct { QVector<double> a, b, x; int bad; } cases[] = {
            {ex, {6, -4, 27}, {5, 3, -2}, 0}, {QVector<double>(9, 0.0), zero, zero, 0}, {ex, {6, -4, 28}, {5, 3, -2}, 1},
            {unit, {1e-15, 0, 0}, zero, 0}, {unit, {2e-15, 0, 0}, zero, 1},
            {ex, {6, -4, 27}, {std::numeric_limits<double>::quiet_NaN(), 3, -2}, 3}};
        for (const auto &[a, b, x, bad] : cases) {
            EquationStore s;
            s.N = 3;
            QVERIFY(s.reallocate());
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j)
                    s.coef[i][j] = a[3 * i + j];
                s.rhs[i] = b[i];
                s.customSol[i] = x[i];
            }
            QCOMPARE(s.incorrectCount(), bad);
        }
    }
};

QTEST_GUILESS_MAIN(TestEquationStore)
#include "tst_equationstore.moc"
