#include "mydelegate.h"

#include <QDoubleValidator>
#include <QLineEdit>

MyDelegate::MyDelegate(QObject *parent) : QItemDelegate(parent) {}

QWidget *MyDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                  const QModelIndex &) const
{
    auto *edit = new QLineEdit(parent);
    edit->setAlignment(Qt::AlignCenter);
    edit->setDragEnabled(true);
    auto *validator = new QDoubleValidator(edit);
    // The validator formats nothing; keep it in the C notation the model parses.
    validator->setLocale(QLocale::c());
    edit->setValidator(validator);
    return edit;
}

void MyDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *edit = static_cast<QLineEdit *>(editor);
    edit->setText(index.data(Qt::DisplayRole).toString());
    edit->selectAll();
}

void MyDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                              const QModelIndex &index) const
{
    const QString text = static_cast<QLineEdit *>(editor)->text();
    if (text.isEmpty()
        || text.compare(index.data(Qt::DisplayRole).toString(), Qt::CaseInsensitive) == 0)
        return;
    if (!model->setData(index, text, Qt::EditRole))
        qCritical("error no: MD1");
}

void MyDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                      const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
