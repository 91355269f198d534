#include "filestring.h"

#include "contentprint.h"
#include "numtext.h"
#include "prefs/userprefs.h"

#include <QDataStream>
#include <QFile>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The variables the text workers of one pipeline share.
std::atomic<int> g_lastReadRow{-1};
std::atomic<bool> g_readerDone{false};   // the reader (or the writer) has ended
std::atomic<bool> g_error{false};        // mirror of the caller's flag, for polling
bool *g_flag = nullptr;                  // the caller's flag, written under g_flagMutex
std::mutex g_flagMutex;   // std::mutex: visible to ThreadSanitizer

const QString kOpenTitle = QStringLiteral("ERROR: Could not open the file!");
const QString kOpenText = QStringLiteral("Could not open the file from disk!\n");

// Bytes moved per device call in the binary format.
constexpr qint64 kBlockDoubles = 64 * 1024;

// Waiting between the workers of a pipeline. Every change another worker
// may be waiting for (a slot filled or emptied, a row published, the reader
// or writer done, the error flag) rings a bell; a waiter checks its
// condition again when it rings and at the latest every 5 ms, so a missed
// ring only costs one poll interval.
std::mutex g_bellMutex;
std::condition_variable g_bell;

void ring()
{
    g_bell.notify_all();
}

template <typename Ready> void pollUntil(Ready ready)
{
    for (int spin = 0; spin < 20; ++spin) {
        if (ready())
            return;
        std::this_thread::yield();
    }
    std::unique_lock<std::mutex> lock(g_bellMutex);
    while (!ready())
        g_bell.wait_for(lock, std::chrono::milliseconds(5));
}

bool containsSolution(const std::string &line)
{
    return std::string_view(line).find("Solution") != std::string_view::npos;
}

bool isBlank(const std::string &line)
{
    for (char c : line)
        if (!NumText::isSpace(c))
            return false;
    return true;
}

const char *skipSpace(const char *p, const char *end)
{
    while (p < end && NumText::isSpace(*p))
        ++p;
    return p;
}

const char *tokenEnd(const char *p, const char *end)
{
    while (p < end && !NumText::isSpace(*p))
        ++p;
    return p;
}

// One number token starting at p (not at a space). Stores the value and
// returns the token's end; *ok tells whether the whole token was a number.
inline const char *parseNumber(const char *p, const char *end, double *out, bool *ok)
{
    double v;
    const std::from_chars_result r = std::from_chars(p, end, v);
    if (r.ec == std::errc() && (r.ptr == end || NumText::isSpace(*r.ptr))) {
        *out = v;
        *ok = true;
        return r.ptr;
    }
    // Signs, hexadecimal digits, overflow and bad tokens take the full path.
    const char *t = tokenEnd(p, end);
    *ok = NumText::parseDouble(p, t, out);
    return t;
}

// Starts the disk writes of a file that is flushed to disk when complete,
// a few megabytes at a time while it is written: the flush then waits only
// for the last of them instead of the whole file.
class Writeback
{
public:
    Writeback(QFile *file, bool enabled) : m_file(enabled && file->isOpen() ? file : nullptr) {}
    void wrote()
    {
#ifdef __linux__
        if (!m_file)
            return;
        const qint64 pos = m_file->pos();
        if (pos - m_started < kStep || !m_file->flush())
            return;
        ::sync_file_range(m_file->handle(), m_started, pos - m_started, SYNC_FILE_RANGE_WRITE);
        m_started = pos;
#endif
    }

private:
    static constexpr qint64 kStep = 1 << 20;
    QFile *m_file;
    qint64 m_started = 0;
};

// The system's reason for the first failed write: Qt's buffered file may
// report a failed write without keeping the reason, so errno is taken right
// after the failing call.
class WriteFailure
{
public:
    WriteFailure() { errno = 0; }
    void note(bool ok)
    {
        if (!ok && m_errno == 0)
            m_errno = errno;
    }
    QString text(QIODevice *device) const
    {
        if (m_errno != 0)
            return QString::fromLocal8Bit(std::strerror(m_errno));
        return device->errorString();
    }

private:
    int m_errno = 0;
};

