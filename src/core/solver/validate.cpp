#include "validate.h"

#include "prompt/prompter.h"
#include "numeric/zero.h"
#include "solver/reduce.h"

#include <QThread>

#include <cmath>
#include <vector>

namespace {

const char *const kClosing = "<u><b>Cannot Solve such Equations.</b></u>";
const char *const kMoreItems = "</p><p><b><u>And Many more!</u></b>";
const char *const kMoreRows = "\t<b><u>And Many more!</u></b>";

} // namespace

Validate::Validate(int n, double *rhs) : m_n(n), m_rhs(rhs) {}

Validate::Validate(int n, double **coef, int start, QList<int> *list)
    : m_n(n), m_coef(coef), m_start(start), m_list(list)
{
}

Validate::Validate(int n, double **coef, int start, int *columnZeros, QList<int> *list)
    : m_n(n), m_coef(coef), m_start(start), m_columnZeros(columnZeros), m_list(list)
{
}

Validate::Validate(int n, double **coef, QList<int> *list, QList<QList<int> *> *groups, int start)
    : m_n(n), m_coef(coef), m_start(start), m_list(list), m_groups(groups)
{
}

void Validate::finish(const char *name)
{
    // Run on the creating thread (no thread could be started): nothing to hand back.
    if (QThread::currentThread() == creatorThread())
        return;
    MyThreads::threadFinished(QThread::currentThread(), QString::fromLatin1(name), this,
                              QStringLiteral("VALIDATE"));
}

void Validate::countRHSZeros()
{
    m_result = false;
    for (int i = 0; i < m_n; ++i) {
        if (!isZero(m_rhs[i])) {
            m_result = true;
            break;
        }
    }
    finish("Validate::CRHSZ");
}

void Validate::countRowZeros()
{
    m_result = true;
    for (int i = m_start; i < m_n; ++i) {
        const double *row = m_coef[i];
        bool zero = true;
        for (int j = m_start; j < m_n && zero; ++j)
            zero = isZero(row[j]);
        if (zero) {
            m_list->append(i);
            m_result = false;
            if (m_list->size() > 10)
                break;
        }
    }
    finish("Validate::CROWZ");
}

void Validate::countColumnZeros()
{
    m_result = true;
    // Counted a row at a time, each row read in one stretch.
    const int from = m_start < m_n ? m_start : m_n;
    std::vector<long long> counts(size_t(m_n - from), 0);
    for (int r = from; r < m_n; ++r)
        Reduce::addZeroCounts(m_coef[r] + from, m_n - from, counts.data());
    for (int c = m_start; c < m_n; ++c) {
        const int zeros = int(counts[size_t(c - from)]);
        m_columnZeros[c] = zeros;
        if (zeros == m_n - m_start) {
            m_list->append(c);
            m_result = false;
            if (m_list->size() > 10)
                break;
        }
    }
    finish("Validate::CCZ");
}

bool Validate::proportional(int i, int j) const
{
    // The running ratio is compared relatively: rows of very different size
    // have ratios far below the zero threshold that still differ.
    const double *a = m_coef[i];
    const double *b = m_coef[j];
    double q = 0.0;
    bool haveQ = false;
    if (!isZero(a[m_start])) {
        if (isZero(b[m_start]))
            return false;
        q = b[m_start] / a[m_start];
        haveQ = true;
    } else if (!isZero(b[m_start])) {
        return false;
    }
    for (int c = m_start + 1; c < m_n; ++c) {
        const bool zx = isZero(a[c]);
        const bool zy = isZero(b[c]);
        if (zx && zy)
            continue;
        if (zx != zy)
            return false;
        const double ratio = b[c] / a[c];
        if (!haveQ) {
            q = ratio;
            haveQ = true;
        } else if (!(std::fabs(q - ratio) <= 1e-15 * std::fmax(std::fabs(q), std::fabs(ratio)))) {
            return false;
        }
    }
    return true;
}

