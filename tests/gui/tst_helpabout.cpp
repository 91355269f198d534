// Help opens the help file (copying the program's own copy into place);
// About shows the shared about dialog.
#include "guitestutil.h"
#include "shareddialogs.h"
#include "testutil.h"

#include "about/aboutdialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QUrl>

// Takes the URLs the program hands to the desktop, instead of a viewer.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class HelpAboutTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
    UrlCatcher catcher;
    QTemporaryDir shipped;

    QString helpPath() const { return fx->env.appData() + "/Tarvix/help.txt"; }
    QString shippedPath() const { return shipped.path() + "/help.txt"; }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.20.1"));
        qputenv("TARVIX_UPDATE_URL", "");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QVERIFY(writeFile(shippedPath(), "TARVIX HELP\n"));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init()
    {
        fx.reset(new GuiFixture);
        catcher.urls.clear();
        tarvix::setShippedHelpFile(shippedPath());
    }
    void cleanup()
    {
        fx.reset();
        tarvix::setShippedHelpFile(QString());
    }

    void help()
    {
        // present: the data folder's help file (null: none); opened: the content
        // of the opened file (null: the box).
        // viewer: a program opens text files.
        const struct { QByteArray present; bool shippedCopy; QByteArray opened; bool viewer; } cases[] = {
            {"MY NOTES\n", true, "MY NOTES\n", true}, {QByteArray(), true, "TARVIX HELP\n", true},
            {QByteArray(), false, QByteArray(), true}, {"MY NOTES\n", true, "MY NOTES\n", false}};
        for (const auto &[present, shippedCopy, opened, viewer] : cases) {
            catcher.urls.clear();
            fx->prompter.clear();
            if (!viewer)
                QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
            QFile::remove(helpPath());
            tarvix::setShippedHelpFile(shippedPath());
            if (!present.isNull())
                QVERIFY(writeFile(helpPath(), present));
            if (!shippedCopy)
                tarvix::setShippedHelpFile(shipped.path() + "/none.txt");

            auto *w = new tarvix();
            trigger(w, "actionHelp");
            if (opened.isNull()) {
                QCOMPARE(catcher.urls.size(), 0);
                const auto box = fx->prompt("Unable to Help You!");
                QCOMPARE(box.icon, int(Prompter::Warning));
                QCOMPARE(box.text, "Looks like the help file is not available.\nPlease copy the help.txt file from "
                                   "your installation and paste it at the location:\n" + fx->env.appData() + "/Tarvix");
                QVERIFY(!QFile::exists(helpPath()));
                continue;
            }
            if (!viewer) {
                QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
                // The box says where the file is.
                QVERIFY(fx->prompt("Unable to Help You!").text.endsWith("\n" + QDir::toNativeSeparators(helpPath())));
                continue;
            }
            QCOMPARE(fx->prompter.count(), 0);
            QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(helpPath())});
            QCOMPARE(readFile(helpPath()), opened);
        }
    }

    void aboutDialog()
    {
        auto *w = new tarvix();
        new tarvix();
        AboutDialog *about = SharedDialogs::about();
        QVERIFY(about);
        QCOMPARE(about->findChild<QLabel *>("versionLabel")->text(), QStringLiteral("Version 1.20.1 (64 bit)"));
        const QString build = about->findChild<QLabel *>("buildLabel")->text();
        QVERIFY2(QRegularExpression("^Build Date: \\d\\d [A-Z][a-z][a-z] \\d{4}$").match(build).hasMatch(),
                 qPrintable(build));
        const QDate date = QLocale::c().toDate(build.mid(12), "dd MMM yyyy");
        QVERIFY(date.isValid() && date <= QDate::currentDate().addDays(1));
        QVERIFY(!(about->windowFlags() & Qt::WindowCloseButtonHint));

        // About runs the dialog modally until OK.
        bool wasModal = false;
        QTimer::singleShot(0, about, [about, &wasModal] {
            wasModal = about->isVisible() && QApplication::activeModalWidget() == about;
            about->findChild<QPushButton *>("AbtOKb")->click();
        });
        trigger(w, "actionAbout");
        QVERIFY(wasModal && !about->isVisible());
    }
};

QTEST_MAIN(HelpAboutTest)
#include "tst_helpabout.moc"

