#ifndef GUIPROMPTER_H
#define GUIPROMPTER_H

#include "prompt/prompter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

// Shows the real Qt dialogs: message boxes without a parent, input dialogs
// and file dialogs.
class GuiPrompter : public Prompter
{
public:
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
    int checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                     const QString &checkText, const QString &checkToolTip, bool *checked) override;
    // Parent: the active modal dialog (the about dialog that asks).
    void aboutQt(const QString &title) override;
    // Window-modal over the active window.
    std::unique_ptr<ProgressWait> progressWait(const QString &title, const QString &text) override;
};

// While one lives, the wait boxes on screen (message boxes without buttons
// that say "Please wait") are hidden, so that a question asked meanwhile is
// not covered by them; they come back when it goes.
class WaitBoxesHidden
{
public:
    WaitBoxesHidden();
    ~WaitBoxesHidden();
    WaitBoxesHidden(const WaitBoxesHidden &) = delete;
    WaitBoxesHidden &operator=(const WaitBoxesHidden &) = delete;

private:
    QList<QPointer<QWidget>> m_hidden;
};

#endif