void Validate::duplicateRows()
{
    m_result = true;
    // A row whose first two entries are not zero is proportional to another
    // such row only where the two have (up to a few roundings) the same
    // ratio of those entries: read from one line, it passes over the pairs
    // that cannot be, before their rows are read.
    std::vector<double> lead(size_t(m_n > 0 ? m_n : 0), std::nan(""));
    if (m_start + 1 < m_n) {
        for (int i = m_start; i < m_n; ++i) {
            const double *row = m_coef[i];
            if (isZero(row[m_start]) || isZero(row[m_start + 1]))
                continue;
            // Ratios near the ends of the range are not compared.
            const double t = row[m_start + 1] / row[m_start];
            if (std::fabs(t) > 1e-290 && std::fabs(t) < 1e290)
                lead[size_t(i)] = t;
        }
    }
    auto apart = [&lead](int i, int j) {
        const double p = lead[size_t(i)], q = lead[size_t(j)];
        return std::fabs(p - q) > 1e-12 * std::fmax(std::fabs(p), std::fabs(q));
    };
    for (int i = m_start; i < m_n - 1; ++i) {
        for (int j = i + 1; j < m_n; ++j) {
            if (apart(i, j) || !proportional(i, j))
                continue;
            if (!m_list->isEmpty() && m_list->last() == i) {
                m_groups->last()->append(j);
                if (m_groups->last()->size() > 10)
                    break;
            } else {
                m_list->append(i);
                m_groups->append(new QList<int>{j});
                m_result = false;
            }
        }
        if (m_list->size() > 10)
            break;
    }
    finish("Validate::DR");
}

ValidationReport Validate::check(int n, double **coef, double *rhs, int *columnZeros)
{
    ValidationReport report;
    if (n < 0)
        n = 0;
    report.columnZeros.fill(0, n);
    if (findNonFinite(n, coef, rhs, &report.nonFiniteRow, &report.nonFiniteColumn)) {
        report.finiteOk = false;
        if (columnZeros)
            std::fill(columnZeros, columnZeros + n, 0);
        return report;
    }
    int *zeros = columnZeros ? columnZeros : report.columnZeros.data();

    QList<int> rows, columns, dupRows;
    rows.reserve(12);
    columns.reserve(12);
    dupRows.reserve(12);
    QList<QList<int> *> groups;
    groups.reserve(12);

    Validate *workers[4] = {new Validate(n, rhs), new Validate(n, coef, 0, &rows),
                            new Validate(n, coef, 0, zeros, &columns),
                            new Validate(n, coef, &dupRows, &groups, 0)};
    const char *names[4] = {"Tarvix::CRHSZ", "Tarvix::CROWZ", "Tarvix::CCZ", "Tarvix::DR"};
    const char *slotNames[4] = {SLOT(countRHSZeros()), SLOT(countRowZeros()),
                            SLOT(countColumnZeros()), SLOT(duplicateRows())};
    QThread *threads[4];
    for (int w = 0; w < 4; ++w)
        threads[w] = MyThreads::start(workers[w], slotNames[w], QString::fromLatin1(names[w]));
    // A check whose thread could not be started runs here.
    for (int w = 0; w < 4; ++w) {
        if (threads[w])
            continue;
        switch (w) {
        case 0: workers[w]->countRHSZeros(); break;
        case 1: workers[w]->countRowZeros(); break;
        case 2: workers[w]->countColumnZeros(); break;
        default: workers[w]->duplicateRows(); break;
        }
    }
    for (int w = 0; w < 4; ++w) {
        if (threads[w])
            threads[w]->wait();
    }
    MyThreads::joined();

    report.rhsOk = workers[0]->result();
    report.rowsOk = workers[1]->result();
    report.columnsOk = workers[2]->result();
    report.duplicatesOk = workers[3]->result();
    report.zeroRows = rows;
    report.zeroColumns = columns;
    report.duplicateRows = dupRows;
    for (QList<int> *g : groups) {
        report.duplicateGroups.append(*g);
        delete g;
    }
    if (columnZeros)
        std::copy(columnZeros, columnZeros + n, report.columnZeros.begin());
    for (Validate *w : workers)
        delete w;
    return report;
}

