#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every Qt message while it lives (for asserting log records).
class LogCapture
{
public:
    struct Entry
    {
        QtMsgType type;
        QString file;
        int line;
        QString function;
        QString text;
    };
    LogCapture();
    ~LogCapture();
    QStringList messages() const;          // "critical: text", "warning: text", ...
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();
    QList<Entry> entries() const;           // with the logger's file, line and function
    QList<Entry> take();                    // entries(), then clear()

private:
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg);
    QtMessageHandler m_previous;
};

#endif
