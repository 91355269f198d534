#ifndef MATRIXMARKET_H
#define MATRIXMARKET_H

#include "textpieces.h"

#include <QString>

class QIODevice;

// Matrix Market files: the banner "%%MatrixMarket matrix LAYOUT FIELD
// SYMMETRY", comment lines starting with "%", the size line, then the
// entries. Layout "array": one value per entry in column-major order (of
// the lower triangle for symmetric storage, of the strict lower triangle for
// skew-symmetric); "coordinate": "i j value" lines with 1-based indices,
// missing entries being zero. Fields "real" and "integer"; symmetric and
// skew-symmetric storage are expanded to the full matrix. Every error names
// the line ("line 7: ...").
namespace MatrixMarket {

enum class Layout { Array, Coordinate };
enum class Symmetry { General, Symmetric, SkewSymmetric };

struct Header
{
    Layout layout = Layout::Array;
    Symmetry symmetry = Symmetry::General;
    bool integer = false;
    long long rows = 0;
    long long cols = 0;
    long long entries = 0;        // values (array) or entry lines (coordinate)
    const char *body = nullptr;   // the first byte after the size line
    long long bodyLine = 0;       // its line number (1-based)
};

// Reads the banner, the comments and the size line of [begin, end) and
// checks that the bytes after it can hold the entries the size line
// promises. Allocates nothing that grows with the sizes.
bool readHeader(const char *begin, const char *end, Header *header, QString *error);

// Reads the entries into target, a rows x cols matrix. For the coordinate
// layout the caller has set target to zero. Parsing is spread over threads.
bool readBody(const Header &header, const char *end, const DenseColumns &target, int threads,
              QString *error);

// Writes a rows x cols matrix: "array real general" with every value in its
// shortest round-trip text, or the coordinate layout with every entry that
// is not +0. A comment line names the writer.
bool write(QIODevice *out, const DenseColumns &source, long long rows, long long cols,
           bool coordinate, int threads);

} // namespace MatrixMarket

#endif
