// The four checks before a solve, their capped lists and groups, and the
// exact texts of the boxes they raise.
#include "solver/validate.h"
#include "scriptedprompter.h"
#include "testenv.h"
#include "testutil.h"

#include <QtTest>

#include <limits>

namespace {

// An n x n system with identity rows, then the given rows set to zero.
Rows identityWithZeroRows(int n, const QList<int> &zero)
{
    Rows r(n, QVector<double>(n, 0.0));
    for (int i = 0; i < n; ++i)
        r[i][i] = zero.contains(i) ? 0.0 : 1.0;
    return r;
}

const QString kTitle = QStringLiteral("ERROR: INVALID DATA!");
const QString kClose = QStringLiteral("<u><b>Cannot Solve such Equations.</b></u>");
const QString kMore = QStringLiteral("</p><p><b><u>And Many more!</u></b>");

} // namespace

class TestValidate : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;

private slots:
    void initTestCase() { m_env.reset(new TestEnv(2)); }
    void cleanupTestCase() { m_env.reset(); }
    void itemList_data()
    {
        QTest::addColumn<QList<int>>("indices");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << QList<int>{2} << "3.";
        QTest::newRow("two") << QList<int>{0, 3} << "1 & 4.";
        QTest::newRow("three") << QList<int>{1, 4, 8} << "2, 5 & 9.";
        QTest::newRow("ten") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}
                             << "1, 2, 3, 4, 5, 6, 7, 8, 9 & 10.";
        QTest::newRow("eleven") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}
                                << "1, 2, 3, 4, 5, 6, 7, 8, 9, 10 & [more]";
        QTest::newRow("twelve") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}
                                << "1, 2, 3, 4, 5, 6, 7, 8, 9, 10, [more]";
        QTest::newRow("none") << QList<int>() << "";
    }

    void itemList()
    {
        QFETCH(QList<int>, indices);
        QFETCH(QString, expected);
        QCOMPARE(Validate::itemList(indices, QStringLiteral("[more]")), expected);
    }

    void boxes_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QVector<double>>("rhs");
        QTest::addColumn<QStringList>("texts");
        const QString rhsText = QStringLiteral("<p>R.H.S. of all Equations is zero!</p>") + kClose;
        const QString rowHead = QStringLiteral("<p>All the co-efficients of following Equations are zero!</p><p>");
        const QString colHead = QStringLiteral("<p>All the co-efficients of following Variables is zero!</p>\n<p>");
        const QString dupHead = QStringLiteral("<p>Following Equations are Duplicate!</p><p>");

        QTest::newRow("valid") << Rows{{1, 2}, {3, 4}} << QVector<double>{1, 0} << QStringList();
        QTest::newRow("rhs zero within 1e-15") << Rows{{1, 2}, {3, 4}} << QVector<double>{1e-15, -1e-15}
                                               << QStringList{rhsText};
        QTest::newRow("rhs 1.5e-15 is not zero") << Rows{{1, 2}, {3, 4}} << QVector<double>{0, 1.5e-15}
                                                 << QStringList();
        // Rows 2 and 4 zero: also a zero-equation pair, hence duplicates; no
        // column is entirely zero.
        QTest::newRow("equations 2 and 4")
            << Rows{{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 1, 1, 1}, {0, 0, 0, 0}} << QVector<double>{1, 1, 1, 1}
            << QStringList{rowHead + QStringLiteral("2 & 4.</p>") + kClose,
                           dupHead + QStringLiteral("</p><p><b><u>2</u></b> -> 4.</p>") + kClose};
        QTest::newRow("variable 3") << Rows{{1, 2, 0}, {3, 1, 0}, {1, 1, 0}} << QVector<double>{1, 2, 3}
                                    << QStringList{colHead + QStringLiteral("3.</p>") + kClose};
        QTest::newRow("all four")
            << Rows{{0, 0}, {0, 0}} << QVector<double>{0, 0}
            << QStringList{rhsText, rowHead + QStringLiteral("1 & 2.</p>") + kClose,
                           colHead + QStringLiteral("1 & 2.</p>") + kClose,
                           dupHead + QStringLiteral("</p><p><b><u>1</u></b> -> 2.</p>") + kClose};
        QTest::newRow("multiple rows") << Rows{{1, 2, 3}, {2, 4, 6}, {0, 1, 5}} << QVector<double>{1, 2, 3}
                                       << QStringList{dupHead + QStringLiteral("</p><p><b><u>1</u></b> -> 2.</p>") + kClose};
        QTest::newRow("nearly multiple") << Rows{{1, 2, 3}, {1, 2, 3.000001}, {0, 1, 5}}
                                         << QVector<double>{1, 2, 3} << QStringList();
        QTest::newRow("large multiple") << Rows{{1e20, 1}, {2e20, 2}} << QVector<double>{1, 2}
                                        << QStringList{dupHead + QStringLiteral("</p><p><b><u>1</u></b> -> 2.</p>") + kClose};
        QTest::newRow("zero where the other has a value") << Rows{{1, 0, 3}, {2, 1, 6}, {0, 1, 5}}
                                                          << QVector<double>{1, 2, 3} << QStringList();
        // Ratios far below the zero threshold are still compared.
        QTest::newRow("rows of very different size") << Rows{{1e12, 1e12}, {1e-4, 2e-4}}
                                                     << QVector<double>{1, 2} << QStringList();
        QTest::newRow("tiny multiple") << Rows{{1e12, 3e12, 1e6}, {0, 1, 5}, {1e-4, 3e-4, 1e-10}}
                                       << QVector<double>{1, 2, 3}
                                       << QStringList{dupHead + QStringLiteral("</p><p><b><u>1</u></b> -> 3.</p>") + kClose};
        // A value that is not finite gets its own box, and only that one:
        // the other checks would see nonsense multiples and zeros.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        const QString bad = QStringLiteral("<p>The following value is infinite or not a number!</p><p>");
        QTest::newRow("NaN coefficient") << Rows{{1, 1}, {nan, 2}} << QVector<double>{1, 2}
                                         << QStringList{bad + QStringLiteral("Equation 2, Variable 1.</p>") + kClose};
        QTest::newRow("inf in the first column") << Rows{{inf, 1}, {2, 1}} << QVector<double>{0, 0}
                                                 << QStringList{bad + QStringLiteral("Equation 1, Variable 1.</p>") + kClose};
        QTest::newRow("infinite right-hand side") << Rows{{1, 0}, {0, 1}} << QVector<double>{1, -inf}
                                                  << QStringList{bad + QStringLiteral("Equation 2, R.H.S.</p>") + kClose};

        // Twelve zero equations: eleven recorded, ten shown.
        QList<int> twelve;
        for (int i = 0; i < 12; ++i)
            twelve << 2 * i + 1;
        Rows many = identityWithZeroRows(24, twelve);
        const QString rowList = QStringLiteral("2, 4, 6, 8, 10, 12, 14, 16, 18, 20 & ") + kMore;
        // The zero rows are also proportional to one another: row 2 with the ten
        // after it (eleven rows in its group, ten shown), row 4 with its ten...
        QString groups;
        for (int first = 2; first <= 20; first += 2) {
            QStringList after; // the zero rows after it, ten at most
            for (int row = first + 2; row <= 24 && after.size() < 10; row += 2)
                after << QString::number(row);
            // Row 2 has eleven after it: ten shown and a note.
            const QString last = first == 2 ? QStringLiteral("\t<b><u>And Many more!</u></b>") : after.takeLast() + '.';
            groups += QStringLiteral("</p><p><b><u>%1</u></b> -> ").arg(first) + after.join(QStringLiteral(", "))
                      + (after.isEmpty() ? QString() : QStringLiteral(" & ")) + last;
        }
        groups += kMore;
        QTest::newRow("twelve zero equations")
            << many << QVector<double>(24, 1.0)
            << QStringList{rowHead + rowList + QStringLiteral("</p>") + kClose,
                           colHead + QStringLiteral("2, 4, 6, 8, 10, 12, 14, 16, 18, 20 & ") + kMore
                               + QStringLiteral("</p>") + kClose,
                           dupHead + groups + QStringLiteral("</p>") + kClose};
    }

    void boxes()
    {
        QFETCH(Rows, rows);
        QFETCH(QVector<double>, rhs);
        QFETCH(QStringList, texts);
        Matrix a(rows);
        std::vector<double> b(rhs.begin(), rhs.end());
        std::vector<int> zeros(size_t(a.n), -1);
        ScriptedPrompter prompter;
        QCOMPARE(Validate::validateSystem(a.n, a.ptr(), b.data(), zeros.data()), texts.isEmpty());
        QStringList shown;
        for (const ScriptedPrompter::Record &r : prompter.records()) {
            QCOMPARE(r.kind + r.title, QStringLiteral("message") + kTitle);
            QCOMPARE(r.icon, int(Prompter::Warning));
            shown << r.text;
        }
        QCOMPARE(shown, texts);
    }

    void columnCounts()
    {
        Matrix a(Rows{{0, 1, 0, 2}, {0, 0, 3, 4}, {5, 0, 1e-15, 6}, {7, 0, 8, -1e-15}});
        double b[] = {1, 2, 3, 4};
        std::vector<int> zeros(4, -1);
        const ValidationReport report = Validate::check(4, a.ptr(), b, zeros.data());
        QVERIFY(report.valid());
        QCOMPARE(zeros, (std::vector<int>{2, 3, 2, 1}));
        QCOMPARE(report.columnZeros, (QVector<int>{2, 3, 2, 1}));
    }

    void duplicateGroups_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QList<int>>("firsts");
        QTest::addColumn<QString>("groups");
        // Three equal rows: 1 with 2 and 3, then 2 with 3.
        QTest::newRow("three equal") << Rows{{1, 2, 3}, {1, 2, 3}, {1, 2, 3}} << QList<int>{0, 1}
                                     << "1,2|2";
        QTest::newRow("multiples apart") << Rows{{1, 2, 3, 4}, {0, 1, 0, 1}, {-2, -4, -6, -8}, {0, 3, 0, 3}}
                                         << QList<int>{0, 1} << "2|3";
        QTest::newRow("zero first column") << Rows{{0, 1, 2}, {0, 2, 4}, {1, 1, 1}} << QList<int>{0}
                                           << "1";
        QTest::newRow("none") << Rows{{1, 2}, {2, 1}} << QList<int>() << "";
    }

    void duplicateGroups()
    {
        QFETCH(Rows, rows);
        QFETCH(QList<int>, firsts);
        QFETCH(QString, groups);
        Matrix a(rows);
        std::vector<double> b(size_t(a.n), 1.0);
        const ValidationReport report = Validate::check(a.n, a.ptr(), b.data(), nullptr);
        QCOMPARE(report.duplicatesOk, firsts.isEmpty());
        QCOMPARE(report.duplicateRows, firsts);
        QStringList parts;
        for (const QList<int> &g : report.duplicateGroups) {
            QStringList members;
            for (int r : g)
                members << QString::number(r);
            parts << members.join(QLatin1Char(','));
        }
        QCOMPARE(parts.join(QLatin1Char('|')), groups);
    }

    void duplicateTextLimits()
    {
        // Thirteen equal rows: eleven groups at most are kept; the first holds
        // eleven rows at most.
        Matrix a(13);
        std::vector<double> b(13, 1.0);
        for (int i = 0; i < 13; ++i) {
            a.rows[size_t(i)][0] = 1.0;
            a.rows[size_t(i)][1] = 2.0;
        }
        const ValidationReport report = Validate::check(13, a.ptr(), b.data(), nullptr);
        QCOMPARE(report.duplicateRows.size(), 11);
        QCOMPARE(report.duplicateGroups.first().size(), 11);
        QCOMPARE(report.duplicateGroups.first().last(), 11);
        const QString text = Validate::duplicateMessage(report.duplicateRows, report.duplicateGroups);
        QVERIFY(text.startsWith(QStringLiteral("<p>Following Equations are Duplicate!</p><p></p><p><b><u>1</u></b> -> "
                                               "2, 3, 4, 5, 6, 7, 8, 9, 10, 11 & \t<b><u>And Many more!</u></b></p><p>")));
        QVERIFY(text.endsWith(kMore + QStringLiteral("</p>") + kClose));
        QCOMPARE(text.count(QStringLiteral("</u></b> -> ")), 10);
    }

    void emptySystem()
    {
        const ValidationReport report = Validate::check(0, nullptr, nullptr, nullptr);
        QVERIFY(!report.rhsOk);
        QVERIFY(report.rowsOk && report.columnsOk && report.duplicatesOk);
    }
};

QTEST_GUILESS_MAIN(TestValidate)
#include "tst_validate.moc"
