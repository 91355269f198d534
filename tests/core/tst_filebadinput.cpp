// Damaged and unusual equation files: every one gives its result code (or
// fails the header and size check) and never a crash, a hang or a partial
// success.
#include "files/equationfile.h"
#include "files/filestring.h"
#include "store/equationstore.h"
#include "testenv.h"

#include <QDataStream>
#include <QFile>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

enum Expect { Ok, HeaderBad, Corrupt };

const char *const kRows[3] = {"1\t2\t1\t1\t4", "2\t1\t3\t1\t5", "3\t1\t1\t4\t6"};
const double kCoef[3][3] = {{2, 1, 1}, {1, 3, 1}, {1, 1, 4}};
const double kRhs[3] = {4, 5, 6};

QByteArray textFile(const QList<QByteArray> &rows, const QByteArray &tail = "\nSolution\n1\t1\t1\t\nEOF",
                    const QByteArray &n = "3", const QByteArray &header = "Tarvix 1.20.1")
{
    QByteArray b = header + '\n' + n + '\n';
    for (const QByteArray &r : rows)
        b += r + '\n';
    return b + tail;
}

QList<QByteArray> rows3()
{
    return {kRows[0], kRows[1], kRows[2]};
}

struct Bin
{
    QString header = QStringLiteral("Tarvix 1.20.1");
    QString n = QStringLiteral("3");
    QString bytes = QStringLiteral("8");
    int rows = 3;
    QString marker = QStringLiteral("Solution");
    int solution = 3;
    QByteArray extra;
};

QByteArray binaryFile(const Bin &b)
{
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds << b.header << b.n << b.bytes;
    for (int i = 0; i < b.rows; ++i) {
        for (int j = 0; j < 3; ++j)
            ds << kCoef[i % 3][j];
        ds << kRhs[i % 3];
    }
    ds << b.marker;
    for (int i = 0; i < b.solution; ++i)
        ds << 1.0;
    return out + b.extra;
}

QString writeFile(const TestEnv &env, const QByteArray &bytes, bool binary)
{
    const QString path = env.temp() + (binary ? QStringLiteral("/f.btrx") : QStringLiteral("/f.trx"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    f.close();
    return path;
}

int firstCode(const QVector<int> &codes)
{
    for (int c : codes)
        if (c != 0)
            return c;
    return 0;
}

// Stands in for the window: its errMsg slot takes the triples.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList got;
public slots:
    void errMsg(QString *title, QString *text, QString type)
    {
        got << *title + QLatin1Char('|') + *text + QLatin1Char('|') + type;
        delete title;
        delete text;
    }
};

} // namespace

class TestFileBadInput : public QObject
{
    Q_OBJECT
private slots:
    void damaged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("expect");
        QTest::addColumn<int>("readerCode");
        QTest::addColumn<int>("parserCode");
        QTest::addColumn<bool>("solutionRead");

