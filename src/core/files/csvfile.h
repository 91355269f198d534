#ifndef CSVFILE_H
#define CSVFILE_H

#include "textpieces.h"

#include <QString>

class QIODevice;

// CSV files of an augmented system: rows of numbers separated by ",", ";"
// or TAB (the first data row decides: TAB if it has one, else ";" if it has
// one, else ","), fields optionally in double quotes, LF or CR LF line ends,
// blank lines ignored. A first row that is not all numbers is a header and
// skipped. With ";" a field such as "1,5" reads as 1.5 (the decimal comma
// of spreadsheets that separate by ";"). Errors name the line, the row of
// the system (the equation) and the column.
namespace CsvFile {

struct Shape
{
    char separator = ',';
    bool header = false;          // the first row was skipped as a header
    long long cols = 0;           // fields of the first data row
    const char *body = nullptr;   // the start of the first data row
    long long bodyLine = 0;       // its line number (1-based)
};

// Finds the separator, the header row and the field count of the first
// data row, and checks that the rest of the file can hold cols - 1 rows
// (the system's equations). Allocates nothing that grows with the sizes.
bool readShape(const char *begin, const char *end, Shape *shape, QString *error);

// Reads exactly rows rows of shape.cols numbers into target. Parsing is
// spread over threads.
bool readBody(const Shape &shape, const char *end, long long rows, const DenseColumns &target,
              int threads, QString *error);

// Writes rows lines of cols values separated by ",", shortest round-trip
// text, no header.
bool write(QIODevice *out, const DenseColumns &source, long long rows, long long cols, int threads);

} // namespace CsvFile

#endif
