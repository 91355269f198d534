#include "fancygrid.h"

#include "files/numtext.h"
#include "prefs/userprefs.h"

#include <QBoxLayout>
#include <QDoubleValidator>
#include <QFrame>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <charconv>
#include <utility>

// A page field's validator: text that is not a page number (0, beyond the
// last page, empty) is put back to the page shown when the field is left, so
// the field never names a page other than the one on screen.
class PageValidator : public QIntValidator
{
public:
    PageValidator(const int *current, QObject *parent) : QIntValidator(1, 1, parent), m_current(current) {}
    void fixup(QString &input) const override { input = QString::number(*m_current + 1); }

private:
    const int *m_current;
};

namespace {

QFrame::Shadow shadowFor(int v)
{
    return v == 0 ? QFrame::Raised : v == 1 ? QFrame::Plain : QFrame::Sunken;
}

// The page across that grid column g of an equation falls on: the field and
// label of term j are on page j / cp, the "+" or "=" after term j already on
// page (j + 1) / cp, the right-hand side (term N) on page N / cp.
inline int pageAcrossOf(int g, int cp)
{
    return ((g + 2) / 6) / cp;
}

// Grid column on its page: a page to the right starts with the "+" (or "=")
// after the last term of the page before it.
inline int localColumn(int g, int across, int cp)
{
    return across == 0 ? g : g - (6 * across * cp - 2);
}

}

FancyGrid::Style FancyGrid::Style::fromPrefs()
{
    Style s;
    s.coefWidth = UserPrefs::getListValue(UserPrefs::Widths, 0);
    s.variableWidth = UserPrefs::getListValue(UserPrefs::Widths, 1);
    s.plusWidth = UserPrefs::getListValue(UserPrefs::Widths, 2);
    s.coefHeight = UserPrefs::getListValue(UserPrefs::Heights, 0);
    s.variableHeight = UserPrefs::getListValue(UserPrefs::Heights, 1);
    s.plusHeight = UserPrefs::getListValue(UserPrefs::Heights, 2);
    s.variableShape = UserPrefs::getListValue(UserPrefs::VariableStyle, 0);
    s.variableShadow = UserPrefs::getListValue(UserPrefs::VariableStyle, 1);
    s.variableLineWidth = UserPrefs::getListValue(UserPrefs::VariableStyle, 2);
    s.variableMidLineWidth = UserPrefs::getListValue(UserPrefs::VariableStyle, 3);
    s.plusShape = UserPrefs::getListValue(UserPrefs::PlusStyle, 0);
    s.plusShadow = UserPrefs::getListValue(UserPrefs::PlusStyle, 1);
    s.plusLineWidth = UserPrefs::getListValue(UserPrefs::PlusStyle, 2);
    s.plusMidLineWidth = UserPrefs::getListValue(UserPrefs::PlusStyle, 3);
    // A page holds at least one equation and one variable; a page size of 0
    // read from the file would otherwise divide by zero.
    s.rows = std::max(1, UserPrefs::getDisplayRows());
    s.columns = std::max(1, UserPrefs::getDisplayColumns());
    return s;
}

bool FancyGrid::Style::operator==(const Style &o) const
{
    return coefWidth == o.coefWidth && coefHeight == o.coefHeight && variableWidth == o.variableWidth
           && variableHeight == o.variableHeight && variableShape == o.variableShape
           && variableShadow == o.variableShadow && variableLineWidth == o.variableLineWidth
           && variableMidLineWidth == o.variableMidLineWidth && plusWidth == o.plusWidth
           && plusHeight == o.plusHeight && plusShape == o.plusShape && plusShadow == o.plusShadow
           && plusLineWidth == o.plusLineWidth && plusMidLineWidth == o.plusMidLineWidth && rows == o.rows
           && columns == o.columns;
}

FancyGrid::FancyGrid(QBoxLayout *area, QFrame *firstPage, QObject *parent)
    : QObject(parent), m_area(area), m_slot(area->indexOf(firstPage)), m_firstPage(firstPage)
{
    if (m_slot < 0)
        m_slot = area->count();
    m_fieldValidator = new QDoubleValidator(this);
    // Fields are read back locale-free; the validator takes the same texts.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    m_fieldValidator->setLocale(c);
}

