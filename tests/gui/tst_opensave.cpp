// Open, Save, Save As, the ".old" copy, failed writes, corrupt files and
// drag and drop.
#include "files/equationfile.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "scriptedprompter.h"
#include "tarvix.h"
#include "testenv.h"

#include <QAction>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

// Values that do not survive a sloppy conversion.
const double kValues[16] = {1.0 / 3.0, -2.5e-300, 7, 123456.789012345, 0.1, 1e300, -4,
                            2.0 / 7.0, 5, 6, -1e-5, 8, 9.75, -0.5, 3, 11};

void fillWindow(tarvix *w, int n)
{
    w->resizeSystem(n);
    w->on_newb_clicked();
    EquationStore &s = w->store();
    unsigned seed = 12345;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            // Awkward values for small systems, a random dominant matrix for
            // larger ones (a repeating pattern would make rows proportional).
            seed = seed * 214013u + 2531011u;
            const double r = double((seed >> 16) & 0x7fff) / 32767.0 - 0.5;
            s.coef[i][j] = (i == j ? 10.0 : 0.0) + (n <= 4 ? kValues[(i * n + j) % 16] : r);
        }
        s.rhs[i] = kValues[(i + 5) % 16];
        s.fileSol[i] = i + 0.5;
    }
    w->tableModel()->refreshAll();
}

bool sameSystem(const EquationStore &a, const EquationStore &b, double tol)
{
    if (a.N != b.N)
        return false;
    for (int i = 0; i < a.N; ++i) {
        for (int j = 0; j < a.N; ++j)
            if (!(tol == 0 ? a.coef[i][j] == b.coef[i][j] : fuzzyEqual(a.coef[i][j], b.coef[i][j], tol)))
                return false;
        if (!(tol == 0 ? a.rhs[i] == b.rhs[i] : fuzzyEqual(a.rhs[i], b.rhs[i], tol)))
            return false;
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList partFiles(const QString &dir)
{
    return QDir(dir).entryList({"*.part"}, QDir::Files | QDir::Hidden);
}

}

class OpenSaveTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void openDialogAndBaseName();
    void secondSaveKeepsOldCopy();
    void failedWriteKeepsPreviousFile();
    void unwritableFolder();
    void corruptFilesLeaveTheWindow_data();
    void corruptFilesLeaveTheWindow();
    void vanishedFile();
    void invalidSystemQuestion();
    void saveAsNeedsAnExtension();
    void closeWithSave();
    void dropTwoFiles();

private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    QString m_dir;
};

void OpenSaveTest::init()
{
    m_env.reset(new TestEnv(2, false));
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(m_env->environment(), TestEnv::screen()));
    m_prompter.reset(new ScriptedPrompter);
    m_dir = m_env->root() + "/files";
    QVERIFY(QDir().mkpath(m_dir));
}

void OpenSaveTest::cleanup()
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

void OpenSaveTest::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("n");
    QTest::newRow("text") << "sys.trx" << "sys.trx" << 4;
    QTest::newRow("binary") << "sys.btrx" << "sys.btrx" << 5;
    QTest::newRow("text, threaded size") << "big.v2.trx" << "big.trx" << 60;
    QTest::newRow("binary anywhere in name") << "m.btrx.keep" << "m.btrx" << 3;
}

