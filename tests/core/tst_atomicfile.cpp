#include "files/atomicfile.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TestAtomicFile : public QObject
{
    Q_OBJECT
private slots:
    void replaceKeepsOldUntilComplete_data();
    void replaceKeepsOldUntilComplete();
    void unwritableFolderNamesReason();

private:
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static QStringList leftovers(const QString &dir)
    {
        return QDir(dir).entryList(QStringList() << QStringLiteral("*.part"), QDir::Files | QDir::Hidden);
    }
};

void TestAtomicFile::replaceKeepsOldUntilComplete_data()
{
    QTest::addColumn<bool>("existed");
    QTest::addColumn<bool>("writerSucceeds");
    QTest::newRow("new file written") << false << true;
    QTest::newRow("old file replaced") << true << true;
    QTest::newRow("failed writer keeps old file") << true << false;
    QTest::newRow("failed writer leaves no file") << false << false;
}

void TestAtomicFile::replaceKeepsOldUntilComplete()
{
    QFETCH(bool, existed);
    QFETCH(bool, writerSucceeds);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("sys.trx"));
    if (existed) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old content");
        f.close();
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
    const QFile::Permissions before = QFile::permissions(target);
    QString seenTemp;
    const AtomicFile::Result r = AtomicFile::replace(target, [&](const QString &temp, QString *error) {
        seenTemp = temp;
        // The target is untouched while the writer runs.
        if (read(target) != (existed ? QByteArray("old content") : QByteArray("<missing>")))
            return false;
        QFile f(temp);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("half");
        if (!writerSucceeds) {
            *error = QStringLiteral("writer gave up");
            return false;
        }
        f.write(" and whole");
        return true;
    });
    QCOMPARE(r.ok, writerSucceeds);
    QVERIFY(QFileInfo(seenTemp).absolutePath() == QFileInfo(target).absolutePath());
    QVERIFY(leftovers(dir.path()).isEmpty());
    if (writerSucceeds) {
        QCOMPARE(read(target), QByteArray("half and whole"));
        if (existed)
            QCOMPARE(QFile::permissions(target), before);
    } else {
        QCOMPARE(r.error, QStringLiteral("writer gave up"));
        QCOMPARE(read(target), existed ? QByteArray("old content") : QByteArray("<missing>"));
    }
}

void TestAtomicFile::unwritableFolderNamesReason()
{
    const AtomicFile::Result r = AtomicFile::writeBytes(QStringLiteral("/nonexistent-folder/x.trx"), "data");
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("/nonexistent-folder/x.trx"))
                 && r.error.contains(QStringLiteral("No such file or directory")),
             qPrintable(r.error));
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
