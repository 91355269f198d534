#include "files/atomicfile.h"
#include "testutil.h"

#include <QtTest>

#include <QDir>
#include <QTemporaryDir>

class TestAtomicFile : public QObject
{
    Q_OBJECT
private slots:
    // A new file written, an old one replaced; a failed writer keeps the old
    // file or leaves none.
    void replaceKeepsOldUntilComplete()
    {
        for (const auto &[existed, writerSucceeds] : {std::pair{false, true}, {true, true}, {true, false}, {false, false}}) {
            QTemporaryDir dir;
            const QString target = dir.filePath(QStringLiteral("sys.trx"));
            if (existed) {
                QVERIFY(writeFile(target, "old content"));
                QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
            }
            const QFile::Permissions before = QFile::permissions(target);
            QString seenTemp;
            const AtomicFile::Result r = AtomicFile::replace(target, [&](const QString &temp, QString *error) {
                seenTemp = temp;
                // The target is untouched while the writer runs.
                if (readFile(target) != (existed ? QByteArray("old content") : QByteArray("<missing>")))
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
            QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden).isEmpty());
            if (writerSucceeds) {
                QCOMPARE(readFile(target), QByteArray("half and whole"));
                if (existed)
                    QCOMPARE(QFile::permissions(target), before);
            } else {
                QCOMPARE(r.error, QStringLiteral("writer gave up"));
                QCOMPARE(readFile(target), existed ? QByteArray("old content") : QByteArray("<missing>"));
            }
        }
    }

    void unwritableFolderNamesReason()
    {
        const AtomicFile::Result r = AtomicFile::writeBytes(QStringLiteral("/nonexistent-folder/x.trx"), "data");
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("/nonexistent-folder/x.trx"))
                     && r.error.contains(QStringLiteral("No such file or directory")),
                 qPrintable(r.error));
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
