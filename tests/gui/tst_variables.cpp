// One more, one fewer and any number of variables: sizes, values, the table
// model's row and column changes, the memory question, the recorder frame
// and the fatal end of an allocation that cannot succeed.
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "recorderstub.h"
#include "scriptedprompter.h"
#include "tarvix.h"
#include "testenv.h"

#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARVIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVIX_ASAN 1
#endif
#endif

class VariablesTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void resizePaths_data();
    void resizePaths();
    void recorderFrame_data();
    void recorderFrame();
    void actionsAndButtons();
    void memoryQuestionDeclined_data();
    void memoryQuestionDeclined();
    void memoryQuestionAccepted();
    void unallocatableCountIsFatal();

private:
    void closeAll();
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedPrompter> m_prompter;
};

namespace {

// Every value of the system made non-zero and distinct.
void fill(tarvix *w)
{
    EquationStore &s = w->store();
    for (int i = 0; i < s.N; ++i) {
        for (int j = 0; j < s.N; ++j)
            s.coef[i][j] = 1 + i * s.N + j;
        s.rhs[i] = -1 - i;
        s.customSol[i] = 0.5 + i;
        s.fileSol[i] = 1.5 + i;
        s.currentSol[i] = 2.5 + i;
    }
}

bool isFilled(tarvix *w)
{
    EquationStore &s = w->store();
    for (int i = 0; i < s.N; ++i) {
        for (int j = 0; j < s.N; ++j)
            if (s.coef[i][j] != 1 + i * s.N + j)
                return false;
        if (s.rhs[i] != -1 - i || s.customSol[i] != 0.5 + i || s.fileSol[i] != 1.5 + i
            || s.currentSol[i] != 2.5 + i)
            return false;
    }
    return true;
}

bool isEmpty(tarvix *w)
{
    EquationStore &s = w->store();
    for (int i = 0; i < s.N; ++i) {
        for (int j = 0; j < s.N; ++j)
            if (s.coef[i][j] != 0.0)
                return false;
        if (s.rhs[i] != 0.0 || s.customSol[i] != 0.0 || s.fileSol[i] != 0.0 || s.currentSol[i] != 0.0)
            return false;
    }
    return true;
}

// "+c4-4" for columns 4 to 4 inserted, "-r2-3" for rows 2 to 3 removed, in
// the order the model announced them.
QStringList *watchModel(MyTableModel *m, QObject *context)
{
    auto *log = new QStringList;
    auto add = [log](const char *what) {
        return [log, what](const QModelIndex &, int first, int last) {
            *log << QString::fromLatin1(what) + QString::number(first) + QLatin1Char('-') + QString::number(last);
        };
    };
    QObject::connect(m, &QAbstractItemModel::columnsInserted, context, add("+c"));
    QObject::connect(m, &QAbstractItemModel::rowsInserted, context, add("+r"));
    QObject::connect(m, &QAbstractItemModel::rowsRemoved, context, add("-r"));
    QObject::connect(m, &QAbstractItemModel::columnsRemoved, context, add("-c"));
    QObject::connect(context, &QObject::destroyed, [log] { delete log; });
    return log;
}

QString memoryText(long long mb)
{
    return "The current no. of variables requires <b>" + QString::number(mb) + "MB</b> free memory in RAM.\n"
           "Please check if you have sufficient memory otherwise if you proceed, it will result in slow down of your PC."
           "<p>Would you still like to continue the operation? <b>This may result in a crash, so please save "
           "your session before proceeding!</b></p>";
}

}

void VariablesTest::init()
{
    m_env.reset(new TestEnv(2, false));
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(m_env->environment(), TestEnv::screen()));
    m_prompter.reset(new ScriptedPrompter);
}

