#include "guitestutil.h"
#include "testutil.h"
#include "session/sessionmanager.h"
#include "sessions/sessionmanagerdialog.h"

#include <QListWidget>
#include <QStatusBar>

namespace {
QStringList listFile()
{
    return QString::fromUtf8(readFile(SessionManager::listFilePath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void makeSavedSessions(const QStringList &names)
{
    for (const QString &n : names)
        QDir().mkpath(SessionManager::sessionsRoot() + QLatin1Char('/') + n + QStringLiteral("/Window 1"));
    QVERIFY(writeFile(SessionManager::listFilePath(), (names.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()));
}
} // namespace

class TestSessions : public QObject
{
    Q_OBJECT
private slots:
    void dialogResumesAndDeletes();
    void saveSessionAndExitClosesWithoutQuestions();
    void resumeOfMissingSessionOpensEmptyWindow();
};

void TestSessions::dialogResumesAndDeletes()
{
    GuiFixture fx;
    makeSavedSessions({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma")});
    SessionManager keeper;
    QList<QStringList> launched;
    SessionManagerDialog::setLauncher([&](const QString &program, const QStringList &args) {
        launched << (QStringList{program} + args);
        return true;
    });
    SessionManagerDialog dialog(&keeper);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    dialog.refresh();
    QCOMPARE(dialog.sessionList()->count(), 3);

    // Delete "beta": gone from the list file at once, folder left for the next start.
    dialog.sessionList()->item(1)->setSelected(true);
    button(&dialog, "deleteSessionb")->click();
    QCOMPARE(dialog.sessionList()->count(), 2);
    QVERIFY(!listFile().contains(QStringLiteral("beta")));
    QVERIFY(listFile().contains(QStringLiteral("alpha")));

    // Resume both remaining entries: one detached process each.
    dialog.sessionList()->selectAll();
    button(&dialog, "resumeSessionb")->click();
    QCOMPARE(launched.size(), 2);
    QCOMPARE(launched.at(0).mid(1), (QStringList{QStringLiteral("-Session"), QStringLiteral("alpha")}));
    QCOMPARE(launched.at(1).mid(1), (QStringList{QStringLiteral("-Session"), QStringLiteral("gamma")}));
    QCOMPARE(launched.at(0).first(), QCoreApplication::applicationFilePath());
    SessionManagerDialog::setLauncher(nullptr);
}

void TestSessions::saveSessionAndExitClosesWithoutQuestions()
{
    GuiFixture fx;
    SessionManager keeper;
    auto *a = new tarvix();
    auto *b = new tarvix();
    a->show();
    b->show();
    a->tableModel()->setData(a->tableModel()->index(0, 0), 4.0);   // both windows hold unsaved edits
    b->tableModel()->setData(b->tableModel()->index(1, 1), 5.0);
    QVERIFY(!a->isSaved() && !b->isSaved());
    QPointer<tarvix> pa(a), pb(b);
    fx.prompter.answerText(QStringLiteral("study"));
    trigger(b, "actionSave_Session_and_Exit");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(SessionManager::currentSessionName(), QStringLiteral("study"));
    QVERIFY(pa.isNull() && pb.isNull());
    QCOMPARE(fx.prompt(QStringLiteral("Session NOT Saved!")).kind, QString());
    QVERIFY(listFile().contains(QStringLiteral("study")));
}

void TestSessions::resumeOfMissingSessionOpensEmptyWindow()
{
    // No such folder, a folder without windows, a name leaving the sessions folder.
    for (const QString name : {"vanished", "empty", ".."}) {
        GuiFixture fx;
        QDir().mkpath(SessionManager::sessionsRoot() + QStringLiteral("/empty"));
        SessionManager keeper(name);
        const QList<tarvix *> windows = SessionManagerDialog::resumeSessionFromFile(name);
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows.first()->statusBar()->currentMessage(), QStringLiteral("Failed to resume session!"));
        QCOMPARE(windows.first()->store().N, 2);
    }
}

QTEST_MAIN(TestSessions)
#include "tst_sessions.moc"
