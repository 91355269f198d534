#include "logcapture.h"
#include "scriptedprompter.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QtTest>

namespace {

// The file a fresh start writes with 2 processors on a 1366 x 728 desktop.
QStringList defaultLines()
{
    return QStringLiteral("Tarvix\n5\t10\t\n1e-15\t0\t1\t1\t0\t1\n100\t3\t0\t0\t0\t15\n433\t189\t500\t350\t\n"
                          "283\t64\t800\t600\t\n333\t209\t700\t310\t\n508\t264\t350\t200\t\n38\t64\t1290\t600\t\n"
                          "408\t164\t550\t400\t\n100\t50\t30\t3\n30\t30\t30\t5\n0\t0\t5\t3\n0\t0\t3\t3")
        .split(QLatin1Char('\n'));
}

QByteArray joined(const QStringList &lines)
{
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QString prefFolder(const TestEnv &env)
{
    return env.appData() + QStringLiteral("/Tarvix/Preferences");
}

} // namespace

class TestUserPrefs : public QObject
{
    Q_OBJECT
private slots:
    void freshStartWritesDefaults()
    {
        TestEnv env(2);
        const QString path = env.appData() + QStringLiteral("/Tarvix/Preferences/Tarvix.pref");
        QCOMPARE(UserPrefs::prefsFilePath(), path);
        QCOMPARE(readFile(path), joined(defaultLines()));
        QVERIFY(!UserPrefs::isDirty());
        QCOMPARE(UserPrefs::getProcessorCount(), 2);
    }

    void repairs()
    {
        // The line replaced in the stored file (0-based), its content ("<cut>":
        // the file ends before it), that line after the rewrite at exit, dirty.
        const struct { int line; QString stored; const char *expected; bool dirty; } cases[] = {
            {1, "5\t10\t15\t", "5\t10\t", true}, // thread limits of another processor count
            {1, "7\t40\t", "7\t40\t", false}, // tuned thread limits kept
            {2, "0.5\t1\t0\t1\t1\t0", "1e-15\t1\t0\t1\t1\t0", true}, // tolerance out of range
            {2, "1e-10\t0\t1\t1\t0\t1", "1e-10\t0\t1\t1\t0\t1", false}, // tolerance in range kept
            {2, "1e-10\t1\t1\t1\t2\t0", "1e-10\t1\t1\t1\t0\t0", true}, // flag of 2 takes its default
            {2, "1e-10\t1\t1\t1\t1", "1e-15\t0\t1\t1\t0\t1", true}, // five fields on line 3
            {3, "105\t5\t1\t0\t1\t7", "100\t5\t1\t0\t1\t7", true}, // analysis rows not a multiple of 10
            {3, "0\t11\t3\t3\t2\t16", "100\t3\t0\t0\t0\t15", true}, // every field of line 4 out of range
            {3, "100\t3\t2\t2\t0\t15", "100\t3\t2\t2\t0\t15", false}, // stored solution sets kept
            {3, "20\t10\t0\t1\t1\t1", "20\t10\t0\t1\t1\t1", false}, // line 4 read field by field
            {6, "1\t2\t3\t4\t5\t", "333\t209\t700\t310\t", true}, // geometry with five numbers
            {8, "1 2  3 4", "1\t2\t3\t4\t", false}, // geometry separated by blanks
            {10, "1\t2\t3", "100\t50\t30\t3", true}, // width line with three numbers
            {4, "<cut>", "433\t189\t500\t350\t", true}, // file cut after line 4
            {12, QString::fromLatin1("\x01\x02\xff\xfe"), "0\t0\t5\t3", true}, // binary junk on a line
        };
        for (const auto &[line, stored, text, dirty] : cases) {
            const QString expected = QString::fromLatin1(text);
            TestEnv env(2, false);
            const QString folder = prefFolder(env);
            QStringList lines = defaultLines();
            if (stored == QLatin1String("<cut>"))
                lines = lines.mid(0, line);
            else
                lines[line] = stored;
            const QByteArray original = joined(lines);
            QVERIFY(writeFile(folder + QStringLiteral("/Tarvix.pref"), original));

            UserPrefs prefs(nullptr);
            QVERIFY(prefs.initialise(env.environment(), TestEnv::screen()));
            QCOMPARE(UserPrefs::isDirty(), dirty);
            QVERIFY(UserPrefs::savePrefs());

            QStringList want = defaultLines();
            want[line] = expected;
            QCOMPARE(readFile(folder + QStringLiteral("/Tarvix.pref")), dirty ? joined(want) : original);
            QCOMPARE(readFile(folder + QStringLiteral("/Old_Tarvix.pref")), dirty ? original : QByteArray("<missing>"));
            QVERIFY(!QFile::exists(folder + QStringLiteral("/New_Tarvix.pref")));
        }
    }

