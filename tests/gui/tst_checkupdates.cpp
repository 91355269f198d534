// The update check against a web server on the loopback address (no request
// ever leaves the machine), the daily check and its log.
#include "guitestutil.h"
#include "testutil.h"

#include "checkupdates.h"

#include <QDate>
#include <QDir>
#include <QHash>
#include <QPointer>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// A minimal HTTP server on 127.0.0.1: every path answers with a prepared
// response; an unknown path answers nothing at all (the silent server).
class PageServer : public QObject
{
public:
    PageServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
            }
        });
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    void page(const QString &path, const QByteArray &body, const QByteArray &status = "200 OK")
    {
        m_pages.insert(path, "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: "
                                 + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    // A moved-document page pointing at target, in the usual server wording.
    void moved(const QString &path, const QString &target)
    {
        page(path, "<html><body><h1>Moved Permanently</h1><p>The document has moved <a href=\""
                       + target.toUtf8() + "\">here</a>.</p></body></html>",
             "301 Moved Permanently");
    }
    QStringList requests;

private:
    void serve(QTcpSocket *s)
    {
        QByteArray &in = m_input[s];
        in += s->readAll();
        if (!in.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> first = in.left(in.indexOf("\r\n")).split(' ');
        const QString path = QString::fromLatin1(first.value(1));
        requests << path;
        in.clear();
        if (!m_pages.contains(path))
            return;
        s->write(m_pages.value(path));
        s->disconnectFromHost();
    }
    QTcpServer m_server;
    QHash<QString, QByteArray> m_pages;
    QHash<QTcpSocket *, QByteArray> m_input;
};

// The scripted prompter, with the check box of the update boxes: it writes
// down the box's state as shown and answers with `untick` applied.
class CheckPrompter : public ScriptedPrompter
{
public:
    int checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                     const QString &, const QString &, bool *checked) override
    {
        shownChecked << *checked;
        if (untick)
            *checked = false;
        return message(icon, title, text, buttons, NoButton);
    }
    bool untick = false;
    QList<bool> shownChecked;
};

void setAddress(const QString &url)
{
    qputenv("TARVIX_UPDATE_URL", url.toUtf8());
}

} // namespace

class CheckUpdatesTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    std::unique_ptr<CheckPrompter> prompter;
    std::unique_ptr<PageServer> server;

    QString log() const { return fx->env.appData() + "/Tarvix/Updates/check.log"; }

    // One check to its end; the result string.
    QString runCheck(int timeoutMs = 10000)
    {
        bool done = false;
        QString result;
        CheckUpdates checker(&done, &result);
        checker.setTimeoutMs(timeoutMs);
        checker.start();
        // Bounded: the checker's own timer ends every check.
        const bool ended = QTest::qWaitFor([&done] { return done; }, timeoutMs + 5000);
        return ended ? result : QStringLiteral("(never done)");
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.20.1")); }
    void init()
    {
        fx.reset(new GuiFixture);
        prompter.reset(new CheckPrompter);
        server.reset(new PageServer);
        server->page("/same.html", "***Tarvix 1.20.1***");
        UserPrefs::setAutoCheckUpdates(false);
        setAddress(QString());
    }
    void cleanup()
    {
        prompter.reset();
        Prompter::setInstance(&fx->prompter);
        fx.reset();
        server.reset();
        setAddress(QString());
    }

    void outcome()
    {
        // newer: the result is the newer mark and the version; body null: a page set below.
        PageServer &s = *server;
        s.moved("/moved.html", s.url("/new/latest.html"));
        s.page("/new/latest.html", "***Tarvix 1.21.0***");
        s.moved("/offsite.html", "http://updates.example.org/latest.html");
        s.moved("/nohtml.html", s.url("/latest.txt"));
        s.page("/latest.txt", "***Tarvix 1.21.0***");
        s.moved("/loop.html", s.url("/loop.html"));
        s.page("/missing.html", "<html>gone</html>", "404 Not Found");
        const QString newer = CheckUpdates::newerMark();
        const struct { const char *path; QByteArray body; bool newer; const char *result; int requests; } cases[] = {
            {"/same.html", "<html><p>Latest: ***Tarvix 1.20.1***</p></html>", false, "OK", 1},
            {"/newer.html", "<html>***Tarvix version 1.21.0 for everyone***</html>", true, "1.21.0", 1},
            {"/older.html", "***Tarvix 1.19.0***", false, "OK", 1}, {"/longer.html", "***Tarvix 1.20.10***", true, "1.20.10", 1},
            {"/moved.html", {}, true, "1.21.0", 2}, {"/offsite.html", {}, false, "No Error", 1},
            {"/nohtml.html", {}, false, "No Error", 1}, {"/loop.html", {}, false, "No Error", 1 + CheckUpdates::kMaxRedirects},
            {"/plain.html", "<html>Tarvix 1.21.0</html>", false, "No Error", 1},
            {"/half.html", "<html>***Tarvix 1.21.0</html>", false, "No Error", 1},
            {"/noversion.html", "***Tarvix, the latest***", false, "No Error", 1},
            {"/zero.html", QByteArray("<html>\0***Tarvix 1.21.0***", 26), false, "No Error", 1},
            {"/missing.html", {}, false, "Not Found", 1},
            {"/huge.html", QByteArray(3 << 20, 'x') + "***Tarvix 1.21.0***", false, "The update page is too large", 1}};
        for (const auto &c : cases) {
            if (!c.body.isNull())
                s.page(QLatin1String(c.path), c.body);
            s.requests.clear();
            setAddress(s.url(QLatin1String(c.path)));
            const QString got = runCheck(), result = c.newer ? newer + c.result : QString(c.result);
            if (result == QLatin1String("Not Found"))
                QVERIFY2(got.contains(result) && got != QLatin1String("No Error"), qPrintable(got));
            else
                QVERIFY2(got == result, qPrintable(QStringLiteral("%1: %2").arg(c.path, got)));
            QCOMPARE(s.requests.size(), c.requests);
        }
    }

    void silentServerTimesOut()
    {
        setAddress(server->url("/silent.html"));
        QCOMPARE(runCheck(300), QStringLiteral("10 second timeout"));
        QCOMPARE(server->requests, QStringList{"/silent.html"});
    }

    void versionNumbers()
    {
        // Groups compare as numbers; a fourth group is ignored.
        const struct { const char *section, *version; bool newer; } cases[] = {
            {"Tarvix 1.21.0 is out", "1.21.0", true}, {"Tarvix 2.0.0.7", "2.0.0", true},
            {"Tarvix 1.21.", "1.21", true}, {"Tarvix 1.9", "1.9", false}, {"Tarvix 1.100.0", "1.100.0", true},
            {"Tarvix 01.020.001", "01.020.001", false},
            {"Tarvix 1.99999999999999999999", "1.99999999999999999999", true}, {"Tarvix", "", false}};
        for (const auto &c : cases) {
            QCOMPARE(CheckUpdates::versionIn(c.section), QString(c.version));
            QVERIFY2(CheckUpdates::isNewer(c.version, QStringLiteral("1.20.1")) == c.newer, c.section);
        }
    }

    void manualCheckBoxes()
    {
        // Newer, up to date, no section, no address.
        const std::pair<const char *, const char *> cases[] = {
            {"/newer.html", "<p>You are using <b>Tarvix 1.20.1</b>. <b>Tarvix 1.21.0</b> has been released.</p>"
                            "<p>Please download the latest version from <a href = \"%1\">here</a>.</p>"},
            {"/same.html", "Looks like you have the latest version of Tarvix!"},
            {"/plain.html", "<p>Tarvix could not connect to the server. Error message: <b>No Error</b>.</p>"
                            "<p>Please try again or <a href = \"%1\">check manually</a>.</p>"},
            {"", "<p>No update address is configured for this build of Tarvix, so it cannot check for updates; "
                 "automatic checks are off.</p>"}};
        for (const auto &[path, text] : cases) {
            server->page("/newer.html", "***Tarvix 1.21.0***");
                server->page("/plain.html", "nothing to see");
            const QString address = *path ? server->url(path) : QString();
            setAddress(address);
            UserPrefs::setAutoCheckUpdates(true);

            auto *w = new tarvix();   // checks once: the day's check
            prompter->clear();
            prompter->shownChecked.clear();
            trigger(w, "actionCheck_for_Updates");
            QCOMPARE(prompter->count(), 1);
            const auto box = prompter->last();
            QCOMPARE(box.title, QStringLiteral("Checking for Updates"));
            QCOMPARE(box.text, QString(text).contains("%1") ? QString(text).arg(address) : QString(text));
            QCOMPARE(box.buttons, int(Prompter::Close));
            QCOMPARE(prompter->shownChecked, QList<bool>{true});
            QVERIFY(UserPrefs::getAutoCheckUpdates());
        }
    }

    void untickingTurnsAutomaticChecksOff()
    {
        setAddress(server->url("/same.html"));
        auto *w = new tarvix();
        UserPrefs::setAutoCheckUpdates(true);
        prompter->untick = true;
        trigger(w, "actionCheck_for_Updates");
        QCOMPARE(prompter->shownChecked, QList<bool>{true});
        QVERIFY(!UserPrefs::getAutoCheckUpdates());
        // The next check shows the box unticked.
        prompter->untick = false;
        trigger(w, "actionCheck_for_Updates");
        QCOMPARE(prompter->shownChecked, (QList<bool>{true, false}));
    }

    void dailyCheckOncePerDay()
    {
        setAddress(server->url("/same.html"));
        UserPrefs::setAutoCheckUpdates(true);
        // Yesterday's check does not count for today.
        QVERIFY(writeFile(log(), QDate::currentDate().addDays(-1).toString(Qt::TextDate).toUtf8()));

        auto *first = new tarvix();
        QCOMPARE(server->requests.size(), 1);
        // Quiet: the answer is in the status bar, no box.
        QCOMPARE(prompter->count(), 0);
        QCOMPARE(first->statusBar()->currentMessage(), QStringLiteral("Looks like you have the latest version of Tarvix!"));
        QCOMPARE(readFile(log()), QDate::currentDate().toString(Qt::TextDate).toUtf8());

        new tarvix();
        new tarvix();
        QCOMPARE(server->requests.size(), 1);

        // News is shown in a box even in the quiet check.
        QVERIFY(QFile::remove(log()));
        server->page("/same.html", "***Tarvix 1.21.0***");
        new tarvix();
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(prompter->count(), 1);
        QVERIFY(prompter->last().text.contains("<b>Tarvix 1.21.0</b> has been released."));
    }

    void dailyCheckLogUnusable()
    {
        server->page("/missing.html", "gone", "404 Not Found");
        setAddress(server->url("/missing.html"));
        UserPrefs::setAutoCheckUpdates(true);
        QVERIFY(QDir().mkpath(log()));   // a folder where the log should be

        auto *w = new tarvix();
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Tarvix could not connect to the server."));
        // Without a log every window checks, and none fails over it.
        QVERIFY(!w->checkUpdateLog() && QFileInfo(log()).isDir());
        QCOMPARE(prompter->count(), 0);
    }

    void dailyCheckNeedsPreferenceAndAddress()
    {
        setAddress(server->url("/same.html"));
        UserPrefs::setAutoCheckUpdates(false);
        new tarvix();
        setAddress(QString());
        UserPrefs::setAutoCheckUpdates(true);
        new tarvix();

        QVERIFY(server->requests.isEmpty() && !QFile::exists(log()));
        QCOMPARE(prompter->count(), 0);
    }
};

QTEST_MAIN(CheckUpdatesTest)
#include "tst_checkupdates.moc"
