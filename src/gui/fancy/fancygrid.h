#ifndef FANCYGRID_H
#define FANCYGRID_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class QBoxLayout;
class QDoubleValidator;
class QFrame;
class QLabel;
class QLineEdit;
class QWidget;
class PageValidator;

// The fancy interface's equation area: every equation written out as a row
// of fields and labels (coefficient, "X<sub>j</sub>", "+", ..., "=", right-hand
// side), cut into pages of at most displayRows equations by displayColumns
// variables. One page is shown at a time in the area's slot.
//
// Widget places are fixed by (equation, grid column): the field of term j
// stands in column 6j, its label in 6j + 2, the "+" (or "=") after it in
// 6j + 4 and the right-hand-side field in 6N. That lets a resize keep every
// widget where it is: growing reuses the old widgets in place, shrinking
// deletes what lies outside and turns the new last "+" into "=".
class FancyGrid : public QObject
{
    Q_OBJECT
public:
    // Sizes, frame styles and the page size, read from the preferences.
    struct Style
    {
        int coefWidth = 100, coefHeight = 30;
        int variableWidth = 50, variableHeight = 30;
        int variableShape = 0, variableShadow = 0, variableLineWidth = 5, variableMidLineWidth = 3;
        int plusWidth = 30, plusHeight = 30;
        int plusShape = 0, plusShadow = 0, plusLineWidth = 3, plusMidLineWidth = 3;
        int rows = 5;      // equations per page (at least 1)
        int columns = 3;   // variables per page (at least 1)
        static Style fromPrefs();
        bool operator==(const Style &o) const;
    };

    // area: the layout holding the shown page at index slot; firstPage: the
    // form's frame there, which becomes page (1, 1) of the first build.
    FancyGrid(QBoxLayout *area, QFrame *firstPage, QObject *parent = nullptr);
    ~FancyGrid() override;

    // The page fields (1-based page numbers) and the labels showing the
    // page counts; both fields get an integer validator from 1 up.
    void setPanControls(QLineEdit *hField, QLineEdit *vField, QLabel *hLimit, QLabel *vLimit);

    // Follows a new variable count: builds for a larger one, tears down for
    // a smaller one (0 removes everything). Nothing happens for the same
    // count.
    void setCount(int n);
    void build(int n);
    void fancyDeinit(int n);
    int count() const { return m_n; }

    // The four lists, in grid order, equation by equation.
    const QList<QLineEdit *> &fields() const { return m_fields; }
    const QList<QLabel *> &variableLabels() const { return m_variables; }
    const QList<QLabel *> &plusLabels() const { return m_plus; }
    const QList<QLabel *> &equalsLabels() const { return m_equals; }
    // Field of equation row, column col (col == count(): right-hand side).
    QLineEdit *field(int row, int col) const;

    // Fields into the arrays: empty or unconvertible text reads as 0.0.
    void readInto(double *const *coef, double *rhs) const;
    // Arrays into the fields ('g', 16 significant digits).
    void writeFrom(const double *const *coef, const double *rhs);
    void clearFields();
    // A field's text as a number; false for empty or unconvertible text.
    static bool parseField(const QString &text, double *value);
    // 'g' with the given significant digits, locale-free.
    static QString formatValue(double value, int digits);

    // Pages, 1-based as the pan fields show them.
    int pagesAcross() const;
    int pagesDown() const { return m_pages.size(); }
    int currentAcross() const { return m_h + 1; }
    int currentDown() const { return m_v + 1; }
    QFrame *page(int down, int across) const;
    QFrame *currentPage() const { return m_current; }
    // Shows page (down, across); false (and nothing changes) when there is
    // no such page.
    bool panTo(int down, int across);

public slots:
    void panLeft();
    void panRight();
    void panUp();
    void panDown();
    void hFieldFinished();
    void vFieldFinished();

signals:
    // A field's editing finished: its equation, its column (count() for the
    // right-hand side) and its text.
    void fieldEdited(int equation, int column, QString text);

private slots:
    void onFieldFinished();

private:
    QLineEdit *newField(QWidget *page);
    QLabel *newLabel(QWidget *page, const QString &text, bool variable);
    QFrame *newPage();
    QFrame *ensurePage(int down, int across);
    QFrame *pageFor(int row, int gridColumn);
    void place(QWidget *w, int row, int gridColumn);
    void showPage(int down, int across);
    void updatePanControls();
    void deleteAll();
    QWidget *areaWidget() const;

    QBoxLayout *m_area;
    int m_slot;
    QPointer<QFrame> m_firstPage;
    Style m_style;
    int m_n = 0;

    QList<QLineEdit *> m_fields;
    QList<QLabel *> m_variables;
    QList<QLabel *> m_plus;
    QList<QLabel *> m_equals;
    QVector<QVector<QFrame *>> m_pages;   // page rows of page frames
    QFrame *m_current = nullptr;
    int m_v = 0;
    int m_h = 0;

    QDoubleValidator *m_fieldValidator;   // shared by every field
    QPointer<QLineEdit> m_hField, m_vField;
    QPointer<QLabel> m_hLimit, m_vLimit;
    PageValidator *m_hValidator = nullptr;
    PageValidator *m_vValidator = nullptr;
};

#endif