// Line source over a device in big blocks; accepts LF and CR LF (the CR is
// whitespace to every user of the lines).
class LineReader
{
public:
    explicit LineReader(QIODevice *device) : m_device(device), m_buffer(1 << 20) {}

    // Next line without its LF; false when the input has ended.
    bool next(std::string &line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (m_pos == m_len && !fill())
                return any;
            any = true;
            const char *start = m_buffer.data() + m_pos;
            const void *nl = std::memchr(start, '\n', m_len - m_pos);
            if (nl) {
                const size_t count = static_cast<const char *>(nl) - start;
                line.append(start, count);
                m_pos += count + 1;
                return true;
            }
            line.append(start, m_len - m_pos);
            m_pos = m_len;
        }
    }

    bool atEnd() { return m_pos == m_len && !fill(); }
    bool failed() const { return m_failed; }

private:
    bool fill()
    {
        if (m_eof)
            return false;
        const qint64 got = m_device->read(m_buffer.data(), qint64(m_buffer.size()));
        if (got < 0)
            m_failed = true;
        if (got <= 0) {
            m_eof = true;
            return false;
        }
        m_pos = 0;
        m_len = size_t(got);
        return true;
    }

    QIODevice *m_device;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_len = 0;
    bool m_eof = false;
    bool m_failed = false;
};

// Parses one row line: the row number, n coefficients and the right-hand
// side. Returns 0 or the first failure (field count first, then row number,
// coefficient, right-hand side). After a failure no further value is stored.
int parseRowLine(const std::string &line, int rowNumber, double *coefRow, double *rhs, int n)
{
    const char *p = line.data();
    const char *const end = p + line.size();
    long long field = 0;
    int code = 0;
    for (;;) {
        p = skipSpace(p, end);
        if (p == end)
            break;
        if (field == 0) {
            const char *t = tokenEnd(p, end);
            long long v = 0;
            if (!NumText::parseInt(p, t, &v) || v != rowNumber)
                code = FileString::ParseRowNumber;
            p = t;
        } else if (code == 0 && field <= n + 1) {
            double *target = field <= n ? coefRow + (field - 1) : rhs;
            bool ok = false;
            p = parseNumber(p, end, target, &ok);
            if (!ok)
                code = field <= n ? FileString::ParseCoefficient : FileString::ParseRhs;
        } else {
            p = tokenEnd(p, end);
        }
        ++field;
    }
    if (field != n + 2)
        return FileString::ParseFieldCount;
    return code;
}

} // namespace

// ------------------------------------------------------------ construction

FileString::FileString(const QString &path, RowSlot *rowStrings, int n, double *solution, int step,
                       int *resultCode)
    : m_solution(solution), m_n(n), m_step(step < 1 ? 1 : step), m_result(resultCode),
      m_path(path), m_rows(rowStrings)
{
    g_lastReadRow.store(-1);
    g_readerDone.store(false);
}

FileString::FileString(RowSlot *rowStrings, double **coef, double *rhs, int n, int start, int step,
                       int *resultCode)
    : m_coef(coef), m_rhs(rhs), m_n(n), m_start(start), m_step(step < 1 ? 1 : step),
      m_result(resultCode), m_rows(rowStrings)
{
}

FileString::FileString(const QString &path, double **coef, double *rhs, double *solution, int n,
                       int *resultCode)
    : m_coef(coef), m_rhs(rhs), m_solution(solution), m_n(n), m_result(resultCode), m_path(path)
{
}

void FileString::setErrorFlag(bool *flag)
{
    std::lock_guard<std::mutex> lock(g_flagMutex);
    g_flag = flag;
    g_error.store(flag && *flag);
}

bool FileString::errorRaised()
{
    return g_error.load();
}

int FileString::lastReadRow()
{
    return g_lastReadRow.load();
}

bool FileString::readerDone()
{
    return g_readerDone.load();
}

void FileString::raiseError()
{
    g_error.store(true);
    ring();
    std::lock_guard<std::mutex> lock(g_flagMutex);
    if (g_flag)
        *g_flag = true;
}

QString FileString::headerText()
{
    return QStringLiteral("Tarvix ") + UserPrefs::getVersion();
}

void FileString::finish(const char *name)
{
    MyThreads::threadFinished(QThread::currentThread(), QString::fromLatin1(name), this,
                              QStringLiteral("FILESTRING"));
}