void OpenSaveTest::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(int, n);
    auto *w = new tarvix();
    fillWindow(w, n);
    QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 0), "2.5"));
    QVERIFY(!w->isSaved());
    m_prompter->answerText(m_dir + "/" + name);
    w->findChild<QAction *>("actionSave_As")->trigger();
    const auto dialog = m_prompter->records().first();
    QVERIFY2(dialog.kind == "save", qPrintable(dialog.title + ": " + dialog.text));
    QCOMPARE(dialog.title, QString("Save File As"));
    QCOMPARE(dialog.items.first(), QString("Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"));
    QCOMPARE(m_prompter->count(), 1);   // a valid system is not questioned
    const QString path = m_dir + "/" + stored;
    QCOMPARE(w->currentFileName(), path);
    QVERIFY(w->isSaved());
    QVERIFY(QFile::exists(path));
    QVERIFY(partFiles(m_dir).isEmpty());
    QCOMPARE(w->lastDirectory(), m_dir);

    auto *other = new tarvix();
    QCOMPARE(other->store().N, 2);
    bool failed = true;
    other->openFile(path, false, &failed);
    other->updateTitle();
    QVERIFY(!failed);
    const bool binary = stored.endsWith(".btrx");
    QVERIFY(sameSystem(w->store(), other->store(), binary ? 0.0 : 1e-14));
    QCOMPARE(other->tableModel()->rowCount(), n);
    QCOMPARE(other->tableModel()->columnCount(), n + 2);
    QCOMPARE(other->tableModel()->data(other->tableModel()->index(0, 0)).toDouble(), 2.5);
    QCOMPARE(other->windowTitle(), QString("%1 - [%2x%2] - Tarvix (%3)").arg(path).arg(n).arg(other->windowName()));
    QVERIFY(other->isSaved());
    // The solution section comes back as the solution from file.
    for (int i = 0; i < n; ++i)
        QCOMPARE(other->store().fileSol[i], i + 0.5);
    QCOMPARE(other->findChild<QPushButton *>("decvarb")->isEnabled(), n >= 3);
}

void OpenSaveTest::openDialogAndBaseName()
{
    EquationStore s;
    s.N = 3;
    QVERIFY(s.reallocate());
    s.clear();
    s.coef[0][0] = s.coef[1][1] = s.coef[2][2] = 1;
    s.rhs[0] = 1;
    QVERIFY(!EquationFile::save(m_dir + "/results.final.trx", s, s.fileSol).failed);
    auto *w = new tarvix();
    m_prompter->answerText(m_dir + "/results.final.trx");
    w->findChild<QPushButton *>("openb")->click();
    const auto r = m_prompter->records().first();
    QCOMPARE(r.kind, QString("open"));
    QCOMPARE(r.title, QString("Open a File"));
    QCOMPARE(w->currentFileName(), m_dir + "/results.trx");
    QCOMPARE(w->store().N, 3);
    QCOMPARE(w->windowTitle(), m_dir + "/results.trx - [3x3] - Tarvix (" + w->windowName() + ")");
}

void OpenSaveTest::secondSaveKeepsOldCopy()
{
    auto *w = new tarvix();
    fillWindow(w, 3);
    m_prompter->answerText(m_dir + "/keep.trx");
    w->on_actionSave_As_triggered(false);
    const QByteArray first = readAll(m_dir + "/keep.trx");
    QVERIFY(!first.isEmpty());
    QVERIFY(!QFile::exists(m_dir + "/keep.trx.old"));

    QVERIFY(w->tableModel()->setData(w->tableModel()->index(2, 4), "99"));
    w->on_saveb_clicked();
    QCOMPARE(readAll(m_dir + "/keep.trx.old"), first);
    const QByteArray second = readAll(m_dir + "/keep.trx");
    QVERIFY(second != first);
    QVERIFY(second.contains("\t99\n"));
    QVERIFY(partFiles(m_dir).isEmpty());

    w->on_saveb_clicked();
    QCOMPARE(readAll(m_dir + "/keep.trx.old"), second);
}

void OpenSaveTest::failedWriteKeepsPreviousFile()
{
    auto *w = new tarvix();
    fillWindow(w, 60);
    m_prompter->answerText(m_dir + "/full.btrx");
    w->on_actionSave_As_triggered(false);
    const QByteArray before = readAll(m_dir + "/full.btrx");
    QVERIFY(before.size() > 20000);

    // A disk that fills up: writes beyond 4 KiB fail with EFBIG.
    QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 0), "-1"));
    m_prompter->clear();
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QTest::ignoreMessage(QtCriticalMsg, "error no: TRX5");
    w->on_saveb_clicked();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    QCoreApplication::processEvents();

    QCOMPARE(readAll(m_dir + "/full.btrx"), before);
    QVERIFY(partFiles(m_dir).isEmpty());
    QVERIFY(!w->isSaved());
    bool found = false;
    for (const auto &r : m_prompter->records()) {
        if (r.title == "ERROR: Could not save the file!\n") {
            found = true;
            QCOMPARE(r.text, QString("Could not add any data to the newly created File, hence deleting the File."
                                     "\nRestoring previously saved File."));
            QCOMPARE(r.icon, int(Prompter::Warning));
        }
    }
    QVERIFY(found);
    QCOMPARE(w->store().coef[0][0], -1.0);
}

