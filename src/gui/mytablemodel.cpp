#include "mytablemodel.h"

#include <QStringList>

#include <charconv>
#include <cmath>

namespace {

// An empty system has no "=" and right-hand-side columns either, so the
// count stays equal to what was announced to the views.
int columnsFor(int n)
{
    return n > 0 ? n + 2 : 0;
}

void appendNumber(QString *s, double v)
{
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    s->append(QLatin1String(buf, int(r.ptr - buf)));
}

}

MyTableModel::MyTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int MyTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int MyTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant MyTableModel::data(const QModelIndex &index, int role) const
{
    if (m_locked || !index.isValid() || index.row() >= m_n || index.column() > m_n + 1)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignHCenter | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    const int c = index.column();
    if (c == m_n)
        return QStringLiteral("=");
    if (c == m_n + 1)
        return m_rhs[index.row()];
    return m_coef[index.row()][c];
}

bool MyTableModel::parseCell(const QString &text, double *value)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const char *first = bytes.constData();
    const char *last = first + bytes.size();
    // from_chars takes no leading '+', which the validator lets through.
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
        ++first;
    if (first == last)
        return false;
    double v = 0.0;
    const auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool MyTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (m_locked || !index.isValid() || role != Qt::EditRole || index.row() >= m_n
        || index.column() == m_n || index.column() > m_n + 1)
        return false;
    const QString text = value.toString();
    if (text.isEmpty())
        return false;
    double d = 0.0;
    if (!parseCell(text, &d))
        return false;
    const int r = index.row();
    const int c = index.column();
    // The window reads the old value before it is replaced.
    emit cellChanged(r, c, text);
    if (c == m_n + 1)
        m_rhs[r] = d;
    else
        m_coef[r][c] = d;
    emit dataChanged(index, index);
    return true;
}

QVariant MyTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::TextAlignmentRole) {
        if (orientation == Qt::Horizontal)
            return int(Qt::AlignCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole || section < 0)
        return QVariant();
    if (orientation == Qt::Horizontal) {
        if (section < m_n)
            return QStringLiteral("X") + QString::number(section + 1);
        if (section == m_n)
            return QStringLiteral("=");
        if (section == m_n + 1)
            return QStringLiteral("R.H.S.");
        return QVariant();
    }
    if (section < m_n)
        return QString::number(section + 1);
    return QVariant();
}

bool MyTableModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1)
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    m_rows = m_n;
    endInsertRows();
    return true;
}

bool MyTableModel::insertColumns(int column, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1)
        return false;
    beginInsertColumns(QModelIndex(), column, column + count - 1);
    m_columns = columnsFor(m_n);
    endInsertColumns();
    return true;
}

bool MyTableModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1)
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_rows = m_n;
    endRemoveRows();
    return true;
}

bool MyTableModel::removeColumns(int column, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1)
        return false;
    beginRemoveColumns(QModelIndex(), column, column + count - 1);
    m_columns = columnsFor(m_n);
    endRemoveColumns();
    return true;
}

Qt::ItemFlags MyTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.column() == m_n)
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled
           | Qt::ItemIsEnabled;
}

void MyTableModel::resize(int n, double **coef, double *rhs)
{
    m_locked = true;
    const int old = m_n;
    m_n = n;
    m_coef = coef;
    m_rhs = rhs;
    if (n > old) {
        if (old != 0)
            insertColumns(old + 2, n - old);
        else
            insertColumns(0, n + 2);
        insertRows(old, n - old);
    } else if (n < old) {
        removeRows(n, old - n);
        if (n != 0)
            removeColumns(n + 2, old - n);
        else
            removeColumns(0, old + 2);
    }
    m_locked = false;
    refreshAll();
}

void MyTableModel::refreshAll()
{
    if (m_rows > 0 && m_columns > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1));
}

void MyTableModel::refreshRange(int row1, int col1, int row2, int col2)
{
    if (m_rows <= 0 || m_columns <= 0)
        return;
    row1 = qBound(0, row1, m_rows - 1);
    row2 = qBound(0, row2, m_rows - 1);
    col1 = qBound(0, col1, m_columns - 1);
    col2 = qBound(0, col2, m_columns - 1);
    emit dataChanged(index(row1, col1), index(row2, col2));
}

void MyTableModel::getTableData(QString *myStr)
{
    if (!myStr || !m_coef)
        return;
    myStr->reserve(myStr->size() + (m_n + 1) * m_n * 15);
    for (int i = 0; i < m_n; ++i) {
        if (i > 0)
            myStr->append(QLatin1Char(';'));
        const double *row = m_coef[i];
        for (int j = 0; j < m_n; ++j) {
            appendNumber(myStr, row[j]);
            myStr->append(QLatin1Char(' '));
        }
        appendNumber(myStr, m_rhs[i]);
        myStr->append(QLatin1Char(' '));
    }
}

void MyTableModel::setTableData(QString *myStr)
{
    if (!myStr || !m_coef)
        return;
    m_locked = true;
    const QStringList rows = myStr->split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (int i = 0; i < rows.size() && i < m_n; ++i) {
        const QStringList values = rows.at(i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (int j = 0; j < values.size() && j <= m_n; ++j) {
            double d = 0.0;
            if (!parseCell(values.at(j), &d))
                d = 0.0;
            if (j == m_n)
                m_rhs[i] = d;
            else
                m_coef[i][j] = d;
        }
    }
    m_locked = false;
}

void MyTableModel::setCellData(int r, int c, double d)
{
    if (r < 0 || r >= m_n || c < 0 || !m_coef)
        return;
    m_locked = true;
    if (c >= m_n)
        m_rhs[r] = d;
    else
        m_coef[r][c] = d;
    m_locked = false;
}
