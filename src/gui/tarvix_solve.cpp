// Solve, stealth solving and the validation before solving and saving.
#include "tarvix.h"

#include "prompt/prompter.h"

// Wired to the solver in the next step.
bool tarvix::validateSystem()
{
    return true;
}

void tarvix::on_solveb_clicked()
{
}

void tarvix::solveEq(double **, double *, int *, int *, int *)
{
}

void tarvix::on_actionSolve_in_Stealth_mode_triggered()
{
}