bool Validate::validateSystem(int n, double **coef, double *rhs, int *columnZeros)
{
    return tell(check(n, coef, rhs, columnZeros));
}

bool Validate::tell(const ValidationReport &report)
{
    const QStringList texts = messages(report);
    for (const QString &text : texts)
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("ERROR: INVALID DATA!"),
                                      text, Prompter::Ok);
    return report.valid();
}

QStringList Validate::messages(const ValidationReport &report)
{
    QStringList out;
    if (!report.finiteOk)
        out << nonFiniteMessage(report.nonFiniteRow, report.nonFiniteColumn);
    if (!report.rhsOk)
        out << rhsMessage();
    if (!report.rowsOk)
        out << rowMessage(report.zeroRows);
    if (!report.columnsOk)
        out << columnMessage(report.zeroColumns);
    if (!report.duplicatesOk)
        out << duplicateMessage(report.duplicateRows, report.duplicateGroups);
    return out;
}

QString Validate::itemList(const QList<int> &indices, const QString &more)
{
    const int k = indices.size();
    QString s;
    for (int p = 0; p < k; ++p) {
        if (p == 10) {
            s += more;
            break;
        }
        s += QString::number(indices.at(p) + 1);
        if (p == k - 1)
            s += QLatin1Char('.');
        else if (p == k - 2)
            s += QLatin1String(" & ");
        else
            s += QLatin1String(", ");
    }
    return s;
}

QString Validate::rhsMessage()
{
    return QStringLiteral("<p>R.H.S. of all Equations is zero!</p>") + QLatin1String(kClosing);
}

bool Validate::findNonFinite(int n, double **coef, const double *rhs, int *row, int *column)
{
    for (int i = 0; i < n; ++i) {
        const double *r = coef[i];
        if (Reduce::allFinite(r, n) && std::isfinite(rhs[i]))
            continue;
        for (int j = 0; j < n; ++j) {
            if (!std::isfinite(r[j])) {
                *row = i;
                *column = j;
                return true;
            }
        }
        *row = i;
        *column = -1;
        return true;
    }
    return false;
}

QString Validate::nonFiniteMessage(int row, int column)
{
    const QString where = column < 0 ? QStringLiteral("Equation %1, R.H.S.").arg(row + 1)
                                     : QStringLiteral("Equation %1, Variable %2.").arg(row + 1).arg(column + 1);
    return QStringLiteral("<p>The following value is infinite or not a number!</p>")
           + QLatin1String("<p>") + where + QLatin1String("</p>") + QLatin1String(kClosing);
}

QString Validate::rowMessage(const QList<int> &rows)
{
    return QStringLiteral("<p>All the co-efficients of following Equations are zero!</p>")
           + QLatin1String("<p>") + itemList(rows, QLatin1String(kMoreItems))
           + QLatin1String("</p>") + QLatin1String(kClosing);
}

QString Validate::columnMessage(const QList<int> &columns)
{
    return QStringLiteral("<p>All the co-efficients of following Variables is zero!</p>\n")
           + QLatin1String("<p>") + itemList(columns, QLatin1String(kMoreItems))
           + QLatin1String("</p>") + QLatin1String(kClosing);
}

QString Validate::duplicateMessage(const QList<int> &rows, const QList<QList<int>> &groups)
{
    QString g;
    const int count = qMin(rows.size(), groups.size());
    for (int i = 0; i < count; ++i) {
        if (i == 10) {
            g += QLatin1String(kMoreItems);
            break;
        }
        g += QLatin1String("</p><p>");
        g += QLatin1String("<b><u>") + QString::number(rows.at(i) + 1)
             + QLatin1String("</u></b> -> ");
        g += itemList(groups.at(i), QLatin1String(kMoreRows));
    }
    return QStringLiteral("<p>Following Equations are Duplicate!</p>") + QLatin1String("<p>") + g
           + QLatin1String("</p>") + QLatin1String(kClosing);
}