void OpenSaveTest::unwritableFolder()
{
    // A "folder" that is a plain file cannot take a new file, even for root.
    QFile blocker(m_dir + "/notadir");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto *w = new tarvix();
    fillWindow(w, 2);
    m_prompter->answerText(m_dir + "/notadir/x.trx");
    QTest::ignoreMessage(QtCriticalMsg, "error no: TRX4");
    w->on_actionSave_As_triggered(false);
    const auto r = m_prompter->last();
    QCOMPARE(r.title, QString("ERROR: Could not save the file!"));
    QVERIFY(r.text.startsWith("Unable to open the file for writing!\n"));
    QCOMPARE(r.icon, int(Prompter::Critical));
    QVERIFY(!QFile::exists(m_dir + "/notadir/x.trx"));
}

void OpenSaveTest::corruptFilesLeaveTheWindow_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("logged");
    QTest::newRow("no product word") << QByteArray("Solver 1.0\n2\n1\t1\t0\t1\n2\t0\t1\t1\n\nSolution\n0\t0\t\nEOF")
                                     << "a.trx" << "error no: TRX6";
    QTest::newRow("one variable") << QByteArray("Tarvix 1.20.1\n1\n1\t1\t1\n\nSolution\n0\t\nEOF")
                                  << "b.trx" << "error no: TRX6";
    QTest::newRow("huge N, tiny file") << QByteArray("Tarvix 1.20.1\n1000000000\n1\t1\t0\t1\n")
                                       << "c.trx" << "error no: TRX6";
    QTest::newRow("text in a number") << QByteArray("Tarvix 1.20.1\n3\n1\t1\t0\t0\t1\n2\t0\tabc\t0\t1\n3\t0\t0\t1\t1\n\nSolution\n0\t0\t0\t\nEOF")
                                      << "d.trx" << "error no: TRX8";
    QTest::newRow("binary garbage") << QByteArray(300, 'x') << "e.btrx" << "error no: TRX6";
}

void OpenSaveTest::corruptFilesLeaveTheWindow()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, logged);
    QFile f(m_dir + "/" + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    auto *w = new tarvix();
    fillWindow(w, 2);
    m_prompter->answerText(m_dir + "/good.trx");
    w->on_actionSave_As_triggered(false);
    const double before = w->store().coef[1][0];
    m_prompter->clear();

    QTest::ignoreMessage(QtWarningMsg, qPrintable(logged));
    bool failed = false;
    w->openFile(m_dir + "/" + name, false, &failed);
    QCoreApplication::processEvents();
    QVERIFY(failed);
    QCOMPARE(w->store().N, 2);
    QCOMPARE(w->store().allocated, 2);
    QCOMPARE(w->store().coef[1][0], before);
    QCOMPARE(w->tableModel()->rowCount(), 2);
    QCOMPARE(w->currentFileName(), m_dir + "/good.trx");
    // No memory question for a file that cannot hold its N.
    bool boxSeen = false;
    for (const auto &r : m_prompter->records()) {
        QVERIFY(r.title != "Memory Limitation Warning!");
        if (r.title == "ERROR: Could not open the file!") {
            boxSeen = true;
            QCOMPARE(r.text, QString("Could NOT Read the Opened File!\nFile is corrupt!"));
        }
    }
    QVERIFY(boxSeen);
}

void OpenSaveTest::vanishedFile()
{
    auto *w = new tarvix();
    fillWindow(w, 3);
    bool failed = false;
    w->openFile(m_dir + "/gone.trx", false, &failed);
    QVERIFY(failed);
    QCOMPARE(m_prompter->count(), 1);
    QCOMPARE(m_prompter->last().title, QString("ERROR: Could not open the file!"));
    QVERIFY(m_prompter->last().text.startsWith("Could NOT Open File from Disk!\n"));
    QCOMPARE(w->store().N, 3);
    QVERIFY(w->currentFileName().isEmpty());
}

