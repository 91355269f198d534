#ifndef TABLEHEADER_H
#define TABLEHEADER_H

#include <QHeaderView>

// The equation table's header. Its labels grow with the section number
// ("1" to "N", "X1" to "XN", then "=" and "R.H.S."), so the widest and the
// tallest are among the first and the last few: the size hint measures
// those instead of the first and last hundred the plain header measures,
// a cost that shows on every open of a large system.
class TableHeader : public QHeaderView
{
    Q_OBJECT
public:
    explicit TableHeader(Qt::Orientation orientation, QWidget *parent = nullptr);

    QSize sizeHint() const override;

    // Sections measured at each end.
    static constexpr int kSampled = 10;

protected:
    bool event(QEvent *e) override;

private:
    void forget() { m_hint = QSize(); }

    mutable QSize m_hint;
    mutable int m_hintCount = -1;
};

#endif