// The widgets belong to the window's widget tree and go with it.
FancyGrid::~FancyGrid() = default;

QWidget *FancyGrid::areaWidget() const
{
    return m_area->parentWidget();
}

void FancyGrid::setPanControls(QLineEdit *hField, QLineEdit *vField, QLabel *hLimit, QLabel *vLimit)
{
    m_hField = hField;
    m_vField = vField;
    m_hLimit = hLimit;
    m_vLimit = vLimit;
    m_hValidator = new PageValidator(&m_h, this);
    m_vValidator = new PageValidator(&m_v, this);
    hField->setValidator(m_hValidator);
    vField->setValidator(m_vValidator);
    connect(hField, &QLineEdit::editingFinished, this, &FancyGrid::hFieldFinished);
    connect(vField, &QLineEdit::editingFinished, this, &FancyGrid::vFieldFinished);
    updatePanControls();
}

// ------------------------------------------------------------------ widgets

QLineEdit *FancyGrid::newField(QWidget *page)
{
    auto *f = new QLineEdit(page);
    f->setAlignment(Qt::AlignCenter);
    f->setDragEnabled(true);
    f->setPlaceholderText(QStringLiteral("0"));
    f->setValidator(m_fieldValidator);
    f->setFixedSize(m_style.coefWidth, m_style.coefHeight);
    connect(f, &QLineEdit::editingFinished, this, &FancyGrid::onFieldFinished);
    return f;
}

QLabel *FancyGrid::newLabel(QWidget *page, const QString &text, bool variable)
{
    auto *l = new QLabel(page);
    l->setTextFormat(variable ? Qt::RichText : Qt::PlainText);
    l->setText(text);
    l->setAlignment(Qt::AlignCenter);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    const Style &s = m_style;
    if (variable) {
        l->setFixedSize(s.variableWidth, s.variableHeight);
        l->setFrameShape(s.variableShape ? QFrame::StyledPanel : QFrame::Panel);
        l->setFrameShadow(shadowFor(s.variableShadow));
        l->setLineWidth(s.variableLineWidth);
        l->setMidLineWidth(s.variableMidLineWidth);
    } else {
        l->setFixedSize(s.plusWidth, s.plusHeight);
        l->setFrameShape(s.plusShape ? QFrame::StyledPanel : QFrame::Panel);
        l->setFrameShadow(shadowFor(s.plusShadow));
        l->setLineWidth(s.plusLineWidth);
        l->setMidLineWidth(s.plusMidLineWidth);
    }
    return l;
}

QFrame *FancyGrid::newPage()
{
    auto *page = new QFrame(areaWidget());
    page->setFrameShape(QFrame::NoFrame);
    page->hide();
    // A page off screen keeps its updates off on its own account, so turning
    // the area's updates off and on skips it: a pan touches two pages, not
    // every widget of the system.
    page->setUpdatesEnabled(false);
    new QGridLayout(page);
    return page;
}

QFrame *FancyGrid::ensurePage(int down, int across)
{
    if (m_pages.size() <= down)
        m_pages.resize(down + 1);
    QVector<QFrame *> &row = m_pages[down];
    while (row.size() <= across)
        row.append(newPage());
    return row[across];
}

QFrame *FancyGrid::page(int down, int across) const
{
    if (down < 1 || down > m_pages.size())
        return nullptr;
    const QVector<QFrame *> &row = m_pages[down - 1];
    if (across < 1 || across > row.size())
        return nullptr;
    return row[across - 1];
}

int FancyGrid::pagesAcross() const
{
    return m_pages.isEmpty() ? 0 : m_pages.first().size();
}

// The page that grid column g of equation row falls on (made when missing).
QFrame *FancyGrid::pageFor(int row, int g)
{
    return ensurePage(row / m_style.rows, pageAcrossOf(g, m_style.columns));
}

// A new widget goes to its page's grid; a reused one already stands there.
void FancyGrid::place(QWidget *w, int row, int g)
{
    auto *p = static_cast<QFrame *>(w->parentWidget());
    const int across = pageAcrossOf(g, m_style.columns);
    static_cast<QGridLayout *>(p->layout())->addWidget(w, row % m_style.rows,
                                                       localColumn(g, across, m_style.columns));
}

// ---------------------------------------------------------------- building

