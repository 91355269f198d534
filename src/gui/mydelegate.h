#ifndef MYDELEGATE_H
#define MYDELEGATE_H

#include <QItemDelegate>

#include <memory>

// Edits a cell of the equation table with a line edit that takes numbers
// only; an unchanged text commits nothing. Made with its view as parent, it
// also keeps a click on a cell that cannot be edited (the "=" column) from
// leaving the keyboard with the previously current cell: typed text would
// otherwise land there.
//
// A table of a large system shows thousands of numbers at every open and
// scroll; laying each out as general text (and again to cut it short)
// costs more than the rest of the paint. Cells whose text is made of the
// characters of a number are drawn from the font's glyphs directly, at the
// places and with the same cut the general text layout gives them.
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

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

protected:
    void drawDisplay(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect,
                     const QString &text) const override;

private:
    struct Glyphs;
    // Draws text from the glyphs of the number characters; false (nothing
    // drawn) for text that needs the general layout.
    bool drawNumber(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect,
                    const QString &text) const;

    mutable std::shared_ptr<const Glyphs> m_glyphs;
};

#endif