void FileString::openFailed(const QString &deviceError)
{
    emit errMsg(new QString(kOpenTitle), new QString(kOpenText + deviceError),
                QStringLiteral("WARNING"));
}

// ------------------------------------------------------------------ slots

void FileString::DoubleToStr()
{
    convertRows();
    finish("FileString::NTS");
}

void FileString::SaveText()
{
    writeText();
    finish("FileString::ST");
}

void FileString::ReadText()
{
    readText();
    finish("FileString::RT");
}

void FileString::StrToDouble()
{
    parseRows();
    finish("FileString::STD");
}

void FileString::SaveBinary()
{
    writeBinary();
    finish("FileString::SB");
}

void FileString::ReadBinary()
{
    readBinary();
    finish("FileString::RB");
}

// -------------------------------------------------------------- text save

size_t FileString::rowCapacity() const
{
    char number[16];
    const std::to_chars_result nr = std::to_chars(number, number + sizeof number, m_n);
    return size_t(nr.ptr - number) + size_t(m_n + 1) * (NumText::kMaxDoubleChars + 1) + 2;
}

void FileString::printRow(int i) const
{
    if (m_prints)
        m_prints[i] = ContentPrint::values(m_coef[i], m_n);
}

std::string *FileString::formatRow(int i, size_t capacity) const
{
    printRow(i);
    auto *line = new std::string(capacity, '\0');
    char *p = line->data();
    p = std::to_chars(p, p + 16, i + 1).ptr;
    const double *row = m_coef[i];
    for (int j = 0; j < m_n; ++j) {
        *p++ = '\t';
        p = NumText::formatDouble(p, row[j]);
    }
    *p++ = '\t';
    p = NumText::formatDouble(p, m_rhs[i]);
    *p++ = '\n';
    line->resize(size_t(p - line->data()));
    return line;
}

QIODevice *FileString::openDevice(QFile &file, bool write)
{
    if (m_device) {
        if (!write && !m_device->isSequential())
            m_device->seek(0);
        return m_device;
    }
    const QIODevice::OpenMode mode = write ? QIODevice::WriteOnly | QIODevice::Truncate
                                           : QIODevice::ReadOnly;
    if (file.open(mode))
        return &file;
    m_errorText = file.errorString();
    openFailed(m_errorText);
    return nullptr;
}

void FileString::convertRows()
{
    const int ahead = 100 * m_step;
    const size_t capacity = rowCapacity();
    for (int i = m_start; i >= 0 && i < m_n; i += m_step) {
        // Nobody will take further rows once the writer has ended.
        if (g_readerDone.load(std::memory_order_relaxed))
            break;
        m_rows[i].store(formatRow(i, capacity), std::memory_order_release);
        ring();
        // Stay about 100 of our own rows ahead of the writer.
        if (i % 10 == 0 && i > ahead) {
            RowSlot &back = m_rows[i - ahead];
            pollUntil([&back] {
                return back.load(std::memory_order_acquire) == nullptr || g_readerDone.load();
            });
        }
    }
}

