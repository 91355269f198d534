#ifndef TEXTPIECES_H
#define TEXTPIECES_H

#include <QFile>
#include <QString>

#include <charconv>
#include <functional>
#include <memory>
#include <string>

class QIODevice;
class WorkerTeam;

// What the exchange formats (Matrix Market, CSV) share: a dense matrix seen
// through the system's arrays, the whole file's bytes, parallel work over
// pieces of text that start at line starts, and shortest round-trip numbers.

// A dense matrix on the system's arrays: element (i, j) is rows[i][j] for
// j < split and last[i] for j == split (the right-hand side of an augmented
// system). A lone column is rows null, split 0, last the vector.
struct DenseColumns
{
    double **rows = nullptr;
    long long split = 0;
    double *last = nullptr;

    double &at(long long i, long long j) const { return j < split ? rows[i][j] : last[i]; }
};

// The bytes of a whole regular file, mapped when the system allows it,
// with a UTF-8 byte-order mark skipped.
class TextFile
{
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;

    // False with the reason in *error (pipes, devices and folders are
    // refused without opening them: their size is unknown).
    bool open(const QString &path, QString *error);
    const char *begin() const { return m_begin; }
    const char *end() const { return m_end; }

private:
    QFile m_file;
    uchar *m_map = nullptr;
    QByteArray m_copy;
    const char *m_begin = nullptr;
    const char *m_end = nullptr;
};

namespace TextPieces {

// Longest shortest round-trip text of a double ("-2.2250738585072014e-308").
constexpr int kMaxShortest = 24;

// Appends the shortest text that reads back to the same double.
inline void appendShortest(std::string &out, double v)
{
    char buf[kMaxShortest + 8];
    out.append(buf, size_t(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

// The start of the line after the one p is in (end when there is none).
const char *nextLine(const char *p, const char *end);
// Splits [begin, end) at line starts into at most parts pieces of about the
// same size; bounds receives parts + 1 pointers (empty pieces allowed).
void split(const char *begin, const char *end, int parts, const char **bounds);

// Shares of work on pooled threads named name + number (or on the calling
// thread alone when threads < 2 or none can be started).
class Team
{
public:
    Team(int threads, const QString &name);
    ~Team();
    int size() const { return m_size; }
    // job(0..size()-1), all finished on return.
    void run(const std::function<void(int)> &job);

private:
    int m_size = 1;
    std::unique_ptr<WorkerTeam> m_team;
};

// Writes the whole buffer; false on a short write.
bool writeAll(QIODevice *device, const std::string &text);

// Saturating arithmetic on sizes that come from hostile headers.
long long mulSat(long long a, long long b);
long long addSat(long long a, long long b);

} // namespace TextPieces

#endif
