// The document without any widget: open, save, solve and cancel.
#include "document/equationdocument.h"
#include "files/contentprint.h"
#include "files/equationfile.h"
#include "solver/solve.h"
#include "testenv.h"

#include <QFile>
#include <QtTest>

#include <vector>

namespace {

const double kA[3][3] = {{4, -1, 0}, {-1, 4, -1}, {0, -1, 4}};
const double kX[3] = {1, -2, 0.5};

// The system kA x = b with b from kX, and a solution from file.
void fill(EquationStore &s)
{
    QVERIFY(s.reallocate());
    for (int i = 0; i < 3; ++i) {
        s.rhs[i] = 0;
        for (int j = 0; j < 3; ++j) {
            s.coef[i][j] = kA[i][j];
            s.rhs[i] += kA[i][j] * kX[j];
        }
        s.fileSol[i] = s.customSol[i] = s.currentSol[i] = 7;
    }
}

std::vector<double> values(const EquationStore &s)
{
    std::vector<double> v;
    for (int i = 0; i < s.N; ++i) {
        v.insert(v.end(), s.coef[i], s.coef[i] + s.N);
        v.insert(v.end(), {s.rhs[i], s.fileSol[i], s.customSol[i], s.currentSol[i]});
    }
    return v;
}

} // namespace

class TestDocument : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    QString path(const QString &name) const { return m_env->temp() + QLatin1Char('/') + name; }

