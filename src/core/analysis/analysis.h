#ifndef ANALYSIS_H
#define ANALYSIS_H

#include <QString>

#include <array>
#include <vector>

// The arithmetic of the analysis dialog on plain arrays: accuracy reduction
// of solution sets, residuals and percentage errors, comparison of two sets,
// the ten error ranges, the unequal count, table paging and clipboard text.
namespace Analysis {

// Solution sets, numbered as everywhere in the program.
enum Set { Current = 0, Custom = 1, FromFile = 2 };

// A right-hand side or reference value this small makes a percentage
// meaningless: the row is "NA" with percentage 0.
inline bool isNaValue(double x) { return x >= -1e-15 && x <= 1e-15; }

// Accuracy reduction of one value. mode 0: truncated (towards zero) to
// digits significant digits of its 15-digit form, magnitude and sign kept;
// mode 1: rounded to digits decimal places. digits is held to 0..15 (mode 1)
// or 1..15 (mode 0). Infinities and NaN pass unchanged.
double reduceAccuracy(double v, int mode, int digits);
void reduceVector(const double *src, double *dst, int n, int mode, int digits);

// The error analysis of solution s against the system: lhs = A·s (summed in
// increasing column order), diff = lhs - rhs, pct = |diff / rhs · 100|, or 0
// with the row in naRows (ascending) when rhs is zero.
void computeErrors(int n, const double *const *coef, const double *rhs, const double *s,
                   double *lhs, double *diff, double *pct, std::vector<int> *naRows);

// Comparison of sets a and b: diff = a - b, pct = |diff / b · 100|, or 0 with
// the row in naRows when b is zero.
void computeComparison(int n, const double *a, const double *b, double *diff, double *pct,
                       std::vector<int> *naRows);

// Range 0..9 of a percentage: 0 holds p <= 10, k holds 10k < p <= 10(k+1),
// 9 everything above 90 (and NaN).
int rangeOf(double p);
std::array<int, 10> rangeCounts(const double *pct, int n);

// Equations whose |diff| exceeds tolerance (NaN differences count as unequal).
int unequalCount(const double *diff, int n, double tolerance);

// Paging of n rows over at most maxTables tables of rows rows each: the
// smallest table count that holds every row; when maxTables tables of rows
// rows are too few, rows grows by 10 until they suffice.
struct Paging
{
    int rows = 0;     // rows per table after growing
    int tables = 0;   // tables in use (at least 1)
    int first(int t) const { return t * rows; }
    int last(int t, int n) const;   // last row of table t (n - 1 for the last table)
};
Paging pageLayout(int n, int rows, int maxTables);

// Every value as "%.15g" followed by the delimiter (also after the last).
QString clipboardText(const double *v, int n, const QString &delimiter);

// One value as "%.15g" ("inf", "-inf" and "nan" as such).
QString formatValue(double v);
// Parses the whole (trimmed) text as a number; false when it is not one.
bool parseValue(const QString &text, double *v);

// Colour class of a percentage cell: NA gray, |p| <= 20 green, |p| >= 80 or
// NaN red, anything between yellow.
enum Tone { Gray, Green, Yellow, Red };
Tone percentTone(double p, bool na);

} // namespace Analysis

#endif