void FileString::writeText()
{
    QFile file(m_path);
    QIODevice *out = openDevice(file, true);
    if (!out) {
        *m_result = SaveTextOpen;
        g_readerDone.store(true);
        ring();
        return;
    }
    WriteFailure failure;
    const QByteArray head = (headerText() + QLatin1Char('\n') + QString::number(m_n)
                             + QLatin1Char('\n')).toLatin1();
    bool ok = out->write(head) == head.size();
    failure.note(ok);
    const size_t capacity = m_inline ? rowCapacity() : 0;
    Writeback writeback(&file, m_durable && out == &file);
    for (int i = 0; i < m_n; ++i) {
        if (i % 64 == 0)
            writeback.wrote();
        if (m_inline) {
            // After a failed write nothing more can reach the file.
            if (ok) {
                std::unique_ptr<std::string> line(formatRow(i, capacity));
                ok = out->write(line->data(), qint64(line->size())) == qint64(line->size());
                failure.note(ok);
            }
            continue;
        }
        RowSlot &slot = m_rows[i];
        pollUntil([&slot] { return slot.load(std::memory_order_acquire) != nullptr; });
        std::string *line = slot.load(std::memory_order_acquire);
        ok = ok && out->write(line->data(), qint64(line->size())) == qint64(line->size());
        failure.note(ok);
        delete line;
        slot.store(nullptr, std::memory_order_release);
        ring();
    }
    std::string tail = "\nSolution\n";
    tail.reserve(tail.size() + size_t(m_n) * (NumText::kMaxDoubleChars + 1) + 8);
    char number[NumText::kMaxDoubleChars];
    for (int j = 0; j < m_n; ++j) {
        tail.append(number, NumText::formatDouble(number, m_solution[j]));
        tail.push_back('\t');
    }
    tail += "\nEOF";
    ok = ok && out->write(tail.data(), qint64(tail.size())) == qint64(tail.size());
    failure.note(ok);
    if (out == &file) {
        ok = file.flush() && ok;
        failure.note(ok);
        ok = ok && file.error() == QFileDevice::NoError;
    }
    if (!ok)
        m_errorText = failure.text(out);
    file.close();
    if (!ok) {
        *m_result = SaveTextStream;
        qCritical("error no: FS3 - %d", 3);   // QTextStream::WriteFailed
        raiseError();
    }
    g_readerDone.store(true);
    ring();
}

// -------------------------------------------------------------- text read

void FileString::readText()
{
    QFile file(m_path);
    QIODevice *device = openDevice(file, false);
    if (!device) {
        *m_result = ReadTextOpen;
        g_readerDone.store(true);
        ring();
        return;
    }
    g_readerDone.store(false);
    LineReader in(device);
    std::string line;
    // Lines 1 and 2 were checked by the caller.
    in.next(line);
    in.next(line);
    bool currentHasSolution = containsSolution(line);

    const int ahead = 100 * m_step;
    int stored = 0;
    bool ownFailed = false;
    size_t expected = 0;   // length of the last row: rows are read straight into their slot string
    for (int i = 0; i < m_n; ++i) {
        if (currentHasSolution || in.atEnd())
            break;
        auto *row = new std::string();
        row->reserve(expected + expected / 8 + 64);
        in.next(*row);
        currentHasSolution = containsSolution(*row);
        while (isBlank(*row) && !in.atEnd()) {
            in.next(*row);
            currentHasSolution = containsSolution(*row);
        }
        // Reaching "Solution" before N rows makes the file short, not a
        // row with a wrong field count.
        if (isBlank(*row) || currentHasSolution) {
            line.swap(*row);
            delete row;
            break;
        }
        expected = row->size();
        if (m_inline) {
            // Parse on the spot; the first failure ends the read.
            const int code = parseRowLine(*row, i + 1, m_coef[i], &m_rhs[i], m_n);
            delete row;
            stored = i + 1;
            printRow(i);
            if (code != 0) {
                if (m_parseResult && *m_parseResult == 0)
                    *m_parseResult = code;
                raiseError();
                break;
            }
            continue;
        }
        if (m_shareRows && i % m_step == m_step - 1) {
            // The reader's own share of the rows. After a failure its rows
            // are dropped, as a parser that has failed drops its rows.
            if (!ownFailed) {
                const int code = parseRowLine(*row, i + 1, m_coef[i], &m_rhs[i], m_n);
                printRow(i);
                if (code != 0) {
                    ownFailed = true;
                    if (m_parseResult && *m_parseResult == 0)
                        *m_parseResult = code;
                    raiseError();
                }
            }
            delete row;
        } else {
            m_rows[i].store(row, std::memory_order_release);
        }
        stored = i + 1;
        if (i > 0 && i % 10 == 0) {
            g_lastReadRow.store(i);
            ring();
        }
        if (i % 100 == 0 && i > ahead) {
            if (g_error.load())
                break;
            // Keep at most about 100 rows per parser waiting. A parser that
            // has given up raised the flag, so stop waiting then as well.
            RowSlot &back = m_rows[i - ahead];
            pollUntil([&back] {
                return back.load(std::memory_order_acquire) == nullptr || g_error.load();
            });
            if (g_error.load())
                break;
        }
    }
    g_lastReadRow.store(stored - 1);
    ring();

    if (stored < m_n) {
        raiseError();
        *m_result = ReadTextShort;
    } else {
        while (!currentHasSolution && !in.atEnd()) {
            in.next(line);
            currentHasSolution = containsSolution(line);
        }
        if (!in.next(line))
            line.clear();
        // Count the fields first: a line of another length is ignored.
        const char *p = line.data();
        const char *const end = p + line.size();
        long long fields = 0;
        for (const char *q = skipSpace(p, end); q < end; q = skipSpace(tokenEnd(q, end), end))
            ++fields;
        if (fields == m_n) {
            int j = 0;
            for (const char *q = skipSpace(p, end); q < end; q = skipSpace(q, end), ++j) {
                double v = 0.0;
                bool ok = false;
                q = parseNumber(q, end, &v, &ok);
                if (!ok) {
                    *m_result = ReadTextSolution;
                    break;
                }
                m_solution[j] = v;
            }
        }
    }
    g_readerDone.store(true);
    ring();
    const bool failed = in.failed() || (device == &file && file.error() != QFileDevice::NoError);
    if (failed)
        m_errorText = device->errorString();
    file.close();
    if (failed) {
        *m_result = ReadTextStream;
        qCritical("error no: FS4 - %d", 1);   // QTextStream::ReadPastEnd
        raiseError();
    }
}

