#include "prompter.h"

#include <atomic>

namespace {
SilentPrompter g_silent;
std::atomic<Prompter *> g_prompter{nullptr};
}

Prompter *Prompter::instance()
{
    Prompter *p = g_prompter.load();
    return p ? p : &g_silent;
}

void Prompter::setInstance(Prompter *p)
{
    g_prompter.store(p);
}

int Prompter::checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                           const QString &, const QString &, bool *)
{
    return message(icon, title, text, buttons, NoButton);
}

void Prompter::aboutQt(const QString &)
{
}

namespace {
class NoProgressWait : public ProgressWait
{
public:
    void update(double, const QString &) override {}
    bool cancelRequested() override { return false; }
};
}

std::unique_ptr<ProgressWait> Prompter::progressWait(const QString &, const QString &)
{
    return std::make_unique<NoProgressWait>();
}

int SilentPrompter::message(Icon, const QString &, const QString &, Buttons buttons,
                            Button defaultButton)
{
    if (defaultButton != NoButton)
        return defaultButton;
    for (Button b : {Cancel, No, Ok})
        if (buttons & b)
            return b;
    return NoButton;
}

QString SilentPrompter::item(const QString &, const QString &, const QStringList &items,
                             int current, bool, bool *ok)
{
    if (ok)
        *ok = false;
    return current >= 0 && current < items.size() ? items.at(current) : QString();
}

QString SilentPrompter::text(const QString &, const QString &, const QString &, bool *ok)
{
    if (ok)
        *ok = false;
    return QString();
}

int SilentPrompter::integer(const QString &, const QString &, int value, int, int, int, bool *ok)
{
    if (ok)
        *ok = false;
    return value;
}

QString SilentPrompter::directory(const QString &, const QString &)
{
    return QString();
}

QString SilentPrompter::openFile(const QString &, const QString &, const QString &, QString *)
{
    return QString();
}

QString SilentPrompter::saveFile(const QString &, const QString &, const QString &, QString *)
{
    return QString();
}

Prompter::Icon Prompter::iconForType(const QString &errorType)
{
    if (errorType == QLatin1String("WARNING"))
        return Warning;
    if (errorType == QLatin1String("CRITICAL"))
        return Critical;
    if (errorType == QLatin1String("INFORMATION"))
        return Information;
    if (errorType == QLatin1String("QUESTION"))
        return Question;
    return NoIcon;
}
