#include "mydelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDoubleValidator>
#include <QGlyphRun>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRawFont>
#include <QStyle>

#include <cmath>

namespace {

// What a cell of the table shows: numbers, and "=".
constexpr char kNumberChars[] = "0123456789.+-eE=";
constexpr int kChars = int(sizeof(kNumberChars)) - 1;

int slotOf(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    for (int i = 10; i < kChars; ++i) {
        if (u == ushort(kNumberChars[i]))
            return i;
    }
    return -1;
}

// The text layout keeps lengths in 64ths of a pixel; halving one drops
// the remainder as it does.
double halvedAsLayout(double v)
{
    return std::trunc(v * 64.0 / 2.0) / 64.0;
}

} // namespace

struct MyDelegate::Glyphs {
    QFont font;
    QRawFont raw;
    bool usable = false;
    quint32 index[kChars] = {};
    double advance[kChars] = {};
    // The mark of a cut: one ellipsis glyph, or three full stops where the
    // font has none.
    quint32 ellipsis = 0;
    int ellipsisCount = 0;
    double ellipsisAdvance = 0.0;
    double ascent = 0.0;
    double lineHeight = 0.0;

    explicit Glyphs(const QFont &f) : font(f), raw(QRawFont::fromFont(f))
    {
        if (!raw.isValid())
            return;
        const QVector<quint32> glyphs = raw.glyphIndexesForString(QString::fromLatin1(kNumberChars));
        if (glyphs.size() != kChars)
            return;
        const QVector<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
        for (int i = 0; i < kChars; ++i) {
            // A character the font lacks comes from another font.
            if (glyphs[i] == 0)
                return;
            index[i] = glyphs[i];
            advance[i] = advances[i].x();
        }
        const QVector<quint32> mark = raw.glyphIndexesForString(QString(QChar(0x2026)));
        if (mark.size() == 1 && mark[0] != 0) {
            ellipsis = mark[0];
            ellipsisCount = 1;
            ellipsisAdvance = raw.advancesForGlyphIndexes(mark).value(0).x();
        } else {
            ellipsis = index[10];   // '.'
            ellipsisCount = 3;
            ellipsisAdvance = 3.0 * advance[10];
        }
        ascent = raw.ascent();
        lineHeight = std::ceil(raw.ascent() + raw.descent());
        usable = true;
    }
};

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

void MyDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                       const QModelIndex &index) const
{
    // The general paint measures the text first, to place a check box and
    // a picture beside it; a number cell has neither, and its text takes
    // the whole cell.
    const QVariant value = index.data(Qt::DisplayRole);
    if (value.userType() != QMetaType::Double || index.data(Qt::DecorationRole).isValid()
        || index.data(Qt::CheckStateRole).isValid()) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    const QStyleOptionViewItem opt = setOptions(index, option);
    painter->save();
    if (hasClipping())
        painter->setClipRect(opt.rect);
    drawBackground(painter, opt, index);
    drawDisplay(painter, opt, opt.rect, opt.locale.toString(value.toDouble(), 'g', 10));
    drawFocus(painter, opt, opt.rect);
    painter->restore();
}

void MyDelegate::drawDisplay(QPainter *painter, const QStyleOptionViewItem &option,
                             const QRect &rect, const QString &text) const
{
    if (!drawNumber(painter, option, rect, text))
        QItemDelegate::drawDisplay(painter, option, rect, text);
}

bool MyDelegate::drawNumber(QPainter *painter, const QStyleOptionViewItem &option,
                            const QRect &rect, const QString &text) const
{
    const int length = text.size();
    // A number has no place to break a line at, so wrapping leaves it on
    // one line as well.
    if (length == 0 || length > 64 || option.direction != Qt::LeftToRight
        || (option.textElideMode != Qt::ElideRight) || !painter->transform().isAffine())
        return false;
    if (!m_glyphs || m_glyphs->font != option.font)
        m_glyphs = std::make_shared<const Glyphs>(option.font);
    const Glyphs &g = *m_glyphs;
    if (!g.usable)
        return false;
    int kinds[64];
    double width = 0.0;
    for (int i = 0; i < length; ++i) {
        kinds[i] = slotOf(text.at(i));
        if (kinds[i] < 0)
            return false;
        width += g.advance[kinds[i]];
    }
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    const QRect textRect = rect.adjusted(margin, 0, -margin, 0);
    // A row too low for a line is clipped by the general layout.
    if (textRect.height() < g.lineHeight)
        return false;
    const Qt::Alignment horizontal =
        QStyle::visualAlignment(option.direction, option.displayAlignment) & Qt::AlignHorizontal_Mask;
    if (horizontal != Qt::AlignLeft && horizontal != Qt::AlignRight && horizontal != Qt::AlignHCenter)
        return false;

    // The text that fits: all of it, or the longest start that leaves room
    // for the mark of the cut.
    const bool cut = width > textRect.width();
    const double room = textRect.width() - g.ellipsisAdvance;
    int shown = length;
    if (cut && room >= 0.0) {
        // Characters are taken while the sum stays below the room; the one
        // that reaches it is left out.
        double sum = 0.0;
        int k = 0;
        do {
            sum += g.advance[kinds[k]];
            ++k;
        } while (k < length && sum < room);
        shown = k - 1;
        width = sum - g.advance[kinds[shown]] + g.ellipsisAdvance;
    }

    QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(option.state & QStyle::State_Active))
        group = QPalette::Inactive;
    if (option.state & QStyle::State_Selected) {
        painter->fillRect(rect, option.palette.brush(group, QPalette::Highlight));
        painter->setPen(option.palette.color(group, QPalette::HighlightedText));
    } else {
        painter->setPen(option.palette.color(group, QPalette::Text));
    }
    if (option.state & QStyle::State_Editing) {
        painter->save();
        painter->setPen(option.palette.color(group, QPalette::Text));
        painter->drawRect(rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
    if (cut && room < 0.0)
        return true;   // not even the mark fits

    const QRect line = QStyle::alignedRect(option.direction, option.displayAlignment,
                                           QSize(textRect.width(), int(g.lineHeight)), textRect);
    double x = line.left();
    if (horizontal == Qt::AlignRight)
        x += textRect.width() - width;
    else if (horizontal == Qt::AlignHCenter)
        x += halvedAsLayout(textRect.width() - width);
    const double y = line.top() + g.ascent;
    const int marks = cut ? g.ellipsisCount : 0;
    QVector<quint32> indexes(shown + marks);
    QVector<QPointF> positions(shown + marks);
    for (int i = 0; i < shown; ++i) {
        indexes[i] = g.index[kinds[i]];
        positions[i] = QPointF(x, y);
        x += g.advance[kinds[i]];
    }
    const double markAdvance = g.ellipsisAdvance / g.ellipsisCount;
    for (int m = 0; m < marks; ++m) {
        indexes[shown + m] = g.ellipsis;
        positions[shown + m] = QPointF(x, y);
        x += markAdvance;
    }
    QGlyphRun run;
    run.setRawFont(g.raw);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter->drawGlyphRun(QPointF(0.0, 0.0), run);
    return true;
}

void MyDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                      const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
