#ifndef PROMPTER_H
#define PROMPTER_H

#include <QString>
#include <QStringList>

#include <memory>

// A box that shows how far a long job has come and offers Cancel, without
// waiting for an answer: the job's owner updates it and asks whether Cancel
// was pressed. It goes away when destroyed.
class ProgressWait
{
public:
    virtual ~ProgressWait() = default;
    // share: 0..1 of the work done; note: a line under the bar.
    virtual void update(double share, const QString &note) = 0;
    virtual bool cancelRequested() = 0;
};

// The one door through which the program asks the user anything: message
// boxes, input dialogs and file dialogs. The desktop program installs an
// implementation that shows real Qt dialogs; the console program and tests
// install their own. Prompts are raised on the GUI thread only.
class Prompter
{
public:
    // Same values as QMessageBox::Icon.
    enum Icon { NoIcon = 0, Information = 1, Warning = 2, Critical = 3, Question = 4 };
    // Same values as QMessageBox::StandardButton, so the GUI passes them through.
    enum Button {
        NoButton = 0x00000000,
        Ok = 0x00000400,
        Save = 0x00000800,
        Yes = 0x00004000,
        No = 0x00010000,
        Cancel = 0x00400000,
        Close = 0x00200000,
        Discard = 0x00800000
    };
    using Buttons = int;

    virtual ~Prompter() = default;

    // A modal message box; returns the button pressed (the escape button when
    // the box is closed). Rich text is shown as rich text.
    virtual int message(Icon icon, const QString &title, const QString &text,
                        Buttons buttons = Ok, Button defaultButton = NoButton) = 0;
    // QInputDialog::getItem
    virtual QString item(const QString &title, const QString &label, const QStringList &items,
                         int current, bool editable, bool *ok) = 0;
    // QInputDialog::getText (normal echo)
    virtual QString text(const QString &title, const QString &label, const QString &initial,
                         bool *ok) = 0;
    // QInputDialog::getInt
    virtual int integer(const QString &title, const QString &label, int value, int min, int max,
                        int step, bool *ok) = 0;
    // QFileDialog::getExistingDirectory
    virtual QString directory(const QString &caption, const QString &dir) = 0;
    // QFileDialog::getOpenFileName / getSaveFileName
    virtual QString openFile(const QString &caption, const QString &dir, const QString &filter,
                             QString *selectedFilter) = 0;
    virtual QString saveFile(const QString &caption, const QString &dir, const QString &filter,
                             QString *selectedFilter) = 0;
    // A modal message box with a check box below the text: *checked gives
    // the box's first state and receives the last. Without a check box of
    // its own a prompter shows the plain box and leaves *checked alone.
    virtual int checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                             const QString &checkText, const QString &checkToolTip, bool *checked);
    // Qt's own about box (modal); nothing where there is no desktop.
    virtual void aboutQt(const QString &title);
    // A progress box with a Cancel button (see ProgressWait); without a
    // desktop nothing is shown and Cancel is never pressed.
    virtual std::unique_ptr<ProgressWait> progressWait(const QString &title, const QString &text);

    // The process-wide prompter. Never null: until one is installed, a
    // silent prompter answers every question with its default (No, Cancel,
    // the preselected item, an empty text).
    static Prompter *instance();
    // The icon of an error triple's type ("WARNING", "CRITICAL",
    // "INFORMATION", "QUESTION"; anything else has none).
    static Icon iconForType(const QString &errorType);
    // Installs p (not owned); null puts the silent prompter back.
    static void setInstance(Prompter *p);
};

// Answers every prompt with its default and never shows anything; used by
// the console program and until the desktop program installs its own.
class SilentPrompter : public Prompter
{
public:
    int message(Icon, const QString &, const QString &, Buttons buttons, Button defaultButton) override;
    QString item(const QString &, const QString &, const QStringList &items, int current, bool,
                 bool *ok) override;
    QString text(const QString &, const QString &, const QString &, bool *ok) override;
    int integer(const QString &, const QString &, int value, int, int, int, bool *ok) override;
    QString directory(const QString &, const QString &) override;
    QString openFile(const QString &, const QString &, const QString &, QString *) override;
    QString saveFile(const QString &, const QString &, const QString &, QString *) override;
};

#endif
