// Open, Save, Save As, the ".old" copy, failed writes, corrupt files and
// drag and drop.
#include "guitestutil.h"
#include "testutil.h"

#include "history/undoredo.h"

#include <QDir>

#include <csignal>
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
        s.currentSol[i] = i + 0.5;
    }
    w->tableModel()->refreshAll();
}
}

class OpenSaveTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    QString m_dir;
    QStringList leftovers() const { return QDir(m_dir).entryList({"*.part"}, QDir::Files | QDir::Hidden); }
    void saveAs(tarvix *w, const QString &name)
    {
        fx->prompter.answerText(m_dir + "/" + name);
        w->on_actionSave_As_triggered(false);
    }
private slots:
    void init()
    {
        fx.reset(new GuiFixture);
        m_dir = fx->env.root() + "/files";
        QVERIFY(QDir().mkpath(m_dir));
    }
    void cleanup() { fx.reset(); }

    void roundTrip()
    {
        const struct { const char *name, *stored; int n; } cases[] = {
            {"sys.trx", "sys.trx", 4}, {"sys.btrx", "sys.btrx", 5},
            // a size the threaded writer takes; "btrx" anywhere in the name
            {"big.v2.trx", "big.trx", 60}, {"m.btrx.keep", "m.btrx", 3}};
        for (const auto &[name, stored, n] : cases) {
            fx->prompter.clear();
            auto *w = new tarvix();
            fillWindow(w, n);
            QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 0), "2.5") && !w->isSaved());
            fx->prompter.answerText(m_dir + "/" + QString(name));
            trigger(w, "actionSave_As");
            QCOMPARE(fx->prompter.count(), 1);   // a valid system is not questioned
            QCOMPARE(fx->prompter.last().all(), QString("save|Save File As||0|0|Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"));
            const QString path = m_dir + "/" + QString(stored);
            QCOMPARE(w->windowTitle(), QString("%1 - [%2x%2] - Tarvix (%3)").arg(path).arg(n).arg(w->windowName()));
            QVERIFY(w->isSaved() && leftovers().isEmpty());
            QCOMPARE(w->lastDirectory(), m_dir);

            auto *other = new tarvix();
            fx->prompter.answerText(path);
            button(other, "openb")->click();
            QCOMPARE(fx->prompter.last().all(), QString("open|Open a File||0|0|Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"));
            QCOMPARE(other->currentFileName(), path);
            const EquationStore &a = w->store(), &b = other->store();
            const double tol = path.endsWith(".btrx") ? 0.0 : 1e-14;
            QCOMPARE(b.N, n);
            // Every value is the file tests' business; here the window's arrays went out.
            QVERIFY(fuzzyEqual(a.coef[n - 1][1], b.coef[n - 1][1], tol) && fuzzyEqual(a.rhs[n - 1], b.rhs[n - 1], tol));
            // Save writes the current solution; it comes back as the solution
            // from file and stays the current one until the next solve.
            for (int i = 0; i < n; ++i)
                QCOMPARE(QList<double>({b.fileSol[i], b.currentSol[i]}), QList<double>({i + 0.5, i + 0.5}));
            QCOMPARE(other->tableModel()->columnCount(), n + 2);
            QCOMPARE(other->tableModel()->data(other->tableModel()->index(0, 0)).toDouble(), 2.5);
            QVERIFY(other->isSaved());
            QCOMPARE(button(other, "decvarb")->isEnabled(), n >= 3);

            // Every later save first keeps the file it replaces as ".old".
            const QByteArray first = readFile(path);
            QVERIFY(!QFile::exists(path + ".old") && w->tableModel()->setData(w->tableModel()->index(0, 1), "99"));
            w->on_saveb_clicked();
            QCOMPARE(readFile(path + ".old"), first);
            const QByteArray second = readFile(path);
            w->on_saveb_clicked();
            QVERIFY(second != first && readFile(path + ".old") == second && leftovers().isEmpty());
        }
    }

    void failedWriteKeepsPreviousFile()
    {
        auto *w = new tarvix();
        fillWindow(w, 60);
        saveAs(w, "full.btrx");
        const QByteArray before = readFile(m_dir + "/full.btrx");
        QVERIFY(before.size() > 20000);

        // A disk that fills up: writes beyond 4 KiB fail with EFBIG.
        QVERIFY(w->tableModel()->setData(w->tableModel()->index(0, 0), "-1"));
        fx->prompter.clear();
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

        QCOMPARE(readFile(m_dir + "/full.btrx"), before);
        QVERIFY(leftovers().isEmpty() && !w->isSaved());
        QCOMPARE(w->store().coef[0][0], -1.0);
        const auto r = fx->prompt("ERROR: Could not save the file!\n");
        // The specified text, then the reason with the file's name.
        QVERIFY2(r.text.startsWith("Could not add any data to the newly created File, hence deleting the File."
                                   "\nRestoring previously saved File.\n")
                     && r.text.contains("full.btrx: File too large"),
                 qPrintable(r.text));
        QCOMPARE(r.icon, int(Prompter::Warning));
    }

    // Save As writes nothing for a name that is no equation file (asking
    // nothing more) or into a "folder" that is a plain file (saying why; not
    // even root can write there).
    void saveAsWritesNothing()
    {
        QVERIFY(writeFile(m_dir + "/notadir", ""));
        auto *w = new tarvix();
        fillWindow(w, 2);
        saveAs(w, "plain.txt");
        QVERIFY(w->currentFileName().isEmpty() && fx->prompter.count() == 1);
        QTest::ignoreMessage(QtCriticalMsg, "error no: TRX4");
        saveAs(w, "notadir/x.trx");
        const auto r = fx->prompter.last();
        QCOMPARE(r.title, QString("ERROR: Could not save the file!"));
        QVERIFY2(r.text.contains("notadir/x.trx: Not a directory"), qPrintable(r.text));
        QCOMPARE(r.icon, int(Prompter::Critical));
        QCOMPARE(QDir(m_dir).entryList(QDir::Files | QDir::Hidden), QStringList{"notadir"});
    }

    void unreadableFilesLeaveTheWindow()
    {
        // content null: no such file; text: the start of the message. Which bytes
        // count as corrupt is the file tests' business; here one case per path
        // through the window: huge N in a tiny file, text in a number, binary garbage.
        const char *corrupt = "Could NOT Read the Opened File!\nFile is corrupt!";
        const struct { QByteArray content; const char *name, *logged, *text; } cases[] = {
            {"Tarvix 1.20.1\n1000000000\n1\t1\t0\t1\n", "c.trx", "error no: TRX6", corrupt},
            {"Tarvix 1.20.1\n3\n1\t1\t0\t0\t1\n2\t0\tabc\t0\t1\n3\t0\t0\t1\t1\n\nSolution\n0\t0\t0\t\nEOF", "d.trx",
             "error no: TRX8", corrupt},
            {QByteArray(300, 'x'), "e.btrx", "error no: TRX6", corrupt},
            {QByteArray(), "gone.trx", "", "Could NOT Open File from Disk!\n"}};
        for (const auto &[content, name, logged, text] : cases) {
            QVERIFY(content.isNull() || writeFile(m_dir + "/" + QString(name), content));
            auto *w = new tarvix();
            fillWindow(w, 2);
            saveAs(w, "good.trx");
            const double before = w->store().coef[1][0];
            fx->prompter.clear();

            if (*logged)
                QTest::ignoreMessage(QtWarningMsg, logged);
            bool failed = false;
            w->openFile(m_dir + "/" + QString(name), false, &failed);
            QCoreApplication::processEvents();
            QVERIFY(failed);
            QCOMPARE(QList<int>({w->store().N, w->store().allocated, w->tableModel()->rowCount()}), QList<int>({2, 2, 2}));
            QCOMPARE(w->store().coef[1][0], before);
            QCOMPARE(w->currentFileName(), m_dir + "/good.trx");
            // One message, and no memory question for a file that cannot hold its N.
            QCOMPARE(fx->prompter.count(), 1);
            QCOMPARE(fx->prompter.last().title, QString("ERROR: Could not open the file!"));
            QVERIFY2(fx->prompter.last().text.startsWith(QString(text)), qPrintable(fx->prompter.last().text));
        }
    }

    void invalidSystemQuestion()
    {
        auto *w = new tarvix();   // all zeros: refused by all four checks
        auto answer = [this](int last) {
            fx->prompter.clear();
            for (int i = 0; i < 4; ++i)
                fx->prompter.answerButton(Prompter::Ok);
            fx->prompter.answerButton(last);
        };
        answer(Prompter::No);
        w->on_saveb_clicked();
        QCOMPARE(fx->prompter.count(), 5);
        QCOMPARE(fx->prompter.records().first().title, QString("ERROR: INVALID DATA!"));
        QCOMPARE(fx->prompter.last().title, QString("File Saving FAILED!"));
        QCOMPARE(fx->prompter.last().buttons, int(Prompter::Yes | Prompter::No));

        answer(Prompter::No);
        w->on_actionSave_As_triggered(false);
        QCOMPARE(fx->prompter.count(), 6);
        QCOMPARE(fx->prompter.last().title, QString("ERROR: Could not save the file!"));

        // Yes saves anyway.
        answer(Prompter::Yes);
        fx->prompter.answerText(m_dir + "/zero.trx");
        w->on_saveb_clicked();
        QVERIFY(QFile::exists(m_dir + "/zero.trx") && w->isSaved());
    }

    void dropTwoFiles()
    {
        QVERIFY(writeSystem(m_dir + "/one.trx", 3) && writeSystem(m_dir + "/two.btrx", 4));
        auto *w = new tarvix();
        w->show();
        QVERIFY(w->acceptDrops());   // the events below reach the window either way
        // The web address and the text file are skipped.
        QVERIFY(dropUrls(w, {QUrl::fromLocalFile(m_dir + "/one.trx"), QUrl("https://example.org/x.trx"),
                             QUrl::fromLocalFile(m_dir + "/notes.txt"), QUrl::fromLocalFile(m_dir + "/two.btrx")}));
        QCOMPARE(tarvix::windows().size(), 2);
        QCOMPARE(w->currentFileName(), m_dir + "/one.trx");
        QCOMPARE(w->store().N, 3);
        tarvix *second = tarvix::windows().last();
        QCOMPARE(second->currentFileName(), m_dir + "/two.btrx");
        QCOMPARE(second->store().N, 4);
        QVERIFY(second->isVisible());
        // A drag with no equation file in it is refused.
        QVERIFY(!dropUrls(w, {QUrl::fromLocalFile(m_dir + "/notes.txt")}));
        QCOMPARE(tarvix::windows().size(), 2);
    }

    // Import replaces the system like Open (no file name, one OPEN step to
    // undo); Export writes without touching the window's file or flag.
    void importAndExport()
    {
        // A spreadsheet's export: byte-order mark, header, quotes, semicolons, CRLF.
        QVERIFY(writeFile(m_dir + "/sheet.csv", "\xEF\xBB\xBFx1;x2;b\r\n\"2.5\";1;3\r\n-1;\"4e-3\";5\r\n\r\n"));
        QVERIFY(writeFile(m_dir + "/a.mtx", "%%MatrixMarket matrix coordinate real symmetric\n% lower triangle\n3 3 4\n"
                                            "1 1 4\n2 1 -1\n2 2 4\n3 3 2\n"));
        QVERIFY(writeFile(m_dir + "/b.mtx", "%%MatrixMarket matrix array real general\n3 1\n1\n2\n3\n"));
        auto *w = new tarvix();
        const QString title = w->windowTitle();
        fx->prompter.answerText(m_dir + "/sheet.csv");
        trigger(w, "actionImport");
        QCOMPARE(systemText(w), QString("2.5 1 3 ;-1 0.004 5 "));
        QVERIFY(w->currentFileName().isEmpty() && !w->isSaved());
        QCOMPARE(w->windowTitle(), title);
        QCOMPARE(w->recorder()->actions().value(w->recorder()->position() - 1), int(UndoRedo::OpenKind));
        w->on_undob_clicked();
        QCOMPARE(systemText(w), QString("0 0 0 ;0 0 0 "));
        w->on_redob_clicked();
        QCOMPARE(systemText(w), QString("2.5 1 3 ;-1 0.004 5 "));
        QVERIFY(w->currentFileName().isEmpty() && !w->isSaved());

        // A square matrix asks for its right-hand side; Cancel imports nothing.
        fx->prompter.clear();
        for (const QVariant &answer : {QVariant(int(Prompter::Discard)), QVariant(m_dir + "/a.mtx"), QVariant()})
            fx->prompter.answer(answer);
        trigger(w, "actionImport");
        QCOMPARE(fx->prompter.count(), 3);
        QCOMPARE(w->store().N, 2);
        for (const QVariant &answer : {QVariant(int(Prompter::Discard)), QVariant(m_dir + "/a.mtx"), QVariant(m_dir + "/b.mtx")})
            fx->prompter.answer(answer);
        trigger(w, "actionImport");
        QCOMPARE(systemText(w), QString("4 -1 0 1 ;-1 4 0 2 ;0 0 2 3 "));

        // Export: the augmented system (imported again whole), then the
        // solution as one column.
        w->store().currentSol[1] = 1.0 / 3.0;
        fx->prompter.answerText(m_dir + "/out.mtx");
        trigger(w, "actionExport");
        auto *back = new tarvix();
        fx->prompter.answerText(m_dir + "/out.mtx");
        trigger(back, "actionImport");
        QCOMPARE(systemText(back), systemText(w));
        fx->prompter.answerText(m_dir + "/x.csv");
        trigger(w, "actionExport_Solution");
        QCOMPARE(readFile(m_dir + "/x.csv"), QByteArray("0\n0.3333333333333333\n0\n"));
        QVERIFY(w->currentFileName().isEmpty() && !w->isSaved());
    }
};

QTEST_MAIN(OpenSaveTest)
#include "tst_opensave.moc"