void VariablesTest::closeAll()
{
    while (!tarvix::windows().isEmpty()) {
        tarvix *w = tarvix::windows().first();
        m_prompter->answerButton(Prompter::Discard);
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void VariablesTest::cleanup()
{
    closeAll();
    if (UserPrefs *p = UserPrefs::instance()) {
        UserPrefs::setInstance(nullptr);
        delete p;
    }
    m_prompter.reset();
    m_env.reset();
}

void VariablesTest::resizePaths_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("op");      // inc, dec, define, nvar
    QTest::addColumn<QVariant>("answer"); // define: the dialog's answer (null: cancelled); nvar: the count
    QTest::addColumn<int>("expectedN");
    QTest::addColumn<bool>("changed");    // values zeroed and New run
    QTest::addColumn<QStringList>("modelChanges");

    const QVariant none;
    QTest::newRow("inc 2") << 2 << "inc" << none << 3 << true << QStringList{"+c4-4", "+r2-2"};
    QTest::newRow("inc 3") << 3 << "inc" << none << 4 << true << QStringList{"+c5-5", "+r3-3"};
    QTest::newRow("dec 3") << 3 << "dec" << none << 2 << true << QStringList{"-r2-2", "-c4-4"};
    QTest::newRow("dec 5") << 5 << "dec" << none << 4 << true << QStringList{"-r4-4", "-c6-6"};
    QTest::newRow("dec at 2") << 2 << "dec" << none << 2 << false << QStringList{};
    QTest::newRow("define 2 to 5") << 2 << "define" << QVariant(5) << 5 << true << QStringList{"+c4-6", "+r2-4"};
    QTest::newRow("define 6 to 3") << 6 << "define" << QVariant(3) << 3 << true << QStringList{"-r3-5", "-c5-7"};
    QTest::newRow("define same") << 5 << "define" << QVariant(5) << 5 << false << QStringList{};
    QTest::newRow("define cancelled") << 4 << "define" << none << 4 << false << QStringList{};
    QTest::newRow("define below 2") << 4 << "define" << QVariant(1) << 4 << false << QStringList{};
    QTest::newRow("nvar 4 to 2") << 4 << "nvar" << QVariant(2) << 2 << true << QStringList{"-r2-3", "-c4-5"};
    QTest::newRow("nvar 2 to 7") << 2 << "nvar" << QVariant(7) << 7 << true << QStringList{"+c4-8", "+r2-6"};
    // The same count still runs New.
    QTest::newRow("nvar same") << 3 << "nvar" << QVariant(3) << 3 << true << QStringList{};
}

void VariablesTest::resizePaths()
{
    QFETCH(int, start);
    QFETCH(QString, op);
    QFETCH(QVariant, answer);
    QFETCH(int, expectedN);
    QFETCH(bool, changed);
    QFETCH(QStringList, modelChanges);

    auto *w = new tarvix();
    w->n_Var(start);
    QCOMPARE(w->store().N, start);
    QCOMPARE(w->store().allocated, start);
    fill(w);
    w->setCurrentFileName("/x/a.trx");
    w->updateTitle();
    MyTableModel *m = w->tableModel();
    QObject context;
    const QStringList *log = watchModel(m, &context);
    QSignalSpy reset(m, &QAbstractItemModel::dataChanged);

    if (op == "inc") {
        w->on_incvarb_clicked();
    } else if (op == "dec") {
        w->on_decvarb_clicked();
    } else if (op == "define") {
        m_prompter->answer(answer);
        w->on_actionVariables_n_triggered();
        QCOMPARE(m_prompter->count(), 1);
        const auto r = m_prompter->last();
        QCOMPARE(r.kind, QString("integer"));
        QCOMPARE(r.title, QString("Tarvix"));
        QCOMPARE(r.text, QString("Enter no of variables :"));
        QCOMPARE(r.numbers, (QList<int>{start, 2, 999999999, 1}));
    } else {
        w->n_Var(answer.toInt());
    }
    if (op != "define")
        QCOMPARE(m_prompter->count(), 0);

    QCOMPARE(w->store().N, expectedN);
    QCOMPARE(w->store().allocated, expectedN);
    QCOMPARE(m->variables(), expectedN);
    QCOMPARE(m->rowCount(), expectedN);
    QCOMPARE(m->columnCount(), expectedN + 2);
    QVERIFY(!m->isLocked());
    QCOMPARE(*log, modelChanges);
    QCOMPARE(w->findChild<QPushButton *>("decvarb")->isEnabled(), changed ? expectedN >= 3 : start >= 3);
    if (changed) {
        QVERIFY(isEmpty(w));
        QVERIFY(w->currentFileName().isEmpty());
        QCOMPARE(w->windowTitle(), "Tarvix (" + w->windowName() + ")");
        QVERIFY(w->isSaved());
        // The model shows the new arrays: the last cell reads the zero there.
        QCOMPARE(m->data(m->index(expectedN - 1, expectedN + 1)).toDouble(), 0.0);
        QVERIFY(!reset.isEmpty());
    } else {
        QVERIFY(isFilled(w));
        QCOMPARE(w->currentFileName(), QString("/x/a.trx"));
        QVERIFY(reset.isEmpty());
    }
}

void VariablesTest::recorderFrame_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("expectedN");   // from 3
    QTest::addColumn<QStringList>("recorded");

    QTest::newRow("inc recorded") << "inc" << true << false << 4 << QStringList{"INC_VAR"};
    QTest::newRow("dec recorded") << "dec" << true << false << 2 << QStringList{"DEC_VAR"};
    QTest::newRow("define recorded") << "define" << true << false << 6 << QStringList{"N_VAR"};
    QTest::newRow("inc undo off") << "inc" << false << false << 4 << QStringList{};
    QTest::newRow("dec undo off") << "dec" << false << false << 2 << QStringList{};
    QTest::newRow("define undo off") << "define" << false << false << 6 << QStringList{};
    QTest::newRow("inc busy") << "inc" << true << true << 3 << QStringList{};
    QTest::newRow("define busy") << "define" << true << true << 3 << QStringList{};
    // Without undo the busy answer does not matter.
    QTest::newRow("dec busy undo off") << "dec" << false << true << 2 << QStringList{};
}

