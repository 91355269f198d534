// Starts the real program the way a user does and checks what a run leaves
// in the application-data folder.
#include <QDate>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "childrun.h"
#include "testutil.h"

namespace {
class Program
{
public:
    explicit Program(const QString &root) : m_root(root)
    {
        prepareChild(m_process, root);
        QDir().mkpath(appData());
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString appData() const { return m_root + QStringLiteral("/appdata"); }
    QString tarvixDir() const { return appData() + QStringLiteral("/Tarvix"); }
    void start()
    {
        m_process.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix"), QStringList());
        QVERIFY(m_process.waitForStarted());
    }
    // Waits until the program is up (its log names the session), then asks
    // it to close the way the desktop does at logout.
    void closeWhenUp(int delay = 500)
    {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tarvixDir() + QStringLiteral("/logs/session.log")), 30000);
        QTest::qWait(delay);
        ::kill(pid_t(m_process.processId()), SIGTERM);
    }
    int finish()
    {
        if (!m_process.waitForFinished(60000))
            return -1000;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2000;
    }

private:
    QString m_root;
    QProcess m_process;
};
}

QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path));
}

// Runs of the program on their own application-data folders.
class TestStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void firstRunCreatesEverything()
    {
        Program run(m_dir.path());
        run.start();
        run.closeWhenUp();
        QCOMPARE(run.finish(), 0);
        const QString pref = readText(run.tarvixDir() + QStringLiteral("/Preferences/Tarvix.pref"));
        QVERIFY2(pref.startsWith(QStringLiteral("Tarvix\n")), qPrintable(pref));
        QCOMPARE(pref.split(QLatin1Char('\n')).size(), 15);   // what the lines hold: tst_userprefs
        const QString log = readText(run.tarvixDir() + QStringLiteral("/logs/session.log"));
        QVERIFY2(log.endsWith(QStringLiteral("\nApplication Exited with Error Code  0 .\n ")), qPrintable(log));
        QVERIFY2(!log.contains(QStringLiteral("***")), qPrintable(log)); // a clean run logs no block
        const QString today = QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Unsaved 'MMM dd, yyyy"));
        QVERIFY(QFileInfo(run.tarvixDir() + QStringLiteral("/Sessions/") + today).isDir());
        QVERIFY(!QFileInfo::exists(run.tarvixDir() + QStringLiteral("/Error Reports")));
    }

    // The signal ends the program normally whenever it comes during
    // start-up: while the start-up prompt for a saved session is up, or
    // while the first window is still being made.
    void signalDuringStartUpEnds()
    {
        for (int delay : {0, 100, 400, 1500}) {
            QTemporaryDir dir;
            Program run(dir.path());
            QVERIFY(QDir().mkpath(run.tarvixDir() + QStringLiteral("/Sessions/study/Window 1")));
            QVERIFY(writeFile(run.tarvixDir() + QStringLiteral("/Sessions/Sessions.sestrx"), "study\n"));
            run.start();
            run.closeWhenUp(delay);
            QCOMPARE(run.finish(), 0);
        }
    }

    void damagedPreferencesEndStartUpEarly()
    {
        QTemporaryDir dir;
        Program run(dir.path());
        QVERIFY(writeFile(run.tarvixDir() + QStringLiteral("/Preferences/Tarvix.pref"), "Settings of something else\n"));
        run.start();
        QCOMPARE(run.finish(), 255); // -1
        QVERIFY(!QFileInfo::exists(run.tarvixDir() + QStringLiteral("/logs")));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