void FancyGrid::setCount(int n)
{
    n = std::max(0, n);
    if (n > m_n)
        build(n);
    else if (n < m_n)
        fancyDeinit(n);
}

void FancyGrid::deleteAll()
{
    for (QLineEdit *f : qAsConst(m_fields))
        delete f;
    for (QList<QLabel *> *list : {&m_variables, &m_plus, &m_equals})
        for (QLabel *l : qAsConst(*list))
            delete l;
    m_fields.clear();
    m_variables.clear();
    m_plus.clear();
    m_equals.clear();
    if (m_current)
        m_area->removeWidget(m_current);
    for (auto &row : m_pages)
        for (QFrame *p : row)
            if (p != m_firstPage)
                delete p;
    m_pages.clear();
    m_current = nullptr;
    m_n = 0;
}

void FancyGrid::build(int n)
{
    QWidget *area = areaWidget();
    const bool updates = area->updatesEnabled();
    area->setUpdatesEnabled(false);

    // The old widgets stand where they would stand in the new grid only
    // when the page size and the widget styles are unchanged.
    const Style style = Style::fromPrefs();
    if (!(style == m_style) && m_n > 0)
        deleteAll();
    m_style = style;

    const int oldN = m_n;
    // 1. The old widgets are the pools; every "=" becomes a "+" again.
    QList<QLineEdit *> fieldPool = std::move(m_fields);
    QList<QLabel *> variablePool = std::move(m_variables);
    QList<QLabel *> plusPool = std::move(m_plus);
    QList<QLabel *> equalsPool = std::move(m_equals);
    for (QLabel *l : qAsConst(equalsPool))
        l->setText(QStringLiteral("+"));
    auto takePlus = [&](int r, int j) -> QLabel * {
        if (r >= oldN || j >= oldN)
            return nullptr;
        QLabel *&slot = j < oldN - 1 ? plusPool[r * (oldN - 1) + j] : equalsPool[r];
        return std::exchange(slot, nullptr);
    };

    // 2. Empty lists for the new count.
    m_fields.clear();
    m_variables.clear();
    m_plus.clear();
    m_equals.clear();
    m_fields.reserve((n + 1) * n);
    m_variables.reserve(n * n);
    m_plus.reserve((n - 1) * n);
    m_equals.reserve(n);

    // 3. The form's frame is page (1, 1) of the first build; later builds
    // take the shown page out of the area and reuse the pages.
    if (m_pages.isEmpty()) {
        QFrame *first = m_firstPage ? m_firstPage.data() : newPage();
        if (!first->layout())
            new QGridLayout(first);
        m_pages = {{first}};
    } else if (m_current) {
        m_current->hide();
        m_current->setUpdatesEnabled(false);
        m_area->removeWidget(m_current);
        m_current = nullptr;
    }

    // 4. Walk the equations column by column.
    for (int r = 0; r < n; ++r) {
        for (int j = 0; j < n; ++j) {
            QLineEdit *f = nullptr;
            if (r < oldN && j <= oldN)
                f = std::exchange(fieldPool[r * (oldN + 1) + j], nullptr);
            if (!f) {
                f = newField(pageFor(r, 6 * j));
                place(f, r, 6 * j);
            }
            m_fields.append(f);

            QLabel *v = nullptr;
            if (r < oldN && j < oldN)
                v = std::exchange(variablePool[r * oldN + j], nullptr);
            if (!v) {
                v = newLabel(pageFor(r, 6 * j + 2),
                             QStringLiteral("X <sub>") + QString::number(j + 1) + QStringLiteral("</sub>"), true);
                place(v, r, 6 * j + 2);
            }
            m_variables.append(v);

            if (j < n - 1) {
                QLabel *p = takePlus(r, j);
                if (!p) {
                    p = newLabel(pageFor(r, 6 * j + 4), QStringLiteral("+"), false);
                    place(p, r, 6 * j + 4);
                }
                m_plus.append(p);
            } else {
                QLabel *e = newLabel(pageFor(r, 6 * j + 4), QStringLiteral("="), false);
                place(e, r, 6 * j + 4);
                m_equals.append(e);
            }
        }
        QLineEdit *rhs = nullptr;
        if (r < oldN && n <= oldN)
            rhs = std::exchange(fieldPool[r * (oldN + 1) + n], nullptr);
        if (!rhs) {
            rhs = newField(pageFor(r, 6 * n));
            place(rhs, r, 6 * n);
        }
        m_fields.append(rhs);
    }

    // 6. Whatever the new grid did not take goes.
    qDeleteAll(fieldPool);
    qDeleteAll(variablePool);
    qDeleteAll(plusPool);
    qDeleteAll(equalsPool);

    m_n = n;
    // 5. Page (1, 1) on screen, the pan controls at 1.
    showPage(0, 0);
    updatePanControls();
    area->setUpdatesEnabled(updates);
}

