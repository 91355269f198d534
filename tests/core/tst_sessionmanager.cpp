#include "scriptedprompter.h"
#include "session/sessionmanager.h"
#include "testenv.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QtTest>

namespace {
QString today()
{
    return QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Unsaved 'MMM dd, yyyy"));
}

QStringList listFile()
{
    QFile f(SessionManager::listFilePath());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {QStringLiteral("<missing>")};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
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
        QDir().mkpath(root + QStringLiteral("/junk"));
        auto *first = new SessionManager();
        QCOMPARE(SessionManager::currentSessionName(), today());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/junk")));    // no list file: root emptied
        QVERIFY(QFileInfo(root + QLatin1Char('/') + today()).isDir());
        QVERIFY(first->resumableSessions().isEmpty());
        {
            SessionManager second;                                       // while the first lives
            QCOMPARE(SessionManager::currentSessionName(), today() + QStringLiteral("_1"));
            QCOMPARE(listFile(), (QStringList{today(), today() + QStringLiteral("_1")}));
        }
        // an unsaved session leaves the list at exit
        QCOMPARE(listFile(), QStringList{today()});
        delete first;
    }

    void startUpCleansAgainstTheList()
    {
        TestEnv env;
        const QString root = env.appData() + QStringLiteral("/Tarvix/Sessions");
        QDir().mkpath(root + QStringLiteral("/work/Window 1"));
        QDir().mkpath(root + QStringLiteral("/stray"));
        QFile list(root + QStringLiteral("/Sessions.sestrx"));
        QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Text));
        list.write("  work \n\ngone\n");
        list.close();
        SessionManager sessions;
        QCOMPARE(sessions.listedSessions(), QStringList{QStringLiteral("work")});
        QCOMPARE(sessions.resumableSessions(), QStringList{QStringLiteral("work")});
        QVERIFY(QFileInfo(root + QStringLiteral("/work/Window 1")).isDir());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/stray")));
        QCOMPARE(listFile(), (QStringList{QStringLiteral("work"), today()}));
    }

    void saveAsksOnceThenRenamesTheFolder_data()
    {
        QTest::addColumn<QString>("name");        // null: cancelled
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("lastTitle");
        QTest::newRow("named") << "thesis" << true << "Session Name";
        QTest::newRow("cancelled") << QString() << false << "Session not saved!";
        QTest::newRow("name with Unsaved") << "Unsaved work" << false << "Session not saved!";
        QTest::newRow("name leaving the folder") << "../escape" << false << "Session not saved!";
    }

    void saveAsksOnceThenRenamesTheFolder()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        QFETCH(QString, lastTitle);
        TestEnv env;
        SessionManager sessions;
        QSignalSpy spy(&sessions, &SessionManager::SaveSession);
        ScriptedPrompter prompter;
        prompter.answer(name.isNull() ? QVariant() : QVariant(name));
        bool done = false;
        sessions.saveSession(&done);
        QCOMPARE(done, saved);
        QCOMPARE(spy.count(), saved ? 1 : 0);
        QCOMPARE(prompter.last().title, lastTitle);
        if (!saved)
            return;
        QCOMPARE(SessionManager::currentSessionName(), name);
        QVERIFY(QFileInfo(SessionManager::sessionsRoot() + QLatin1Char('/') + name).isDir());
        // a second save asks for nothing
        prompter.clear();
        sessions.saveSession(&done);
        QVERIFY(done);
        QCOMPARE(prompter.count(), 0);
        QCOMPARE(spy.count(), 2);
    }

    void windowNamesCountUp()
    {
        const QString a = SessionManager::nextWindowName();
        const QString b = SessionManager::nextWindowName();
        QVERIFY(a.startsWith(QStringLiteral("Window ")));
        QCOMPARE(b.mid(7).toInt(), a.mid(7).toInt() + 1);
    }
};

QTEST_GUILESS_MAIN(TestSessionManager)
#include "tst_sessionmanager.moc"