        const QList<QByteArray> r = rows3();
        auto row = [](const char *name, const QByteArray &b, int expect, int reader = 0,
                      int parser = 0, bool sol = false) {
            QTest::newRow(name) << b << false << expect << reader << parser << sol;
        };
        row("LF", textFile(r), Ok, 0, 0, true);
        row("CR LF", textFile(r).replace("\n", "\r\n"), Ok, 0, 0, true);
        row("blank lines", textFile({kRows[0], "", "   ", "\t \r", kRows[1], "", kRows[2]}), Ok, 0, 0, true);
        row("tabs and spaces", textFile({"  1   2\t\t1 \t 1  4  ", kRows[1], kRows[2]}), Ok, 0, 0, true);
        row("no EOF", textFile(r, "\nSolution\n1\t1\t1\t"), Ok, 0, 0, true);
        row("no solution section", textFile(r, ""), Ok);
        row("short solution line", textFile(r, "\nSolution\n1\t1\t\nEOF"), Ok);
        row("long solution line", textFile(r, "\nSolution\n1\t1\t1\t1\t\nEOF"), Ok);
        row("no solution line", textFile(r, "\nSolution\n"), Ok);
        row("bad solution value", textFile(r, "\nSolution\n1\tx\t1\t\nEOF"), Ok, FileString::ReadTextSolution);
        row("numbers in every form", textFile({"1\t+2\t0x1\t1.e0\t4", "2\t1\t3\t1\t5e0", "3\t1\t1\t4\t6"}), Ok, 0, 0, true);
        row("rows out of order", textFile({kRows[1], kRows[0], kRows[2]}), Corrupt, 0, FileString::ParseRowNumber);
        row("row number as decimal", textFile({"1.0\t2\t1\t1\t4", kRows[1], kRows[2]}), Corrupt, 0, FileString::ParseRowNumber);
        row("missing field", textFile({kRows[0], "2\t1\t3\t5", kRows[2]}), Corrupt, 0, FileString::ParseFieldCount);
        row("extra field", textFile({kRows[0], kRows[1], "3\t1\t1\t4\t6\t7"}), Corrupt, 0, FileString::ParseFieldCount);
        row("text coefficient", textFile({kRows[0], "2\t1\tthree\t1\t5", kRows[2]}), Corrupt, 0, FileString::ParseCoefficient);
        row("number with suffix", textFile({kRows[0], "2\t1\t3x\t1\t5", kRows[2]}), Corrupt, 0, FileString::ParseCoefficient);
        row("text right-hand side", textFile({kRows[0], kRows[1], "3\t1\t1\t4\tsix"}), Corrupt, 0, FileString::ParseRhs);
        row("solution before all rows", textFile({kRows[0], kRows[1]}, "\nSolution\n1\t1\t1\t\nEOF   padding"), Corrupt, FileString::ReadTextShort);
        row("file ends before all rows", textFile({kRows[0], kRows[1]}, "                              "), Corrupt, FileString::ReadTextShort);
        row("N larger than the rows", textFile(r, "\nSolution\n1\t1\t1\t\nEOF", "4"), Corrupt, FileString::ReadTextShort, FileString::ParseFieldCount);
        row("header with word inside", textFile(r, "\nSolution\n1\t1\t1\t\nEOF", "3", "my xTarvixx file"), Ok, 0, 0, true);
        row("header without word", textFile(r, "\nSolution\n1\t1\t1\t\nEOF", "3", "Tarvox 1.20.1"), HeaderBad);
        row("header in lower case", textFile(r, "\nSolution\n1\t1\t1\t\nEOF", "3", "tarvix 1.20.1"), HeaderBad);
        row("N of 0", textFile(r, "", "0"), HeaderBad);
        row("N of 1", textFile(r, "", "1"), HeaderBad);
        row("negative N", textFile(r, "", "-3"), HeaderBad);
        row("N beyond int", textFile(r, "", "99999999999"), HeaderBad);
        row("N not an integer", textFile(r, "", "3.0"), HeaderBad);
        row("N missing", QByteArray("Tarvix 1.20.1\n"), HeaderBad);
        row("empty file", QByteArray(), HeaderBad);
        row("N far beyond the file", textFile(r, "", "1000000000"), HeaderBad);
        row("N beyond the file", textFile(r, "", "30"), HeaderBad);