private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv(2));
        EquationStore s;
        s.N = 3;
        fill(s);
        EquationFile::Options o;
        QVERIFY(!EquationFile::writeText(path("good.trx"), s.coef, s.rhs, s.fileSol, 3, o).failed);
        QFile good(path("good.trx"));
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray bytes = good.readAll();
        QFile cut(path("cut.trx"));
        QVERIFY(cut.open(QIODevice::WriteOnly) && cut.write(bytes.left(bytes.size() / 2)) > 0);
        QFile junk(path("junk.trx"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not a system\n") > 0);
    }

    // A failed open leaves the document as it was.
    void open_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("result");
        QTest::newRow("good") << "good.trx" << int(EquationDocument::OpenResult::Opened);
        QTest::newRow("missing") << "none.trx" << int(EquationDocument::OpenResult::Unreadable);
        QTest::newRow("header") << "junk.trx" << int(EquationDocument::OpenResult::Corrupt);
        QTest::newRow("truncated") << "cut.trx" << int(EquationDocument::OpenResult::Corrupt);
    }
    void open()
    {
        QFETCH(QString, name);
        QFETCH(int, result);
        EquationDocument doc;
        QVERIFY(doc.store().reallocate());
        doc.setFileName("before.trx");
        const std::vector<double> before = values(doc.store());
        const EquationDocument::Opened opened = doc.open(path(name), {});
        QCOMPARE(int(opened.result), result);
        if (!opened.ok()) {
            QVERIFY(values(doc.store()) == before);
            QCOMPARE(doc.fileName(), QString("before.trx"));
            QCOMPARE(opened.error.isEmpty(), result != int(EquationDocument::OpenResult::Unreadable));
            return;
        }
        QCOMPARE(doc.fileName(), path(name));
        QCOMPARE(doc.store().N, 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(doc.store().currentSol[i], 7.0);   // the file's solution is the current one
    }

    void saveKeepsOldCopyAndFlag()
    {
        EquationDocument doc;
        doc.store().N = 3;
        fill(doc.store());
        doc.setFileName(path("kept.btrx"));
        QVERIFY(doc.save(true, {}).ok && doc.isSaved());
        doc.store().coef[1][1] = 5;
        doc.savedFromHistory();
        QVERIFY(!doc.isSaved());
        QVERIFY(doc.save(true, {}).ok);
        QVERIFY(QFile::exists(path("kept.btrx.old")));
        doc.store().coef[1][1] = 4;
        doc.savedFromHistory();
        QVERIFY(!doc.isSaved());   // the file now holds 5
        doc.setFileName(path("no/such/folder/x.trx"));
        const EquationDocument::Saved failed = doc.save(false, {});
        QVERIFY(!failed.ok && !failed.created && !doc.isSaved() && !failed.error.isEmpty());
    }

    // The digest the readers and writers take row by row is the one the
    // document takes from its arrays (so the saved flag holds after undo).
    void printOfReadAndWrite_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("n");
        QTest::newRow("text, one thread") << false << 3;
        QTest::newRow("text, pipeline") << false << 61;
        QTest::newRow("binary") << true << 61;
    }
    void printOfReadAndWrite()
    {
        QFETCH(bool, binary);
        QFETCH(int, n);
        EquationDocument doc;
        EquationStore &s = doc.store();
        s.N = n;
        QVERIFY(s.reallocate());
        unsigned seed = 7;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                seed = seed * 214013u + 2531011u;
                s.coef[i][j] = double(int(seed >> 12) % 20001 - 10000) / 64.0;
            }
            s.rhs[i] = -i;
            s.fileSol[i] = s.currentSol[i] = i / 4.0;   // short decimals: the text form holds them whole
            s.customSol[i] = 0;
        }
        const QString file = path(QStringLiteral("print%1.%2").arg(n).arg(binary ? "btrx" : "trx"));
        quint64 written = 0;
        QVERIFY(doc.write(file, binary, {}, nullptr, &written));
        QCOMPARE(written, doc.contentPrint());
        EquationDocument again;
        const EquationDocument::Opened opened = again.open(file, {});
        QVERIFY(opened.ok());
        QCOMPARE(opened.print, again.contentPrint());
        QCOMPARE(opened.print, written);
        // One value changed, or two trading places, is seen.
        std::swap(again.store().coef[n - 1][0], again.store().coef[n - 1][n - 1]);
        QVERIFY(again.contentPrint() != written);
        std::swap(again.store().coef[n - 1][0], again.store().coef[n - 1][n - 1]);
        again.store().coef[0][n / 2] += 1.0 / 1024;
        QVERIFY(again.contentPrint() != written);
    }

    // Every value of a row counts, at every length around the widths the
    // processor takes at once, and so does every position.
    void rowPrintSeesEveryValue()
    {
        std::vector<double> row(19);
        for (int n = 1; n <= int(row.size()); ++n) {
            for (int j = 0; j < n; ++j)
                row[size_t(j)] = 1.5 + j;
            const quint64 print = ContentPrint::values(row.data(), n);
            for (int j = 0; j < n; ++j) {
                row[size_t(j)] = -0.0;
                QVERIFY2(ContentPrint::values(row.data(), n) != print, qPrintable(QString::number(n)));
                row[size_t(j)] = 1.5 + j;
                std::swap(row[0], row[size_t(j)]);
                QVERIFY(j == 0 || ContentPrint::values(row.data(), n) != print);
                std::swap(row[0], row[size_t(j)]);
            }
        }
    }

    // A cancelled solve changes nothing; a finished one takes the answer.
    void solve_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("solved") << false;
        QTest::newRow("cancelled") << true;
    }
    void solve()
    {
        QFETCH(bool, cancel);
        EquationDocument doc;
        doc.store().N = 3;
        fill(doc.store());
        doc.setFileName(path("good.trx"));
        doc.markSaved();
        const std::vector<double> before = values(doc.store());
        SolveControl control;
        control.cancel.store(cancel);
        int turns = 0;
        control.wait = [&turns] { ++turns; };
        const int status = doc.solve(nullptr, &control, nullptr);
        if (cancel) {
            QCOMPARE(status, 3);
            QVERIFY(values(doc.store()) == before);
            QVERIFY(doc.isSaved());
            QCOMPARE(int(doc.lastTrust().method), int(SolveTrust::NotSolved));
            return;
        }
        QCOMPARE(status, 0);
        QVERIFY(doc.lastTrust().trusted());
        for (int i = 0; i < 3; ++i) {
            QVERIFY(qAbs(doc.store().customSol[i] - kX[i]) < 1e-15);
            QCOMPARE(doc.store().currentSol[i], doc.store().customSol[i]);
        }
        QVERIFY(!doc.isSaved());   // Save would now write another solution
        QCOMPARE(doc.busy(), 0);
    }
};

QTEST_MAIN(TestDocument)
#include "tst_document.moc"
