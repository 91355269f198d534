#ifndef VALIDATE_H
#define VALIDATE_H

#include "threads/mythreads.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// Findings of the four checks made before every solve. Indices are 0-based;
// lists stop after 11 entries, groups after 11 rows.
struct ValidationReport
{
    bool rhsOk = true;        // some right-hand-side value is not zero
    bool rowsOk = true;       // no equation has only zero coefficients
    bool columnsOk = true;    // no variable has only zero coefficients
    bool duplicatesOk = true; // no equation is a multiple of another
    // Every value is finite. When one is not, the four checks are not run:
    // their findings would be nonsense.
    bool finiteOk = true;
    int nonFiniteRow = -1;
    int nonFiniteColumn = -1; // -1: the right-hand side
    QList<int> zeroRows;
    QList<int> zeroColumns;
    QList<int> duplicateRows;          // first row of each group
    QList<QList<int>> duplicateGroups; // rows found equal to that row
    QVector<int> columnZeros;          // zero count of every column
    bool valid() const { return finiteOk && rhsOk && rowsOk && columnsOk && duplicatesOk; }
};

// One check of the system, run as a worker on its own pooled thread. The
// lists are the caller's (it frees them, group lists included).
class Validate : public TrxWorker
{
    Q_OBJECT
public:
    // Right-hand-side check.
    Validate(int n, double *rhs);
    // Zero-equation check.
    Validate(int n, double **coef, int start, QList<int> *list);
    // Zero-variable check; fills columnZeros.
    Validate(int n, double **coef, int start, int *columnZeros, QList<int> *list);
    // Duplicate-equation check.
    Validate(int n, double **coef, QList<int> *list, QList<QList<int> *> *groups, int start);

    bool result() const { return m_result; }

    // Runs the four checks at once on the threads "Tarvix::CRHSZ",
    // "Tarvix::CROWZ", "Tarvix::CCZ" and "Tarvix::DR" and waits for them
    // (no event processing). columnZeros: n entries, may be null.
    static ValidationReport check(int n, double **coef, double *rhs, int *columnZeros);
    // The check followed by one warning box "ERROR: INVALID DATA!" per failed
    // check, through the prompter. True when the system may be solved.
    static bool validateSystem(int n, double **coef, double *rhs, int *columnZeros);
    // The messages of report, one box each; whether the system is valid.
    static bool tell(const ValidationReport &report);

    // The HTML texts of the failed checks, in the order right-hand side,
    // equations, variables, duplicates.
    static QStringList messages(const ValidationReport &report);
    static QString rhsMessage();
    // The first value that is infinite or not a number: equation row, variable
    // column (-1: the right-hand side).
    static QString nonFiniteMessage(int row, int column);
    // Finds the first such value, row by row; false when there is none.
    static bool findNonFinite(int n, double **coef, const double *rhs, int *row, int *column);
    static QString rowMessage(const QList<int> &rows);
    static QString columnMessage(const QList<int> &columns);
    static QString duplicateMessage(const QList<int> &rows, const QList<QList<int>> &groups);
    // "2, 5 & 9." for the indices 1, 4, 8; ten numbers at most, then more.
    static QString itemList(const QList<int> &indices, const QString &more);

public slots:
    void countRHSZeros();
    void countRowZeros();
    void countColumnZeros();
    void duplicateRows();

private:
    bool proportional(int i, int j) const;
    void finish(const char *name);

    int m_n = 0;
    double **m_coef = nullptr;
    double *m_rhs = nullptr;
    int m_start = 0;
    int *m_columnZeros = nullptr;
    QList<int> *m_list = nullptr;
    QList<QList<int> *> *m_groups = nullptr;
    bool m_result = false;
};

#endif
