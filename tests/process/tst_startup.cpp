// Starts the real program the way a user does and checks what a run leaves
// in the application-data folder.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/file.h>

namespace {
QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<missing>");
}

class Run
{
public:
    explicit Run(const QString &root) : m_root(root)
    {
        QDir().mkpath(appData());
        QDir().mkpath(root + QStringLiteral("/tmp"));
        QDir().mkpath(root + QStringLiteral("/runtime"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APPDATA"), appData());
        env.insert(QStringLiteral("TEMP"), root + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(root);
    }
    ~Run()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString appData() const { return m_root + QStringLiteral("/appdata"); }
    QString tarvixDir() const { return appData() + QStringLiteral("/Tarvix"); }
    void start(const QStringList &args = {})
    {
        m_process.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix"), args);
        QVERIFY(m_process.waitForStarted());
    }
    // Waits until the program is up (its log names the session), then asks
    // it to close the way the desktop does at logout.
    void closeWhenUp(const QString &log)
    {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 30000);
        QTest::qWait(500);
        ::kill(pid_t(m_process.processId()), SIGTERM);
    }
    int finish()
    {
        if (!m_process.waitForFinished(60000))
            return -1000;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2000;
    }
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QString m_root;
    QProcess m_process;
};
}

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void firstRunCreatesEverything();
    void secondRunReusesAndRepairs();
    void damagedPreferencesEndStartUpEarly();
    void heldLogGivesSecondLog();
};

void TestStartup::firstRunCreatesEverything()
{
    QTemporaryDir dir;
    Run run(dir.path());
    run.start();
    run.closeWhenUp(run.tarvixDir() + QStringLiteral("/logs/session.log"));
    QCOMPARE(run.finish(), 0);

    const QString pref = readText(run.tarvixDir() + QStringLiteral("/Preferences/Tarvix.pref"));
    QVERIFY2(pref.startsWith(QStringLiteral("Tarvix\n")), qPrintable(pref));
    QCOMPARE(pref.split(QLatin1Char('\n')).size(), 15);
    QVERIFY(pref.contains(QStringLiteral("\n1e-15\t0\t1\t1\t0\t1\n100\t3\t2\t2\t0\t15\n")));
    const QString log = readText(run.tarvixDir() + QStringLiteral("/logs/session.log"));
    QVERIFY2(log.endsWith(QStringLiteral("\nApplication Exited with Error Code  0 .\n ")), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("***")), qPrintable(log));   // a clean run logs no block
    const QString today = QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Unsaved 'MMM dd, yyyy"));
    QVERIFY(QFileInfo(run.tarvixDir() + QStringLiteral("/Sessions/") + today).isDir());
    QVERIFY(!QFileInfo::exists(run.tarvixDir() + QStringLiteral("/Error Reports")));
}

void TestStartup::secondRunReusesAndRepairs()
{
    QTemporaryDir dir;
    Run first(dir.path());
    first.start();
    first.closeWhenUp(first.tarvixDir() + QStringLiteral("/logs/session.log"));
    QCOMPARE(first.finish(), 0);

    const QString prefPath = first.tarvixDir() + QStringLiteral("/Preferences/Tarvix.pref");
    QString pref = readText(prefPath);
    pref.replace(QStringLiteral("\n1e-15\t0\t1\t1\t0\t1\n"), QStringLiteral("\n0.5\t0\t1\t1\t7\t1\n"));
    QFile f(prefPath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(pref.toUtf8());
    f.close();

    Run second(dir.path());
    second.start();
    second.closeWhenUp(second.tarvixDir() + QStringLiteral("/logs/session.log"));
    QCOMPARE(second.finish(), 0);
    QVERIFY(readText(prefPath).contains(QStringLiteral("\n1e-15\t0\t1\t1\t0\t1\n")));
    QCOMPARE(readText(first.tarvixDir() + QStringLiteral("/Preferences/Old_Tarvix.pref")), pref);
}

void TestStartup::damagedPreferencesEndStartUpEarly()
{
    QTemporaryDir dir;
    Run run(dir.path());
    QDir().mkpath(run.tarvixDir() + QStringLiteral("/Preferences"));
    QFile f(run.tarvixDir() + QStringLiteral("/Preferences/Tarvix.pref"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Settings of something else\n");
    f.close();
    run.start();
    QCOMPARE(run.finish(), 255);                       // -1
    QVERIFY(!QFileInfo::exists(run.tarvixDir() + QStringLiteral("/logs")));
}

void TestStartup::heldLogGivesSecondLog()
{
    QTemporaryDir dir;
    Run first(dir.path());
    first.start();
    first.closeWhenUp(first.tarvixDir() + QStringLiteral("/logs/session.log"));
    QCOMPARE(first.finish(), 0);

    // another instance still writing its log
    QFile held(first.tarvixDir() + QStringLiteral("/logs/session.log"));
    QVERIFY(held.open(QIODevice::ReadWrite | QIODevice::Append));
    QVERIFY(::flock(held.handle(), LOCK_EX | LOCK_NB) == 0);
    held.write("other instance");
    held.flush();

    Run second(dir.path());
    second.start();
    second.closeWhenUp(second.tarvixDir() + QStringLiteral("/logs/session2.log"));
    QCOMPARE(second.finish(), 0);
    QVERIFY(readText(held.fileName()).endsWith(QStringLiteral("other instance")));
    QVERIFY(readText(second.tarvixDir() + QStringLiteral("/logs/session2.log"))
                .contains(QStringLiteral("Application Exited with Error Code")));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
