// Number text, round trips, the binary layout and the history records.
#include "files/equationfile.h"
#include "files/filestring.h"
#include "files/numtext.h"
#include "store/equationstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QBuffer>
#include <QDataStream>
#include <QRandomGenerator>
#include <QtTest>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

namespace {

QByteArray printfG(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return QByteArray(buf);
}

QByteArray ours(double v)
{
    char buf[NumText::kMaxDoubleChars];
    return QByteArray(buf, int(NumText::formatDouble(buf, v) - buf));
}

// strtod over the whole token (the process runs in the C locale here).
bool strtodWhole(const QByteArray &token, double *v)
{
    if (token.isEmpty() || NumText::isSpace(token.at(0)))
        return false;
    char *end = nullptr;
    *v = std::strtod(token.constData(), &end);
    return end == token.constData() + token.size();
}

void fill(EquationStore &s, int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QVERIFY(sized(s, n));
    auto value = [&](int k) {
        switch (k % 23) {
        case 0: return 5e-324;
        case 1: return -0.0;
        case 2: return 1e16;
        case 3: return 123456789012345.0;
        case 4: return -2.5e-310;
        }
        const double m = rng.generateDouble() * 2.0 - 1.0;
        return std::ldexp(m, int(rng.bounded(120)) - 60);
    };
    int k = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            s.coef[i][j] = value(k++);
        s.rhs[i] = value(k++);
        s.customSol[i] = value(k++);
        s.fileSol[i] = 0.0;
    }
}

} // namespace

