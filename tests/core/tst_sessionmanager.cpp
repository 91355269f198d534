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

#include <memory>

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
    void secondRunSameDay()
    {
        TestEnv env;
        auto *first = new SessionManager();
        QCOMPARE(SessionManager::currentSessionName(), today());
        {
            SessionManager second;                                       // while the first lives
            QCOMPARE(SessionManager::currentSessionName(), today() + "_1");
            QCOMPARE(listFile(), (QStringList{today(), today() + "_1"}));
            // the first run's folder is in use: not deleted, not offered
            QVERIFY(SessionManager::folderInUse(SessionManager::sessionsRoot() + '/' + today()));
        }
        // an unsaved session leaves the list at exit
        QCOMPARE(listFile(), QStringList{today()});
        delete first;
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

    void saveAsksOnceThenRenamesTheFolder()
    {
        // name null: cancelled; the title of the last box shown and a piece of its text.
        const struct { QString name; QString saved; const char *lastTitle; const char *says; } cases[] = {
            {QStringLiteral(" thesis "), QStringLiteral("thesis"), "Session Name", ""},
            {QString(), QString(), "Session not saved!", "Please try again!"},
            {QStringLiteral("Unsaved work"), QString(), "Session not saved!", "cannot contain the text"},
            {QStringLiteral("../escape"), QString(), "Session not saved!", "cannot contain \"/\""},
            {QStringLiteral("two\nlines"), QString(), "Session not saved!", "line breaks"}};
        for (const auto &[name, saved, lastTitle, says] : cases) {
            TestEnv env;
            SessionManager sessions;
            QSignalSpy spy(&sessions, &SessionManager::SaveSession);
            ScriptedPrompter prompter;
            prompter.answer(name.isNull() ? QVariant() : QVariant(name));
            bool done = false;
            sessions.saveSession(&done);
            QCOMPARE(done, !saved.isEmpty());
            QCOMPARE(spy.count(), done ? 1 : 0);
            QCOMPARE(prompter.last().title, QString::fromLatin1(lastTitle));
            QVERIFY2(prompter.last().text.contains(QString::fromLatin1(says)), qPrintable(prompter.last().text));
            // The name offered is one the dialog accepts.
            QCOMPARE(SessionManager::nameRefusal(prompter.records().first().items.value(0)), QString());
            if (!done)
                continue;
            QCOMPARE(SessionManager::currentSessionName(), saved);
            QCOMPARE(listFile(), QStringList{saved});   // one spelling only
            QVERIFY(QFileInfo(SessionManager::sessionsRoot() + QLatin1Char('/') + saved).isDir());
            // a second save asks for nothing
            prompter.clear();
            sessions.saveSession(&done);
            QVERIFY(done);
            QCOMPARE(prompter.count(), 0);
            QCOMPARE(spy.count(), 2);
        }
    }

    // The log's saves: warnings never ask; an internal error asks for a
    // name once, and a declined name is not asked again in this run.
    void logSavesAskOnlyOnce()
    {
        TestEnv env;
        SessionManager sessions;
        ScriptedPrompter prompter;
        SessionManager::saveCurrentSession(false);
        QCOMPARE(prompter.count(), 0);
        prompter.answerCancel();
        SessionManager::saveCurrentSession(true);
        QCOMPARE(prompter.count(QStringLiteral("Session Name")), 1);
        SessionManager::saveCurrentSession(true);
        QCOMPARE(prompter.count(QStringLiteral("Session Name")), 1);
        QVERIFY(SessionManager::currentSessionName().contains(QStringLiteral("Unsaved")));
    }

    // What start-up, a -Session start, Save, Delete and the end of a run do
    // when the sessions folder has been damaged, left behind or is in use.
    void keeperUnderDamage_data()
    {
        QTest::addColumn<QByteArray>("list");       // "<dir>": a folder in its place; "<none>": no list
        QTest::addColumn<QStringList>("paths");     // made below the sessions folder (a trailing "/": a folder)
        QTest::addColumn<QStringList>("held");      // session folders another process works in
        QTest::addColumn<QString>("resume");        // -Session name; empty: a plain start
        QTest::addColumn<bool>("resumed");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QStringList>("offered");   // what the Session Manager lists
        QTest::addColumn<bool>("off");              // sessions off for this run
        using L = QStringList;
        auto row = [](const char *name, const QByteArray &list, const L &paths, const L &held, const QString &resume,
                      bool resumed, const L &kept, const L &gone, const L &offered, bool off) {
            QTest::newRow(name) << list << paths << held << resume << resumed << kept << gone << offered << off;
        };
        const QString jan1 = "Unsaved Jan 01, 2020", jan2 = "Unsaved Jan 02, 2020";
        const L damaged{"Keep/Window 1/CUT/1.btrx", jan1 + "/Window 1/", "stray/"};
        const L all{"Keep", jan1, "stray"};
        row("names trimmed, vanished and stray ones go", "  work \n\ngone\n", {"work/Window 1/", "stray/"}, {}, {},
            false, {"work"}, {"stray"}, {"work"}, false);
        row("list is a folder", "<dir>", damaged, {}, {}, false, all, {}, {}, true);
        row("list is no text", QByteArray("Keep\n\0\xff\n", 8), damaged, {}, {}, false, all, {}, {}, true);
        row("name with blanks of an older run", " old \n", {" old /Window 1/TEXT/1.btrx"}, {}, {}, false, {" old "}, {},
            {" old "}, false);
        row("crash leftovers", (jan1 + '\n' + jan2 + '\n').toUtf8(),
            {jan1 + "/Window 1/CUT/1.btrx", jan2 + "/Window 1/NEW/1.btrx"}, {}, {}, false, {jan1}, {jan2},
            {"Recovered: " + jan1}, false);
        row("no list: folders name the sessions", "<none>",
            {"thesis/Window 1/", jan1 + "/Window 2/PASTE/1.btrx.md", jan2 + "/Window 1/"}, {}, {}, false,
            {"thesis", jan1}, {jan2}, {"thesis", "Recovered: " + jan1}, false);
        // "crashed" holds the lock of a process that no longer runs.
        row("folders of live processes stay", "busy\ncrashed\n", {"busy/", "crashed/Session.lock", jan2 + "/"},
            {"busy", jan2}, {}, false, {"busy", jan2, "crashed"}, {}, {"crashed"}, false);
        row("resume of a held session", "busy\n", {"busy/Window 1/CUT/1.btrx"}, {"busy"}, "busy", false, {"busy"}, {},
            {}, false);
        row("resume of a name outside", "", {}, {}, "..", false, {}, {}, {}, false);
        row("resume of a session without windows", "", {"empty/"}, {}, "empty", true, {"empty"}, {}, {}, false);
        row("resume of an unsaved name without windows", "", {}, {}, jan2, false, {}, {jan2}, {}, false);
        row("resume of a recovered session", (jan1 + '\n').toUtf8(), {jan1 + "/Window 1/CUT/1.btrx"}, {}, jan1, true,
            {jan1}, {}, {}, false);
    }

    void keeperUnderDamage()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, paths);
        QFETCH(QStringList, held);
        QFETCH(QString, resume);
        QFETCH(bool, resumed);
        QFETCH(QStringList, kept);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, offered);
        QFETCH(bool, off);
        TestEnv env;
        const QString root = SessionManager::sessionsRoot() + '/';
        const QByteArray deadLock = "999999999\ntarvix\n" + QSysInfo::machineHostName().toUtf8() + "\n";
        QVERIFY(QDir().mkpath(root));
        for (const QString &p : paths)
            QVERIFY(p.endsWith('/') ? QDir().mkpath(root + p)
                                    : writeFile(root + p, p.endsWith("Session.lock") ? deadLock : "snapshot"));
        if (list == "<dir>")
            QVERIFY(QDir().mkpath(SessionManager::listFilePath()));
        else if (list != "<none>")
            QVERIFY(writeFile(SessionManager::listFilePath(), list));
        std::vector<std::unique_ptr<QLockFile>> others;
        for (const QString &h : held) {
            others.emplace_back(new QLockFile(root + h + "/Session.lock"));
            others.back()->setStaleLockTime(0);
            QVERIFY(others.back()->tryLock(0));
        }
        ScriptedPrompter prompter;
        {
            std::unique_ptr<SessionManager> keeper(resume.isEmpty() ? new SessionManager() : new SessionManager(resume));
            for (const QString &k : kept)
                QVERIFY2(QFileInfo(root + k).isDir(), qPrintable(k));
            for (const QString &g : gone)
                QVERIFY2(!QFileInfo::exists(root + g), qPrintable(g));
            QStringList shown = keeper->resumableSessions();
            for (const QString &r : keeper->recoverableSessions())
                shown << "Recovered: " + r;
            QCOMPARE(shown, offered);
            QCOMPARE(!SessionManager::unavailableReason().isEmpty(), off);
            QVERIFY(SessionManager::recordingPossible());
            for (const QString &h : held)   // live sessions stay listed
                QVERIFY(listFile().contains(h));
            if (!off && !resumed)   // this run's own session is listed last
                QCOMPARE(listFile().last(), SessionManager::currentSessionName());
            if (!resume.isEmpty()) {
                // Refused: this run works in a fresh session of its own.
                QCOMPARE(keeper->resumedAsked(), resumed);
                QCOMPARE(SessionManager::currentSessionName() == resume, resumed);
                QVERIFY(resumed || SessionManager::currentSessionName().contains("Unsaved"));
                QVERIFY(listFile().contains(SessionManager::currentSessionName()));
            }
            if (off) {
                // Save and Delete refuse, saying why; nothing is rewritten.
                bool done = true;
                keeper->saveSession(&done);
                QVERIFY(!done && prompter.last().text.contains("Sessions are off for this run: "));
                QVERIFY(!keeper->removeFromList({"Keep"}));
                QCOMPARE(prompter.last().title, QString("Session not deleted!"));
            }
        }
        // The end of the run rewrites no unreadable list and keeps a
        // recovered session offered.
        if (list == "<dir>")
            QVERIFY(QFileInfo(SessionManager::listFilePath()).isDir());
        else if (off)
            QCOMPARE(readFile(SessionManager::listFilePath()), list);
        if (resumed)
            QVERIFY(listFile().contains(resume));
        for (const QString &k : kept)
            QVERIFY2(QFileInfo(root + k).isDir(), qPrintable(k));
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
