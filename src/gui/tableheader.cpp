#include "tableheader.h"

#include <QEvent>

TableHeader::TableHeader(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{
    // As the table's own headers: a click selects the row or column.
    setSectionsClickable(true);
    setHighlightSections(true);
    connect(this, &QHeaderView::sectionCountChanged, this, [this] { forget(); });
}

QSize TableHeader::sizeHint() const
{
    const int sections = count();
    if (m_hint.isValid() && m_hintCount == sections)
        return m_hint;
    QSize hint(0, 0);
    auto measure = [&](int section) {
        if (!isSectionHidden(section))
            hint = hint.expandedTo(sectionSizeFromContents(section));
    };
    const int head = qMin(sections, kSampled);
    for (int i = 0; i < head; ++i)
        measure(i);
    for (int i = qMax(head, sections - kSampled); i < sections; ++i)
        measure(i);
    m_hint = hint;
    m_hintCount = sections;
    return hint;
}

bool TableHeader::event(QEvent *e)
{
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        forget();
    return QHeaderView::event(e);
}