void FileString::parseRows()
{
    for (int i = m_start; i >= 0 && i < m_n; i += m_step) {
        bool never = false;
        pollUntil([i, &never] {
            if (g_lastReadRow.load() >= i)
                return true;
            if (g_readerDone.load()) {
                // The reader publishes its last row before it says it is done.
                never = g_lastReadRow.load() < i;
                return true;
            }
            return false;
        });
        if (never)
            return;   // the reader has already flagged the file
        RowSlot &slot = m_rows[i];
        std::string *line = slot.load(std::memory_order_acquire);
        const int code = line ? parseRowLine(*line, i + 1, m_coef[i], &m_rhs[i], m_n)
                              : int(ParseFieldCount);
        printRow(i);
        if (code != 0) {
            if (*m_result == 0)
                *m_result = code;
            raiseError();
            if (code == ParseFieldCount || code == ParseRowNumber) {
                parserFailurePath(i);
                return;
            }
        }
        if (i % 100 == 0 && g_error.load()) {
            parserFailurePath(i);
            return;
        }
        delete slot.exchange(nullptr, std::memory_order_acq_rel);
        ring();
    }
}

void FileString::parserFailurePath(int row)
{
    pollUntil([] { return g_readerDone.load(); });
    const int last = g_lastReadRow.load();
    for (int r = row; r <= last && r < m_n; r += m_step)
        delete m_rows[r].exchange(nullptr, std::memory_order_acq_rel);
    ring();
}

// ------------------------------------------------------------ binary form

bool FileString::writeString(QIODevice *device, const QString &text)
{
    uchar count[4];
    if (text.isNull()) {
        qToBigEndian<quint32>(0xFFFFFFFFu, count);
        return device->write(reinterpret_cast<const char *>(count), 4) == 4;
    }
    const int units = text.size();
    QByteArray bytes(4 + 2 * units, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(2 * units), bytes.data());
    qToBigEndian<quint16>(text.utf16(), units, bytes.data() + 4);
    return device->write(bytes) == bytes.size();
}

int FileString::readString(QIODevice *device, QString *text)
{
    *text = QString();
    uchar countBytes[4];
    if (device->read(reinterpret_cast<char *>(countBytes), 4) != 4)
        return 1;
    const quint32 count = qFromBigEndian<quint32>(countBytes);
    if (count == 0xFFFFFFFFu)
        return 0;
    if ((count & 1u) || count > kMaxStringBytes)
        return 2;
    // A damaged count must not make us allocate what the device cannot
    // hold; a pipe's size is unknown, so its bytes are taken as they come.
    if (!device->isSequential() && qint64(count) > device->bytesAvailable()) {
        device->read(device->bytesAvailable());
        return 1;
    }
    constexpr quint32 kStep = 64u * 1024u;
    QByteArray bytes;
    for (quint32 have = 0; have < count;) {
        const quint32 chunk = qMin(kStep, count - have);
        bytes.resize(int(have + chunk));
        const qint64 got = device->read(bytes.data() + have, qint64(chunk));
        if (got <= 0)
            return 1;
        have += quint32(got);
    }
    QString s(int(count / 2), Qt::Uninitialized);
    qFromBigEndian<quint16>(bytes.constData(), count / 2, s.data());
    *text = s;
    return 0;
}