    void wholeFile()
    {
        // A first line in lower case is refused (the product name test is
        // case-sensitive); an empty file is recreated.
        QByteArray lower = joined(defaultLines());
        lower[0] = 't';
        for (const auto &[stored, accepted, after] : {std::tuple{lower, false, lower}, {QByteArray(), true, joined(defaultLines())}}) {
            TestEnv env(2, false);
            QVERIFY(writeFile(prefFolder(env) + QStringLiteral("/Tarvix.pref"), stored));
            ScriptedPrompter prompter;
            UserPrefs prefs(nullptr);
            QCOMPARE(prefs.initialise(env.environment(), TestEnv::screen()), accepted);
            QCOMPARE(prompter.count(), 0);
            QCOMPARE(readFile(prefFolder(env) + QStringLiteral("/Tarvix.pref")), after);
        }
    }

    void savesKeepOneOldFileAndNoTail()
    {
        TestEnv env(2);
        const QString folder = prefFolder(env);
        UserPrefs::setFancyUI(false); // same values: no change, nothing written
        UserPrefs::setTolerance(1e-15);
        QVERIFY(!UserPrefs::isDirty() && UserPrefs::savePrefs());
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Tarvix.pref")});
        // A long file left by an interrupted save leaves no tail behind.
        QVERIFY(writeFile(folder + QStringLiteral("/New_Tarvix.pref"), QByteArray(4000, 'x')));
        QStringList want = defaultLines();
        UserPrefs::setAnalysisRows(20);
        QVERIFY(UserPrefs::savePrefs());
        want[3] = QStringLiteral("20\t3\t0\t0\t0\t15");
        const QByteArray afterFirst = readFile(folder + QStringLiteral("/Tarvix.pref"));
        QCOMPARE(afterFirst, joined(want));
        UserPrefs::setAnalysisRows(30);
        QVERIFY(UserPrefs::savePrefs());
        want[3] = QStringLiteral("30\t3\t0\t0\t0\t15");
        QCOMPARE(readFile(folder + QStringLiteral("/Tarvix.pref")), joined(want));
        QCOMPARE(readFile(folder + QStringLiteral("/Old_Tarvix.pref")), afterFirst);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    }

    // The step-by-step OpenCL engine is kept on an optional last line; the
    // default (blocked) writes none, so the file stays as it was.
    void openCLEngineLine()
    {
        TestEnv env(2, false);
        const QString file = prefFolder(env) + QStringLiteral("/Tarvix.pref");
        QVERIFY(writeFile(file, joined(defaultLines() << QStringLiteral("OpenCLEngine\tstepwise"))));
        UserPrefs prefs(nullptr);
        QVERIFY(prefs.initialise(env.environment(), TestEnv::screen()));
        QVERIFY(UserPrefs::getOpenCLStepwise() && !UserPrefs::isDirty());
        UserPrefs::setOpenCLStepwise(false);
        QVERIFY(UserPrefs::savePrefs());
        QCOMPARE(readFile(file), joined(defaultLines()));
    }

    void settersMarkDirtyOnlyOnChange()
    {
        TestEnv env(2);
        UserPrefs::setTolerance(0.5);                       // outside 1e-15..0.1: ignored
        UserPrefs::setThreadLimits({1, 2, 3});               // wrong length: ignored
        UserPrefs::setThreadLimits({});
        UserPrefs::setListValue(UserPrefs::Widths, 3, 9);    // displayColumns has its own setter
        UserPrefs::setListValue(UserPrefs::VariableStyle, 4, 9);
        QVERIFY(!UserPrefs::isDirty());
        QCOMPARE(UserPrefs::getListValue(UserPrefs::Heights, 7), 0);

        UserPrefs::setDisplayColumns(4);
        QVERIFY(UserPrefs::isDirty());
        const int geo[4] = {1, 2, 3, 4};
        UserPrefs::setGeometry(UserPrefs::EditWindow, geo, 2);
        QCOMPARE(UserPrefs::getGeometry(UserPrefs::EditWindow), (std::array<int, 4>{508, 264, 3, 200}));
        UserPrefs::setGeometry(UserPrefs::EditWindow, geo, -1);
        QCOMPARE(UserPrefs::getGeometry(UserPrefs::EditWindow), (std::array<int, 4>{1, 2, 3, 4}));
    }

    // Items outside the tables give zero and their record. (The defaults
    // themselves are what a fresh start writes: freshStartWritesDefaults.)
    void outOfRangeDefaultsAreLogged()
    {
        TestEnv env(2);
        LogCapture log;
        QCOMPARE(UserPrefs::getDefaultPrefsInt(7), 0);
        QCOMPARE(UserPrefs::getDefaultPrefs(6), false);
        QCOMPARE(UserPrefs::getDefaultPrefs(3, 5), 0);
        QCOMPARE(UserPrefs::getDefaultPrefs(5, 1), 0);
        int out[4] = {-1, -1, -1, -1};
        UserPrefs::getDefaultPrefs(6, out);
        QCOMPARE(QList<int>(out, out + 3), (QList<int>{683, 364, -1}));
        QCOMPARE(log.messages().join(QLatin1Char(',')).remove(QStringLiteral("critical: error no: ")),
                 QStringLiteral("UP1,UP2,UP5,UP7,UP8"));
    }

