// Damaged and unusual equation files: every one gives its result code (or
// fails the header and size check) and never a crash, a hang or a partial
// success.
#include "files/equationfile.h"
#include "files/filestring.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QDataStream>
#include <QtTest>

#include <functional>

namespace {

enum Expect { Ok, HeaderBad, Corrupt };

const char *const kRows[3] = {"1\t2\t1\t1\t4", "2\t1\t3\t1\t5", "3\t1\t1\t4\t6"};
const double kCoef[3][3] = {{2, 1, 1}, {1, 3, 1}, {1, 1, 4}};
const double kRhs[3] = {4, 5, 6};
const QByteArray kTail = "\nSolution\n1\t1\t1\t\nEOF";

QByteArray textFile(const QList<QByteArray> &rows = {kRows[0], kRows[1], kRows[2]},
                    const QByteArray &tail = kTail, const QByteArray &n = "3",
                    const QByteArray &header = "Tarvix 1.20.1")
{
    QByteArray b = header + '\n' + n + '\n';
    for (const QByteArray &r : rows)
        b += r + '\n';
    return b + tail;
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

QByteArray binaryFile(const std::function<void(Bin &)> &change = {})
{
    Bin b;
    if (change)
        change(b);
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

QString put(const TestEnv &env, const QByteArray &bytes, bool binary)
{
    const QString path = env.temp() + (binary ? QStringLiteral("/f.btrx") : QStringLiteral("/f.trx"));
    writeFile(path, bytes);
    return path;
}

int firstCode(const QVector<int> &codes)
{
    for (int c : codes)
        if (c != 0)
            return c;
    return 0;
}

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
        auto row = [](const char *name, const QByteArray &b, int expect, int reader = 0, int parser = 0,
                      bool sol = false) { QTest::newRow(name) << b << false << expect << reader << parser << sol; };
        const QList<QByteArray> r{kRows[0], kRows[1], kRows[2]};
        row("LF", textFile(), Ok, 0, 0, true);
        row("CR LF", textFile().replace("\n", "\r\n"), Ok, 0, 0, true);
        row("blank lines", textFile({kRows[0], "", "   ", "\t \r", kRows[1], "", kRows[2]}), Ok, 0, 0, true);
        row("tabs and spaces", textFile({"  1   2\t\t1 \t 1  4  ", kRows[1], kRows[2]}), Ok, 0, 0, true);
        row("no EOF", textFile(r, "\nSolution\n1\t1\t1\t"), Ok, 0, 0, true);
        row("no solution section", textFile(r, ""), Ok);
        row("short solution line", textFile(r, "\nSolution\n1\t1\t\nEOF"), Ok);
        row("long solution line", textFile(r, "\nSolution\n1\t1\t1\t1\t\nEOF"), Ok);
        row("bad solution value", textFile(r, "\nSolution\n1\tx\t1\t\nEOF"), Ok, FileString::ReadTextSolution);
        row("numbers in every form", textFile({"1\t+2\t0x1\t1.e0\t4", "2\t1\t3\t1\t5e0", "3\t1\t1\t4\t6"}), Ok, 0, 0, true);
        row("rows out of order", textFile({kRows[1], kRows[0], kRows[2]}), Corrupt, 0, FileString::ParseRowNumber);
        row("row number as decimal", textFile({"1.0\t2\t1\t1\t4", kRows[1], kRows[2]}), Corrupt, 0, FileString::ParseRowNumber);
        row("missing field", textFile({kRows[0], "2\t1\t3\t5", kRows[2]}), Corrupt, 0, FileString::ParseFieldCount);
        row("extra field", textFile({kRows[0], kRows[1], "3\t1\t1\t4\t6\t7"}), Corrupt, 0, FileString::ParseFieldCount);
        row("number with suffix", textFile({kRows[0], "2\t1\t3x\t1\t5", kRows[2]}), Corrupt, 0, FileString::ParseCoefficient);
        row("text right-hand side", textFile({kRows[0], kRows[1], "3\t1\t1\t4\tsix"}), Corrupt, 0, FileString::ParseRhs);
        row("solution before all rows", textFile({kRows[0], kRows[1]}, kTail + "   padding"), Corrupt, FileString::ReadTextShort);
        row("N larger than the rows", textFile(r, kTail, "4"), Corrupt, FileString::ReadTextShort, FileString::ParseFieldCount);
        row("header with word inside", textFile(r, kTail, "3", "my xTarvixx file"), Ok, 0, 0, true);
        row("header in lower case", textFile(r, kTail, "3", "tarvix 1.20.1"), HeaderBad);
        for (const char *n : {"0", "1", "-3", "99999999999", "3.0", "1000000000", "30"})
            row(qPrintable(QStringLiteral("N %1").arg(QLatin1String(n))), textFile(r, "", n), HeaderBad);
        row("N missing", QByteArray("Tarvix 1.20.1\n"), HeaderBad);
        row("empty file", QByteArray(), HeaderBad);

        auto bin = [](const char *name, const std::function<void(Bin &)> &change, int expect, int reader = 0) {
            QTest::newRow(name) << binaryFile(change) << true << expect << reader << 0 << (expect == Ok);
        };
        bin("binary", {}, Ok);
        bin("binary header with word inside", [](Bin &b) { b.header = "  some Tarvix file "; }, Ok);
        bin("binary header without word", [](Bin &b) { b.header = "Tarvox"; }, HeaderBad);
        bin("binary null header", [](Bin &b) { b.header = QString(); }, HeaderBad);
        for (const char *n : {"1", "0", "-3", "x", "99999999999", "1000000000"})
            bin(qPrintable(QStringLiteral("binary N %1").arg(QLatin1String(n))), [n](Bin &b) { b.n = QLatin1String(n); }, HeaderBad);
        bin("binary bytes per number padded", [](Bin &b) { b.bytes = " 8 "; }, Ok);
        bin("binary bytes per number 4", [](Bin &b) { b.bytes = "4"; }, Corrupt, FileString::ReadBinNumberSize);
        bin("binary bytes per number 16", [](Bin &b) { b.bytes = "16"; b.extra = QByteArray(200, '\0'); }, Corrupt, FileString::ReadBinNumberSize);
        bin("binary marker in lower case", [](Bin &b) { b.marker = "solution"; }, Corrupt, FileString::ReadBinMarker);
        bin("binary marker padded", [](Bin &b) { b.marker = " Solution "; }, Ok);
        bin("binary solution cut short", [](Bin &b) { b.solution = 2; }, HeaderBad);
        bin("binary solution cut short behind a long marker", [](Bin &b) { b.solution = 2; b.marker = "        Solution        "; },
            Corrupt, FileString::ReadBinStream);
        bin("binary rows missing", [](Bin &b) { b.rows = 2; b.marker = "Solution and more than enough text to pass the size check"; },
            Corrupt, FileString::ReadBinStream);
        bin("binary trailing bytes", [](Bin &b) { b.extra = "trailing bytes"; }, Ok);
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
        EquationStore store;
        store.N = 5;
        QVERIFY(store.reallocate());
        EquationFile::Header h;
        EquationFile::Options opt;
        opt.processors = 3;
        const EquationFile::Outcome out = EquationFile::open(put(env, bytes, binary), store, opt, &h);
        QVERIFY(h.opened);
        QCOMPARE(h.corrupt, expect == HeaderBad);
        QCOMPARE(out.failed, expect != Ok);
        if (expect == HeaderBad) {
            QCOMPARE(store.N, 5); // nothing was allocated for the file
            return;
        }
        QCOMPARE(out.code, readerCode);
        QCOMPARE(firstCode(out.workerCodes), parserCode);
        QCOMPARE(out.corrupt, expect == Corrupt);
        if (expect == Corrupt)
            return;
        QCOMPARE(store.N, 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(std::equal(kCoef[i], kCoef[i] + 3, store.coef[i]));
            QCOMPARE(store.rhs[i], kRhs[i]);
        }
        // A bad solution value keeps the values before it.
        const bool partial = readerCode == FileString::ReadTextSolution;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(store.fileSol[i], solutionRead || (partial && i == 0) ? 1.0 : 0.0);
    }

    void readerMessagesAndCodes()
    {
        TestEnv env(2);
        EquationStore store;
        store.N = 3;
        QVERIFY(store.reallocate());
        auto readBinary = [&](const QByteArray &bytes) {
            return EquationFile::readBinary(put(env, bytes, true), store.coef, store.rhs, store.fileSol, 3);
        };
        // The string after the number size names the computer.
        EquationFile::Outcome out = readBinary(binaryFile([](Bin &b) { b.bytes = " 4 "; b.rows = 0; b.marker = "HOSTNAME"; }));
        QCOMPARE(out.code, int(FileString::ReadBinNumberSize));
        QVERIFY(out.corrupt);
        QCOMPARE(out.messages.size(), 1);
        QCOMPARE(out.messages.at(0).title, QStringLiteral("Incompatible Binary File!"));
        QCOMPARE(out.messages.at(0).type, QStringLiteral("WARNING"));
        QCOMPARE(out.messages.at(0).text,
                 QStringLiteral("The file you are trying to open was created on a computer using a non-standard way of storing data. Hence it is incompatible with your current computer.\n"
                                "The file was created using 4 bytes, while your computer uses 8 bytes to store a number.\n"
                                "Consider creating a text file(.trx) if you want to transfer the data from the computer HOSTNAME."));
        // The reader checks what the caller checked: the header word and N.
        QCOMPARE(readBinary(binaryFile([](Bin &b) { b.header = "Tarvox"; })).code, int(FileString::ReadBinHeader));
        QCOMPARE(readBinary(binaryFile([](Bin &b) { b.n = "4"; b.extra = QByteArray(400, '\0'); })).code,
                 int(FileString::ReadBinN));
    }

    void openFailures()
    {
        TestEnv env(2);
        EquationStore store;
        store.N = 3;
        QVERIFY(store.reallocate());
        const QString text = env.temp() + QStringLiteral("/none/x.trx");
        const QString bin = text + QStringLiteral(".btrx");
        EquationFile::Outcome out = EquationFile::readText(text, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::ReadTextOpen));
        QVERIFY(!out.corrupt && out.failed);
        QCOMPARE(out.messages.size(), 1);
        QCOMPARE(out.messages.at(0).title, QStringLiteral("ERROR: Could not open the file!"));
        QVERIFY(out.messages.at(0).text.startsWith(QStringLiteral("Could not open the file from disk!\n")));
        QCOMPARE(EquationFile::writeText(text, store.coef, store.rhs, store.fileSol, 3).code, int(FileString::SaveTextOpen));
        QCOMPARE(EquationFile::readBinary(bin, store.coef, store.rhs, store.fileSol, 3).code, int(FileString::ReadBinOpen));
        out = EquationFile::writeBinary(bin, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::SaveBinOpen));
        QVERIFY(!out.corrupt);
        // A writer that cannot open its file must not leave converters waiting.
        EquationStore big;
        big.N = 400;
        QVERIFY(big.reallocate());
        big.clear();
        EquationFile::Options opt;
        opt.processors = 4;
        QCOMPARE(EquationFile::writeText(text, big.coef, big.rhs, big.fileSol, 400, opt).code, int(FileString::SaveTextOpen));
        QCOMPARE(EquationFile::readHeader(text).opened, false);
        // With a receiver the triple travels to its slot instead.
        ErrorSink receiver;
        opt.errorReceiver = &receiver;
        QVERIFY(EquationFile::readBinary(bin, store.coef, store.rhs, store.fileSol, 3, opt).messages.isEmpty());
        QTRY_COMPARE(receiver.triples.size(), 1);
        QVERIFY(receiver.triples.at(0).startsWith(QStringLiteral("ERROR: Could not open the file!|Could not open the file from disk!\n")));
        QVERIFY(receiver.triples.at(0).endsWith(QStringLiteral("|WARNING")));
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
        const QByteArray full = binary ? binaryFile() : textFile();
        const int rowsEnd = full.indexOf("\n\nSolution") + 1; // text: after the last row's LF
        const int lastToken = full.lastIndexOf('\t', rowsEnd - 2) + 1;
        for (int len = 0; len <= full.size(); ++len) {
            EquationStore store;
            const EquationFile::Outcome out = EquationFile::open(put(env, full.left(len), binary), store);
            const QByteArray where = QByteArray::number(len);
            const bool mustFail = binary ? len < full.size() : len < lastToken;
            const bool mustPass = binary ? len == full.size() : len >= rowsEnd;
            QVERIFY2(!(mustFail && !out.failed) && !(mustPass && out.failed), where.constData());
            if (out.failed) {
                QVERIFY2(!mustFail || out.corrupt, where.constData());
                continue;
            }
            // Success: the rows are whole (only the very last number may be
            // a prefix of itself) and the solution is all or nothing.
            for (int i = 0; i < 3; ++i)
                QVERIFY2(std::equal(kCoef[i], kCoef[i] + 3, store.coef[i]), where.constData());
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
        struct Case { int rows; int bad; QByteArray text; int reader; int parser; };
        const Case cases[] = {
            {n, -1, QByteArray(), 0, 0},
            {600, -1, QByteArray(), FileString::ReadTextShort, 0},
            {n, 0, "1\t2\n", -1, FileString::ParseFieldCount},
            {n, 555, QByteArray("556") + QByteArray(row).replace(0, 5, "\tbad!"), -1, FileString::ParseCoefficient},
            {n, 999, QByteArray("7") + row, -1, FileString::ParseRowNumber},
        };
        EquationFile::Options opt;
        opt.processors = processors;
        for (const Case &c : cases) {
            EquationStore store;
            const EquationFile::Outcome out = EquationFile::open(put(env, build(c.rows, c.bad, c.text), false), store, opt);
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
