#include "app/applog.h"
#include "scriptedprompter.h"
#include "testenv.h"
#include "testutil.h"

#include <QDate>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QtTest>

namespace {
QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path));
}

QString todayBase()
{
    return QLocale::c().toString(QDate::currentDate(), QStringLiteral("dd MMM yyyy"));
}

class LogWorker : public QThread
{
public:
    void run() override { qWarning("error no: TEST9 - from a worker"); }
};
}

class TestAppLog : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    QString m_log;

private slots:
    void init()
    {
        m_env.reset(new TestEnv(2));
        AppLog::install();
        AppLog::setInternalError(false);
        QDir().mkpath(m_env->appData() + QStringLiteral("/Tarvix/logs"));
        m_log = m_env->appData() + QStringLiteral("/Tarvix/logs/session.log");
        QString path = m_log;
        QVERIFY(AppLog::openLog(path));
        QCOMPARE(path, m_log);
    }

    void cleanup()
    {
        AppLog::setSessionSaver(nullptr);
        AppLog::setFolderOpener(nullptr);
        AppLog::uninstall();
        AppLog::setInternalError(false);
        m_env.reset();
    }

    void blocksAreFramedExactly()
    {
        QString want;   // the blocks so far
        for (const auto &[type, name] : {std::pair{QtWarningMsg, "Warning"}, {QtCriticalMsg, "Critical"}}) {
            AppLog::setInternalError(false);
            QMessageLogger logger("solve", 310, "void Solve::checkDiagonal(int)");
            if (type == QtWarningMsg)
                logger.warning("Error no: SOL1");
            else
                logger.critical("Error no: SOL1");
            want += QStringLiteral("\n*** %1 ***\nError no: SOL1\nCategory: default\nFile: solve\n"
                                   "Function: void Solve::checkDiagonal(int)\nLine: 310\nVersion: 2"
                                   "\n*** %1 Complete ***\n").arg(QLatin1String(name));
            QCOMPARE(readText(m_log), want);
            QVERIFY(AppLog::internalError());
        }
    }

    void debugFollowsTheSwitch()
    {
        // The platform's geometry warnings leave no trace (nor an internal error).
        QMessageLogger("qwindow.cpp", 12, "void QWindow::setGeometry(const QRect&)").warning("Unable to set geometry");
        QMessageLogger().warning("QWindowsWindow::setGeometry: Unable to set geometry 10x10");
        qDebug("one ");
        AppLog::setDebugEnabled(false);
        qDebug("two ");
        AppLog::setDebugEnabled(true);
        qDebug("three");
        QCOMPARE(readText(m_log), QStringLiteral("one three"));
        QVERIFY(!AppLog::internalError());

        // Without the switch nothing at all reaches the log, warnings included.
        UserPrefs holder(AppLog::debugSwitchHolder());
        UserPrefs::turnOffDbg();
        qWarning("silent");
        qDebug("silent");
        UserPrefs::turnOnDbg();
        QCOMPARE(readText(m_log), QStringLiteral("one threeTurning off Debug.Turning on Debug."));
        QVERIFY(!AppLog::internalError());
    }

    void switchFlippedWhileAWorkerLogs()
    {
        class Writer : public QThread
        {
            void run() override
            {
                for (int i = 0; i < 300; ++i)
                    qDebug("x");
            }
        } writer;
        writer.start();
        for (int i = 0; i < 300; ++i)
            AppLog::setDebugEnabled(i % 2 == 0);
        AppLog::setDebugEnabled(true);
        QVERIFY(writer.wait(10000));
        qDebug("end");
        const QString text = readText(m_log);
        QVERIFY(text.endsWith(QStringLiteral("end")));
        QCOMPARE(text.count(QLatin1Char('x')) + 3, text.size()); // whole records only
    }

    void heldLogGetsNumberedName()
    {
        // Each run holds its log: the next one takes the next number.
        std::vector<std::unique_ptr<FileHolder>> held;
        QString path = m_log;
        for (const char *name : {"session2.log", "session3.log"}) {
            AppLog::closeLog();
            held.emplace_back(new FileHolder(path));
            path = m_log;
            QVERIFY(AppLog::openLog(path));
            QCOMPARE(QFileInfo(path).fileName(), QString::fromLatin1(name));
            qDebug("%s", name);
            QCOMPARE(readText(path), QString::fromLatin1(name));
        }
        QVERIFY(QFile::exists(m_log));

        // an old log nobody holds is simply replaced
        AppLog::closeLog();
        path = m_env->appData() + QStringLiteral("/Tarvix/logs/other.log");
        QVERIFY(writeFile(path, "stale") && AppLog::openLog(path));
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("other.log"));
        QCOMPARE(readText(path), QString());
    }

    void emptyingKeepsHeldFiles()
    {
        const QString logs = m_env->appData() + QStringLiteral("/Tarvix/logs");
        for (const char *n : {"a.log", "b.txt", ".hidden"})
            QVERIFY(writeFile(logs + QLatin1Char('/') + QLatin1String(n), QByteArray()));
        FileHolder held(logs + QStringLiteral("/b.txt"));
        AppLog::emptyLogFolder();
        QStringList left = QDir(logs).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        // our own open log is held too
        QCOMPARE(left, (QStringList{QStringLiteral("b.txt"), QStringLiteral("session.log")}));
    }

    void unopenableLogShowsFatalBox()
    {
        AppLog::closeLog();
        ScriptedPrompter prompter;
        const QString logs = m_env->appData() + QStringLiteral("/Tarvix/logs");
        QVERIFY(QDir(logs).removeRecursively());
        QVERIFY(writeFile(logs, QByteArray())); // a file where the folder belongs
        QString path = logs + QStringLiteral("/session.log");
        QVERIFY(!AppLog::openLog(path));
        QCOMPARE(prompter.count(), 1);
        QCOMPARE(prompter.last().title, QStringLiteral("FATAL ERROR!"));
        QVERIFY(prompter.last().text.contains(path));
        qWarning("dropped without a log");
        QVERIFY(!AppLog::internalError());
    }

    void reportFoldersCountUpPerDay()
    {
        ScriptedPrompter prompter;
        QStringList opened;
        AppLog::setFolderOpener([&opened](const QString &f) { opened.append(f); });
        qWarning("error no: TEST1");
        AppLog::internalErrorReport(QStringLiteral("Unsaved"));
        AppLog::internalErrorReport(QStringLiteral("Unsaved"));
        const QString reports = m_env->appData() + QStringLiteral("/Tarvix/Error Reports/");
        QCOMPARE(opened, (QStringList{reports + todayBase() + QStringLiteral("_1"),
                                      reports + todayBase() + QStringLiteral("_2")}));
        QVERIFY(readText(opened[0] + QStringLiteral("/session.log")).contains(QStringLiteral("error no: TEST1")));
        QCOMPARE(readText(opened[1] + QStringLiteral("/Tarvix.pref")), readText(UserPrefs::prefsFilePath()));
        QCOMPARE(prompter.count(QStringLiteral("Internal Error Detected!")), 2);
        // The box names the folder that holds what is to be sent.
        QVERIFY2(prompter.last().text.endsWith(QLatin1Char('\n') + opened[1]), qPrintable(prompter.last().text));
    }

    void sessionSaveAfterEveryBlockWithoutSelfWait()
    {
        QList<bool> saves;   // whether each save may ask for a session name
        AppLog::setSessionSaver([&saves]() {
            saves << AppLog::savingForInternalError();
            qWarning("error no: SM6 - logged while saving");   // must not wait on itself
        });
        qWarning("error no: TEST2");
        QTRY_COMPARE(saves, QList<bool>{false});   // a warning saves without questions
        qWarning("error no: TEST2");
        qCritical("error no: TEST3");
        QCOMPARE(saves.size(), 1);                 // never inside the handler
        QTRY_COMPARE(saves.size(), 2);             // one pending request serves both blocks
        QCOMPARE(saves.last(), true);              // an internal error may ask
        QVERIFY2(readText(m_log).contains(QStringLiteral("logged while saving")), qPrintable(readText(m_log)));
        QTest::qWait(50);
        QCOMPARE(saves.size(), 2);                 // the saver's own warning asks for no second save

        LogWorker worker;
        worker.start();
        QVERIFY(worker.wait(10000) && readText(m_log).contains(QStringLiteral("from a worker")));
        QTRY_COMPARE(saves.size(), 3);             // run on the GUI thread's event loop
    }

    void fatalEndsWithFailureAndReport()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString childData = m_env->temp() + QStringLiteral("/child");
        QVERIFY(QDir().mkpath(childData));
        env.insert(QStringLiteral("TARVIX_FATAL_CHILD"), childData);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList{});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 1, child.readAllStandardError().constData());
        const QString report = childData + QStringLiteral("/Tarvix/Error Reports/") + todayBase()
                               + QStringLiteral("_1/session.log");
        const QString log = readText(report);
        QVERIFY2(log.contains(QStringLiteral("\n*** Fatal ***\nerror no: TRX9 - 7\t0\n")),
                 qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("*** Fatal Complete ***")));
    }
};

// The child of fatalEndsWithFailureAndReport: a run that hits a fatal record.
static int fatalChild(int argc, char **argv, const QString &appData)
{
    QCoreApplication app(argc, argv);
    AppLog::install();
    UserPrefs prefs(AppLog::debugSwitchHolder());
    UserPrefs::setInstance(&prefs);
    QStringList list{QStringLiteral("Linux"), QStringLiteral("x64"), QStringLiteral("u"), QStringLiteral("h"),
                     appData, appData, QStringLiteral("2")};
    if (!prefs.initialise(list, ScreenInfo{1366, 728, 1366, 768}))
        return 20;
    QString path = appData + QStringLiteral("/Tarvix/logs/session.log");
    QDir().mkpath(appData + QStringLiteral("/Tarvix/logs"));
    if (!AppLog::openLog(path))
        return 21;
    qFatal("error no: TRX9 - %d\t0", 7);
    return 22;
}

int main(int argc, char **argv)
{
    const QByteArray child = qgetenv("TARVIX_FATAL_CHILD");
    if (!child.isEmpty())
        return fatalChild(argc, argv, QString::fromUtf8(child));
    QCoreApplication app(argc, argv);
    TestAppLog t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_applog.moc"
