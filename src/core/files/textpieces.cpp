#include "textpieces.h"

#include "threads/workerteam.h"

#include <QFileInfo>
#include <QIODevice>

#include <cstring>
#include <limits>

TextFile::~TextFile()
{
    if (m_map)
        m_file.unmap(m_map);
}

bool TextFile::open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("cannot open %1: not a regular file (a folder, pipe or device)").arg(path);
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, m_file.errorString());
        return false;
    }
    const qint64 size = m_file.size();
    if (size > 0)
        m_map = m_file.map(0, size);
    if (size == 0) {
        m_begin = m_end = "";
        return true;
    }
    if (m_map) {
        m_begin = reinterpret_cast<const char *>(m_map);
    } else {
        m_copy = m_file.readAll();
        if (m_copy.size() != size) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, m_file.errorString());
            return false;
        }
        m_begin = m_copy.constData();
    }
    m_end = m_begin + size;
    if (size >= 3 && std::memcmp(m_begin, "\xEF\xBB\xBF", 3) == 0)
        m_begin += 3;
    return true;
}

namespace TextPieces {

const char *nextLine(const char *p, const char *end)
{
    if (p >= end)
        return end;
    const void *nl = std::memchr(p, '\n', size_t(end - p));
    return nl ? static_cast<const char *>(nl) + 1 : end;
}

void split(const char *begin, const char *end, int parts, const char **bounds)
{
    bounds[0] = begin;
    const long long size = end - begin;
    for (int k = 1; k < parts; ++k) {
        const char *guess = begin + size * k / parts;
        if (guess < bounds[k - 1])
            guess = bounds[k - 1];
        // A piece starts at a line start: after the line end before guess.
        bounds[k] = guess == begin ? begin : nextLine(guess - 1, end);
    }
    bounds[parts] = end;
}

Team::Team(int threads, const QString &name)
    : m_team(WorkerTeam::forSize(threads, name))
{
    m_size = m_team ? m_team->size() : 1;
}

Team::~Team() = default;

void Team::run(const std::function<void(int)> &job)
{
    if (m_team) {
        m_team->run(m_size, job);
        return;
    }
    for (int k = 0; k < m_size; ++k)
        job(k);
}

bool writeAll(QIODevice *device, const std::string &text)
{
    return device->write(text.data(), qint64(text.size())) == qint64(text.size());
}

long long mulSat(long long a, long long b)
{
    if (a <= 0 || b <= 0)
        return 0;
    if (a > std::numeric_limits<long long>::max() / b)
        return std::numeric_limits<long long>::max();
    return a * b;
}

long long addSat(long long a, long long b)
{
    if (a > std::numeric_limits<long long>::max() - b)
        return std::numeric_limits<long long>::max();
    return a + b;
}

} // namespace TextPieces
