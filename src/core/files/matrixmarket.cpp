#include "matrixmarket.h"

#include "filestring.h"
#include "numtext.h"

#include <QIODevice>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

using namespace TextPieces;

namespace {

// Bytes of text one worker parses in one wave: the values of a wave wait
// in the workers' own buffers until their places are known.
constexpr long long kPieceBytes = 8 << 20;
// Values one worker formats in one wave.
constexpr long long kPieceValues = 1 << 18;

inline bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline const char *skipBlank(const char *p, const char *end)
{
    while (p < end && blank(*p))
        ++p;
    return p;
}

inline const char *tokenEnd(const char *p, const char *end)
{
    while (p < end && !NumText::isSpace(*p))
        ++p;
    return p;
}

inline const char *lineEnd(const char *p, const char *end)
{
    const void *nl = std::memchr(p, '\n', size_t(end - p));
    return nl ? static_cast<const char *>(nl) : end;
}

QString quoted(const char *a, const char *b)
{
    const long long shown = std::min<long long>(b - a, 40);
    return QLatin1Char('"') + QString::fromUtf8(a, int(shown))
           + (b - a > shown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

QString lower(const char *a, const char *b)
{
    return QString::fromUtf8(a, int(b - a)).toLower();
}

bool isIntegerToken(const char *a, const char *b)
{
    if (a < b && (*a == '+' || *a == '-'))
        ++a;
    if (a == b)
        return false;
    for (; a < b; ++a)
        if (*a < '0' || *a > '9')
            return false;
    return true;
}

// One number token at p (not at a space); returns its end.
inline const char *number(const char *p, const char *end, double *v, bool *ok)
{
    const std::from_chars_result r = std::from_chars(p, end, *v);
    if (r.ec == std::errc() && (r.ptr == end || NumText::isSpace(*r.ptr))) {
        *ok = true;
        return r.ptr;
    }
    // Signs, hexadecimal digits, overflow and bad tokens take the full path.
    const char *t = tokenEnd(p, end);
    *ok = NumText::parseDouble(p, t, v);
    return t;
}

QString valueError(const char *a, const char *b, bool integer)
{
    double v = 0.0;
    return integer && NumText::parseDouble(a, b, &v)
               ? QStringLiteral("%1 is not an integer (the header says integer)").arg(quoted(a, b))
               : QStringLiteral("%1 is not a number").arg(quoted(a, b));
}

struct Failure
{
    long long line = -1;   // local to the piece, counted in line ends before it
    QString text;
};

// ---------------------------------------------------------------- array

struct ArrayPiece
{
    std::vector<double> values;
    long long lines = 0;
    long long first = 0;   // index of its first value among all
    Failure failure;
};

void parseArray(const char *p, const char *end, bool integer, ArrayPiece &out)
{
    out.values.clear();
    out.values.reserve(size_t((end - p) / 16 + 16));
    out.failure = Failure();
    long long line = 0;
    while (p < end) {
        const char c = *p;
        if (c == '\n') {
            ++line;
            ++p;
            continue;
        }
        if (blank(c)) {
            ++p;
            continue;
        }
        if (c == '%') {
            p = lineEnd(p, end);
            continue;
        }
        double v = 0.0;
        bool ok = false;
        const char *t = number(p, end, &v, &ok);
        if (!ok || (integer && !isIntegerToken(p, t))) {
            out.failure = {line, valueError(p, t, integer)};
            break;
        }
        out.values.push_back(v);
        p = t;
    }
    out.lines = line;
}

// The line (local, in line ends before it) of value index of a piece.
long long lineOfValue(const char *p, const char *end, long long index)
{
    long long line = 0;
    while (p < end) {
        if (*p == '\n') {
            ++line;
            ++p;
        } else if (blank(*p)) {
            ++p;
        } else if (*p == '%') {
            p = lineEnd(p, end);
        } else {
            if (index-- == 0)
                return line;
            p = tokenEnd(p, end);
        }
    }
    return line;
}

// Walks the places of the values of symmetric storage in their order: the
// lower triangle column by column (without the diagonal when skew).
struct Walker
{
    long long rows;
    MatrixMarket::Symmetry symmetry;
    long long i = 0;
    long long j = 0;

    long long skip() const { return symmetry == MatrixMarket::Symmetry::SkewSymmetric ? 1 : 0; }
    void start(long long k)
    {
        long long length = rows - skip();
        j = 0;
        while (k >= length) {
            k -= length;
            ++j;
            --length;
        }
        i = j + skip() + k;
    }
    void step()
    {
        if (++i == rows) {
            ++j;
            i = j + skip();
        }
    }
};

void place(const DenseColumns &t, MatrixMarket::Symmetry s, long long i, long long j, double v)
{
    t.at(i, j) = v;
    if (i == j)
        return;
    if (s == MatrixMarket::Symmetry::Symmetric)
        t.at(j, i) = v;
    else if (s == MatrixMarket::Symmetry::SkewSymmetric)
        t.at(j, i) = -v;
}

// Values stored by columns (index k: row k % rows, column k / rows) moved
// between a buffer and the rows a band of rows at a time across all the
// columns involved, so that the rows stay in the cache instead of one row
// being touched per value. toRows: buffer into the matrix, else back.
template <bool toRows>
void bandCopy(const DenseColumns &t, long long rows, long long first, double *values, long long count)
{
    constexpr long long kBand = 32;
    const long long last = first + count - 1;
    const long long j0 = first / rows;
    const long long j1 = last / rows;
    double *v = values - first;   // v[k] is the value of index k
    for (long long band = 0; band < rows; band += kBand) {
        const long long bandEnd = std::min(rows, band + kBand);
        for (long long j = j0; j <= j1; ++j) {
            const long long lo = std::max(band, j == j0 ? first % rows : 0);
            const long long hi = std::min(bandEnd, j == j1 ? last % rows + 1 : rows);
            double *column = v + j * rows;
            for (long long i = lo; i < hi; ++i) {
                double &cell = j < t.split ? t.rows[i][j] : t.last[i];
                if (toRows)
                    cell = column[i];
                else
                    column[i] = cell;
            }
        }
    }
}

long long lastLine(const MatrixMarket::Header &h, const char *end, long long lineAtEnd)
{
    if (end == h.body)
        return h.bodyLine - 1;
    return end[-1] == '\n' ? lineAtEnd - 1 : lineAtEnd;
}

bool readArray(const MatrixMarket::Header &h, const char *end, const DenseColumns &target,
               int threads, QString *error)
{
    if (h.symmetry == MatrixMarket::Symmetry::SkewSymmetric)
        for (long long i = 0; i < h.rows; ++i)
            target.at(i, i) = 0.0;
    Team team(threads, QStringLiteral("Tarvix::MM "));
    const int w = team.size();
    std::vector<ArrayPiece> pieces(static_cast<size_t>(w));
    std::vector<const char *> bounds(size_t(w) + 1);
    long long done = 0;
    long long line = h.bodyLine;
    for (const char *p = h.body; p < end;) {
        const char *waveEnd = end - p > w * kPieceBytes ? nextLine(p + w * kPieceBytes - 1, end) : end;
        split(p, waveEnd, w, bounds.data());
        team.run([&](int k) { parseArray(bounds[size_t(k)], bounds[size_t(k) + 1], h.integer, pieces[size_t(k)]); });
        for (int k = 0; k < w; ++k) {
            ArrayPiece &piece = pieces[size_t(k)];
            piece.first = done;
            const long long count = (long long)piece.values.size();
            if (done + count > h.entries) {
                const long long at = lineOfValue(bounds[size_t(k)], bounds[size_t(k) + 1], h.entries - done);
                *error = QStringLiteral("line %1: more values than the %2 the size line gives")
                             .arg(line + at).arg(h.entries);
                return false;
            }
            if (piece.failure.line >= 0) {
                *error = QStringLiteral("line %1: %2").arg(line + piece.failure.line).arg(piece.failure.text);
                return false;
            }
            done += count;
            line += piece.lines;
        }
        team.run([&](int k) {
            ArrayPiece &piece = pieces[size_t(k)];
            Walker walk{h.rows, h.symmetry};
            if (piece.values.empty())
                return;
            if (h.symmetry == MatrixMarket::Symmetry::General) {
                bandCopy<true>(target, h.rows, piece.first, piece.values.data(), (long long)piece.values.size());
                return;
            }
            walk.start(piece.first);
            for (double v : piece.values) {
                place(target, h.symmetry, walk.i, walk.j, v);
                walk.step();
            }
        });
        p = waveEnd;
    }
    if (done < h.entries) {
        *error = QStringLiteral("line %1: the file ends after %2 of the %3 values the size line gives")
                     .arg(lastLine(h, end, line)).arg(done).arg(h.entries);
        return false;
    }
    return true;
}

// ----------------------------------------------------------- coordinate

struct Entry
{
    long long i;
    long long j;
    double v;
    long long line;   // local
};

// One line of a coordinate body: 0 blank or comment, 1 an entry, -1 an
// error (why says it).
int parseEntry(const char *q, const char *eol, const MatrixMarket::Header &h, Entry *e, QString *why)
{
    q = skipBlank(q, eol);
    if (q == eol || *q == '%')
        return 0;
    long long index[2];
    const long long limit[2] = {h.rows, h.cols};
    const char *const names[2] = {"row", "column"};
    for (int k = 0; k < 2; ++k) {
        q = skipBlank(q, eol);
        if (q == eol) {
            *why = QStringLiteral("an entry needs a row, a column and a value");
            return -1;
        }
        const char *t = tokenEnd(q, eol);
        if (!NumText::parseInt(q, t, &index[k])) {
            *why = QStringLiteral("the %1 index %2 is not a whole number").arg(QLatin1String(names[k]), quoted(q, t));
            return -1;
        }
        if (index[k] < 1 || index[k] > limit[k]) {
            *why = QStringLiteral("%1 %2 is outside 1..%3").arg(QLatin1String(names[k])).arg(index[k]).arg(limit[k]);
            return -1;
        }
        q = t;
    }
    q = skipBlank(q, eol);
    if (q == eol) {
        *why = QStringLiteral("an entry needs a row, a column and a value");
        return -1;
    }
    bool ok = false;
    const char *t = number(q, eol, &e->v, &ok);
    if (!ok || (h.integer && !isIntegerToken(q, t))) {
        *why = valueError(q, t, h.integer);
        return -1;
    }
    if (skipBlank(t, eol) != eol) {
        *why = QStringLiteral("more than a row, a column and a value");
        return -1;
    }
    e->i = index[0] - 1;
    e->j = index[1] - 1;
    if (h.symmetry == MatrixMarket::Symmetry::SkewSymmetric && e->i == e->j && e->v != 0.0) {
        *why = QStringLiteral("entry (%1, %1) lies on the diagonal of a skew-symmetric matrix, which is zero")
                   .arg(index[0]);
        return -1;
    }
    return 1;
}

struct CoordinatePiece
{
    std::vector<Entry> entries;
    long long lines = 0;
    Failure failure;
};

void parseCoordinate(const char *p, const char *end, const MatrixMarket::Header &h, CoordinatePiece &out)
{
    out.entries.clear();
    out.failure = Failure();
    long long line = 0;
    QString why;
    for (; p < end; ++line) {
        const char *eol = lineEnd(p, end);
        Entry e;
        const int kind = out.failure.line < 0 ? parseEntry(p, eol, h, &e, &why) : 0;
        if (kind < 0) {
            out.failure = {line, why};
        } else if (kind > 0) {
            e.line = line;
            out.entries.push_back(e);
        }
        if (eol == end) {
            p = end;
            break;
        }
        p = eol + 1;
    }
    out.lines = line;
}

// The same place for both halves of symmetric storage.
long long keyOf(const MatrixMarket::Header &h, long long i, long long j)
{
    if (h.symmetry != MatrixMarket::Symmetry::General && i < j)
        std::swap(i, j);
    return i * h.cols + j;
}

// The line of the first entry at key (error path: scans the body again).
long long firstLineOf(const MatrixMarket::Header &h, const char *end, long long key)
{
    long long line = h.bodyLine;
    QString why;
    for (const char *p = h.body; p < end; ++line) {
        const char *eol = lineEnd(p, end);
        Entry e;
        if (parseEntry(p, eol, h, &e, &why) > 0 && keyOf(h, e.i, e.j) == key)
            return line;
        p = eol == end ? end : eol + 1;
    }
    return line;
}

bool readCoordinate(const MatrixMarket::Header &h, const char *end, const DenseColumns &target,
                    int threads, QString *error)
{
    Team team(threads, QStringLiteral("Tarvix::MM "));
    const int w = team.size();
    std::vector<CoordinatePiece> pieces(static_cast<size_t>(w));
    std::vector<const char *> bounds(size_t(w) + 1);
    std::vector<quint64> seen(size_t((mulSat(h.rows, h.cols) + 63) / 64), 0);
    long long done = 0;
    long long line = h.bodyLine;
    for (const char *p = h.body; p < end;) {
        const char *waveEnd = end - p > w * kPieceBytes ? nextLine(p + w * kPieceBytes - 1, end) : end;
        split(p, waveEnd, w, bounds.data());
        team.run([&](int k) { parseCoordinate(bounds[size_t(k)], bounds[size_t(k) + 1], h, pieces[size_t(k)]); });
        for (int k = 0; k < w; ++k) {
            const CoordinatePiece &piece = pieces[size_t(k)];
            for (const Entry &e : piece.entries) {
                if (piece.failure.line >= 0 && e.line > piece.failure.line)
                    break;
                if (done == h.entries) {
                    *error = QStringLiteral("line %1: more entries than the %2 the size line gives")
                                 .arg(line + e.line).arg(h.entries);
                    return false;
                }
                const long long key = keyOf(h, e.i, e.j);
                quint64 &word = seen[size_t(key / 64)];
                const quint64 bit = quint64(1) << (key % 64);
                if (word & bit) {
                    *error = QStringLiteral("line %1: entry (%2, %3) was already given on line %4")
                                 .arg(line + e.line).arg(e.i + 1).arg(e.j + 1).arg(firstLineOf(h, end, key));
                    return false;
                }
                word |= bit;
                place(target, h.symmetry, e.i, e.j, e.v);
                ++done;
            }
            if (piece.failure.line >= 0) {
                *error = QStringLiteral("line %1: %2").arg(line + piece.failure.line).arg(piece.failure.text);
                return false;
            }
            line += piece.lines;
        }
        p = waveEnd;
    }
    if (done < h.entries) {
        *error = QStringLiteral("line %1: the file ends after %2 of the %3 entries the size line gives")
                     .arg(lastLine(h, end, line)).arg(done).arg(h.entries);
        return false;
    }
    return true;
}

void appendIndex(std::string &out, long long v)
{
    char buf[24];
    out.append(buf, size_t(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

bool isPlusZero(double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == 0;
}

} // namespace

namespace MatrixMarket {

bool readHeader(const char *begin, const char *end, Header *h, QString *error)
{
    const char *eol = lineEnd(begin, end);
    std::vector<QString> words;
    for (const char *q = skipBlank(begin, eol); q < eol; q = skipBlank(q, eol)) {
        const char *t = tokenEnd(q, eol);
        words.push_back(lower(q, t));
        q = t;
    }
    if (words.empty() || words[0] != QLatin1String("%%matrixmarket")) {
        *error = QStringLiteral("line 1: not a Matrix Market file (no %%MatrixMarket banner)");
        return false;
    }
    if (words.size() != 5) {
        *error = QStringLiteral("line 1: the banner needs the words matrix, layout, field and symmetry");
        return false;
    }
    if (words[1] != QLatin1String("matrix")) {
        *error = QStringLiteral("line 1: \"%1\" objects are not supported (only matrix)").arg(words[1]);
        return false;
    }
    if (words[2] == QLatin1String("array")) {
        h->layout = Layout::Array;
    } else if (words[2] == QLatin1String("coordinate")) {
        h->layout = Layout::Coordinate;
    } else {
        *error = QStringLiteral("line 1: unknown layout \"%1\" (array or coordinate)").arg(words[2]);
        return false;
    }
    if (words[3] == QLatin1String("real") || words[3] == QLatin1String("double")) {
        h->integer = false;
    } else if (words[3] == QLatin1String("integer")) {
        h->integer = true;
    } else if (words[3] == QLatin1String("complex") || words[3] == QLatin1String("pattern")) {
        *error = QStringLiteral("line 1: %1 matrices are not supported (only real and integer)").arg(words[3]);
        return false;
    } else {
        *error = QStringLiteral("line 1: unknown field \"%1\" (real or integer)").arg(words[3]);
        return false;
    }
    if (words[4] == QLatin1String("general")) {
        h->symmetry = Symmetry::General;
    } else if (words[4] == QLatin1String("symmetric")) {
        h->symmetry = Symmetry::Symmetric;
    } else if (words[4] == QLatin1String("skew-symmetric")) {
        h->symmetry = Symmetry::SkewSymmetric;
    } else if (words[4] == QLatin1String("hermitian")) {
        *error = QStringLiteral("line 1: hermitian matrices are not supported (general, symmetric or skew-symmetric)");
        return false;
    } else {
        *error = QStringLiteral("line 1: unknown symmetry \"%1\"").arg(words[4]);
        return false;
    }

    // Comments and blank lines up to the size line.
    long long line = 1;
    const char *p = eol;
    const char *sizeLine = nullptr;
    while (p < end && ++p < end) {
        ++line;
        eol = lineEnd(p, end);
        const char *q = skipBlank(p, eol);
        if (q < eol && *q != '%') {
            sizeLine = q;
            break;
        }
        p = eol;
    }
    if (!sizeLine) {
        *error = QStringLiteral("line %1: the size line is missing").arg(line);
        return false;
    }
    const int wanted = h->layout == Layout::Array ? 2 : 3;
    long long sizes[3] = {0, 0, 0};
    int count = 0;
    for (const char *q = sizeLine; q < eol; q = skipBlank(q, eol), ++count) {
        const char *t = tokenEnd(q, eol);
        if (count >= wanted || !NumText::parseInt(q, t, &sizes[count]) || sizes[count] < (count < 2 ? 1 : 0)) {
            count = -1;
            break;
        }
        q = t;
    }
    if (count != wanted) {
        *error = h->layout == Layout::Array
                     ? QStringLiteral("line %1: the size line must give the rows and columns").arg(line)
                     : QStringLiteral("line %1: the size line must give the rows, columns and entries").arg(line);
        return false;
    }
    h->rows = sizes[0];
    h->cols = sizes[1];
    if (h->symmetry != Symmetry::General && h->rows != h->cols) {
        *error = QStringLiteral("line %1: a symmetric matrix must be square, not %2 x %3")
                     .arg(line).arg(h->rows).arg(h->cols);
        return false;
    }
    // Stored values: the whole matrix, the lower triangle, or the strict
    // lower triangle (coordinate files may still give zeros on the diagonal).
    long long most = mulSat(h->rows, h->cols);
    if (h->symmetry == Symmetry::Symmetric
        || (h->symmetry == Symmetry::SkewSymmetric && h->layout == Layout::Coordinate))
        most = mulSat(h->rows, addSat(h->rows, 1)) / 2;
    else if (h->symmetry == Symmetry::SkewSymmetric)
        most = mulSat(h->rows, h->rows - 1) / 2;
    h->entries = h->layout == Layout::Array ? most : sizes[2];
    if (h->entries > most) {
        *error = QStringLiteral("line %1: %2 entries are more than a %3 x %4 matrix holds")
                     .arg(line).arg(h->entries).arg(h->rows).arg(h->cols);
        return false;
    }
    h->body = eol < end ? eol + 1 : end;
    h->bodyLine = line + 1;
    // Each value needs a digit and a line end; each entry "i j v" and one.
    const long long least = mulSat(h->entries, h->layout == Layout::Array ? 2 : 6) - 1;
    if (h->entries > 0 && end - h->body < least) {
        *error = QStringLiteral("line %1: the size line promises %2 entries of a %3 x %4 matrix, "
                                "more than the rest of the file (%5 bytes) can hold")
                     .arg(line).arg(h->entries).arg(h->rows).arg(h->cols).arg(end - h->body);
        return false;
    }
    return true;
}

bool readBody(const Header &h, const char *end, const DenseColumns &target, int threads, QString *error)
{
    return h.layout == Layout::Array ? readArray(h, end, target, threads, error)
                                     : readCoordinate(h, end, target, threads, error);
}

bool write(QIODevice *out, const DenseColumns &m, long long rows, long long cols, bool coordinate,
           int threads)
{
    const long long total = mulSat(rows, cols);
    long long nonZero = 0;
    if (coordinate)
        for (long long j = 0; j < cols; ++j)
            for (long long i = 0; i < rows; ++i)
                nonZero += isPlusZero(m.at(i, j)) ? 0 : 1;
    std::string head = coordinate ? "%%MatrixMarket matrix coordinate real general\n"
                                  : "%%MatrixMarket matrix array real general\n";
    head += "% written by " + FileString::headerText().toStdString() + "\n";
    appendIndex(head, rows);
    head += ' ';
    appendIndex(head, cols);
    if (coordinate) {
        head += ' ';
        appendIndex(head, nonZero);
    }
    head += '\n';
    if (!writeAll(out, head))
        return false;

    Team team(threads, QStringLiteral("Tarvix::MMW "));
    const int w = team.size();
    std::vector<std::string> texts(static_cast<size_t>(w));
    std::vector<std::vector<double>> values(static_cast<size_t>(w));
    for (long long k0 = 0; k0 < total; k0 += w * kPieceValues) {
        team.run([&](int k) {
            std::string &text = texts[size_t(k)];
            text.clear();
            const long long a = k0 + k * kPieceValues;
            const long long b = std::min(total, a + kPieceValues);
            if (a >= b)
                return;
            std::vector<double> &column = values[size_t(k)];
            column.resize(size_t(b - a));
            bandCopy<false>(m, rows, a, column.data(), b - a);
            text.reserve(size_t(b - a) * (coordinate ? kMaxShortest + 16 : kMaxShortest + 1));
            long long i = a % rows;
            long long j = a / rows;
            for (long long c = a; c < b; ++c) {
                const double v = column[size_t(c - a)];
                if (!coordinate) {
                    appendShortest(text, v);
                    text += '\n';
                } else if (!isPlusZero(v)) {
                    appendIndex(text, i + 1);
                    text += ' ';
                    appendIndex(text, j + 1);
                    text += ' ';
                    appendShortest(text, v);
                    text += '\n';
                }
                if (++i == rows) {
                    i = 0;
                    ++j;
                }
            }
        });
        for (const std::string &text : texts)
            if (!writeAll(out, text))
                return false;
    }
    return true;
}

} // namespace MatrixMarket
