#include "scriptedprompter.h"

#include <utility>

#include <QMutexLocker>

ScriptedPrompter::ScriptedPrompter() : m_previous(Prompter::instance())
{
    Prompter::setInstance(this);
}

ScriptedPrompter::~ScriptedPrompter()
{
    if (Prompter::instance() == this)
        Prompter::setInstance(nullptr);
}

bool ScriptedPrompter::takeAnswer(QVariant *a)
{
    QMutexLocker lock(&m_mutex);
    if (m_answers.isEmpty())
        return false;
    *a = m_answers.takeFirst();
    return true;
}

void ScriptedPrompter::record(const Record &r)
{
    QMutexLocker lock(&m_mutex);
    m_records.append(r);
}

int ScriptedPrompter::message(Icon icon, const QString &title, const QString &text,
                              Buttons buttons, Button defaultButton)
{
    record({QStringLiteral("message"), title, text, icon, buttons, {}, {}, {}});
    QVariant a;
    if (takeAnswer(&a) && a.isValid())
        return a.toInt();
    return SilentPrompter().message(icon, title, text, buttons, defaultButton);
}

QString ScriptedPrompter::item(const QString &title, const QString &label,
                               const QStringList &items, int current, bool, bool *ok)
{
    record({QStringLiteral("item"), title, label, 0, 0, items, {}, {}});
    QVariant a;
    const bool answered = takeAnswer(&a) && !a.isNull();
    if (ok)
        *ok = answered;
    if (answered)
        return a.toString();
    return current >= 0 && current < items.size() ? items.at(current) : QString();
}

QString ScriptedPrompter::text(const QString &title, const QString &label, const QString &initial,
                               bool *ok)
{
    record({QStringLiteral("text"), title, label, 0, 0, {initial}, {}, {}});
    QVariant a;
    const bool answered = takeAnswer(&a) && !a.isNull();
    if (ok)
        *ok = answered;
    return answered ? a.toString() : QString();
}

int ScriptedPrompter::integer(const QString &title, const QString &label, int value, int min,
                              int max, int step, bool *ok)
{
    record({QStringLiteral("integer"), title, label, 0, 0, {}, {}, {value, min, max, step}});
    QVariant a;
    const bool answered = takeAnswer(&a) && !a.isNull();
    if (ok)
        *ok = answered;
    return answered ? a.toInt() : value;
}

QString ScriptedPrompter::fileAnswer(const QString &kind, const QString &caption,
                                     const QString &dir, const QString &filter)
{
    record({kind, caption, QString(), 0, 0, QStringList{filter}, dir, {}});
    QVariant a;
    return takeAnswer(&a) && !a.isNull() ? a.toString() : QString();
}

QString ScriptedPrompter::directory(const QString &caption, const QString &dir)
{
    return fileAnswer(QStringLiteral("directory"), caption, dir, QString());
}

QString ScriptedPrompter::openFile(const QString &caption, const QString &dir,
                                   const QString &filter, QString *)
{
    return fileAnswer(QStringLiteral("open"), caption, dir, filter);
}

QString ScriptedPrompter::saveFile(const QString &caption, const QString &dir,
                                   const QString &filter, QString *)
{
    return fileAnswer(QStringLiteral("save"), caption, dir, filter);
}

namespace {
class ScriptedProgress : public ProgressWait
{
public:
    explicit ScriptedProgress(int cancelAt) : m_cancelAt(cancelAt) {}
    void update(double, const QString &) override {}
    bool cancelRequested() override { return m_cancelAt >= 0 && m_asked++ >= m_cancelAt; }

private:
    int m_cancelAt;
    int m_asked = 0;
};
}

std::unique_ptr<ProgressWait> ScriptedPrompter::progressWait(const QString &title, const QString &text)
{
    record({QStringLiteral("progress"), title, text, 0, 0, {}, {}, {}});
    if (onProgress)
        std::exchange(onProgress, nullptr)();
    QMutexLocker lock(&m_mutex);
    return std::make_unique<ScriptedProgress>(m_cancelAt);
}
