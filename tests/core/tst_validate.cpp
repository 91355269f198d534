// The four checks before a solve, their capped lists and groups, and the
// exact texts of the boxes they raise.
#include "solver/validate.h"
#include "scriptedprompter.h"
#include "testenv.h"

#include <QtTest>

#include <limits>
#include <vector>

namespace {

using Rows = QVector<QVector<double>>;

struct System
{
    System(const Rows &r, const QVector<double> &b)
        : n(r.size()), store(size_t(n) * size_t(n)), rows(size_t(n)), rhs(b.begin(), b.end())
    {
        for (int i = 0; i < n; ++i) {
            rows[size_t(i)] = store.data() + size_t(i) * size_t(n);
            for (int j = 0; j < n; ++j)
                rows[size_t(i)][j] = r[i][j];
        }
    }
    int n;
    std::vector<double> store;
    std::vector<double *> rows;
    std::vector<double> rhs;
};

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

Q_DECLARE_METATYPE(Rows)

class TestValidate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_env.reset(new TestEnv(2)); }
    void cleanupTestCase() { m_env.reset(); }
    void itemList_data();
    void itemList();
    void boxes_data();
    void boxes();
    void columnCounts();
    void duplicateGroups_data();
    void duplicateGroups();
    void duplicateTextLimits();
    void emptySystem();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TestValidate::itemList_data()
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

void TestValidate::itemList()
{
    QFETCH(QList<int>, indices);
    QFETCH(QString, expected);
    QCOMPARE(Validate::itemList(indices, QStringLiteral("[more]")), expected);
}

void TestValidate::boxes_data()
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
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("NaN is no zero and no multiple") << Rows{{nan, 1}, {nan, 2}} << QVector<double>{1, 2}
                                                    << QStringList();

    // Twelve zero equations: eleven recorded, ten shown.
    QList<int> twelve;
    for (int i = 0; i < 12; ++i)
        twelve << 2 * i + 1;
    Rows many = identityWithZeroRows(24, twelve);
    const QString rowList = QStringLiteral("2, 4, 6, 8, 10, 12, 14, 16, 18, 20 & ") + kMore;
    // The zero rows are also proportional to one another: row 2 with the ten
    // after it (eleven rows in its group, ten shown), row 4 with its ten...
    QString groups;
    for (int g = 0; g < 10; ++g) {
        QStringList members;
        const int first = 2 * g + 2;
        QString items;
        const int count = 11 - g; // rows after it, in the group
        for (int m = 0; m < count && m < 10; ++m) {
            const int row = first + 2 * (m + 1);
            items += QString::number(row);
            if (m == count - 1)
                items += QLatin1Char('.');
            else if (m == count - 2)
                items += QStringLiteral(" & ");
            else
                items += QStringLiteral(", ");
        }
        if (count > 10)
            items += QStringLiteral("\t<b><u>And Many more!</u></b>");
        groups += QStringLiteral("</p><p><b><u>%1</u></b> -> ").arg(first) + items;
    }
    groups += kMore;
    QTest::newRow("twelve zero equations")
        << many << QVector<double>(24, 1.0)
        << QStringList{rowHead + rowList + QStringLiteral("</p>") + kClose,
                       colHead + QStringLiteral("2, 4, 6, 8, 10, 12, 14, 16, 18, 20 & ") + kMore
                           + QStringLiteral("</p>") + kClose,
                       dupHead + groups + QStringLiteral("</p>") + kClose};
}

void TestValidate::boxes()
{
    QFETCH(Rows, rows);
    QFETCH(QVector<double>, rhs);
    QFETCH(QStringList, texts);
    System s(rows, rhs);
    std::vector<int> zeros(size_t(s.n), -1);
    ScriptedPrompter prompter;
    const bool ok = Validate::validateSystem(s.n, s.rows.data(), s.rhs.data(), zeros.data());
    QCOMPARE(ok, texts.isEmpty());
    const QList<ScriptedPrompter::Record> records = prompter.records();
    QStringList shown;
    for (const ScriptedPrompter::Record &r : records) {
        QCOMPARE(r.kind, QStringLiteral("message"));
        QCOMPARE(r.title, kTitle);
        QCOMPARE(r.icon, int(Prompter::Warning));
        shown << r.text;
    }
    QCOMPARE(shown.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(shown[i], texts[i]);
}

void TestValidate::columnCounts()
{
    System s(Rows{{0, 1, 0, 2}, {0, 0, 3, 4}, {5, 0, 1e-15, 6}, {7, 0, 8, -1e-15}},
             QVector<double>{1, 2, 3, 4});
    std::vector<int> zeros(4, -1);
    const ValidationReport report = Validate::check(4, s.rows.data(), s.rhs.data(), zeros.data());
    QVERIFY(report.valid());
    QCOMPARE(zeros, (std::vector<int>{2, 3, 2, 1}));
    QCOMPARE(report.columnZeros, (QVector<int>{2, 3, 2, 1}));
}

void TestValidate::duplicateGroups_data()
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

void TestValidate::duplicateGroups()
{
    QFETCH(Rows, rows);
    QFETCH(QList<int>, firsts);
    QFETCH(QString, groups);
    QVector<double> b(rows.size(), 1.0);
    System s(rows, b);
    const ValidationReport report = Validate::check(s.n, s.rows.data(), s.rhs.data(), nullptr);
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

void TestValidate::duplicateTextLimits()
{
    // Thirteen equal rows: eleven groups at most are kept; the first holds
    // eleven rows at most.
    QVector<double> b(13, 1.0);
    Rows square(13, QVector<double>(13, 0.0));
    for (int i = 0; i < 13; ++i) {
        square[i][0] = 1.0;
        square[i][1] = 2.0;
    }
    System s(square, b);
    const ValidationReport report = Validate::check(13, s.rows.data(), s.rhs.data(), nullptr);
    QCOMPARE(report.duplicateRows.size(), 11);
    QCOMPARE(report.duplicateGroups.first().size(), 11);
    QCOMPARE(report.duplicateGroups.first().last(), 11);
    const QString text = Validate::duplicateMessage(report.duplicateRows, report.duplicateGroups);
    QVERIFY(text.startsWith(QStringLiteral("<p>Following Equations are Duplicate!</p><p></p><p><b><u>1</u></b> -> "
                                           "2, 3, 4, 5, 6, 7, 8, 9, 10, 11 & \t<b><u>And Many more!</u></b></p><p>")));
    QVERIFY(text.endsWith(kMore + QStringLiteral("</p>") + kClose));
    QCOMPARE(text.count(QStringLiteral("</u></b> -> ")), 10);
}

void TestValidate::emptySystem()
{
    const ValidationReport report = Validate::check(0, nullptr, nullptr, nullptr);
    QVERIFY(!report.rhsOk);
    QVERIFY(report.rowsOk && report.columnsOk && report.duplicatesOk);
}

QTEST_GUILESS_MAIN(TestValidate)
#include "tst_validate.moc"
