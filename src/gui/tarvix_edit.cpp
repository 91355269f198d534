// Cut, Copy, Paste and Clear of one whole element (an equation, a variable
// or the right-hand side), the chooser they share and the copy buffer that
// lets a row cut in one window be pasted into another.
#include "tarvix.h"

#include "editdialog.h"
#include "elementedit.h"
#include "mytablemodel.h"
#include "shareddialogs.h"

using ElementEdit::Element;

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
    const ElementEdit::Choice choice = ElementEdit::interpret(result, n);
    if (choice.element == Element::None)
        return;
    if (!copy && !m_quiet)
        emit setUndoState(false);

    const int k = choice.index;
    ElementEdit::apply(choice, operation, m_store, m_grid, buffer);
    if (copy)
        return;

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
