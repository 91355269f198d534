#ifndef ELEMENTEDIT_H
#define ELEMENTEDIT_H

#include <QString>
#include <QStringList>

class EquationStore;
class FancyGrid;

// Cut ('x'), Copy ('c'), Paste ('v') and Clear ('d') of one whole element of
// a system: an equation, a variable or the right-hand side.
namespace ElementEdit {

enum class Element { None, Row, Column, Rhs };

struct Choice
{
    Element element = Element::None;
    int index = -1;   // row or column; unused for the right-hand side
};

// Reads the chooser's answer: "Xk" (column k-1), "Equation k" (row k-1),
// "RHS", or anything else (cancelled). A number outside 1..n counts as
// cancelled as well.
Choice interpret(const QString &result, int n);

// Applies operation to the chosen element of store with buffer (the copy
// buffer all windows share; the clipboard gets a cut or copy too). With a
// field grid the field texts move as they were typed and the arrays follow
// them at once, so a history snapshot taken after the command shows what
// the fields show.
void apply(const Choice &choice, char operation, EquationStore &store, FancyGrid *grid, QStringList &buffer);

} // namespace ElementEdit

#endif