void VariablesTest::recorderFrame()
{
    QFETCH(QString, op);
    QFETCH(bool, enabled);
    QFETCH(bool, busy);
    QFETCH(int, expectedN);
    QFETCH(QStringList, recorded);

    auto *w = new tarvix();
    w->n_Var(3);
    fill(w);
    RecorderStub rec(w, enabled, busy);
    if (op == "inc") {
        w->on_incvarb_clicked();
    } else if (op == "dec") {
        w->on_decvarb_clicked();
    } else {
        m_prompter->answer(6);
        w->on_actionVariables_n_triggered();
        // A busy recorder ignores the command before anything is asked.
        QCOMPARE(m_prompter->count(), enabled && busy ? 0 : 1);
    }
    QCOMPARE(w->store().N, expectedN);
    QCOMPARE(rec.signalsOnly(), recorded);
    // Recording ends as it was found.
    QCOMPARE(rec.enabled, enabled);
    if (expectedN == 3) {
        QVERIFY(isFilled(w));
        QVERIFY(rec.log.isEmpty());
    } else {
        // Switched off while the command works, back to its value after.
        QCOMPARE(rec.log.first(), QString("off"));
        QVERIFY(rec.log.contains(enabled ? "on" : "off"));
    }
}

void VariablesTest::actionsAndButtons()
{
    auto *w = new tarvix();
    auto *inc = w->findChild<QPushButton *>("incvarb");
    auto *dec = w->findChild<QPushButton *>("decvarb");
    auto *incAction = w->findChild<QAction *>("actionIncrease_Variables");
    auto *decAction = w->findChild<QAction *>("actionDecrease_Variables");
    auto *nAction = w->findChild<QAction *>("actionVariables_n");
    QVERIFY(inc && dec && incAction && decAction && nAction);

    QVERIFY(!dec->isEnabled());
    decAction->trigger();   // at 2 nothing happens
    QCOMPARE(w->store().N, 2);
    incAction->trigger();
    QCOMPARE(w->store().N, 3);
    QVERIFY(dec->isEnabled());
    inc->click();
    QCOMPARE(w->store().N, 4);
    fill(w);
    dec->click();
    QCOMPARE(w->store().N, 3);
    QCOMPARE(w->store().allocated, 3);
    QVERIFY(isEmpty(w));
    decAction->trigger();
    QCOMPARE(w->store().N, 2);
    QVERIFY(!dec->isEnabled());
    m_prompter->answer(9);
    nAction->trigger();
    QCOMPARE(w->store().N, 9);
    QCOMPARE(w->tableModel()->columnCount(), 11);
    QCOMPARE(m_prompter->count(), 1);
}

void VariablesTest::memoryQuestionDeclined_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("defineAnswer");
    QTest::addColumn<long long>("megabytes");

    // Increase and decrease name the count the window has when asked.
    QTest::newRow("inc 15000") << 15000 << "inc" << 0 << 3434LL;
    QTest::newRow("inc 15001") << 15001 << "inc" << 0 << 3434LL;   // 15002 would be 3435
    QTest::newRow("dec 15002") << 15002 << "dec" << 0 << 3435LL;   // 15001 would be 3434
    // Setting a count names the new one.
    QTest::newRow("define 20000") << 3 << "define" << 20000 << 6104LL;
    QTest::newRow("define 15001") << 3 << "define" << 15001 << 3434LL;
}

