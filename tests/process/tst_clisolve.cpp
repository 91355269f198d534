// tarvix-cli solve: the check of every answer, its report, the exit status
// of untrustworthy answers and the exact printing of the solution.
#include "childrun.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QByteArray system(const QList<QList<double>> &rows)
{
    QByteArray t = "Tarvix 1.20.1\n" + QByteArray::number(rows.size()) + "\n";
    for (int i = 0; i < rows.size(); ++i) {
        t += QByteArray::number(i + 1);
        for (double v : rows.at(i))
            t += '\t' + QByteArray::number(v, 'g', 17);
        t += '\n';
    }
    return t + "\nSolution\n" + QByteArray("0\t").repeated(rows.size()) + "\nEOF";
}

} // namespace

class TestCliSolve : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

    Run run(const QStringList &args) { return runChild(m_dir.path(), QStringLiteral(TARVIX_BIN_DIR "/tarvix-cli"), args); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void outcomes()
    {
        // Hilbert 8: solved, with a warning about the condition, to the last digits.
        QList<QList<double>> h;
        for (int i = 0; i < 8; ++i) {
            QList<double> row;
            double sum = 0.0;
            for (int j = 0; j < 8; ++j) {
                row << 1.0 / (i + j + 1);
                sum += row.last();
            }
            h << (row << sum);
        }
        // solution empty: not checked; error: a piece of standard error.
        const struct { QByteArray file; int code; QList<double> solution; QByteArray error; } cases[] = {
            // The second pivot of the ordered elimination is a rounding residue.
            {system({{5.7, 74.1, 1, 80.8}, {74.1, 963.3, 2, 1039.4}, {1, 2, 3, 6}}), 0, {1, 1, 1}, "report: method: "},
            // Row 3 is the sum of rows 1 and 2: consistent, then inconsistent.
            {system({{1, 2, 3, 1}, {4, 5, 6, 2}, {5, 7, 9, 3}}), 3, {},
             "the solution is not correct: the equations are singular or nearly singular: the condition estimate (1-norm, rows equilibrated) is "},
            {system({{1, 2, 3, 1}, {4, 5, 6, 2}, {5, 7, 9, 4}}), 3, {}, "singular or nearly singular"},
            // Well-conditioned, rows of very different size: not multiples.
            {system({{1e12, 1e12, 2e12}, {1e-4, 2e-4, 3e-4}}), 0, {1, 1}, "report: HPL ratio: "},
            {system(h), 0, {}, "warning: the equations are ill-conditioned (condition estimate (1-norm, rows equilibrated) "
                               "1.66e+10): the extra-precise refinement gives about 15 correct digits"},
            {system({{1, std::numeric_limits<double>::infinity(), 1}, {1, 2, 3}}), 1, {},
             "equation 1, variable 2 is infinite or not a number"}};
        for (const auto &[file, code, solution, error] : cases) {
            QVERIFY(writeFile(path(QStringLiteral("s.trx")), file));
            const Run r = run({QStringLiteral("solve"), path(QStringLiteral("s.trx")), QStringLiteral("--report")});
            QVERIFY2(r.code == code, r.err.constData());
            QVERIFY2(r.err.contains(error), r.err.constData());
            if (code == 0 || code == 3) {
                for (const char *line : {"report: method: ", "report: backward error: ", "report: HPL ratio: ",
                                         "report: condition estimate (1-norm, rows equilibrated): ",
                                         "report: refinement steps: ", "report: extra-precise steps: ",
                                         "report: forward error bound: "})
                    QVERIFY2(r.err.contains(line), line);
            }
            const QList<QByteArray> lines = r.out.split('\n');
            for (int i = 0; i < solution.size(); ++i)
                QVERIFY2(std::fabs(lines.value(i).toDouble() - solution.at(i)) < 1e-12, r.out.constData());
            // Without --report nothing but the findings goes to standard error.
            const Run quiet = run({QStringLiteral("solve"), path(QStringLiteral("s.trx"))});
            QCOMPARE(quiet.code, code);
            QVERIFY(!quiet.err.contains("report:"));
        }
    }

    void shortestText()
    {
        // x = b exactly: each value prints as the shortest text that reads
        // back to the same double (1/3 needs 16 digits, 0.1 only one).
        const double third = 1.0 / 3.0;
        QVERIFY(writeFile(path(QStringLiteral("d.trx")), system({{1, 0, 0, 0.1}, {0, 1, 0, third}, {0, 0, 1, -2.5e-300}})));
        const Run r = run({QStringLiteral("solve"), path(QStringLiteral("d.trx"))});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("0.1\n0.3333333333333333\n-2.5e-300\n"));
    }
};

QTEST_GUILESS_MAIN(TestCliSolve)
#include "tst_clisolve.moc"
