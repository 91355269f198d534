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
    void itemList()
    {
        // Ten numbers at most, then the given note instead of the last "&".
        QList<int> twelve;
        for (int i = 0; i < 12; ++i)
            twelve << i;
        const struct { QList<int> indices; const char *expected; } cases[] = {
            {{2}, "3."}, {{0, 3}, "1 & 4."}, {{1, 4, 8}, "2, 5 & 9."}, {twelve.mid(0, 10), "1, 2, 3, 4, 5, 6, 7, 8, 9 & 10."},
            {twelve.mid(0, 11), "1, 2, 3, 4, 5, 6, 7, 8, 9, 10 & [more]"},
            {twelve, "1, 2, 3, 4, 5, 6, 7, 8, 9, 10, [more]"}, {{}, ""}};
        for (const auto &c : cases)
            QCOMPARE(Validate::itemList(c.indices, QStringLiteral("[more]")), QString(c.expected));
    }

    void boxes()
    {
        const QString rhsText = QStringLiteral("<p>R.H.S. of all Equations is zero!</p>") + kClose;
        const QString rowHead = QStringLiteral("<p>All the co-efficients of following Equations are zero!</p><p>");
        const QString colHead = QStringLiteral("<p>All the co-efficients of following Variables is zero!</p>\n<p>");
        const QString dup12 = QStringLiteral("<p>Following Equations are Duplicate!</p><p></p><p><b><u>1</u></b> -> 2.</p>") + kClose;
        const QString bad = QStringLiteral("<p>The following value is infinite or not a number!</p><p>");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        // Twelve zero equations: eleven recorded, ten shown.
        QList<int> twelve;
        for (int i = 0; i < 12; ++i)
            twelve << 2 * i + 1;
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
        const struct { Rows rows; QVector<double> rhs; QStringList texts; } cases[] = {
            {{{1, 2}, {3, 4}}, {1, 0}, {}},
            // The right-hand side is zero within 1e-15; 1.5e-15 is not zero.
            {{{1, 2}, {3, 4}}, {1e-15, -1e-15}, {rhsText}},
            {{{1, 2}, {3, 4}}, {0, 1.5e-15}, {}},
            // Rows 2 and 4 zero: also a zero-equation pair, hence duplicates; no
            // column is entirely zero.
            {{{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 1, 1, 1}, {0, 0, 0, 0}}, {1, 1, 1, 1},
             {rowHead + QStringLiteral("2 & 4.</p>") + kClose,
              QStringLiteral("<p>Following Equations are Duplicate!</p><p></p><p><b><u>2</u></b> -> 4.</p>") + kClose}},
            {{{1, 2, 0}, {3, 1, 0}, {1, 1, 0}}, {1, 2, 3}, {colHead + QStringLiteral("3.</p>") + kClose}},
            {{{0, 0}, {0, 0}}, {0, 0},
             {rhsText, rowHead + QStringLiteral("1 & 2.</p>") + kClose, colHead + QStringLiteral("1 & 2.</p>") + kClose, dup12}},
            // Multiple rows, nearly multiple, a large multiple, a zero where the other row has a value.
            {{{1, 2, 3}, {2, 4, 6}, {0, 1, 5}}, {1, 2, 3}, {dup12}},
            {{{1, 2, 3}, {1, 2, 3.000001}, {0, 1, 5}}, {1, 2, 3}, {}},
            {{{1e20, 1}, {2e20, 2}}, {1, 2}, {dup12}},
            {{{1, 0, 3}, {2, 1, 6}, {0, 1, 5}}, {1, 2, 3}, {}},
            // Ratios far below the zero threshold are still compared.
            {{{1e12, 1e12}, {1e-4, 2e-4}}, {1, 2}, {}},
            {{{1e12, 3e12, 1e6}, {0, 1, 5}, {1e-4, 3e-4, 1e-10}}, {1, 2, 3},
             {QStringLiteral("<p>Following Equations are Duplicate!</p><p></p><p><b><u>1</u></b> -> 3.</p>") + kClose}},
            // A value that is not finite gets its own box, and only that one:
            // the other checks would see nonsense multiples and zeros.
            {{{1, 1}, {nan, 2}}, {1, 2}, {bad + QStringLiteral("Equation 2, Variable 1.</p>") + kClose}},
            {{{inf, 1}, {2, 1}}, {0, 0}, {bad + QStringLiteral("Equation 1, Variable 1.</p>") + kClose}},
            {{{1, 0}, {0, 1}}, {1, -inf}, {bad + QStringLiteral("Equation 2, R.H.S.</p>") + kClose}},
            {identityWithZeroRows(24, twelve), QVector<double>(24, 1.0),
             {rowHead + rowList + QStringLiteral("</p>") + kClose,
              colHead + QStringLiteral("2, 4, 6, 8, 10, 12, 14, 16, 18, 20 & ") + kMore + QStringLiteral("</p>") + kClose,
              QStringLiteral("<p>Following Equations are Duplicate!</p><p>") + groups + kMore + QStringLiteral("</p>") + kClose}}};
        for (const auto &[rows, rhs, texts] : cases) {
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

    void duplicateGroups()
    {
        // Three equal rows: 1 with 2 and 3, then 2 with 3.
        const struct { Rows rows; QList<int> firsts; const char *groups; } cases[] = {
            {{{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, {0, 1}, "1,2|2"},
            {{{1, 2, 3, 4}, {0, 1, 0, 1}, {-2, -4, -6, -8}, {0, 3, 0, 3}}, {0, 1}, "2|3"},
            {{{0, 1, 2}, {0, 2, 4}, {1, 1, 1}}, {0}, "1"}, {{{1, 2}, {2, 1}}, {}, ""},
            // Ratios a rounding apart are still equal; equal first ratios alone are not enough.
            {{{0.1, 0.3, 0.7, 1}, {0.3, 0.9, 2.1, 3}, {2, 4, 7, 1}, {1, 2, 3, 5}}, {0}, "1"}};
        for (const auto &[rows, firsts, groups] : cases) {
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
            QCOMPARE(parts.join(QLatin1Char('|')), QString(groups));
        }
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
