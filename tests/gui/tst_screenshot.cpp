// Renders a window holding the 3x3 example. Under ctest it checks that the
// window paints its table; tools/screenshot.sh runs it on a virtual X
// display with TARVIX_SCREENSHOT=<file.png> to keep the picture.
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "scriptedprompter.h"
#include "tarvix.h"
#include "testenv.h"

#include <QImage>
#include <QPixmap>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

class ScreenshotTest : public QObject
{
    Q_OBJECT
private slots:
    void exampleWindow();
};

void ScreenshotTest::exampleWindow()
{
    TestEnv env(2, false);
    auto *prefs = new UserPrefs(nullptr);
    UserPrefs::setInstance(prefs);
    QVERIFY(prefs->initialise(env.environment(), TestEnv::screen()));
    ScriptedPrompter prompter;

    auto *w = new tarvix();
    w->resizeSystem(3);
    w->on_newb_clicked();
    const char *cells[3][5] = {{"1", "1", "1", "", "6"}, {"0", "2", "5", "", "-4"}, {"2", "5", "-1", "", "27"}};
    MyTableModel *m = w->tableModel();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c)
            if (c != 3)
                QVERIFY(m->setData(m->index(r, c), cells[r][c]));
    w->move(0, 0);
    w->resize(1010, 430);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->StatusBarMsg(QStringLiteral("x + y + z = 6,  2y + 5z = -4,  2x + 5y - z = 27"), 0);
    QTest::qWait(50);

    const QImage image = w->grab().toImage();
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), w->size() * image.devicePixelRatio());
    // The status bar is painted white on black.
    const QRect bar = w->statusBar()->geometry();
    const QColor barColour = image.pixelColor(bar.left() + bar.width() - 5, bar.center().y());
    QVERIFY2(barColour.lightness() < 40, qPrintable(barColour.name()));
    QCOMPARE(m->data(m->index(2, 4)).toDouble(), 27.0);

    const QByteArray out = qgetenv("TARVIX_SCREENSHOT");
    if (!out.isEmpty())
        QVERIFY(image.save(QString::fromLocal8Bit(out)));

    w->close();   // saved flag cleared by the edits: the prompter discards
    prompter.answerButton(Prompter::Discard);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!tarvix::windows().isEmpty()) {
        prompter.answerButton(Prompter::Discard);
        tarvix::windows().first()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QVERIFY(tarvix::windows().isEmpty());
}

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshot.moc"
