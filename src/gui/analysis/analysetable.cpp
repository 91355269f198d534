#include "analysetable.h"

#include "analysis/analysis.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace {
const char *const kSolutionHeaders[3] = {"  Current  ", "  Custom  ", "  From File  "};
const char *const kSolutionTips[3] = {
    "This Solution set is obtained after solving the Equations in Tarvix.",
    "You can enter your own custom Solution set here for error analysis.\nEverytime you Solve "
    "Equations this set will be updated by copying the Current Solution.",
    "This is the Solution set which is Saved in the file currently open in session."};
const char *const kErrorHeaders[4] = {"  L.H.S.  ", "  R.H.S.  ", "  Difference  ", "  Percentage  "};
const char *const kErrorTips[4] = {
    "Equivalent value after substituting the Solution values on Left Hand Side of the Equation.",
    "Value on Right Hand Side of the Equation.", "L.H.S. - R.H.S.",
    "(((L.H.S. - R.H.S.) / R.H.S.) * 100)"};
const char *const kCompareTips[4] = {"Solution set 'A'", "Solution set 'B'", "A - B",
                                     "(((A - B) / B) * 100)"};
}

AnalyseTable::AnalyseTable(QObject *parent) : QAbstractTableModel(parent) {}

void AnalyseTable::setSource(Kind kind, int first, int last, double *c0, double *c1, double *c2,
                             double *c3, const std::vector<int> *naRows, const QString &nameA,
                             const QString &nameB)
{
    beginResetModel();
    m_kind = kind;
    m_first = first;
    m_last = std::max(last, first - 1);
    m_cols[0] = c0;
    m_cols[1] = c1;
    m_cols[2] = c2;
    m_cols[3] = c3;
    m_na = naRows;
    m_nameA = nameA;
    m_nameB = nameB;
    endResetModel();
}

void AnalyseTable::refresh()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void AnalyseTable::clearSource()
{
    setSource(m_kind, 0, -1, nullptr, nullptr, nullptr);
}

void AnalyseTable::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    if (!busy)
        refresh();
}

int AnalyseTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_last - m_first + 1;
}

int AnalyseTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : (m_kind == Solution ? 3 : 4);
}

bool AnalyseTable::isNa(int row) const
{
    return m_na && std::binary_search(m_na->begin(), m_na->end(), row);
}

bool AnalyseTable::hasCells() const
{
    return !m_busy && m_cols[0] && m_cols[1] && m_cols[2] && (m_kind == Solution || m_cols[3]);
}

QVariant AnalyseTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (!hasCells())
        return QVariant();
    const int row = m_first + index.row();
    const bool percent = m_kind != Solution && index.column() == 3;
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (percent && isNa(row))
            return QStringLiteral("NA");
        const QString text = Analysis::formatValue(m_cols[index.column()][row]);
        return percent ? text + QStringLiteral(" %") : text;
    }
    if (role == Qt::BackgroundRole && percent) {
        switch (Analysis::percentTone(m_cols[3][row], isNa(row))) {
        case Analysis::Gray:
            return QBrush(Qt::gray);
        case Analysis::Green:
            return QBrush(Qt::green);
        case Analysis::Yellow:
            return QBrush(Qt::yellow);
        case Analysis::Red:
            return QBrush(Qt::red);
        }
    }
    return QVariant();
}

QVariant AnalyseTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole && section >= 0 && section < rowCount())
            return QStringLiteral("X") + QString::number(qint64(m_first) + section + 1);
        return QVariant();
    }
    if (section < 0 || section >= columnCount())
        return QVariant();
    if (role == Qt::DisplayRole) {
        if (m_kind == Solution)
            return QString::fromLatin1(kSolutionHeaders[section]);
        if (m_kind == Comparison && section < 2)
            return section == 0 ? m_nameA : m_nameB;
        return QString::fromLatin1(kErrorHeaders[section]);
    }
    if (role == Qt::ToolTipRole) {
        if (m_kind == Solution)
            return QString::fromLatin1(kSolutionTips[section]);
        if (m_kind == Comparison)
            return QString::fromLatin1(kCompareTips[section]);
        return QString::fromLatin1(kErrorTips[section]);
    }
    return QVariant();
}

Qt::ItemFlags AnalyseTable::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (m_kind == Solution && index.column() == 1)
        f |= Qt::ItemIsEditable;
    return f;
}

bool AnalyseTable::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || m_kind != Solution || !index.isValid() || index.column() != 1
        || index.row() >= rowCount() || !hasCells())
        return false;
    double v = 0.0;
    if (!Analysis::parseValue(value.toString(), &v))
        return false;
    const int row = m_first + index.row();
    m_cols[1][row] = v;
    emit cellChanged(row, v);
    emit dataChanged(index, index);
    return true;
}
