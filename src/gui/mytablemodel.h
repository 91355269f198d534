#ifndef MYTABLEMODEL_H
#define MYTABLEMODEL_H

#include <QAbstractTableModel>
#include <QString>

// Table over a window's equation system, without a copy: columns 0..N-1 are
// the coefficients of X1..XN, column N only shows "=", column N+1 is the
// right-hand side. The arrays belong to the window; while they are being
// replaced the model is locked and reads nothing.
class MyTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit MyTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool insertColumns(int column, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeColumns(int column, int count, const QModelIndex &parent = QModelIndex()) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Takes the new size and arrays after the window reallocated them.
    void resize(int n, double **coef, double *rhs);
    // Called before the window releases the arrays; resize unlocks.
    void lock() { m_locked = true; }
    bool isLocked() const { return m_locked; }
    int variables() const { return m_n; }
    // Every cell changed.
    void refreshAll();
    // The rectangle between two cells changed.
    void refreshRange(int row1, int col1, int row2, int col2);

    // Parses a cell text the way an edit is accepted: a whole, finite
    // C-locale number (surrounding blanks allowed). False: not a number.
    static bool parseCell(const QString &text, double *value);

signals:
    void cellChanged(int r, int c, QString str);

public slots:
    // Reads the "a b c ;d e f " text form back into the arrays.
    void setTableData(QString *myStr);
    // Appends the system as text: each row's coefficients and right-hand
    // side ('g', 15 digits) followed by a space, rows separated by ";".
    void getTableData(QString *myStr);
    // Single-cell write for the history replay; announces nothing.
    void setCellData(int r, int c, double d);

private:
    int m_n = 0;
    int m_rows = 0;
    int m_columns = 0;
    double **m_coef = nullptr;
    double *m_rhs = nullptr;
    bool m_locked = false;
};

#endif
