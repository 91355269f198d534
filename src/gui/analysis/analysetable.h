#ifndef ANALYSETABLE_H
#define ANALYSETABLE_H

#include <QAbstractTableModel>
#include <QString>

#include <vector>

// One page of rows of the analysis dialog's arrays: the three solution sets,
// the error columns of one set, or the comparison of two sets. It shows the
// dialog's arrays in place and copies nothing.
class AnalyseTable : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Kind { Solution = 0, Error = 1, Comparison = 2 };

    explicit AnalyseTable(QObject *parent = nullptr);

    // Rows first..last of the columns (three for Solution, four otherwise).
    // Solution: Current, Custom (editable), From File. Error: L.H.S., R.H.S.,
    // difference, percentage. Comparison: A, B, difference, percentage.
    // naRows: ascending rows whose percentage is "NA" (null: none).
    void setSource(Kind kind, int first, int last, double *c0, double *c1, double *c2,
                   double *c3 = nullptr, const std::vector<int> *naRows = nullptr,
                   const QString &nameA = QString(), const QString &nameB = QString());
    // The arrays' values changed in place: every cell is shown again.
    void refresh();
    // Forgets the arrays (the dialog is about to free them).
    void clearSource();
    // While busy, every cell answers with an empty value (the arrays are
    // being rewritten by the workers).
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    Kind kind() const { return m_kind; }
    int firstRow() const { return m_first; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    // row: index in the whole system.
    void cellChanged(int row, double value);

private:
    bool isNa(int row) const;
    bool hasCells() const;

    Kind m_kind = Solution;
    int m_first = 0;
    int m_last = -1;
    double *m_cols[4] = {nullptr, nullptr, nullptr, nullptr};
    const std::vector<int> *m_na = nullptr;
    QString m_nameA;
    QString m_nameB;
    bool m_busy = false;
};

#endif