bool FileString::writeDoubles(QIODevice *device, const double *values, qint64 count)
{
    std::vector<quint64> buffer(size_t(qMin(count, kBlockDoubles)));
    while (count > 0) {
        const qint64 chunk = qMin(count, kBlockDoubles);
        qToBigEndian<quint64>(values, chunk, buffer.data());
        const qint64 bytes = chunk * 8;
        if (device->write(reinterpret_cast<const char *>(buffer.data()), bytes) != bytes)
            return false;
        values += chunk;
        count -= chunk;
    }
    return true;
}

int FileString::readDoubles(QIODevice *device, double *values, qint64 count)
{
    std::vector<quint64> buffer(size_t(qMin(count, kBlockDoubles)));
    while (count > 0) {
        const qint64 chunk = qMin(count, kBlockDoubles);
        const qint64 bytes = chunk * 8;
        const qint64 got = device->read(reinterpret_cast<char *>(buffer.data()), bytes);
        if (got != bytes) {
            if (got > 0)
                qFromBigEndian<quint64>(buffer.data(), got / 8, values);
            return 1;
        }
        qFromBigEndian<quint64>(buffer.data(), chunk, values);
        values += chunk;
        count -= chunk;
    }
    return 0;
}

void FileString::writeBinary()
{
    QFile file(m_path);
    QIODevice *out = openDevice(file, true);
    if (!out) {
        *m_result = SaveBinOpen;
        return;
    }
    WriteFailure failure;
    bool ok = writeString(out, headerText()) && writeString(out, QString::number(m_n))
              && writeString(out, QStringLiteral("8"));
    failure.note(ok);
    // Rows go out in big blocks: each row's coefficients and its right-hand
    // side, byte-swapped into one buffer.
    const qint64 rowValues = qint64(m_n) + 1;
    const qint64 rowsPerBlock = qMax<qint64>(1, kBlockDoubles / rowValues);
    std::vector<quint64> buffer(size_t(qMin<qint64>(m_n, rowsPerBlock) * rowValues));
    Writeback writeback(&file, m_durable && out == &file);
    for (int i = 0; ok && i < m_n;) {
        writeback.wrote();
        const int rows = int(qMin<qint64>(rowsPerBlock, m_n - i));
        quint64 *to = buffer.data();
        for (int r = 0; r < rows; ++r, ++i) {
            printRow(i);
            qToBigEndian<quint64>(m_coef[i], m_n, to);
            qToBigEndian<quint64>(&m_rhs[i], 1, to + m_n);
            to += rowValues;
        }
        const qint64 bytes = qint64(rows) * rowValues * 8;
        ok = out->write(reinterpret_cast<const char *>(buffer.data()), bytes) == bytes;
        failure.note(ok);
    }
    ok = ok && writeString(out, QStringLiteral("Solution")) && writeDoubles(out, m_solution, m_n);
    failure.note(ok);
    if (out == &file)
        ok = file.flush() && ok;
    failure.note(ok);
    if (!ok) {
        m_errorText = failure.text(out);
        *m_result = SaveBinStream;
        qCritical("error no: FS1 - %d", 3);   // QDataStream::WriteFailed
        raiseError();
    }
    file.close();
}

