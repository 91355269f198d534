// The number of variables: one more, one fewer, any count, and the count
// set by the history replay. Every change leaves an empty system.
#include "tarvix.h"
#include "historybridge.h"
#include "ui_tarvix.h"

#include "fancy/fancygrid.h"
#include "mytablemodel.h"
#include "prompt/prompter.h"

#include <QTableView>

#include <limits>
#include <utility>

namespace {
constexpr int kMinVariables = 2;
constexpr int kMaxVariables = 999999999;
}

bool tarvix::recorderReady(bool *undoWas)
{
    *undoWas = false;
    if (!m_quiet)
        commitOpenEditor();
    if (m_quiet || !m_history || !m_history->answered())
        return true;
    *undoWas = undoEnabledQuery();
    return !(*undoWas && undoBusyQuery());
}

void tarvix::setAreaUpdates(bool on)
{
    if (m_view)
        m_view->setUpdatesEnabled(on);
    if (m_grid && ui)
        ui->scrollAreaWidgetContents->setUpdatesEnabled(on);
}

void tarvix::changeCount(int newN)
{
    // Allocate first: when memory runs out the fatal record ends the process
    // (saving the session) while the window still holds its old system.
    EquationStore incoming;
    incoming.N = newN;
    incoming.allocated = 0;
    if (!incoming.reallocate())
        return;

    if (m_model)
        m_model->lock();
    m_store.swap(incoming);
    incoming.release();   // the old arrays, by their own allocated count
    if (m_model)
        m_model->resize(m_store.N, m_store.coef, m_store.rhs);
    if (m_grid)
        m_grid->setCount(m_store.N);
}

void tarvix::on_incvarb_clicked()
{
    bool undoWas = false;
    if (!recorderReady(&undoWas))
        return;
    const int n = m_store.N;
    if (n == std::numeric_limits<int>::max() || !EquationStore::memoryCheck(n + 1, n))
        return;
    applyCount(n + 1, undoWas);
    if (undoWas)
        emit incvarbClicked();
}

void tarvix::on_decvarb_clicked()
{
    bool undoWas = false;
    if (!recorderReady(&undoWas))
        return;
    const int n = m_store.N;
    if (n <= kMinVariables || !EquationStore::memoryCheck(n - 1, n))
        return;
    applyCount(n - 1, undoWas);
    if (undoWas)
        emit decvarbClicked();
}

void tarvix::on_actionVariables_n_triggered()
{
    bool undoWas = false;
    if (!recorderReady(&undoWas))
        return;
    const int current = m_store.N;
    bool ok = false;
    int n = Prompter::instance()->integer(QStringLiteral("Tarvix"), QStringLiteral("Enter no of variables :"),
                                          current, kMinVariables, kMaxVariables, 1, &ok);
    if (!ok)
        n = current;
    // The dialog keeps the answer in range; anything else is not a count.
    if (n == current || n < kMinVariables || n > kMaxVariables)
        return;
    if (!EquationStore::memoryCheck(n, n))
        return;
    applyCount(n, undoWas);
    if (undoWas)
        emit nvarbClicked();
}

// The common body of the three count commands, with recording off: the new
// size, then New, so every value reads 0.
void tarvix::applyCount(int newN, bool undoWas)
{
    if (!m_quiet)
        emit setUndoState(false);
    setAreaUpdates(false);
    changeCount(newN);
    on_newb_clicked();
    m_store.allocated = m_store.N;
    if (!m_quiet)
        emit setUndoState(undoWas);
    setAreaUpdates(true);
}

void tarvix::n_Var(int n)
{
    if (n < kMinVariables)
        return;
    setAreaUpdates(false);
    if (n != m_store.allocated)
        changeCount(n);
    m_store.N = n;
    on_newb_clicked();
    m_store.allocated = m_store.N;
    setAreaUpdates(true);
}