void FancyGrid::fancyDeinit(int n)
{
    QWidget *area = areaWidget();
    const bool updates = area->updatesEnabled();
    area->setUpdatesEnabled(false);

    const int oldN = m_n;
    // Widgets keep their places: what lies outside the new equations or
    // beyond grid column 6n goes, so the field in column 6n of each
    // remaining equation becomes its right-hand side.
    QList<QLineEdit *> fields;
    fields.reserve((n + 1) * n);
    for (int p = 0; p < m_fields.size(); ++p) {
        const int r = p / (oldN + 1), c = p % (oldN + 1);
        if (r < n && c <= n)
            fields.append(m_fields[p]);
        else
            delete m_fields[p];
    }
    QList<QLabel *> variables;
    variables.reserve(n * n);
    for (int p = 0; p < m_variables.size(); ++p) {
        const int r = p / oldN, j = p % oldN;
        if (r < n && j < n)
            variables.append(m_variables[p]);
        else
            delete m_variables[p];
    }
    // The "+" after the new last term becomes that equation's "=".
    QList<QLabel *> plus, equals;
    plus.reserve(std::max(0, (n - 1) * n));
    equals.reserve(n);
    for (int p = 0; p < m_plus.size(); ++p) {
        const int r = p / (oldN - 1), j = p % (oldN - 1);
        QLabel *l = m_plus[p];
        if (r >= n || j >= n) {
            delete l;
        } else if (j == n - 1) {
            l->setText(QStringLiteral("="));
            equals.append(l);
        } else {
            plus.append(l);
        }
    }
    qDeleteAll(m_equals);   // all in column 6 oldN - 2, beyond 6n
    m_fields = std::move(fields);
    m_variables = std::move(variables);
    m_plus = std::move(plus);
    m_equals = std::move(equals);
    m_n = n;

    if (m_current && m_area->indexOf(m_current) >= 0) {
        m_current->hide();
        m_current->setUpdatesEnabled(false);
        m_area->removeWidget(m_current);
    } else {
        qCritical("error no: TRX11");
        if (m_current) {
            m_current->hide();
            m_current->setUpdatesEnabled(false);
        }
    }
    m_current = nullptr;

    // Pages left without a field or label go. They are the trailing pages
    // of each page row and the trailing page rows.
    QVector<QVector<QFrame *>> kept;
    for (QVector<QFrame *> &row : m_pages) {
        QVector<QFrame *> keptRow;
        for (QFrame *p : row) {
            if (p->layout() && p->layout()->count() > 0)
                keptRow.append(p);
            else
                delete p;
        }
        if (!keptRow.isEmpty())
            kept.append(keptRow);
    }
    m_pages = std::move(kept);

    if (n != 0 && !m_pages.isEmpty()) {
        showPage(0, 0);
        updatePanControls();
    }
    area->setUpdatesEnabled(updates);
}

// ------------------------------------------------------------------ values

QLineEdit *FancyGrid::field(int row, int col) const
{
    if (row < 0 || row >= m_n || col < 0 || col > m_n)
        return nullptr;
    return m_fields.at(row * (m_n + 1) + col);
}

bool FancyGrid::parseField(const QString &text, double *value)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.isEmpty())
        return false;
    return NumText::parseDouble(bytes.constData(), bytes.constData() + bytes.size(), value);
}

QString FancyGrid::formatValue(double value, int digits)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    return QString::fromLatin1(buf, int(res.ptr - buf));
}