void FileString::readBinary()
{
    QFile file(m_path);
    QIODevice *in = openDevice(file, false);
    if (!in) {
        *m_result = ReadBinOpen;
        return;
    }
    int status = 0;
    int code = 0;
    QString field;
    status = readString(in, &field);
    if (status == 0 && !field.simplified().contains(QLatin1String("Tarvix")))
        code = ReadBinHeader;
    if (code == 0 && status == 0) {
        status = readString(in, &field);
        bool ok = false;
        const int n = field.simplified().toInt(&ok, 10);
        // The arrays were sized for the N the caller read; a file that now
        // says otherwise is not read into them.
        if (status == 0 && (!ok || n <= 1 || n != m_n))
            code = ReadBinN;
    }
    if (code == 0 && status == 0) {
        status = readString(in, &field);
        const QString size = field.simplified();
        bool ok = false;
        if (status == 0 && !(size.toInt(&ok, 10) == 8 && ok)) {
            QString further;
            readString(in, &further);
            further = further.simplified();
            emit errMsg(new QString(QStringLiteral("Incompatible Binary File!")),
                        new QString(QStringLiteral("The file you are trying to open was created on a computer using a non-standard way of storing data.")
                                    + QStringLiteral(" Hence it is incompatible with your current computer.\n")
                                    + QStringLiteral("The file was created using ") + size
                                    + QStringLiteral(" bytes, while your computer uses ")
                                    + QStringLiteral("8") + QStringLiteral(" bytes to store a number.\n")
                                    + QStringLiteral("Consider creating a text file(.trx) if you want to transfer the data from the computer ")
                                    + further + QStringLiteral(".")),
                        QStringLiteral("WARNING"));
            code = ReadBinNumberSize;
        }
    }
    if (code == 0 && status == 0) {
        const qint64 rowValues = qint64(m_n) + 1;
        const qint64 rowsPerBlock = qMax<qint64>(1, kBlockDoubles / rowValues);
        std::vector<quint64> buffer(size_t(qMin<qint64>(m_n, rowsPerBlock) * rowValues));
        for (int i = 0; status == 0 && i < m_n;) {
            const int rows = int(qMin<qint64>(rowsPerBlock, m_n - i));
            const qint64 bytes = qint64(rows) * rowValues * 8;
            if (in->read(reinterpret_cast<char *>(buffer.data()), bytes) != bytes) {
                status = 1;
                break;
            }
            const quint64 *in = buffer.data();
            for (int r = 0; r < rows; ++r, ++i) {
                qFromBigEndian<quint64>(in, m_n, m_coef[i]);
                qFromBigEndian<quint64>(in + m_n, 1, &m_rhs[i]);
                in += rowValues;
            }
            m_rowsRead.store(i, std::memory_order_release);
        }
    }
    if (code == 0 && status == 0) {
        status = readString(in, &field);
        if (status == 0 && field.simplified() != QLatin1String("Solution"))
            code = ReadBinMarker;
    }
    if (code == 0 && status == 0)
        status = readDoubles(in, m_solution, m_n);
    if (code == 0 && status != 0)
        code = ReadBinStream;
    if (code != 0) {
        *m_result = code;
        qCritical("error no: FS2 - %d status = %d", code, status);
        raiseError();
    }
    file.close();
}

// ------------------------------------------------------ history companions

void FileString::writeHeaderRecord(QDataStream &out, int n)
{
    out << headerText() << QString::number(n);
}

bool FileString::readHeaderRecord(QDataStream &in, int *n)
{
    QString header;
    QString count;
    in >> header;
    if (in.status() != QDataStream::Ok || !header.contains(QLatin1String("Tarvix")))
        return false;
    in >> count;
    bool ok = false;
    const int v = count.simplified().toInt(&ok, 10);
    if (in.status() != QDataStream::Ok || !ok || v <= 1)
        return false;
    *n = v;
    return true;
}

void FileString::writeMetaData(QDataStream &out, const QString &fileName, const double *current,
                               const double *custom, int n)
{
    out << QStringLiteral("Tarvix Meta-Data") << fileName;
    for (int i = 0; i < n; ++i)
        out << current[i];
    for (int i = 0; i < n; ++i)
        out << custom[i];
}

bool FileString::readMetaData(QDataStream &in, int n, QString *fileName, double *current,
                              double *custom)
{
    QString marker;
    in >> marker;
    if (in.status() != QDataStream::Ok || marker.simplified() != QLatin1String("Tarvix Meta-Data"))
        return false;
    QString name;
    in >> name;
    // Read into copies: a record cut short leaves the window's sets alone.
    std::vector<double> cur(size_t(qMax(0, n)));
    std::vector<double> cus(size_t(qMax(0, n)));
    for (double &v : cur)
        in >> v;
    for (double &v : cus)
        in >> v;
    if (in.status() != QDataStream::Ok)
        return false;
    *fileName = name;
    std::copy(cur.begin(), cur.end(), current);
    std::copy(cus.begin(), cus.end(), custom);
    return true;
}
