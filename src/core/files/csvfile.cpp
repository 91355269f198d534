#include "csvfile.h"

#include "numtext.h"

#include <QIODevice>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

using namespace TextPieces;

namespace {

constexpr long long kPieceBytes = 8 << 20;
constexpr long long kPieceValues = 1 << 18;

inline const char *lineEnd(const char *p, const char *end)
{
    const void *nl = std::memchr(p, '\n', size_t(end - p));
    return nl ? static_cast<const char *>(nl) : end;
}

// Blanks around a field: spaces, and tabs unless they separate.
inline bool trim(char c, char sep)
{
    return c == ' ' || (c == '\t' && sep != '\t');
}

inline const char *skipTrim(const char *p, const char *end, char sep)
{
    while (p < end && trim(*p, sep))
        ++p;
    return p;
}

bool isBlankLine(const char *p, const char *eol)
{
    for (; p < eol; ++p)
        if (!NumText::isSpace(*p))
            return false;
    return true;
}

QString quoted(const char *a, const char *b)
{
    const long long shown = std::min<long long>(b - a, 40);
    return QLatin1Char('"') + QString::fromUtf8(a, int(shown))
           + (b - a > shown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

bool numberField(const char *a, const char *b, char sep, double *v)
{
    if (NumText::parseDouble(a, b, v))
        return true;
    // "1,5" with ";" between the fields: a decimal comma.
    if (sep != ';' || b - a > 64 || std::count(a, b, ',') != 1 || std::find(a, b, '.') != b)
        return false;
    char buf[64];
    std::copy(a, b, buf);
    *std::find(buf, buf + (b - a), ',') = '.';
    return NumText::parseDouble(buf, buf + (b - a), v);
}

struct FieldFailure
{
    long long column = 0;
    QString text;
};

// The fields of one line [p, eol): store(value) for each number. Returns
// the field count, or -1 with *fail set at the first field that is not a
// number (or a quote that does not close).
template <typename Store>
long long parseLine(const char *p, const char *eol, char sep, Store store, FieldFailure *fail)
{
    if (eol > p && eol[-1] == '\r')
        --eol;
    long long col = 0;
    const char *q = p;
    for (;;) {
        q = skipTrim(q, eol, sep);
        ++col;
        double v = 0.0;
        bool ok = false;
        const char *a = q;
        const char *b = q;
        if (q < eol && *q == '"') {
            a = q + 1;
            const char *r = a;
            bool doubled = false;
            for (;;) {
                r = static_cast<const char *>(std::memchr(r, '"', size_t(eol - r)));
                if (!r) {
                    *fail = {col, QStringLiteral("a quote is not closed")};
                    return -1;
                }
                if (r + 1 < eol && r[1] == '"') {
                    r += 2;
                    doubled = true;
                    continue;
                }
                break;
            }
            b = r;
            q = skipTrim(r + 1, eol, sep);
            if (q < eol && *q != sep) {
                *fail = {col, QStringLiteral("text after the closing quote")};
                return -1;
            }
            a = skipTrim(a, b, sep);
            while (b > a && trim(b[-1], sep))
                --b;
            ok = !doubled && numberField(a, b, sep, &v);
        } else {
            const std::from_chars_result r = std::from_chars(q, eol, v);
            if (r.ec == std::errc()) {
                const char *after = skipTrim(r.ptr, eol, sep);
                if (after == eol || *after == sep) {
                    ok = true;
                    q = after;
                }
            }
            if (!ok) {
                const void *s = std::memchr(q, sep, size_t(eol - q));
                b = s ? static_cast<const char *>(s) : eol;
                q = b;
                while (b > a && trim(b[-1], sep))
                    --b;
                ok = numberField(a, b, sep, &v);
            }
        }
        if (!ok) {
            *fail = {col, a == b ? QStringLiteral("the field is empty")
                                 : QStringLiteral("%1 is not a number").arg(quoted(a, b))};
            return -1;
        }
        store(v);
        if (q >= eol)
            return col;
        ++q;   // the separator
    }
}

struct Failure
{
    long long line = -1;   // local: line ends before it
    long long row = 0;     // local row index
    long long column = 0;  // 0: the row as a whole
    QString text;
};

struct CsvPiece
{
    std::vector<double> values;
    long long rows = 0;
    long long lines = 0;
    long long first = 0;   // global index of its first row
    Failure failure;
};

void parsePiece(const char *p, const char *end, char sep, long long cols, CsvPiece &out)
{
    out.values.clear();
    out.values.reserve(size_t((end - p) / 16 + 16));
    out.rows = 0;
    out.failure = Failure();
    long long line = 0;
    FieldFailure fail;
    for (; p < end; ++line) {
        const char *eol = lineEnd(p, end);
        if (!isBlankLine(p, eol)) {
            const long long count = parseLine(p, eol, sep, [&out](double v) { out.values.push_back(v); }, &fail);
            if (count < 0) {
                out.failure = {line, out.rows, fail.column, fail.text};
                break;
            }
            if (count != cols) {
                out.failure = {line, out.rows, count < cols ? count + 1 : cols + 1,
                               QStringLiteral("%1: the row has %2 columns where the first row has %3")
                                   .arg(count < cols ? QStringLiteral("missing") : QStringLiteral("extra"))
                                   .arg(count).arg(cols)};
                break;
            }
            ++out.rows;
        }
        if (eol == end)
            break;
        p = eol + 1;
    }
    out.lines = line;
}

// The local line of row index of a piece.
long long lineOfRow(const char *p, const char *end, long long index)
{
    long long line = 0;
    for (; p < end; ++line) {
        const char *eol = lineEnd(p, end);
        if (!isBlankLine(p, eol) && index-- == 0)
            return line;
        if (eol == end)
            break;
        p = eol + 1;
    }
    return line;
}

char separatorOf(const char *p, const char *eol)
{
    bool inQuote = false;
    bool semicolon = false;
    for (; p < eol; ++p) {
        if (*p == '"')
            inQuote = !inQuote;
        else if (!inQuote && *p == '\t')
            return '\t';
        else if (!inQuote && *p == ';')
            semicolon = true;
    }
    return semicolon ? ';' : ',';
}

} // namespace

namespace CsvFile {

bool readShape(const char *begin, const char *end, Shape *s, QString *error)
{
    long long line = 1;
    const char *p = begin;
    auto nextRow = [&](const char **eol) {
        for (; p < end; ++line) {
            *eol = lineEnd(p, end);
            if (!isBlankLine(p, *eol))
                return true;
            p = *eol + 1;
        }
        return false;
    };
    const char *eol = nullptr;
    if (!nextRow(&eol)) {
        *error = QStringLiteral("line %1: the file holds no rows").arg(line);
        return false;
    }
    s->separator = separatorOf(p, eol);
    FieldFailure fail;
    long long cols = parseLine(p, eol, s->separator, [](double) {}, &fail);
    s->header = cols < 0;
    if (s->header) {
        p = eol + (eol < end ? 1 : 0);
        ++line;
        if (!nextRow(&eol)) {
            *error = QStringLiteral("line %1: the file holds a header row but no numbers").arg(line);
            return false;
        }
        // The separator comes from the first data row: a header may have
        // none (one column name) or quote it.
        s->separator = separatorOf(p, eol);
        cols = parseLine(p, eol, s->separator, [](double) {}, &fail);
        if (cols < 0) {
            *error = QStringLiteral("line %1 (equation 1), column %2: %3").arg(line).arg(fail.column).arg(fail.text);
            return false;
        }
    }
    if (cols < 3) {
        *error = QStringLiteral("line %1 (equation 1): %2 columns; a system of N equations needs N + 1 "
                                "columns (coefficients and right-hand side), N at least 2")
                     .arg(line).arg(cols);
        return false;
    }
    s->cols = cols;
    s->body = p;
    s->bodyLine = line;
    // Each field needs a digit and a separator or line end.
    const long long least = mulSat(mulSat(cols - 1, cols), 2) - 1;
    if (end - p < least) {
        *error = QStringLiteral("line %1: a row of %2 columns makes a system of %3 equations, "
                                "more than the rest of the file (%4 bytes) can hold")
                     .arg(line).arg(cols).arg(cols - 1).arg(end - p);
        return false;
    }
    return true;
}

bool readBody(const Shape &s, const char *end, long long rows, const DenseColumns &target, int threads,
              QString *error)
{
    Team team(threads, QStringLiteral("Tarvix::CSV "));
    const int w = team.size();
    std::vector<CsvPiece> pieces(static_cast<size_t>(w));
    std::vector<const char *> bounds(size_t(w) + 1);
    long long done = 0;
    long long line = s.bodyLine;
    for (const char *p = s.body; p < end;) {
        const char *waveEnd = end - p > w * kPieceBytes ? nextLine(p + w * kPieceBytes - 1, end) : end;
        split(p, waveEnd, w, bounds.data());
        team.run([&](int k) { parsePiece(bounds[size_t(k)], bounds[size_t(k) + 1], s.separator, s.cols, pieces[size_t(k)]); });
        for (int k = 0; k < w; ++k) {
            CsvPiece &piece = pieces[size_t(k)];
            piece.first = done;
            if (done + piece.rows > rows) {
                const long long at = lineOfRow(bounds[size_t(k)], bounds[size_t(k) + 1], rows - done);
                *error = QStringLiteral("line %1 (equation %2): more rows than the %3 equations that rows "
                                        "of %4 columns make")
                             .arg(line + at).arg(rows + 1).arg(rows).arg(s.cols);
                return false;
            }
            if (piece.failure.line >= 0) {
                const Failure &f = piece.failure;
                *error = QStringLiteral("line %1 (equation %2)").arg(line + f.line).arg(done + f.row + 1)
                         + (f.column > 0 ? QStringLiteral(", column %1: ").arg(f.column) : QStringLiteral(": "))
                         + f.text;
                return false;
            }
            done += piece.rows;
            line += piece.lines;
        }
        team.run([&](int k) {
            const CsvPiece &piece = pieces[size_t(k)];
            const double *v = piece.values.data();
            for (long long r = 0; r < piece.rows; ++r)
                for (long long j = 0; j < s.cols; ++j)
                    target.at(piece.first + r, j) = *v++;
        });
        p = waveEnd;
    }
    if (done < rows) {
        const long long last = end > s.body && end[-1] == '\n' ? line - 1 : line;
        *error = QStringLiteral("line %1: the file holds %2 rows of %3 columns; %4 equations need %4 rows")
                     .arg(last).arg(done).arg(s.cols).arg(rows);
        return false;
    }
    return true;
}

bool write(QIODevice *out, const DenseColumns &m, long long rows, long long cols, int threads)
{
    Team team(threads, QStringLiteral("Tarvix::CSVW "));
    const int w = team.size();
    const long long perWorker = std::max<long long>(1, kPieceValues / cols);
    std::vector<std::string> texts(static_cast<size_t>(w));
    for (long long r0 = 0; r0 < rows; r0 += w * perWorker) {
        team.run([&](int k) {
            std::string &text = texts[size_t(k)];
            text.clear();
            const long long a = r0 + k * perWorker;
            const long long b = std::min(rows, a + perWorker);
            if (a >= b)
                return;
            text.reserve(size_t((b - a) * cols) * (kMaxShortest + 1));
            for (long long i = a; i < b; ++i)
                for (long long j = 0; j < cols; ++j) {
                    appendShortest(text, m.at(i, j));
                    text += j + 1 < cols ? ',' : '\n';
                }
        });
        for (const std::string &text : texts)
            if (!writeAll(out, text))
                return false;
    }
    return true;
}

} // namespace CsvFile
