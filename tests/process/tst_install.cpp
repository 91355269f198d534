// cmake --install into a private prefix, then the installed programs run
// from there and the desktop entry names them.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "childrun.h"
#include "testutil.h"

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString prefix() const { return m_dir.path() + QStringLiteral("/prefix dir"); }
    QString entry() const { return prefix() + QStringLiteral("/share/applications/app.tarvix.Tarvix.desktop"); }

    // Runs program with args in the test folder; its exit code, its output
    // and errors in out.
    int run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
    {
        const Run r = runChild(m_dir.path(), program, args);
        if (out)
            *out = r.out + r.err;
        return r.code;
    }

private slots:
    void initTestCase()
    {
        const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
        QVERIFY2(!cmake.isEmpty(), "cmake not found");
        QByteArray out;
        QCOMPARE(run(cmake, {"--install", TARVIX_BIN_DIR, "--prefix", prefix()}, &out), 0);
    }

    void files()
    {
        // iconSize 0: not an icon.
        QList<std::pair<QString, int>> cases{{"bin/tarvix", 0}, {"bin/tarvix-cli", 0}, {"share/tarvix/help.txt", 0}};
        for (int size : {16, 32, 64, 128, 256})
            cases.append({QStringLiteral("share/icons/hicolor/%1x%1/apps/app.tarvix.Tarvix.png").arg(size), size});
        for (const auto &[path, iconSize] : cases) {
            const QFileInfo info(prefix() + QLatin1Char('/') + path);
            QVERIFY2(info.isFile(), qPrintable(path));
            if (path.startsWith(QLatin1String("bin/")))
                QVERIFY(info.isExecutable());
            if (iconSize > 0) {
                // PNG: width and height are the big-endian words at bytes 16 and 20.
                const QByteArray png = readFile(info.filePath());
                QVERIFY(png.startsWith("\x89PNG"));
                auto word = [&png](int at) {
                    return (uchar(png[at]) << 24) | (uchar(png[at + 1]) << 16) | (uchar(png[at + 2]) << 8)
                           | uchar(png[at + 3]);
                };
                QCOMPARE(int(word(16)), iconSize);
                QCOMPARE(int(word(20)), iconSize);
            }
        }
    }

    void helpTextIsTheProgramsOwn()
    {
        const QByteArray text = readFile(prefix() + QStringLiteral("/share/tarvix/help.txt"));
        QCOMPARE(text, readFile(QStringLiteral(TARVIX_BIN_DIR "/help.txt")));
        QVERIFY(text.contains("tarvix-cli"));
    }

    void desktopEntryNamesTheInstalledProgram()
    {
        const QString text = QString::fromUtf8(readFile(entry()));
        // The prefix holds a space: the path is quoted.
        QVERIFY2(text.contains("\nExec=\"" + prefix() + "/bin/tarvix\" %F\n"), qPrintable(text));
        QVERIFY(text.contains("\nIcon=app.tarvix.Tarvix\n"));
        const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validate.isEmpty())
            QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
        QByteArray out;
        QCOMPARE(run(validate, {entry()}, &out), 0);
        QVERIFY2(out.trimmed().isEmpty(), out.constData());
    }

    void installedConsoleProgramRuns()
    {
        const QString cli = prefix() + QStringLiteral("/bin/tarvix-cli");
        const QString file = m_dir.path() + QStringLiteral("/x.trx");
        QCOMPARE(run(cli, {"generate", "3", file, "--seed", "1"}), 0);
        QByteArray out;
        QCOMPARE(run(cli, {"solve", file}, &out), 0);
        QCOMPARE(out.trimmed().split('\n').size(), 3);
    }

    void installedProgramStartsAndCloses()
    {
        const QString appData = m_dir.path() + QStringLiteral("/appdata");
        QVERIFY(QDir().mkpath(appData));
        QProcess p;
        prepareChild(p, m_dir.path());
        p.start(prefix() + QStringLiteral("/bin/tarvix"), QStringList());
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(appData + QStringLiteral("/Tarvix/logs/session.log")), 30000);
        QTest::qWait(300);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
