#include "logcapture.h"

#include <QMutexLocker>

namespace {
QMutex g_mutex;
QStringList g_messages;
QList<LogCapture::Entry> g_entries;
}

LogCapture::LogCapture()
{
    clear();
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    static const char *const names[] = {"debug", "warning", "critical", "fatal", "info"};
    QMutexLocker lock(&g_mutex);
    g_messages.append(QString::fromLatin1(names[type]) + QStringLiteral(": ") + msg);
    g_entries.append({type, QString::fromLatin1(ctx.file), ctx.line,
                      QString::fromLatin1(ctx.function), msg});
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&g_mutex);
    return g_entries;
}

QList<LogCapture::Entry> LogCapture::take()
{
    QMutexLocker lock(&g_mutex);
    g_messages.clear();
    QList<Entry> out;
    out.swap(g_entries);
    return out;
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&g_mutex);
    return g_messages;
}

bool LogCapture::contains(const QString &text) const
{
    return count(text) > 0;
}

int LogCapture::count(const QString &text) const
{
    QMutexLocker lock(&g_mutex);
    int n = 0;
    for (const QString &m : g_messages)
        n += m == text ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&g_mutex);
    g_messages.clear();
    g_entries.clear();
}
