// The device dialog: its table, the choice it passes to the plugin, Escape,
// the error box, and a solve in the window on the OpenCL runtime.
#include "guitestutil.h"
#include "opencl/opencldevices.h"
#include "opencl/pluginhost.h"
#include "qttestwatchdog.h"

#include <QComboBox>
#include <QPluginLoader>
#include <QTableWidget>

namespace {

const QList<QStringList> kThree{
    {"Alpha GPU", "Vendor A", "GPU", "1500", "8000", "40", "Good"},
    {"Beta CPU", "Vendor B", "CPU", "3000", "16000", "8", "Bad"},
    {"Gamma", "Vendor C", "Accelerator", "900", "2000", "4", "good"}};

void selectRows(OpenCLDevices *d, const QList<int> &rows)
{
    auto *table = d->findChild<QTableWidget *>("tableWidget");
    for (int r : rows)
        table->selectionModel()->select(table->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

class TestOpenCLDevices : public QObject
{
    Q_OBJECT
    std::unique_ptr<GuiFixture> fx;
private slots:
    // No global data: only the window around QtTest's watchdog start.
    void initTestCase_data() { watchdogStarting(); }
    void initTestCase() { watchdogStarted(); }
    void init() { fx.reset(new GuiFixture); }
    void cleanup() { fx.reset(); }

    void tableFilling()
    {
        OpenCLDevices d;
        auto *ok = d.findChild<QPushButton *>("okb");
        QVERIFY(!ok->isEnabled());
        d.fillTable(kThree);
        auto *table = d.findChild<QTableWidget *>("tableWidget");
        QCOMPARE(table->rowCount(), 3);
        for (int r = 0; r < 3; ++r)
            QCOMPARE(table->item(r, 0)->text() + ' ' + table->item(r, 1)->text(), QString::number(r + 1) + ' ' + kThree.at(r).at(0));
        // The third is "good" in lower case.
        QCOMPARE(QList<QColor>({table->item(0, 7)->background().color(), table->item(1, 7)->background().color(),
                                table->item(2, 7)->background().color()}), QList<QColor>({Qt::green, Qt::red, Qt::green}));
        QVERIFY(table->selectedItems().isEmpty());
        selectRows(&d, {0, 2});
        QVERIFY(ok->isEnabled());
        // Sorted the other way round by the user, the positions stay those
        // of the plugin's order.
        table->sortByColumn(0, Qt::DescendingOrder);
        QCOMPARE(d.selectedDevices(), (QList<int>{0, 2}));
        table->clearSelection();
        QVERIFY(!ok->isEnabled());
    }

    void choiceReachesThePlugin()
    {
        if (!PluginHost::openCLLibraryLoads())
            QSKIP("no OpenCL library: plugins are not loaded at all");
        // Rows 1 and 3 chosen; a set-up that fails; Escape.
        const struct { QList<int> rows; bool accepted, result; } cases[] = {
            {{0, 2}, true, true}, {{1}, true, false}, {{0}, false, false}};
        for (const auto &[rows, accepted, result] : cases) {
            OpenCLDevices d;
            QVERIFY(d.loadPlugin(QStringLiteral(TRX_FAKE_PLUGIN)));
            // The stand-in plugin's root object, shared by every loader.
            QObject *root = QPluginLoader(QStringLiteral(TRX_FAKE_PLUGIN)).instance();
            QVERIFY(root);
            root->setProperty("customDevices", QVariant());
            WidgetPoller poller([&](QWidget *top) {
                if (auto *dialog = qobject_cast<OpenCLDevices *>(top)) {
                    selectRows(dialog, rows);
                    if (accepted)
                        dialog->findChild<QPushButton *>("okb")->click();
                    else
                        QTest::keyClick(dialog, Qt::Key_Escape);
                }
            });
            QCOMPARE(d.selectDevices(), result);
            if (accepted) {
                QVariantList expected;
                for (int r : rows)
                    expected << r;
                QCOMPARE(root->property("customDevices").toList(), expected);
                QVERIFY(root->property("sourceFound").toBool());
            } else {
                // Closing the dialog chose nothing, and the plugin was not asked.
                QVERIFY(!root->property("customDevices").isValid());
            }
        }
    }

    // The plugin's error box reaches the user; the solver dialog's OpenCL
    // button says why it is off: no plugin, or one of another interface.
    void pluginTroublesAreShown()
    {
        if (!PluginHost::openCLLibraryLoads())
            QSKIP("no OpenCL library: plugins are not loaded at all");
        OpenCLDevices d;
        QVERIFY(d.loadPlugin(QStringLiteral(TRX_FAKE_PLUGIN)));
        fx->prompter.answerButton(Prompter::Ok);
        bool res = true;
        d.calcURatios(&res);
        QVERIFY(!res);
        const auto box = fx->prompt(QStringLiteral("Fake title"));
        QCOMPARE(box.text, QStringLiteral("Fake text"));
        QCOMPARE(box.icon, int(Prompter::Critical));

        for (const char *path : {"/nonexistent/TrxOpenCL.so", TRX_WRONG_PLUGIN})
            QVERIFY(SolverDialog::openCLUnavailable(QString::fromLatin1(path))
                        .startsWith(QLatin1String("The OpenCL plugin could not be loaded from ")));
        QCOMPARE(SolverDialog::openCLUnavailable(QStringLiteral(TRX_FAKE_PLUGIN)), QString());
    }

    // The whole command on the OpenCL runtime: the solver dialog's OpenCL
    // button, the device dialog listing the runtime's devices and its engine
    // choice (kept in the preferences), the solve and where it ran.
    void windowSolvesOnDevice_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("method");
        QTest::newRow("blocked") << 0 << QStringLiteral("blocked LU with partial pivoting on OpenCL: ");
        QTest::newRow("step by step") << 1 << QStringLiteral("ordered elimination, step by step on OpenCL: ");
    }
    void windowSolvesOnDevice()
    {
        QFETCH(int, engine);
        QFETCH(QString, method);
        UserPrefs::setOpenCLEnabled(true);
        {
            PluginHost probe;
            QList<QStringList> lists;
            if (!SolverDialog::openCLLibraryLoads() || !probe.loadPlugin() || !probe.deviceInfo(&lists))
                QSKIP("no OpenCL library, no platform with a device, or no plugin beside the tests");
        }
        tarvix *w = systemWindow(kExampleA, kExampleB);
        int deviceRows = 0;
        WidgetPoller poller([&](QWidget *top) {
            if (auto *s = qobject_cast<SolverDialog *>(top)) {
                QVERIFY(s->findChild<QPushButton *>("openclb")->isEnabled());
                s->findChild<QPushButton *>("openclb")->click();
            } else if (auto *d = qobject_cast<OpenCLDevices *>(top)) {
                deviceRows = d->findChild<QTableWidget *>("tableWidget")->rowCount();
                selectRows(d, {0});
                auto *combo = d->findChild<QComboBox *>("engineCombo");
                // The other choice first: the dialog shows what was kept.
                QCOMPARE(combo->currentIndex(), int(UserPrefs::getOpenCLStepwise()));
                combo->setCurrentIndex(engine);
                d->findChild<QPushButton *>("okb")->click();
            }
        });
        fx->prompter.answerButton(Prompter::No);
        w->on_solveb_clicked();
        QVERIFY(deviceRows >= 1 && fx->prompt(QStringLiteral("Solving Completed!")).kind == QLatin1String("message"));
        QVERIFY(solvesToExample(w->store().currentSol));
        QCOMPARE(UserPrefs::getOpenCLStepwise(), engine == 1);
        QVERIFY2(w->lastTrust().methodName().startsWith(method), qPrintable(w->lastTrust().methodName()));
    }
};

QTEST_MAIN(TestOpenCLDevices)
#include "tst_opencldevices.moc"