void OpenSaveTest::invalidSystemQuestion()
{
    auto *w = new tarvix();   // all zeros: refused by all four checks
    auto answerChecks = [this] {
        for (int i = 0; i < 4; ++i)
            m_prompter->answerButton(Prompter::Ok);
    };
    answerChecks();
    m_prompter->answerButton(Prompter::No);
    w->on_saveb_clicked();
    QCOMPARE(m_prompter->count(), 5);
    QCOMPARE(m_prompter->records().first().title, QString("ERROR: INVALID DATA!"));
    QCOMPARE(m_prompter->last().title, QString("File Saving FAILED!"));
    QCOMPARE(m_prompter->last().buttons, int(Prompter::Yes | Prompter::No));
    QCOMPARE(m_prompter->pendingAnswers(), 0);

    m_prompter->clear();
    answerChecks();
    m_prompter->answerButton(Prompter::No);
    w->on_actionSave_As_triggered(false);
    QCOMPARE(m_prompter->count(), 6);
    QCOMPARE(m_prompter->last().title, QString("ERROR: Could not save the file!"));
    QCOMPARE(m_prompter->last().text, QString("Could NOT Save File to Disk!\nPlease input valid co-efficients which can be solved, then save the file."));
    QVERIFY(!QFile::exists(m_dir + "/zero.trx"));

    // Yes saves anyway.
    m_prompter->clear();
    answerChecks();
    m_prompter->answerButton(Prompter::Yes);
    m_prompter->answerText(m_dir + "/zero.trx");
    w->on_saveb_clicked();
    QVERIFY(QFile::exists(m_dir + "/zero.trx"));
    QVERIFY(w->isSaved());
}

void OpenSaveTest::saveAsNeedsAnExtension()
{
    auto *w = new tarvix();
    fillWindow(w, 2);
    m_prompter->answerText(m_dir + "/plain.txt");
    w->on_actionSave_As_triggered(false);
    QVERIFY(w->currentFileName().isEmpty());
    QVERIFY(QDir(m_dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void OpenSaveTest::closeWithSave()
{
    auto *keep = new tarvix();
    Q_UNUSED(keep)
    auto *w = new tarvix();
    QPointer<tarvix> guard(w);
    fillWindow(w, 3);
    QVERIFY(w->tableModel()->setData(w->tableModel()->index(1, 1), "4"));
    m_prompter->answerButton(Prompter::Save);
    m_prompter->answerText(m_dir + "/onclose.btrx");
    QVERIFY(w->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard.isNull());
    EquationStore s;
    QVERIFY(!EquationFile::open(m_dir + "/onclose.btrx", s).failed);
    QCOMPARE(s.N, 3);
    QCOMPARE(s.coef[1][1], 4.0);
}

void OpenSaveTest::dropTwoFiles()
{
    EquationStore s;
    s.N = 3;
    QVERIFY(s.reallocate());
    s.clear();
    QVERIFY(!EquationFile::save(m_dir + "/one.trx", s, s.fileSol).failed);
    s.N = 4;
    s.allocated = 3;
    QVERIFY(s.reallocate());
    s.clear();
    QVERIFY(!EquationFile::save(m_dir + "/two.btrx", s, s.fileSol).failed);

    auto *w = new tarvix();
    w->show();
    auto *mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(m_dir + "/one.trx"), QUrl("https://example.org/x.trx"),
                   QUrl::fromLocalFile(m_dir + "/notes.txt"), QUrl::fromLocalFile(m_dir + "/two.btrx")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
    QCOMPARE(tarvix::windows().size(), 2);
    QCOMPARE(w->currentFileName(), m_dir + "/one.trx");
    QCOMPARE(w->store().N, 3);
    tarvix *second = tarvix::windows().last();
    QCOMPARE(second->currentFileName(), m_dir + "/two.btrx");
    QCOMPARE(second->store().N, 4);
    QVERIFY(second->isVisible());

    auto *other = new QMimeData;
    other->setUrls({QUrl::fromLocalFile(m_dir + "/notes.txt")});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, other, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QCoreApplication::sendEvent(w, &refused);
    QVERIFY(!refused.isAccepted());
    delete other;
    delete mime;
}

QTEST_MAIN(OpenSaveTest)
#include "tst_opensave.moc"
