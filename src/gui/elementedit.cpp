#include "elementedit.h"

#include "fancy/fancygrid.h"
#include "store/equationstore.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

namespace ElementEdit {

// Reads the chooser's answer: "Xk" (column k-1), "Equation k" (row k-1),
// "RHS", or anything else (cancelled). A number outside 1..n counts as
// cancelled as well.
Choice interpret(const QString &result, int n)
{
    Choice c;
    const int x = result.indexOf(QLatin1Char('X'));
    int k = 0;
    bool ok = false;
    if (x >= 0) {
        k = result.mid(x + 1).toInt(&ok);
        c.element = Element::Column;
    } else if (result.contains(QLatin1String("Equation"))) {
        QString rest = result;
        k = rest.remove(QStringLiteral("Equation ")).toInt(&ok);
        c.element = Element::Row;
    } else if (result.contains(QLatin1String("RHS"))) {
        c.element = Element::Rhs;
        return c;
    } else {
        return c;
    }
    if (!ok || k < 1 || k > n)
        return Choice();
    c.index = k - 1;
    return c;
}



namespace {

QString valueText(double v)
{
    return QString::number(v, 'g', 15);
}

// Cut, Copy, Paste and Clear on the fields: the texts move as they were
// typed (possibly empty). The element's array values follow its fields at
// once, so the history snapshot taken after the command and the old value
// of a later field edit are those the fields show.
// row >= 0: that equation; column >= 0: that variable; both < 0: the
// right-hand side.
void applyToFields(FancyGrid *grid, EquationStore &store, char operation, int row, int column,
                   QStringList &buffer)
{
    const int n = grid->count();
    auto fieldAt = [&](int i) {
        return row >= 0 ? grid->field(row, i) : column >= 0 ? grid->field(i, column) : grid->field(i, n);
    };
    const bool synced = n == store.N && store.coef;
    auto follow = [&](int i) {
        if (!synced)
            return;
        double v = 0.0;
        if (!FancyGrid::parseField(fieldAt(i)->text(), &v))
            v = 0.0;
        (row >= 0 ? store.coef[row][i] : column >= 0 ? store.coef[i][column] : store.rhs[i]) = v;
    };
    if (operation == 'x' || operation == 'c') {
        buffer.reserve(n);
        for (int i = 0; i < n; ++i) {
            QLineEdit *f = fieldAt(i);
            buffer.append(f->text());
            if (operation == 'x') {
                f->clear();
                follow(i);
            }
        }
        if (QClipboard *clip = QGuiApplication::clipboard())
            clip->setText(buffer.join(QLatin1Char(' ')));
    } else if (operation == 'v') {
        for (int i = 0; i < n; ++i) {
            if (i < buffer.size())
                fieldAt(i)->setText(buffer.at(i));
            else
                fieldAt(i)->clear();
            follow(i);
        }
    } else {
        for (int i = 0; i < n; ++i) {
            fieldAt(i)->clear();
            follow(i);
        }
    }
}

} // namespace

void apply(const Choice &choice, char operation, EquationStore &store, FancyGrid *grid, QStringList &buffer)
{
    // The cell of position i of the chosen element.
    double **coef = store.coef;
    double *rhs = store.rhs;
    const int n = store.N;
    const bool copy = operation == 'c';
    const int k = choice.index;
    auto cell = [&](int i) -> double & {
        switch (choice.element) {
        case Element::Row: return coef[k][i];
        case Element::Column: return coef[i][k];
        default: return rhs[i];
        }
    };

    if (grid) {
        applyToFields(grid, store, operation, choice.element == Element::Row ? k : -1,
                      choice.element == Element::Column ? k : -1, buffer);
    } else if (copy || operation == 'x') {
        buffer.reserve(n);
        for (int i = 0; i < n; ++i) {
            double &v = cell(i);
            buffer.append(valueText(v));
            if (!copy)
                v = 0.0;
        }
        if (QClipboard *clip = QGuiApplication::clipboard())
            clip->setText(buffer.join(QLatin1Char(' ')));
    } else if (operation == 'v') {
        const int have = buffer.size();
        for (int i = 0; i < n; ++i) {
            double d = 0.0;
            if (i < have) {
                bool ok = false;
                d = buffer.at(i).toDouble(&ok);
                if (!ok)
                    d = 0.0;
            }
            cell(i) = d;
        }
    } else {
        for (int i = 0; i < n; ++i)
            cell(i) = 0.0;
    }
}

} // namespace ElementEdit
