#ifndef MYDELEGATE_H
#define MYDELEGATE_H

#include <QItemDelegate>

// Edits a cell of the equation table with a line edit that takes numbers
// only; an unchanged text commits nothing. Made with its view as parent, it
// also keeps a click on a cell that cannot be edited (the "=" column) from
// leaving the keyboard with the previously current cell: typed text would
// otherwise land there.
class MyDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    explicit MyDelegate(QObject *parent = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};

#endif
