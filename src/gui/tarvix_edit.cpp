// Cut, Copy, Paste and Clear of one whole element (an equation, a variable
// or the right-hand side), the chooser they share and the copy buffer that
// lets a row cut in one window be pasted into another.
#include "tarvix.h"

#include "editdialog.h"
#include "mytablemodel.h"
#include "shareddialogs.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

enum class Element { None, Row, Column, Rhs };

struct Choice
{
    Element element = Element::None;
    int index = -1;   // row or column; unused for the right-hand side
};

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

QString valueText(double v)
{
    return QString::number(v, 'g', 15);
}

}

void tarvix::on_actionCut_triggered()
{
    editElement('x');
}

void tarvix::on_actionCopy_triggered()
{
    editElement('c');
}

void tarvix::on_actionPaste_triggered()
{
    editElement('v');
}

void tarvix::on_actionClear_triggered()
{
    editElement('d');
}

void tarvix::editElement(char operation)
{
    const bool copy = operation == 'c';
    if (!m_quiet)
        commitOpenEditor();
    bool undoWas = false;
    if (!copy && !recorderReady(&undoWas))
        return;

    const int n = m_store.N;
    SharedDialogs::create();
    EditDialog *dialog = SharedDialogs::edit();
    dialog->prepare(n, operation);
    dialog->exec();
    const QString result = dialog->resultString();

    QStringList &buffer = *SharedDialogs::copyBuffer();
    if (operation == 'x' || copy)
        buffer.clear();
    const Choice choice = interpret(result, n);
    if (choice.element == Element::None)
        return;
    if (!copy && !m_quiet)
        emit setUndoState(false);

    // The cell of position i of the chosen element.
    double **coef = m_store.coef;
    double *rhs = m_store.rhs;
    const int k = choice.index;
    auto cell = [&](int i) -> double & {
        switch (choice.element) {
        case Element::Row: return coef[k][i];
        case Element::Column: return coef[i][k];
        default: return rhs[i];
        }
    };

    if (m_grid) {
        editFields(operation, choice.element == Element::Row ? k : -1,
                   choice.element == Element::Column ? k : -1, buffer);
        if (copy)
            return;
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
        if (copy)
            return;
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

    if (m_model) {
        switch (choice.element) {
        case Element::Row: m_model->refreshRange(k, 0, k, n - 1); break;
        case Element::Column: m_model->refreshRange(0, k, n - 1, k); break;
        default: m_model->refreshRange(0, n + 1, n - 1, n + 1); break;
        }
    }
    m_doc.setSaved(false);
    if (!m_quiet)
        emit setUndoState(undoWas);
    if (undoWas) {
        if (operation == 'x')
            emit editbClicked(QStringLiteral("CUT"));
        else if (operation == 'v')
            emit editbClicked(QStringLiteral("PASTE"));
        else
            emit editbClicked(QStringLiteral("CLEAR"));
    }
}