    void screenFactors()
    {
        // Factors against the 1366 x 728 design desktop and the main window's
        // x and width scaled by them.
        const struct { ScreenInfo screen; double sx, sy; int mainX, mainW; } cases[] = {
            {{1366, 728, 1366, 768}, 1.0, 1.0, 38, 1290},
            {{2732, 1456, 2732, 1536}, 2.0, 2.0, 76, 2580},
            {{0, 0, 683, 384}, 0.5, 0.5, 0, 645}, // no available area: the full screen
            {{0, 0, 0, 0}, 1.0, 1.0, 0, 1290},    // no screen at all
        };
        for (const auto &c : cases) {
            TestEnv env(2, false);
            UserPrefs prefs(nullptr);
            QVERIFY(prefs.initialise(env.environment(), c.screen));
            QCOMPARE(QList<double>({UserPrefs::getHorizontalScale(), UserPrefs::getVerticalScale()}), QList<double>({c.sx, c.sy}));
            const auto main = UserPrefs::getGeometry(UserPrefs::MainWindow);
            QCOMPARE(QList<int>({main[0], main[2]}), QList<int>({c.mainX, c.mainW}));
        }
    }

    void toForwardSlashes()
    {
        // A trailing separator goes, doubled ones become one.
        const struct { const char *in, *out; } cases[] = {
            {"C:\\Users\\me\\AppData\\Roaming\\", "C:/Users/me/AppData/Roaming"},
            {"C:\\\\data\\\\x", "C:/data/x"}, {"/home/me/.local/share", "/home/me/.local/share"}};
        for (const auto &c : cases) {
            QString path = QString::fromLatin1(c.in);
            UserPrefs::toForwardSlashes(path);
            QCOMPARE(path, QString::fromLatin1(c.out));
        }
    }

    void probeAsksOnceForMissingValues()
    {
        TestEnv env(2, false);
        ScriptedPrompter prompter;
        prompter.answerButton(Prompter::Ok);
        prompter.answerText(QStringLiteral("Windows"));
        prompter.answerText(env.temp());
        prompter.answerText(env.appData());
        QStringList list = env.environment();
        list[0] = QStringLiteral("0");
        list[4] = QStringLiteral("0");
        list[5] = QStringLiteral("0");
        UserPrefs prefs(nullptr);
        QVERIFY(prefs.initialise(list, TestEnv::screen()));
        const auto r = prompter.records();
        QCOMPARE(r.size(), 4);
        QCOMPARE(r[0].title, QStringLiteral("ENVIRONMENT VARIABLE NOT FOUND!"));
        QCOMPARE(r[0].icon, int(Prompter::Warning));
        QCOMPARE(r[1].title, QStringLiteral("Which Operating System?"));
        QCOMPARE(r[1].items, (QStringList{QStringLiteral("Windows"), QStringLiteral("Linux")}));
        // The order of the two folder questions shows in where the answers went.
        QCOMPARE(UserPrefs::getTempFolder(), env.temp());
        QCOMPARE(UserPrefs::getOsName(), QStringLiteral("Windows_NT"));
        QCOMPARE(UserPrefs::getAppDataFolder(), env.appData());
        // The answer "Windows" changes no separator on this system.
        QCOMPARE(UserPrefs::prefsFilePath(), prefFolder(env) + QStringLiteral("/Tarvix.pref"));
        QCOMPARE(readFile(UserPrefs::prefsFilePath()), joined(defaultLines()));
        QCOMPARE(QDir(env.appData()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Tarvix")});
    }

    void probeWithoutProcessorNumber()
    {
        for (const char *value : {"many", "0"}) {
            TestEnv env(2, false);
            ScriptedPrompter prompter;
            QStringList list = env.environment();
            list[6] = QLatin1String(value);
            UserPrefs prefs(nullptr);
            QVERIFY(prefs.initialise(list, TestEnv::screen()));
            QCOMPARE(prompter.count(), 0);
            QVERIFY(UserPrefs::getProcessorCount() >= 1);
            QCOMPARE(UserPrefs::getThreadLimits().size(), UserPrefs::getProcessorCount());
            QVERIFY(MyThreads::poolSize() >= 2);
        }
    }

    void destructRunsOnAPooledThread()
    {
        TestEnv env(2, false);
        auto *prefs = new UserPrefs(nullptr);
        QVERIFY(prefs->initialise(env.environment(), TestEnv::screen()));
        UserPrefs::setAccuracyDigits(9);
        QThread *t = MyThreads::start(prefs, SLOT(Destruct()), QStringLiteral("Tarvix::destruct"));
        QVERIFY(t->wait(10000));
        QCOMPARE(prefs->thread(), QThread::currentThread());
        QVERIFY(MyThreads::inPool(t) && readFile(UserPrefs::prefsFilePath()).contains("\n100\t3\t0\t0\t0\t9\n"));
        delete prefs;
    }
};

QTEST_GUILESS_MAIN(TestUserPrefs)
#include "tst_userprefs.moc"