class TestFileString : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::setlocale(LC_ALL, "C"); }

    // Formatting gives printf's bytes; reading them back gives strtod's bits.
    void formatMatchesPrintf()
    {
        const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
        for (double v : {0.0, -0.0, 1.0, -1.0, 0.1, 1e-5, 1e-4, 0.0001234, 1e15, 1e16, 999999999999999.0,
                         9999999999999998.0, 1e15 - 1, 1e15 + 1, 123456789012345678.0, 2.5e20, 5e-324,
                         2.2250738585072009e-308, 2.2250738585072014e-308, 1.7976931348623157e308, 0.5,
                         1.0 / 3.0, -2.0 / 3.0, 1e100, 1e-100, 65536.0, inf, -inf, nan, -nan})
            QCOMPARE(ours(v), printfG(v));
        QRandomGenerator rng(7);
        for (int i = 0; i < 200000; ++i) {
            quint64 bits = rng.generate64();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            if (i % 3 == 1)
                v = double(qint64(rng.generate64() >> (rng.bounded(60) + 4))); // integers
            else if (i % 3 == 2)
                v = std::ldexp(rng.generateDouble(), int(rng.bounded(100)) - 50);
            const QByteArray mine = ours(v);
            if (mine != printfG(v))
                QFAIL(qPrintable(QStringLiteral("%1 vs %2").arg(QString::fromLatin1(mine), QString::fromLatin1(printfG(v)))));
            double a = 0.0, b = 0.0;
            QVERIFY(NumText::parseDouble(mine.constData(), mine.constData() + mine.size(), &a));
            QVERIFY(strtodWhole(mine, &b));
            QVERIFY(sameBits(a, b) || (std::isnan(a) && std::isnan(b)));
        }
    }

    void parseFollowsStrtod()
    {
        for (const char *t : {"1", "-1", "+1", "1.", ".5", "-.5", "+.5", "1e5", "1E+05", "1e-05",
                              "1e", "1e+", "e5", ".", "+", "-", "+-1", "-+1", "--1", "++1", "1.2.3",
                              "inf", "-inf", "+inf", "INF", "Infinity", "infinit", "nan", "NaN",
                              "-nan", "nan(123)", "nanx", "0x10", "0X1p4", "-0x1.8p1", "0x", "0x-1",
                              "0xg", "1e400", "-1e400", "1e-400", "4.9e-324", "2.5e-310", "00012",
                              "1,5", "1_0", "abc", "1a", "0.1f", "1d", "  1", "1 ", "\t1", "",
                              "123456789012345678901234567890", "-0", "0e0", "1e+308",
                              "1.7976931348623159e308"}) {
            const QByteArray token(t);
            double expected = 0.0;
            const bool valid = strtodWhole(token, &expected);
            double got = -12345.0;
            const bool ok = NumText::parseDouble(token.constData(), token.constData() + token.size(), &got);
            QVERIFY2(ok == valid, t);
            if (ok) {
                if (std::isnan(expected))
                    QVERIFY(std::isnan(got) && std::signbit(got) == std::signbit(expected));
                else
                    QVERIFY2(sameBits(got, expected), token.constData());
            } else {
                QVERIFY2(got == -12345.0, t);
            }
        }
    }

    void intTokens()
    {
        const struct { const char *text; bool ok; long long value; } cases[] = {
            {"12", true, 12}, {"+7", true, 7}, {"007", true, 7}, {"-3", true, -3}, {"1.0", false, 0},
            {"1e2", false, 0}, {"+-1", false, 0}, {"", false, 0}, {"99999999999999999999999", false, 0}};
        for (const auto &c : cases) {
            long long v = 0;
            QCOMPARE(NumText::parseInt(c.text, c.text + std::strlen(c.text), &v), c.ok);
            QCOMPARE(v, c.value);
        }
    }

    // The file's bytes are exactly those printf would give, line by line.
    void textFileBytes()
    {
        TestEnv env(2);
        EquationStore s;
        QVERIFY(sized(s, 3));
        const double vals[3][4] = {{2, 0.5, -1e-5, 7}, {1e16, 3.25, 0.1, -0.0}, {1, 2, 3, 2.5e20}};
        double sol[3] = {1.0 / 3.0, -4, 1e-300};
        QByteArray expected = "Tarvix 1.20.1\n3\n";
        for (int i = 0; i < 3; ++i) {
            std::copy(vals[i], vals[i] + 3, s.coef[i]);
            s.rhs[i] = vals[i][3];
            expected += QByteArray::number(i + 1);
            for (double v : vals[i])
                expected += '\t' + printfG(v);
            expected += '\n';
        }
        expected += "\nSolution\n" + printfG(sol[0]) + '\t' + printfG(sol[1]) + '\t' + printfG(sol[2]) + "\t\nEOF";
        const QString path = env.temp() + QStringLiteral("/bytes.trx");
        QVERIFY(!EquationFile::save(path, s, sol).failed);
        QCOMPARE(readFile(path), expected);
    }

    void textRoundTrip()
    {
        for (int n : {2, 49, 50, 237}) {
            for (int processors : {1, 2, 4}) {
                TestEnv env(processors);
                EquationStore a, b;
                fill(a, n, quint32(n * 31 + processors));
                const QString path = env.temp() + QStringLiteral("/round.trx");
                EquationFile::Options opt;
                opt.processors = processors;
                EquationFile::Outcome out = EquationFile::save(path, a, a.customSol, opt);
                QVERIFY(!out.failed);
                QCOMPARE(out.workerCodes.size(), EquationFile::converterCount(n, processors));
                out = EquationFile::open(path, b, opt);
                QVERIFY(!out.failed);
                QCOMPARE(out.workerCodes.size(), EquationFile::parserCount(n, processors));
                QCOMPARE(b.N, n);
                auto back = [](double v) { return std::strtod(printfG(v).constData(), nullptr); };
                for (int i = 0; i < n; ++i) {
                    for (int j = 0; j < n; ++j)
                        QVERIFY(sameBits(b.coef[i][j], back(a.coef[i][j])));
                    QVERIFY(sameBits(b.rhs[i], back(a.rhs[i])) && sameBits(b.fileSol[i], back(a.customSol[i])));
                }
            }
        }
    }

    // Bit for bit, and the file is exactly what QDataStream would write field by field.
    void binaryRoundTrip()
    {
        for (int n : {4, 300}) {
            TestEnv env(2);
            EquationStore a, b;
            fill(a, n, quint32(n));
            a.coef[1][2] = std::numeric_limits<double>::quiet_NaN();
            a.coef[2][1] = -std::numeric_limits<double>::infinity();
            const QString path = env.temp() + QStringLiteral("/round.btrx");
            QVERIFY(!EquationFile::save(path, a, a.customSol).failed && !EquationFile::open(path, b).failed);
            QCOMPARE(b.N, n);
            QByteArray expected;
            QDataStream ds(&expected, QIODevice::WriteOnly);
            ds << QStringLiteral("Tarvix 1.20.1") << QString::number(n) << QStringLiteral("8");
            for (int i = 0; i < n; ++i) {
                QVERIFY(std::memcmp(a.coef[i], b.coef[i], size_t(n) * sizeof(double)) == 0);
                QVERIFY(sameBits(a.rhs[i], b.rhs[i]) && sameBits(a.customSol[i], b.fileSol[i]));
                for (int j = 0; j < n; ++j)
                    ds << a.coef[i][j];
                ds << a.rhs[i];
            }
            ds << QStringLiteral("Solution");
            for (int i = 0; i < n; ++i)
                ds << a.customSol[i];
            QCOMPARE(readFile(path), expected);
            QCOMPARE(QFileInfo(path).size(), EquationFile::minimumSize(n, true, 4 + 26 + 4 + 2 * QString::number(n).size() + 4 + 2));
        }
    }

    void stringRecords()
    {
        QByteArray bytes;
        QBuffer buf(&bytes);
        buf.open(QIODevice::ReadWrite);
        QVERIFY(FileString::writeString(&buf, QString()));
        QCOMPARE(bytes, QByteArray("\xff\xff\xff\xff"));
        buf.seek(0);
        QString s = QStringLiteral("x");
        QCOMPARE(FileString::readString(&buf, &s), 0);
        QVERIFY(s.isNull());
    }

    void historyRecords()
    {
        TestEnv env(2);
        auto record = [](const std::function<void(QDataStream &)> &write) {
            QByteArray b;
            QDataStream out(&b, QIODevice::WriteOnly);
            write(out);
            return b;
        };
        const QByteArray header = record([](QDataStream &out) { FileString::writeHeaderRecord(out, 17); });
        QDataStream in(header);
        QString h, count;
        in >> h >> count;
        QCOMPARE(h + QLatin1Char('|') + count, QStringLiteral("Tarvix 1.20.1|17"));
        int n = 0;
        QDataStream in2(header);
        QVERIFY(FileString::readHeaderRecord(in2, &n));
        QCOMPARE(n, 17);
        QDataStream in1(record([](QDataStream &out) { out << QStringLiteral("  Tarvix  ") << QStringLiteral("1"); }));
        QVERIFY(!FileString::readHeaderRecord(in1, &n));

        const double cur[3] = {1, 2, 3}, cus[3] = {4, 5, std::numeric_limits<double>::quiet_NaN()};
        const QByteArray meta = record([&](QDataStream &out) { FileString::writeMetaData(out, QStringLiteral("/x/y.trx"), cur, cus, 3); });
        double c1[3] = {0, 0, 0}, c2[3] = {0, 0, 0};
        QString name;
        QDataStream m(meta);
        QVERIFY(FileString::readMetaData(m, 3, &name, c1, c2));
        QCOMPARE(name, QStringLiteral("/x/y.trx"));
        QCOMPARE(QList<double>({c1[2], c2[1]}), QList<double>({3, 5}));
        QVERIFY(std::isnan(c2[2]));
        // A record cut short fails and leaves the sets alone.
        double d1[3] = {9, 9, 9}, d2[3] = {9, 9, 9};
        QDataStream cut(meta.left(meta.size() - 4));
        QVERIFY(!FileString::readMetaData(cut, 3, &name, d1, d2));
        QCOMPARE(d1[0] + d2[0], 18.0);
        // Another spelling of the marker is not read any further.
        QDataStream w(record([](QDataStream &out) {
            out << QStringLiteral("Tarvix meta-data") << QStringLiteral("f") << 1.0 << 2.0 << 3.0 << 4.0 << 5.0 << 6.0;
        }));
        QVERIFY(!FileString::readMetaData(w, 3, &name, d1, d2));
        QCOMPARE(w.device()->pos(), qint64(4 + 32));
    }

    // (A file's exact size: binaryRoundTrip.) Sizes past what the numbers
    // hold do not wrap round.
    void minimumSizes()
    {
        const qint64 big = std::numeric_limits<int>::max();
        QCOMPARE(EquationFile::minimumSize(big, true), std::numeric_limits<qint64>::max());
        QVERIFY(EquationFile::minimumSize(big, false) > 0 && !EquationFile::sizeCanHold(200, 1000000000, false));
        QVERIFY(!EquationFile::sizeCanHold(200, 1000000000, true, 40));
    }
};

QTEST_GUILESS_MAIN(TestFileString)
#include "tst_filestring.moc"