void FancyGrid::readInto(double *const *coef, double *rhs) const
{
    const int n = m_n;
    for (int r = 0; r < n; ++r) {
        double *row = coef[r];
        const int base = r * (n + 1);
        for (int c = 0; c <= n; ++c) {
            double v = 0.0;
            if (!parseField(m_fields[base + c]->text(), &v))
                v = 0.0;
            if (c < n)
                row[c] = v;
            else
                rhs[r] = v;
        }
    }
}

void FancyGrid::writeFrom(const double *const *coef, const double *rhs)
{
    QWidget *area = areaWidget();
    const bool updates = area->updatesEnabled();
    area->setUpdatesEnabled(false);
    const int n = m_n;
    for (int r = 0; r < n; ++r) {
        const int base = r * (n + 1);
        for (int c = 0; c <= n; ++c) {
            QLineEdit *f = m_fields[base + c];
            f->setText(formatValue(c < n ? coef[r][c] : rhs[r], 16));
            // A number wider than its field shows its sign and leading
            // digits, not its tail.
            f->setCursorPosition(0);
        }
    }
    area->setUpdatesEnabled(updates);
}

void FancyGrid::clearFields()
{
    QWidget *area = areaWidget();
    const bool updates = area->updatesEnabled();
    area->setUpdatesEnabled(false);
    for (QLineEdit *f : qAsConst(m_fields))
        f->clear();
    area->setUpdatesEnabled(updates);
}

void FancyGrid::onFieldFinished()
{
    auto *f = qobject_cast<QLineEdit *>(sender());
    if (!f)
        return;
    const int p = m_fields.indexOf(f);
    if (p < 0)
        return;
    emit fieldEdited(p / (m_n + 1), p % (m_n + 1), f->text());
}

// ------------------------------------------------------------------ paging

void FancyGrid::showPage(int down, int across)
{
    QFrame *target = m_pages[down][across];
    if (m_current != target) {
        if (m_current) {
            m_current->hide();
            m_current->setUpdatesEnabled(false);
            m_area->removeWidget(m_current);
        }
        m_area->insertWidget(m_slot, target, 0, Qt::AlignLeft);
    }
    target->setUpdatesEnabled(true);
    target->show();
    m_current = target;
    m_v = down;
    m_h = across;
}

bool FancyGrid::panTo(int down, int across)
{
    if (!page(down, across))
        return false;
    QWidget *area = areaWidget();
    const bool updates = area->updatesEnabled();
    area->setUpdatesEnabled(false);
    showPage(down - 1, across - 1);
    area->setUpdatesEnabled(updates);
    if (m_hField)
        m_hField->setText(QString::number(across));
    if (m_vField)
        m_vField->setText(QString::number(down));
    return true;
}

void FancyGrid::updatePanControls()
{
    const int across = pagesAcross(), down = pagesDown();
    if (m_hValidator)
        m_hValidator->setTop(std::max(1, across));
    if (m_vValidator)
        m_vValidator->setTop(std::max(1, down));
    if (m_hField)
        m_hField->setText(QStringLiteral("1"));
    if (m_vField)
        m_vField->setText(QStringLiteral("1"));
    if (m_hLimit)
        m_hLimit->setText(QStringLiteral("  ") + QString::number(across) + QStringLiteral("  "));
    if (m_vLimit)
        m_vLimit->setText(QStringLiteral("  ") + QString::number(down) + QStringLiteral("  "));
}

void FancyGrid::panLeft()
{
    panTo(m_v + 1, m_h);
}

void FancyGrid::panRight()
{
    panTo(m_v + 1, m_h + 2);
}

void FancyGrid::panUp()
{
    panTo(m_v, m_h + 1);
}

void FancyGrid::panDown()
{
    panTo(m_v + 2, m_h + 1);
}

// A page number typed into a pan field: that page is shown; anything that
// names no page leaves the page where it is and the field showing it.
void FancyGrid::hFieldFinished()
{
    if (!m_hField)
        return;
    bool ok = false;
    const int value = m_hField->text().toInt(&ok);
    if (!ok || !panTo(m_v + 1, value))
        m_hField->setText(QString::number(m_h + 1));
}

void FancyGrid::vFieldFinished()
{
    if (!m_vField)
        return;
    bool ok = false;
    const int value = m_vField->text().toInt(&ok);
    if (!ok || !panTo(value, m_h + 1))
        m_vField->setText(QString::number(m_v + 1));
}
