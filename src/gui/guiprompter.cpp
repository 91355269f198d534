#include "guiprompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

int GuiPrompter::message(Icon icon, const QString &title, const QString &text, Buttons buttons,
                         Button defaultButton)
{
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text,
                    static_cast<QMessageBox::StandardButtons>(buttons));
    if (defaultButton != NoButton)
        box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
    return box.exec();
}

QString GuiPrompter::item(const QString &title, const QString &label, const QStringList &items,
                          int current, bool editable, bool *ok)
{
    return QInputDialog::getItem(nullptr, title, label, items, current, editable, ok);
}

QString GuiPrompter::text(const QString &title, const QString &label, const QString &initial,
                          bool *ok)
{
    return QInputDialog::getText(nullptr, title, label, QLineEdit::Normal, initial, ok);
}

int GuiPrompter::integer(const QString &title, const QString &label, int value, int min, int max,
                         int step, bool *ok)
{
    return QInputDialog::getInt(nullptr, title, label, value, min, max, step, ok);
}

QString GuiPrompter::directory(const QString &caption, const QString &dir)
{
    return QFileDialog::getExistingDirectory(nullptr, caption, dir, QFileDialog::ShowDirsOnly);
}

QString GuiPrompter::openFile(const QString &caption, const QString &dir, const QString &filter,
                              QString *selectedFilter)
{
    return QFileDialog::getOpenFileName(nullptr, caption, dir, filter, selectedFilter);
}

QString GuiPrompter::saveFile(const QString &caption, const QString &dir, const QString &filter,
                              QString *selectedFilter)
{
    return QFileDialog::getSaveFileName(nullptr, caption, dir, filter, selectedFilter);
}

int GuiPrompter::checkMessage(Icon icon, const QString &title, const QString &text, Buttons buttons,
                              const QString &checkText, const QString &checkToolTip, bool *checked)
{
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
