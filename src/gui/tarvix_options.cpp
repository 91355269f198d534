// The Options command; the thread optimisation and the benchmark cycle run
// in options/benchharness.cpp.
#include "tarvix.h"
#include "ui_tarvix.h"

#include "options/benchharness.h"
#include "options/options.h"
#include "prefs/userprefs.h"
#include "shareddialogs.h"

#include <QAction>
#include <QPushButton>

void tarvix::on_actionOptions_triggered()
{
    Options *dialog = SharedDialogs::options();
    dialog->load();
    dialog->exec();
    if (!ui)
        return;
    const bool undoOn = UserPrefs::getUndoEnabled();
    ui->undob->setEnabled(undoOn);
    ui->redob->setEnabled(undoOn);
    ui->actionUndo->setEnabled(undoOn);
    ui->actionRedo->setEnabled(undoOn);
}

bool tarvix::optimiseThreads(int maxN, int budgetMs)
{
    return BenchHarness(*this).optimiseThreads(maxN, budgetMs);
}

void tarvix::benchmark(int n, bool binary, QList<int> *times, QString *file, bool stealth)
{
    BenchHarness(*this).benchmark(n, binary, times, file, stealth);
}
