#ifndef SCRIPTEDPROMPTER_H
#define SCRIPTEDPROMPTER_H

#include "prompt/prompter.h"

#include <QList>
#include <functional>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QVariant>

// A prompter for tests: records every prompt (kind, title, text, icon,
// buttons) and answers from a queue of scripted answers. With the queue
// empty it answers like the silent prompter. Installs itself on
// construction and uninstalls on destruction.
class ScriptedPrompter : public Prompter
{
public:
    struct Record
    {
        QString kind;     // "message", "item", "text", "integer", "directory", "open", "save"
        QString title;
        QString text;     // message text or label
        int icon = 0;
        int buttons = 0;
        QStringList items; // items of a list dialog; filter of a file dialog or initial text in items[0]
        QString dir;       // start folder of a file dialog
        QList<int> numbers; // integer(): initial value, minimum, maximum, step
        // "kind|title|text|icon|buttons|items", for comparing a whole prompt at once.
        QString all() const
        {
            return QStringList{kind, title, text, QString::number(icon), QString::number(buttons), items.join(',')}.join('|');
        }
    };

    ScriptedPrompter();
    ~ScriptedPrompter() override;

    // Queue answers: a button for message(), a string for item/text/file
    // dialogs (a null QString means "cancelled"), an int for integer().
    void answer(const QVariant &a) { QMutexLocker lock(&m_mutex); m_answers.append(a); }
    void answerButton(int button) { answer(QVariant(button)); }
    void answerText(const QString &s) { answer(QVariant(s)); }
    void answerCancel() { answer(QVariant()); }

    QList<Record> records() const { QMutexLocker lock(&m_mutex); return m_records; }
    int count() const { return records().size(); }
    int count(const QString &title) const
    {
        int n = 0;
        for (const Record &r : records())
            n += r.title == title ? 1 : 0;
        return n;
    }
    Record last() const { const QList<Record> r = records(); return r.isEmpty() ? Record() : r.last(); }
    int pendingAnswers() const { QMutexLocker lock(&m_mutex); return m_answers.size(); }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_records.clear();
        m_answers.clear();
    }

    int message(Icon icon, const QString &title, const QString &text, Buttons buttons,
                Button defaultButton) override;
    QString item(const QString &title, const QString &label, const QStringList &items, int current,
                 bool editable, bool *ok) override;
    QString text(const QString &title, const QString &label, const QString &initial,
                 bool *ok) override;
    int integer(const QString &title, const QString &label, int value, int min, int max, int step,
                bool *ok) override;
    QString directory(const QString &caption, const QString &dir) override;
    QString openFile(const QString &caption, const QString &dir, const QString &filter,
                     QString *selectedFilter) override;
    QString saveFile(const QString &caption, const QString &dir, const QString &filter,
                     QString *selectedFilter) override;
    // Records "progress"; its box asks to cancel from the given question on
    // (0: at once; -1, the default: never).
    std::unique_ptr<ProgressWait> progressWait(const QString &title, const QString &text) override;
    void cancelProgressAt(int question) { QMutexLocker lock(&m_mutex); m_cancelAt = question; }
    // Runs once when the next progress box comes up.
    std::function<void()> onProgress;

private:
    int m_cancelAt = -1;
    bool takeAnswer(QVariant *a);
    void record(const Record &r);
    QString fileAnswer(const QString &kind, const QString &caption, const QString &dir,
                       const QString &filter);
    mutable QMutex m_mutex;
    QList<Record> m_records;
    QList<QVariant> m_answers;
    Prompter *m_previous;
};

#endif
