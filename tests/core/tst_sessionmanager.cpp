#include "logcapture.h"
#include "scriptedprompter.h"
#include "session/sessionmanager.h"
#include "testenv.h"
#include "testutil.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

namespace {
QString today()
{
    return QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Unsaved 'MMM dd, yyyy"));
}

QStringList listFile()
{
    return QString::fromUtf8(readFile(SessionManager::listFilePath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
}

class TestSessionManager : public QObject
{
    Q_OBJECT
private slots:
    void firstStartAndSecondRunSameDay()
    {
        TestEnv env;
        const QString root = env.appData() + QStringLiteral("/Tarvix/Sessions");
        QDir().mkpath(root + QStringLiteral("/thesis/Window 1"));
        QDir().mkpath(root + QStringLiteral("/Unsaved Jan 01, 2020"));
        auto *first = new SessionManager();
        QCOMPARE(SessionManager::currentSessionName(), today());
        // no list file: saved sessions are rebuilt from their folders, unsaved leftovers go
        QVERIFY(QFileInfo(root + QStringLiteral("/thesis/Window 1")).isDir());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Unsaved Jan 01, 2020")));
        QVERIFY(QFileInfo(root + QLatin1Char('/') + today()).isDir());
        QCOMPARE(first->resumableSessions(), QStringList{QStringLiteral("thesis")});
        {
            SessionManager second;                                       // while the first lives
            QCOMPARE(SessionManager::currentSessionName(), today() + QStringLiteral("_1"));
            QCOMPARE(listFile(), (QStringList{QStringLiteral("thesis"), today(), today() + QStringLiteral("_1")}));
            // the first run's folder is in use: not deleted, not offered
            QVERIFY(SessionManager::folderInUse(root + QLatin1Char('/') + today()));
        }
        // an unsaved session leaves the list at exit
        QCOMPARE(listFile(), (QStringList{QStringLiteral("thesis"), today()}));
        delete first;
    }

    void foldersOfLiveProcessesSurviveCleanUp()
    {
        TestEnv env;
        const QString root = env.appData() + QStringLiteral("/Tarvix/Sessions");
        for (const char *d : {"busy", "Unsaved Feb 02, 2020", "crashed"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(d));
        QVERIFY(writeFile(root + QStringLiteral("/Sessions.sestrx"), "busy\ncrashed\n"));
        // Another process works in "busy" and in an unlisted unsaved session.
        QLockFile busy(root + QStringLiteral("/busy/Session.lock"));
        busy.setStaleLockTime(0);
        QVERIFY(busy.tryLock(0));
        QLockFile live(root + QStringLiteral("/Unsaved Feb 02, 2020/Session.lock"));
        live.setStaleLockTime(0);
        QVERIFY(live.tryLock(0));
        // "crashed" holds the lock of a process that no longer runs.
        QVERIFY(writeFile(root + QStringLiteral("/crashed/Session.lock"),
                          "999999999\ntarvix\n" + QSysInfo::machineHostName().toUtf8() + "\n"));

        SessionManager sessions;
        QVERIFY(QFileInfo(root + QStringLiteral("/Unsaved Feb 02, 2020")).isDir());
        QCOMPARE(sessions.resumableSessions(), QStringList{QStringLiteral("crashed")});
        QVERIFY(!SessionManager::folderInUse(root + QStringLiteral("/crashed")));
        QVERIFY(listFile().contains(QStringLiteral("Unsaved Feb 02, 2020")));
    }

    void concurrentProcessesLoseNoListLine()
    {
        TestEnv env;
        { SessionManager first; }   // the sessions folder and list exist
        QStringList names;
        for (int round = 0; round < 6; ++round) {
            QList<QProcess *> children;
            for (int k = 0; k < 3; ++k) {
                const QString name = QStringLiteral("s%1_%2").arg(round).arg(k);
                names << name;
                auto *p = new QProcess(this);
                QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
                e.insert(QStringLiteral("TARVIX_SESSION_CHILD"), name);
                p->setProcessEnvironment(e);
                p->start(QCoreApplication::applicationFilePath(), QStringList());
                children << p;
            }
            for (QProcess *p : children) {
                QVERIFY(p->waitForFinished(30000));
                QCOMPARE(p->exitCode(), 0);
                delete p;
            }
        }
        SessionManager last;
        QStringList resumable = last.resumableSessions();
        resumable.sort();
        names.sort();
        QCOMPARE(resumable, names);
    }

    void startUpCleansAgainstTheList()
    {
        TestEnv env;
        const QString root = env.appData() + QStringLiteral("/Tarvix/Sessions");
        QDir().mkpath(root + QStringLiteral("/work/Window 1"));
        QDir().mkpath(root + QStringLiteral("/stray"));
        QVERIFY(writeFile(root + QStringLiteral("/Sessions.sestrx"), "  work \n\ngone\n"));
        SessionManager sessions;
        QCOMPARE(sessions.listedSessions(), QStringList{QStringLiteral("work")});
        QCOMPARE(sessions.resumableSessions(), QStringList{QStringLiteral("work")});
        QVERIFY(QFileInfo(root + QStringLiteral("/work/Window 1")).isDir());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/stray")));
        QCOMPARE(listFile(), (QStringList{QStringLiteral("work"), today()}));
    }

    void saveAsksOnceThenRenamesTheFolder()
    {
        // name null: cancelled; the title of the last box shown.
        const struct { QString name; bool saved; const char *lastTitle; } cases[] = {
            {QStringLiteral("thesis"), true, "Session Name"}, {QString(), false, "Session not saved!"},
            {QStringLiteral("Unsaved work"), false, "Session not saved!"}, {QStringLiteral("../escape"), false, "Session not saved!"}};
        for (const auto &[name, saved, lastTitle] : cases) {
            TestEnv env;
            SessionManager sessions;
            QSignalSpy spy(&sessions, &SessionManager::SaveSession);
            ScriptedPrompter prompter;
            prompter.answer(name.isNull() ? QVariant() : QVariant(name));
            bool done = false;
            sessions.saveSession(&done);
            QCOMPARE(done, saved);
            QCOMPARE(spy.count(), saved ? 1 : 0);
            QCOMPARE(prompter.last().title, QString::fromLatin1(lastTitle));
            if (!saved)
                continue;
            QCOMPARE(SessionManager::currentSessionName(), name);
            QVERIFY(QFileInfo(SessionManager::sessionsRoot() + QLatin1Char('/') + name).isDir());
            // a second save asks for nothing
            prompter.clear();
            sessions.saveSession(&done);
            QVERIFY(done);
            QCOMPARE(prompter.count(), 0);
            QCOMPARE(spy.count(), 2);
        }
    }

    // A process killed between making the list's lock file and writing its
    // owner into it leaves an empty lock behind: it must not hold the list.
    void emptyLockLeftByKilledProcess()
    {
        TestEnv env;
        QDir().mkpath(SessionManager::sessionsRoot());
        QFile lock(SessionManager::sessionsRoot() + QLatin1Char('/') + SessionManager::listLockName());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
        lock.close();
        LogCapture log;
        SessionManager sessions;
        QVERIFY(sessions.removeFromList({QStringLiteral("gone")}));
        const QString logged = log.messages().join(QLatin1Char('\n'));
        QVERIFY2(!logged.contains(QStringLiteral("Could not lock")), qPrintable(logged));
        QCOMPARE(listFile(), QStringList{SessionManager::currentSessionName()});
    }

    void windowNamesCountUp()
    {
        TestEnv env;
        SessionManager sessions(QStringLiteral("resumed"));
        const QString a = SessionManager::nextWindowName();
        QVERIFY(a.startsWith(QStringLiteral("Window ")));
        // a resumed window holds the next number's folder: new windows skip it
        QDir().mkpath(SessionManager::currentSessionFolder() + QStringLiteral("/Window ")
                      + QString::number(a.mid(7).toInt() + 1));
        QCOMPARE(SessionManager::nextWindowName().mid(7).toInt(), a.mid(7).toInt() + 2);
        SessionManager::setNextWindowName(QStringLiteral("Window 1"));
        QCOMPARE(SessionManager::nextWindowName(), QStringLiteral("Window 1"));
        QCOMPARE(SessionManager::nextWindowName().mid(7).toInt(), a.mid(7).toInt() + 3);
    }
};

// A child process of the concurrency test: starts a run in the inherited
// application-data folder, saves it under the given name and exits.
static int runChild(const QString &name)
{
    const QString appData = qEnvironmentVariable("APPDATA");
    UserPrefs prefs(nullptr);
    UserPrefs::setInstance(&prefs);
    prefs.initialise(QStringList{QStringLiteral("Linux"), QStringLiteral("x64"), QStringLiteral("tester"),
                                 QStringLiteral("testhost"), qEnvironmentVariable("TEMP"), appData,
                                 QStringLiteral("2")},
                     TestEnv::screen());
    bool done = false;
    {
        SessionManager sessions;
        ScriptedPrompter prompter;
        prompter.answerText(name);
        sessions.saveSession(&done);
    }
    UserPrefs::setInstance(nullptr);
    return done ? 0 : 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString child = qEnvironmentVariable("TARVIX_SESSION_CHILD");
    if (!child.isEmpty())
        return runChild(child);
    TestSessionManager test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_sessionmanager.moc"
