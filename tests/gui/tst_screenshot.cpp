// Renders a window holding the 3x3 example. Under ctest it checks that the
// window paints its table; tools/screenshot.sh runs it on a virtual X
// display with TARVIX_SCREENSHOT=<file.png> to keep the picture.
#include "guitestutil.h"

#include <QImage>
#include <QStatusBar>

class ScreenshotTest : public QObject
{
    Q_OBJECT
private slots:
    void exampleWindow();
};

void ScreenshotTest::exampleWindow()
{
    GuiFixture fx;
    auto *w = systemWindow(QVector<double>(9), QVector<double>(3));
    // Typed in, as a person would.
    const char *cells[3][4] = {{"1", "1", "1", "6"}, {"0", "2", "5", "-4"}, {"2", "5", "-1", "27"}};
    MyTableModel *m = w->tableModel();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            QVERIFY(m->setData(m->index(r, c < 3 ? c : 4), cells[r][c]));
    w->move(0, 0);
    w->resize(1010, 430);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->StatusBarMsg("x + y + z = 6,  2y + 5z = -4,  2x + 5y - z = 27", 0);
    QTest::qWait(50);

    const QImage image = w->grab().toImage();
    // The status bar is painted white on black.
    const QRect bar = w->statusBar()->geometry();
    const QColor barColour = image.pixelColor(bar.right() - 5, bar.center().y());
    QVERIFY2(barColour.lightness() < 40, qPrintable(barColour.name()));
    QCOMPARE(w->store().rhs[2], 27.0);

    const QByteArray out = qgetenv("TARVIX_SCREENSHOT");
    if (!out.isEmpty())
        QVERIFY(image.save(QString::fromLocal8Bit(out)));
}

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshot.moc"
