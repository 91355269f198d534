#include "mydelegate.h"

#include <QAbstractItemView>
#include <QDoubleValidator>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMouseEvent>

MyDelegate::MyDelegate(QObject *parent) : QItemDelegate(parent)
{
    if (auto *view = qobject_cast<QAbstractItemView *>(parent))
        view->viewport()->installEventFilter(this);
}

bool MyDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        auto *view = qobject_cast<QAbstractItemView *>(parent());
        if (view && watched == view->viewport() && view->selectionModel()) {
            const QModelIndex index = view->indexAt(static_cast<QMouseEvent *>(event)->pos());
            // The view does not move the current cell onto a disabled one,
            // so no cell is current after such a click.
            if (index.isValid() && !(index.flags() & Qt::ItemIsEnabled)) {
                view->selectionModel()->clearCurrentIndex();
                view->clearSelection();
            }
        }
    }
    return QItemDelegate::eventFilter(watched, event);
}

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
