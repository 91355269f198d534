// The analysis command: the window hands its system to its analysis dialog.
#include "tarvix.h"

#include "analysis/analysedialog.h"

#include <memory>

void tarvix::on_analyseb_clicked()
{
    openAnalysis(false);
}

void tarvix::openAnalysis(bool)
{
    if (m_fancy)
        fancyToArrays();
    // A hidden window is never on screen: its dialog stands alone and goes
    // with the command.
    std::unique_ptr<AnalyseDialog> passing;
    AnalyseDialog *dialog = m_analyse;
    if (m_hidden) {
        passing.reset(new AnalyseDialog());
        dialog = passing.get();
    } else if (!dialog) {
        m_analyse = dialog = new AnalyseDialog(this);
    }
    // The dialog works on the window's arrays: the window stays open meanwhile.
    const EquationDocument::BusyScope busy(m_doc);
    dialog->setUp(m_store.N, m_store.coef, m_store.rhs, m_store.customSol, m_store.fileSol,
                  m_store.currentSol);
    // What the last solve of this window measured of its answer.
    if (m_doc.lastTrust().method != SolveTrust::NotSolved)
        dialog->setSolveTrust(m_doc.lastTrust());
    dialog->exec();
}