void VariablesTest::memoryQuestionDeclined()
{
    QFETCH(int, start);
    QFETCH(QString, op);
    QFETCH(int, defineAnswer);
    QFETCH(long long, megabytes);

    auto *w = new tarvix();
    if (start == 15000) {
        // The largest count set without a question.
        m_prompter->answer(start);
        w->on_actionVariables_n_triggered();
        QCOMPARE(m_prompter->count(), 1);
        QCOMPARE(m_prompter->last().kind, QString("integer"));
        m_prompter->clear();
    } else {
        w->n_Var(start);   // the replay asks nothing
        QCOMPARE(m_prompter->count(), 0);
    }
    QCOMPARE(w->store().N, start);
    RecorderStub rec(w);
    EquationStore &s = w->store();
    const int n = start;
    s.coef[0][0] = 1.5;
    s.coef[0][n - 1] = 2.5;
    s.coef[n - 1][0] = -3.5;
    s.coef[n - 1][n - 1] = 4.5;
    s.rhs[n - 1] = 5.5;
    s.customSol[n - 1] = 6.5;
    double **coefBefore = s.coef;

    QSignalSpy changed(w->tableModel(), &QAbstractItemModel::dataChanged);
    if (op == "define")
        m_prompter->answer(defineAnswer);
    m_prompter->answerButton(Prompter::No);
    if (op == "inc")
        w->on_incvarb_clicked();
    else if (op == "dec")
        w->on_decvarb_clicked();
    else
        w->on_actionVariables_n_triggered();

    const auto r = m_prompter->last();
    QCOMPARE(r.kind, QString("message"));
    QCOMPARE(r.title, QString("Memory Limitation Warning!"));
    QCOMPARE(r.text, memoryText(megabytes));
    QCOMPARE(r.icon, int(Prompter::Warning));
    QCOMPARE(r.buttons, int(Prompter::Yes | Prompter::No));
    QCOMPARE(m_prompter->pendingAnswers(), 0);

    // Declined: the very same arrays with the same values.
    QCOMPARE(s.N, n);
    QCOMPARE(s.allocated, n);
    QCOMPARE(s.coef, coefBefore);
    QCOMPARE(w->tableModel()->rowCount(), n);
    QCOMPARE(w->tableModel()->columnCount(), n + 2);
    QVERIFY(!w->tableModel()->isLocked());
    QCOMPARE(s.coef[0][0], 1.5);
    QCOMPARE(s.coef[0][n - 1], 2.5);
    QCOMPARE(s.coef[n - 1][0], -3.5);
    QCOMPARE(s.coef[n - 1][n - 1], 4.5);
    QCOMPARE(s.rhs[n - 1], 5.5);
    QCOMPARE(s.customSol[n - 1], 6.5);
    QVERIFY(changed.isEmpty());
    QVERIFY(rec.log.isEmpty());
}

void VariablesTest::memoryQuestionAccepted()
{
    auto *w = new tarvix();
    w->n_Var(3);
    fill(w);
    m_prompter->answer(15001);
    m_prompter->answerButton(Prompter::Yes);
    w->on_actionVariables_n_triggered();
    QCOMPARE(m_prompter->count(), 2);
    QCOMPARE(m_prompter->last().text, memoryText(3434));
    EquationStore &s = w->store();
    QCOMPARE(s.N, 15001);
    QCOMPARE(s.allocated, 15001);
    QCOMPARE(w->tableModel()->rowCount(), 15001);
    QCOMPARE(w->tableModel()->columnCount(), 15003);
    QCOMPARE(s.coef[15000][15000], 0.0);
    QCOMPARE(s.coef[2][2], 0.0);
    QCOMPARE(s.rhs[15000], 0.0);
    QVERIFY(w->findChild<QPushButton *>("decvarb")->isEnabled());
}

namespace {
int g_fatalPipe = -1;
tarvix *g_fatalWindow = nullptr;

// In the child: report the fatal record and the window's state as it is
// when the process would end, then leave.
void fatalHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtFatalMsg)
        return;
    const EquationStore &s = g_fatalWindow->store();
    const MyTableModel *m = g_fatalWindow->tableModel();
    const QString state = msg + QLatin1Char('|') + QString::number(s.N) + QLatin1Char('|')
                          + QString::number(s.allocated) + QLatin1Char('|') + QString::number(m->rowCount())
                          + QLatin1Char('|') + (m->isLocked() ? "locked" : "open") + QLatin1Char('|')
                          + QString::number(s.coef[2][2]) + QLatin1Char('|') + QString::number(s.rhs[2]);
    const QByteArray bytes = state.toUtf8();
    if (write(g_fatalPipe, bytes.constData(), size_t(bytes.size())) < 0)
        _exit(2);
    _exit(42);
}

qint64 addressSpaceInUse()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}
}

void VariablesTest::unallocatableCountIsFatal()
{
#ifdef TARVIX_ASAN
    QSKIP("The address sanitizer reserves the address space the limit below would need.");
#else
    auto *w = new tarvix();
    w->n_Var(3);
    fill(w);
    const qint64 inUse = addressSpaceInUse();
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
    QByteArray got;
    char buf[512];
    ssize_t k;
    while ((k = read(fds[0], buf, sizeof buf)) > 0)
        got.append(buf, int(k));
    close(fds[0]);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 42);
    // The record names the count; the window still held its whole 3 x 3
    // system with its values when the process ended.
    QCOMPARE(QString::fromUtf8(got), QString("error no: TRX9 - 200000\t0|3|3|3|open|9|-3"));
    QCOMPARE(w->store().N, 3);
#endif
}

QTEST_MAIN(VariablesTest)
#include "tst_variables.moc"
