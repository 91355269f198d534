// Damaged and unusual equation files: every one gives its result code (or
// fails the header and size check) and never a crash, a hang or a partial
// success.
#include "files/equationfile.h"
#include "files/filestring.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include "threads/mythreads.h"

#include <QBuffer>
#include <QDataStream>
#include <QtEndian>
#include <QtTest>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const auto it = std::find_if(codes.begin(), codes.end(), [](int c) { return c != 0; });
    return it == codes.end() ? 0 : *it;
}

} // namespace

class TestFileBadInput : public QObject
{
    Q_OBJECT
private slots:
    void damaged()
    {
        struct Case { const char *name; QByteArray bytes; bool binary; int expect, readerCode, parserCode; bool solutionRead; };
        std::vector<Case> cases;
        auto row = [&cases](const char *name, const QByteArray &b, int expect, int reader = 0, int parser = 0,
                            bool sol = false) { cases.push_back({name, b, false, expect, reader, parser, sol}); };
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
            row(n, textFile(r, "", n), HeaderBad);
        row("N missing", QByteArray("Tarvix 1.20.1\n"), HeaderBad);
        row("empty file", QByteArray(), HeaderBad);

        auto bin = [&cases](const char *name, const std::function<void(Bin &)> &change, int expect, int reader = 0) {
            cases.push_back({name, binaryFile(change), true, expect, reader, 0, expect == Ok});
        };
        bin("binary", {}, Ok);
        bin("binary header with word inside", [](Bin &b) { b.header = "  some Tarvix file "; }, Ok);
        bin("binary header without word", [](Bin &b) { b.header = "Tarvox"; }, HeaderBad);
        bin("binary null header", [](Bin &b) { b.header = QString(); }, HeaderBad);
        for (const char *n : {"1", "0", "-3", "x", "99999999999", "1000000000"})
            bin(n, [n](Bin &b) { b.n = QLatin1String(n); }, HeaderBad);
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

        for (const auto &[name, bytes, binary, expect, readerCode, parserCode, solutionRead] : cases) {
            TestEnv env(3);
            EquationStore store;
            QVERIFY(sized(store, 5));
            EquationFile::Header h;
            EquationFile::Options opt;
            opt.processors = 3;
            const EquationFile::Outcome out = EquationFile::open(put(env, bytes, binary), store, opt, &h);
            QVERIFY2(h.opened, name);
            QVERIFY2(h.corrupt == (expect == HeaderBad), name);
            QVERIFY2(out.failed == (expect != Ok), name);
            if (expect == HeaderBad) {
                QCOMPARE(store.N, 5); // nothing was allocated for the file
                continue;
            }
            QCOMPARE(out.code, readerCode);
            QCOMPARE(firstCode(out.workerCodes), parserCode);
            QCOMPARE(out.corrupt, expect == Corrupt);
            if (expect == Corrupt)
                continue;
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
    }

    void readerMessagesAndCodes()
    {
        TestEnv env(2);
        EquationStore store;
        QVERIFY(sized(store, 3));
        auto readBinary = [&](const QByteArray &bytes) {
            return EquationFile::readBinary(put(env, bytes, true), store.coef, store.rhs, store.fileSol, 3);
        };
        // The string after the number size names the computer.
        EquationFile::Outcome out = readBinary(binaryFile([](Bin &b) { b.bytes = " 4 "; b.rows = 0; b.marker = "HOSTNAME"; }));
        QCOMPARE(out.code, int(FileString::ReadBinNumberSize));
        QVERIFY(out.corrupt && out.messages.size() == 1);
        QCOMPARE(out.messages.at(0).title + QLatin1Char('|') + out.messages.at(0).type, QStringLiteral("Incompatible Binary File!|WARNING"));
        const QString text = out.messages.at(0).text;
        QVERIFY2(text.contains("created using 4 bytes, while your computer uses 8 bytes") && text.endsWith("the computer HOSTNAME."),
                 qPrintable(text));
        // The reader checks what the caller checked: the header word and N.
        QCOMPARE(readBinary(binaryFile([](Bin &b) { b.header = "Tarvox"; })).code, int(FileString::ReadBinHeader));
        QCOMPARE(readBinary(binaryFile([](Bin &b) { b.n = "4"; b.extra = QByteArray(400, '\0'); })).code,
                 int(FileString::ReadBinN));
    }

    void openFailures()
    {
        TestEnv env(2);
        EquationStore store;
        QVERIFY(sized(store, 3));
        const QString text = env.temp() + QStringLiteral("/none/x.trx");
        const QString bin = text + QStringLiteral(".btrx");
        EquationFile::Outcome out = EquationFile::readText(text, store.coef, store.rhs, store.fileSol, 3);
        QCOMPARE(out.code, int(FileString::ReadTextOpen));
        QVERIFY(!out.corrupt && out.failed && out.messages.size() == 1);
        QCOMPARE(out.messages.at(0).title, QStringLiteral("ERROR: Could not open the file!"));
        QVERIFY(out.messages.at(0).text.startsWith(QStringLiteral("Could not open the file from disk!\n")));
        QCOMPARE(EquationFile::writeText(text, store.coef, store.rhs, store.fileSol, 3).code, int(FileString::SaveTextOpen));
        QCOMPARE(EquationFile::readBinary(bin, store.coef, store.rhs, store.fileSol, 3).code, int(FileString::ReadBinOpen));
        out = EquationFile::writeBinary(bin, store.coef, store.rhs, store.fileSol, 3);
        QVERIFY(out.code == int(FileString::SaveBinOpen) && !out.corrupt);
        // A writer that cannot open its file must not leave converters waiting.
        EquationStore big;
        QVERIFY(sized(big, 400));
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

    void cutAtEveryByte()
    {
        TestEnv env(2);
        for (bool binary : {false, true}) {
            const QByteArray full = binary ? binaryFile() : textFile();
            const int rowsEnd = full.indexOf("\n\nSolution") + 1; // text: after the last row's LF
            const int lastToken = full.lastIndexOf('\t', rowsEnd - 2) + 1;
            for (int len = 0; len <= full.size(); ++len) {
                EquationStore store;
                const EquationFile::Outcome out = EquationFile::open(put(env, full.left(len), binary), store);
                const QByteArray where = QByteArray::number(len) + (binary ? " binary" : " text");
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
    }

    // Large files with a fault early, late or nowhere but a short end: the
    // open ends (without hanging) whatever the number of parsers.
    void noHangWithManyParsers()
    {
        for (int processors = 2; processors <= 9; ++processors) {
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
    }

    // Lengths and counts that the input cannot back: refused before anything
    // is allocated, whatever the device.
    void hostileLengths()
    {
        TestEnv env(2);
        auto lengthThen = [](quint32 count, const QByteArray &rest) {
            QByteArray b(4, '\0');
            qToBigEndian<quint32>(count, b.data());
            return b + rest;
        };
        struct Case { quint32 count; QByteArray rest; int status; };
        const Case cases[] = {
            {3, QByteArray("abc"), 2},               // odd: not UTF-16
            {0x80000000u, QByteArray(), 2},          // negative as an int
            {0xFFFFFFFEu, QByteArray(), 2},
            {FileString::kMaxStringBytes + 2, QByteArray(64, 'x'), 2},
            {64, QByteArray(10, 'x'), 1},            // more than the input holds
            {4, QByteArray("\0T\0x", 4), 0},
        };
        for (const Case &c : cases) {
            const QByteArray bytes = lengthThen(c.count, c.rest);
            QBuffer buffer;
            buffer.setData(bytes);
            QVERIFY(buffer.open(QIODevice::ReadOnly));
            // A pipe: no size, no seeking.
            int fds[2];
            QVERIFY(::pipe(fds) == 0 && ::write(fds[1], bytes.constData(), size_t(bytes.size())) == bytes.size());
            ::close(fds[1]);
            QFile pipe;
            QVERIFY(pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) && pipe.isSequential());
            for (QIODevice *device : {static_cast<QIODevice *>(&buffer), static_cast<QIODevice *>(&pipe)}) {
                QString text;
                QCOMPARE(FileString::readString(device, &text), c.status);
                QCOMPARE(text, c.status == 0 ? QStringLiteral("Tx") : QString());
            }
        }
        // A sparse file far larger than its first length field says it may be.
        const QString sparse = env.temp() + QStringLiteral("/sparse.btrx");
        QVERIFY(writeFile(sparse, lengthThen(0xFFFFFFF0u, QByteArray())) && QFile::resize(sparse, qint64(5) << 30));
        EquationStore store;
        const EquationFile::Outcome out = EquationFile::open(sparse, store);
        QVERIFY(out.failed && out.corrupt);
        // A pipe is refused without opening it (opening would wait for a
        // writer), even with four hostile bytes waiting in it.
        for (const char *name : {"/fifo.btrx", "/fifo.trx"}) {
            const QByteArray fifo = QFile::encodeName(env.temp() + QLatin1String(name));
            QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
            const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "\x80\0\0\0", 4), ssize_t(4));
            const EquationFile::Outcome o = EquationFile::open(QFile::decodeName(fifo), store);
            ::close(fd);
            QVERIFY(o.failed && !o.corrupt);
            QVERIFY2(o.error.contains(QStringLiteral("not a regular file")), qPrintable(o.error));
        }
        QVERIFY(!EquationFile::readHeader(QStringLiteral("/dev/zero")).opened);
    }

    // The kind comes from the file's own name, not from its folder.
    void kindByFileName()
    {
        TestEnv env(2);
        QVERIFY(!EquationFile::isBinaryName(QStringLiteral("/x/old.btrx.d/sys.trx")));
        QVERIFY(EquationFile::isBinaryName(QStringLiteral("/x/sys.btrx.bak")));
        QVERIFY(QDir(env.temp()).mkpath(QStringLiteral("old.btrx.d")));
        EquationStore store;
        const QString path = env.temp() + QStringLiteral("/old.btrx.d/sys.trx");
        QVERIFY(writeFile(path, textFile()) && !EquationFile::open(path, store).failed);
        QCOMPARE(store.rhs[2], kRhs[2]);
    }

    // When the system refuses worker threads, every pipeline does its work on
    // the calling thread: the same result, never a hang or a skipped part.
    void threadsRefused()
    {
        // A bad row only with every start refused.
        const struct { bool binary; int refused, badRow; } cases[] = {
            {false, 1, -1}, {true, 1, -1}, {false, 3, -1}, {true, 3, -1}, {false, 100, -1}, {true, 100, -1},
            {false, 100, 70}};
        for (const auto &[binary, refused, badRow] : cases) {
            TestEnv env(4);
            const int n = 300;
            EquationStore source;
            QVERIFY(sized(source, n));
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j)
                    source.coef[i][j] = (i + 1) * 0.5 + j * 0.25;   // exact in 15 digits
                source.rhs[i] = -i * 0.125;
                source.fileSol[i] = i * 0.0625;
            }
            EquationFile::Options opt;
            opt.processors = 4;
            const QString path = env.temp() + (binary ? QStringLiteral("/t.btrx") : QStringLiteral("/t.trx"));
            MyThreads::failNextStarts(refused);
            EquationFile::Outcome out = EquationFile::save(path, source, source.fileSol, opt);
            QVERIFY(!out.failed);
            if (badRow >= 0) {
                QByteArray bytes = readFile(path);
                const int at = bytes.indexOf(QByteArray("\n") + QByteArray::number(badRow + 1) + '\t');
                QVERIFY(at > 0);
                bytes.insert(bytes.indexOf('\t', at + 1) + 1, "x");
                QVERIFY(writeFile(path, bytes));
            }
            MyThreads::failNextStarts(refused);
            EquationStore back;
            out = EquationFile::open(path, back, opt);
            MyThreads::failNextStarts(0);
            QCOMPARE(out.failed, badRow >= 0);
            if (badRow >= 0) {
                QCOMPARE(firstCode(out.workerCodes), int(FileString::ParseCoefficient));
                continue;
            }
            QCOMPARE(back.N, n);
            for (int i = 0; i < n; ++i) {
                QVERIFY(std::equal(source.coef[i], source.coef[i] + n, back.coef[i]));
                QCOMPARE(back.rhs[i], source.rhs[i]);
                QCOMPARE(back.fileSol[i], source.fileSol[i]);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFileBadInput)
#include "tst_filebadinput.moc"
