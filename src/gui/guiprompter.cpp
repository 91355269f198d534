#include "guiprompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>

int GuiPrompter::message(Icon icon, const QString &title, const QString &text, Buttons buttons,
                         Button defaultButton)
{
    const WaitBoxesHidden unhidden;
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text,
                    static_cast<QMessageBox::StandardButtons>(buttons));
    if (defaultButton != NoButton)
        box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
    return box.exec();
}

QString GuiPrompter::item(const QString &title, const QString &label, const QStringList &items,
                          int current, bool editable, bool *ok)
{
    const WaitBoxesHidden unhidden;
    return QInputDialog::getItem(nullptr, title, label, items, current, editable, ok);
}

QString GuiPrompter::text(const QString &title, const QString &label, const QString &initial,
                          bool *ok)
{
    const WaitBoxesHidden unhidden;
    return QInputDialog::getText(nullptr, title, label, QLineEdit::Normal, initial, ok);
}

int GuiPrompter::integer(const QString &title, const QString &label, int value, int min, int max,
                         int step, bool *ok)
{
    const WaitBoxesHidden unhidden;
    return QInputDialog::getInt(nullptr, title, label, value, min, max, step, ok);
}

QString GuiPrompter::directory(const QString &caption, const QString &dir)
{
    const WaitBoxesHidden unhidden;
    return QFileDialog::getExistingDirectory(nullptr, caption, dir, QFileDialog::ShowDirsOnly);
}

QString GuiPrompter::openFile(const QString &caption, const QString &dir, const QString &filter,
                              QString *selectedFilter)
{
    const WaitBoxesHidden unhidden;
    return QFileDialog::getOpenFileName(nullptr, caption, dir, filter, selectedFilter);
}

QString GuiPrompter::saveFile(const QString &caption, const QString &dir, const QString &filter,
                              QString *selectedFilter)
{
    const WaitBoxesHidden unhidden;
    return QFileDialog::getSaveFileName(nullptr, caption, dir, filter, selectedFilter);
}

int GuiPrompter::checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                              const QString &checkText, const QString &checkToolTip, bool *checked)
{
    const WaitBoxesHidden unhidden;
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text,
                    static_cast<QMessageBox::StandardButtons>(buttons));
    auto *check = new QCheckBox(checkText, &box);
    check->setToolTip(checkToolTip);
    check->setChecked(*checked);
    box.setCheckBox(check);
    const int answer = box.exec();
    *checked = check->isChecked();
    return answer;
}

void GuiPrompter::aboutQt(const QString &title)
{
    QMessageBox::aboutQt(QApplication::activeModalWidget(), title);
}

namespace {

class GuiProgressWait : public ProgressWait
{
public:
    GuiProgressWait(const QString &title, const QString &text)
        : m_text(text.trimmed()), m_dialog(text.trimmed(), QStringLiteral("Cancel"), 0, 1000, QApplication::activeWindow())
    {
        m_dialog.setWindowTitle(title);
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setMinimumDuration(0);
        m_dialog.setValue(0);
        m_dialog.show();
    }
    void update(double share, const QString &note) override
    {
        m_dialog.setLabelText(note.isEmpty() ? m_text : m_text + QLatin1Char('\n') + note);
        m_dialog.setValue(int(qBound(0.0, share, 1.0) * 1000.0));
    }
    bool cancelRequested() override { return m_dialog.wasCanceled(); }

private:
    QString m_text;
    QProgressDialog m_dialog;
};

bool isWaitBox(QWidget *w)
{
    auto *box = qobject_cast<QMessageBox *>(w);
    return box && box->isVisible() && box->buttons().isEmpty()
           && box->text().startsWith(QLatin1String("Please wait"));
}

} // namespace

std::unique_ptr<ProgressWait> GuiPrompter::progressWait(const QString &title, const QString &text)
{
    return std::make_unique<GuiProgressWait>(title, text);
}

WaitBoxesHidden::WaitBoxesHidden()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (isWaitBox(w)) {
            w->hide();
            m_hidden.append(w);
        }
    }
}

WaitBoxesHidden::~WaitBoxesHidden()
{
    for (const QPointer<QWidget> &w : m_hidden)
        if (w)
            w->show();
}