        auto bin = [](const char *name, const Bin &b, int expect, int reader = 0) {
            QTest::newRow(name) << binaryFile(b) << true << expect << reader << 0 << (expect == Ok);
        };
        bin("binary", Bin(), Ok);
        Bin b;
        b.header = QStringLiteral("  some Tarvix file ");
        bin("binary header with word inside", b, Ok);
        b = Bin();
        b.header = QStringLiteral("Tarvox");
        bin("binary header without word", b, HeaderBad);
        b = Bin();
        b.header = QString();
        bin("binary null header", b, HeaderBad);
        for (const char *n : {"1", "0", "-3", "x", "99999999999"}) {
            b = Bin();
            b.n = QString::fromLatin1(n);
            bin(qPrintable(QStringLiteral("binary N %1").arg(QString::fromLatin1(n))), b, HeaderBad);
        }
        b = Bin();
        b.n = QStringLiteral("1000000000");
        bin("binary N far beyond the file", b, HeaderBad);
        b = Bin();
        b.bytes = QStringLiteral(" 8 ");
        bin("binary bytes per number padded", b, Ok);
        b = Bin();
        b.bytes = QStringLiteral("4");
        bin("binary bytes per number 4", b, Corrupt, FileString::ReadBinNumberSize);
        b = Bin();
        b.bytes = QStringLiteral("16");
        b.extra = QByteArray(200, '\0');
        bin("binary bytes per number 16", b, Corrupt, FileString::ReadBinNumberSize);
        b = Bin();
        b.marker = QStringLiteral("solution");
        bin("binary marker in lower case", b, Corrupt, FileString::ReadBinMarker);
        b = Bin();
        b.marker = QStringLiteral(" Solution ");
        bin("binary marker padded", b, Ok);
        b = Bin();
        b.solution = 2;
        bin("binary solution cut short", b, HeaderBad);
        b = Bin();
        b.solution = 2;
        b.marker = QStringLiteral("        Solution        ");
        bin("binary solution cut short behind a long marker", b, Corrupt, FileString::ReadBinStream);
        b = Bin();
        b.rows = 2;
        b.marker = QStringLiteral("Solution and more than enough text to pass the size check");
        bin("binary rows missing", b, Corrupt, FileString::ReadBinStream);
        b = Bin();
        b.extra = QByteArray("trailing bytes");
        bin("binary trailing bytes", b, Ok);
    }

    void damaged()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, binary);
        QFETCH(int, expect);
        QFETCH(int, readerCode);
        QFETCH(int, parserCode);
        QFETCH(bool, solutionRead);
        TestEnv env(3);
        const QString path = writeFile(env, bytes, binary);
        EquationStore store;
        store.N = 5;
        QVERIFY(store.reallocate());
        EquationFile::Header h;
        EquationFile::Options opt;
        opt.processors = 3;
        const EquationFile::Outcome out = EquationFile::open(path, store, opt, &h);
        QVERIFY(h.opened);
        if (expect == HeaderBad) {
            QVERIFY(h.corrupt);
            QVERIFY(out.failed);
            QCOMPARE(store.N, 5);   // nothing was allocated for the file
            return;
        }
        QVERIFY(!h.corrupt);
        QCOMPARE(out.code, readerCode);
        QCOMPARE(firstCode(out.workerCodes), parserCode);
        if (expect == Corrupt) {
            QVERIFY(out.corrupt);
            QVERIFY(out.failed);
            return;
        }
        QVERIFY(!out.corrupt);
        QVERIFY(!out.failed);
        QCOMPARE(store.N, 3);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                QCOMPARE(store.coef[i][j], kCoef[i][j]);
            QCOMPARE(store.rhs[i], kRhs[i]);
        }
        if (readerCode == FileString::ReadTextSolution) {
            QCOMPARE(store.fileSol[0], 1.0);   // values before the bad one stay
            QCOMPARE(store.fileSol[2], 0.0);
        } else {
            for (int i = 0; i < 3; ++i)
                QCOMPARE(store.fileSol[i], solutionRead ? 1.0 : 0.0);
        }
    }

    void incompatibleBinaryMessage()
    {
        TestEnv env(2);
        Bin b;
        b.bytes = QStringLiteral(" 4 ");
        b.rows = 0;
        b.marker = QStringLiteral("HOSTNAME");   // the string after the number size
        const QString path = writeFile(env, binaryFile(b), true);
        EquationStore store;
        store.N = 3;
        QVERIFY(store.reallocate());
        const EquationFile::Outcome out =
            EquationFile::readBinary(path, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::ReadBinNumberSize));
        QVERIFY(out.corrupt);
        QCOMPARE(out.messages.size(), 1);
        QCOMPARE(out.messages.at(0).title, QStringLiteral("Incompatible Binary File!"));
        QCOMPARE(out.messages.at(0).type, QStringLiteral("WARNING"));
        QCOMPARE(out.messages.at(0).text,
                 QStringLiteral("The file you are trying to open was created on a computer using a non-standard way of storing data. Hence it is incompatible with your current computer.\n"
                                "The file was created using 4 bytes, while your computer uses 8 bytes to store a number.\n"
                                "Consider creating a text file(.trx) if you want to transfer the data from the computer HOSTNAME."));
    }

    // The reader checks what the caller checked: a header without the word
    // or an N that no longer matches the arrays is refused.
    void binaryReaderCodes()
    {
        TestEnv env(2);
        EquationStore store;
        store.N = 3;
        QVERIFY(store.reallocate());
        Bin b;
        b.header = QStringLiteral("Tarvox");
        QString path = writeFile(env, binaryFile(b), true);
        QCOMPARE(EquationFile::readBinary(path, store.coef, store.rhs, store.fileSol, 3).code,
                 int(FileString::ReadBinHeader));
        b = Bin();
        b.n = QStringLiteral("4");
        b.extra = QByteArray(400, '\0');
        path = writeFile(env, binaryFile(b), true);
        QCOMPARE(EquationFile::readBinary(path, store.coef, store.rhs, store.fileSol, 3).code,
                 int(FileString::ReadBinN));
    }

    void openFailures()
    {
        TestEnv env(2);
        EquationStore store;
        store.N = 3;
        QVERIFY(store.reallocate());
        const QString missing = env.temp() + QStringLiteral("/none/x.trx");
        EquationFile::Outcome out = EquationFile::readText(missing, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::ReadTextOpen));
        QVERIFY(!out.corrupt);
        QVERIFY(out.failed);
        QCOMPARE(out.messages.size(), 1);
        QCOMPARE(out.messages.at(0).title, QStringLiteral("ERROR: Could not open the file!"));
        QVERIFY(out.messages.at(0).text.startsWith(QStringLiteral("Could not open the file from disk!\n")));
        out = EquationFile::writeText(missing, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::SaveTextOpen));
        out = EquationFile::readBinary(missing + QStringLiteral(".btrx"), store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::ReadBinOpen));
        out = EquationFile::writeBinary(missing + QStringLiteral(".btrx"), store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::SaveBinOpen));
        QVERIFY(!out.corrupt);
        // A writer that cannot open its file must not leave converters waiting.
        EquationStore big;
        big.N = 400;
        QVERIFY(big.reallocate());
        big.clear();
        EquationFile::Options opt;
        opt.processors = 4;
        out = EquationFile::writeText(missing, big.coef, big.rhs, big.fileSol, 400, opt);
        QCOMPARE(out.code, int(FileString::SaveTextOpen));
        QCOMPARE(EquationFile::readHeader(missing).opened, false);

        // With a receiver the triple travels to its slot instead.
        Receiver receiver;
        opt.errorReceiver = &receiver;
        out = EquationFile::readBinary(missing + QStringLiteral(".btrx"), store.coef, store.rhs,
                                       store.fileSol, 3, opt);
        QVERIFY(out.messages.isEmpty());
        QTRY_COMPARE(receiver.got.size(), 1);
        QVERIFY(receiver.got.at(0).startsWith(QStringLiteral("ERROR: Could not open the file!|Could not open the file from disk!\n")));
        QVERIFY(receiver.got.at(0).endsWith(QStringLiteral("|WARNING")));
    }

    void cutAtEveryByte_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::newRow("text") << false;
        QTest::newRow("binary") << true;
    }
    void cutAtEveryByte()
    {
        QFETCH(bool, binary);
        TestEnv env(2);
        const QByteArray full = binary ? binaryFile(Bin()) : textFile(rows3());
        const int rowsEnd = full.indexOf("\n\nSolution") + 1;   // text: after the last row's LF
        const int lastToken = full.lastIndexOf('\t', rowsEnd - 2) + 1;
        for (int len = 0; len <= full.size(); ++len) {
            const QString path = writeFile(env, full.left(len), binary);
            EquationStore store;
            const EquationFile::Outcome out = EquationFile::open(path, store);
            const bool ok = !out.failed;
            if (binary) {
                QVERIFY2(ok == (len == full.size()), qPrintable(QString::number(len)));
                if (!ok)
                    QVERIFY(out.corrupt);
                continue;
            }
            if (len < lastToken) {
                QVERIFY2(!ok, qPrintable(QString::number(len)));
                QVERIFY(out.corrupt);
            } else if (len >= rowsEnd) {
                QVERIFY2(ok, qPrintable(QString::number(len)));
            }
            if (!ok)
                continue;
            // Success: the rows are whole (only the very last number may be
            // a prefix of itself) and the solution is all or nothing.
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    QCOMPARE(store.coef[i][j], kCoef[i][j]);
            if (len >= rowsEnd)
                QCOMPARE(store.rhs[2], kRhs[2]);
            QCOMPARE(store.fileSol[0], store.fileSol[1]);
        }
    }

    // Large files with a fault early, late or nowhere but a short end: the
    // open ends (without hanging) whatever the number of parsers.
    void noHangWithManyParsers_data()
    {
        QTest::addColumn<int>("processors");
        for (int p = 2; p <= 9; ++p)
            QTest::addRow("%d parsers", p - 1) << p;
    }
    void noHangWithManyParsers()
    {
        QFETCH(int, processors);
        TestEnv env(processors);
        const int n = 1000;
        QByteArray row;
        for (int j = 0; j < n; ++j)
            row += "\t1.25";
        row += "\t2\n";
        auto build = [&](int rows, int badRow, const QByteArray &bad) {
            QByteArray b = "Tarvix 1.20.1\n1000\n";
            for (int i = 0; i < rows; ++i)
                b += (i == badRow ? bad : QByteArray::number(i + 1) + row);
            return b + "\nSolution\n";
        };
        const QByteArray badCount = "1\t2\n";
        struct Case { int rows; int bad; QByteArray text; int reader; int parser; };
        const Case cases[] = {
            {n, -1, QByteArray(), 0, 0},
            {600, -1, QByteArray(), FileString::ReadTextShort, 0},
            {n, 0, badCount, -1, FileString::ParseFieldCount},
            {n, 555, QByteArray("556") + QByteArray(row).replace(0, 5, "\tbad!"), -1, FileString::ParseCoefficient},
            {n, 999, QByteArray("7") + row, -1, FileString::ParseRowNumber},
        };
        EquationFile::Options opt;
        opt.processors = processors;
        for (const Case &c : cases) {
            const QString path = writeFile(env, build(c.rows, c.bad, c.text), false);
            EquationStore store;
            const EquationFile::Outcome out = EquationFile::open(path, store, opt);
            QCOMPARE(out.workerCodes.size(), processors - 1);
            QCOMPARE(out.corrupt, c.reader != 0 || c.parser != 0);
            if (c.reader >= 0)
                QCOMPARE(out.code, c.reader);
            QCOMPARE(firstCode(out.workerCodes), c.parser);
            if (!out.corrupt)
                QCOMPARE(store.coef[n - 1][n - 1], 1.25);
        }
    }
};

QTEST_GUILESS_MAIN(TestFileBadInput)
#include "tst_filebadinput.moc"
