// One more, one fewer and any number of variables: sizes, values, the table
// model's row and column changes, the memory question, the recorder frame
// and the fatal end of an allocation that cannot succeed.
#include "guitestutil.h"
#include "testutil.h"

#include <QSignalSpy>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Every value of the system made non-zero and distinct (filled), or checks
// that every value is like that (filled) or zero.
bool values(tarvix *w, bool filled, bool write = false)
{
    EquationStore &s = w->store();
    double *vectors[4] = {s.rhs, s.customSol, s.fileSol, s.currentSol};
    for (int i = 0; i < s.N; ++i) {
        for (int j = 0; j <= s.N + 3; ++j) {
            double &v = j < s.N ? s.coef[i][j] : vectors[j - s.N][i];
            const double want = filled ? 1 + i * (s.N + 4) + j : 0.0;
            if (write)
                v = want;
            else if (v != want)
                return false;
        }
    }
    return true;
}

// "+c4-4" for columns 4 to 4 inserted, "-r2-3" for rows 2 to 3 removed, in
// the order the model announced them.
void watchModel(MyTableModel *m, QObject *context, QStringList *log)
{
    auto add = [m, context, log](auto signal, const char *what) {
        QObject::connect(m, signal, context, [log, what](const QModelIndex &, int first, int last) {
            *log << QString("%1%2-%3").arg(what).arg(first).arg(last);
        });
    };
    add(&QAbstractItemModel::columnsInserted, "+c");
    add(&QAbstractItemModel::rowsInserted, "+r");
    add(&QAbstractItemModel::rowsRemoved, "-r");
    add(&QAbstractItemModel::columnsRemoved, "-c");
}

int g_fatalPipe = -1;
tarvix *g_fatalWindow = nullptr;

// In the child: report the fatal record and the window's state as it is
// when the process would end, then leave.
[[maybe_unused]] void fatalHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtFatalMsg)
        return;
    const EquationStore &s = g_fatalWindow->store();
    const MyTableModel *m = g_fatalWindow->tableModel();
    const QByteArray state = QString("%1|%2|%3|%4|%5|%6|%7").arg(msg).arg(s.N).arg(s.allocated).arg(m->rowCount())
                                 .arg(m->isLocked() ? "locked" : "open").arg(s.coef[2][2]).arg(s.rhs[2]).toUtf8();
    if (write(g_fatalPipe, state.constData(), size_t(state.size())) < 0)
        _exit(2);
    _exit(42);
}

}

class VariablesTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }

    void resizePaths()
    {
        // op: an action, or "nvar" (the history replay); answer: the count asked for (0: dialog cancelled).
        const char *inc = "actionIncrease_Variables", *dec = "actionDecrease_Variables", *define = "actionVariables_n";
        const struct { int start; const char *op; int answer, expectedN; QStringList modelChanges; } cases[] = {
            {2, inc, 0, 3, {"+c4-4", "+r2-2"}}, {3, dec, 0, 2, {"-r2-2", "-c4-4"}}, {2, dec, 0, 2, {}},
            {2, define, 5, 5, {"+c4-6", "+r2-4"}}, {6, define, 3, 3, {"-r3-5", "-c5-7"}}, {5, define, 5, 5, {}},
            {4, define, 0, 4, {}}, {4, define, 1, 4, {}}, {4, "nvar", 2, 2, {"-r2-3", "-c4-5"}},
            // The same count still runs New.
            {3, "nvar", 3, 3, {}}};
        for (const auto &[start, opName, answer, expectedN, modelChanges] : cases) {
            fx->prompter.clear();
            const QString op = opName;
            const bool changed = expectedN != start || op == "nvar";

            auto *w = new tarvix();
            w->n_Var(start);
            values(w, true, true);
            w->setCurrentFileName("/x/a.trx");
            MyTableModel *m = w->tableModel();
            QStringList log;
            QObject context;   // disconnects before log goes
            watchModel(m, &context, &log);
            QSignalSpy reset(m, &QAbstractItemModel::dataChanged);
            if (op == "nvar") {
                w->n_Var(answer);
            } else {
                fx->prompter.answer(answer ? QVariant(answer) : QVariant());
                trigger(w, opName);
            }
            QCOMPARE(fx->prompter.count(), op.endsWith("_n") ? 1 : 0);
            if (op.endsWith("_n")) {
                QCOMPARE(fx->prompter.last().all(), QString("integer|Tarvix|Enter no of variables :|0|0|"));
                QCOMPARE(fx->prompter.last().numbers, (QList<int>{start, 2, 999999999, 1}));
            }
            QCOMPARE(QList<int>({w->store().N, w->store().allocated, m->rowCount(), m->columnCount()}),
                     QList<int>({expectedN, expectedN, expectedN, expectedN + 2}));
            QVERIFY(!m->isLocked());
            QCOMPARE(log, modelChanges);
            QCOMPARE(button(w, "decvarb")->isEnabled(), expectedN >= 3);
            QVERIFY(values(w, !changed));
            QCOMPARE(reset.isEmpty(), !changed);
            QCOMPARE(w->currentFileName().isEmpty(), changed);
            if (changed) {
                QCOMPARE(w->windowTitle(), "Tarvix (" + w->windowName() + ")");
                QVERIFY(w->isSaved());
                // The model shows the new arrays: the last cell reads the zero there.
                QCOMPARE(m->data(m->index(expectedN - 1, expectedN + 1)).toDouble(), 0.0);
            }
        }
    }

    void recorderFrame()
    {
        // expectedN: from 3. Without undo the busy answer does not matter.
        const struct { const char *op; bool enabled, busy; int expectedN; QStringList recorded; } cases[] = {
            {"incvarb", true, false, 4, {"INC_VAR"}}, {"decvarb", true, false, 2, {"DEC_VAR"}},
            {"define", true, false, 6, {"N_VAR"}}, {"incvarb", false, false, 4, {}}, {"define", false, false, 6, {}},
            {"incvarb", true, true, 3, {}}, {"define", true, true, 3, {}}, {"decvarb", false, true, 2, {}}};
        for (const auto &[op, enabled, busy, expectedN, recorded] : cases) {
            fx->prompter.clear();
            auto *w = new tarvix();
            w->n_Var(3);
            values(w, true, true);
            RecorderStub rec(w, enabled, busy);
            if (op == std::string("define")) {
                fx->prompter.answer(6);
                trigger(w, "actionVariables_n");
                // A busy recorder ignores the command before anything is asked.
                QCOMPARE(fx->prompter.count(), enabled && busy ? 0 : 1);
            } else {
                button(w, op)->click();
            }
            QCOMPARE(w->store().N, expectedN);
            QCOMPARE(rec.signalsOnly(), recorded);
            // Recording ends as it was found.
            QCOMPARE(rec.enabled, enabled);
            if (expectedN == 3) {
                QVERIFY(values(w, true) && rec.log.isEmpty());
            } else {
                // Switched off while the command works, back to its value after.
                QCOMPARE(rec.log.first(), QString("off"));
                QVERIFY(rec.log.contains(enabled ? "on" : "off"));
            }
        }
    }

    // Counts up to 15000 are set without a question. Increase and decrease name
    // the count the window has when asked, Define the new one. Every big system
    // costs seconds, so the boundaries are walked once in one window.
    void memoryQuestion()
    {
        auto *w = new tarvix();
        w->n_Var(3);
        values(w, true, true);
        ScriptedPrompter &p = fx->prompter;
        auto ask = [&](const char *op, int count, int reply) {
            p.clear();
            if (count)
                p.answer(count);
            p.answerButton(reply);
            if (count)
                trigger(w, "actionVariables_n");
            else
                button(w, op)->click();
            return p.last();
        };
        // The whole question is compared with the store's; here only the size it names.
        QVERIFY(ask(nullptr, 20000, Prompter::No).text.contains("<b>6104MB</b>"));
        QVERIFY(values(w, true));

        p.clear();
        p.answer(15000);
        trigger(w, "actionVariables_n");
        QCOMPARE(p.count(), 1);
        EquationStore &s = w->store();
        QCOMPARE(s.N, 15000);
        const int n = s.N;
        double *corners[] = {&s.coef[0][0], &s.coef[0][n - 1], &s.coef[n - 1][0], &s.coef[n - 1][n - 1],
                             &s.rhs[n - 1], &s.customSol[n - 1]};
        for (int i = 0; i < 6; ++i)
            *corners[i] = 1.5 + i;
        double **coefBefore = s.coef;
        RecorderStub rec(w);
        QSignalSpy changed(w->tableModel(), &QAbstractItemModel::dataChanged);
        QVERIFY(ask("incvarb", 0, Prompter::No).text.contains("3434MB"));
        // Declined: the very same arrays with the same values.
        QCOMPARE(QList<int>({s.N, s.allocated, w->tableModel()->rowCount()}), QList<int>({n, n, n}));
        QCOMPARE(s.coef, coefBefore);
        QVERIFY(!w->tableModel()->isLocked());
        for (int i = 0; i < 6; ++i)
            QCOMPARE(*corners[i], 1.5 + i);
        QVERIFY(changed.isEmpty() && rec.log.isEmpty());

        // Accepted: an empty system of the new size.
        w->n_Var(3);
        values(w, true, true);
        QVERIFY(ask(nullptr, 15002, Prompter::Yes).text.contains("3435MB"));
        QCOMPARE(QList<int>({s.N, s.allocated, w->tableModel()->rowCount(), w->tableModel()->columnCount()}),
                 QList<int>({15002, 15002, 15002, 15004}));
        QCOMPARE(QList<double>({s.coef[15001][15001], s.coef[2][2], s.rhs[15001]}), QList<double>({0, 0, 0}));
        QVERIFY(button(w, "decvarb")->isEnabled());
        // 15001 would be 3434.
        QVERIFY(ask("decvarb", 0, Prompter::No).text.contains("3435MB"));
        QCOMPARE(s.N, 15002);
    }

    void unallocatableCountIsFatal()
    {
#ifdef TARVIX_ASAN
        QSKIP("The address sanitizer reserves the address space the limit below would need.");
#else
        auto *w = new tarvix();
        w->n_Var(3);
        fillStore(w->store(), {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, -3});
        const qint64 inUse = qint64(mappedKiB()) * 1024;
        QVERIFY(inUse > 0);
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            close(fds[0]);
            g_fatalPipe = fds[1];
            g_fatalWindow = w;
            qInstallMessageHandler(fatalHandler);
            // 200000 rows of 1.6 MB cannot fit 256 MB more address space.
            rlimit lim;
            lim.rlim_cur = lim.rlim_max = rlim_t(inUse + 256LL * 1024 * 1024);
            if (setrlimit(RLIMIT_AS, &lim) != 0)
                _exit(3);
            w->n_Var(200000);
            _exit(4);
        }
        close(fds[1]);
        QFile pipeEnd;
        QVERIFY(pipeEnd.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QByteArray got = pipeEnd.readAll();
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 42);
        // The record names the count; the window still held its whole 3 x 3
        // system with its values when the process ended.
        QCOMPARE(QString::fromUtf8(got), QString("error no: TRX9 - 200000\t0|3|3|3|open|9|-3"));
#endif
    }
};

QTEST_MAIN(VariablesTest)
#include "tst_variables.moc"
