// Solve, stealth solving and the validation before solving and saving.
#include "tarvix.h"

#include "opencl/devicehooks.h"
#include "opencl/opencldevices.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "solver/solve.h"
#include "solver/validate.h"
#include "guiprompter.h"
#include "solverdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>

#include <memory>
#include <vector>

namespace {

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// "Elimination 42% - 0:12 elapsed - about 0:17 left" (the estimate once a
// tenth is done).
QString progressNote(double share, qint64 elapsedMs)
{
    QString note = QStringLiteral("Elimination %1% - %2 elapsed")
                       .arg(int(share * 100.0))
                       .arg(clockText(elapsedMs));
    if (share >= 0.1 && share < 1.0)
        note += QStringLiteral(" - about %1 left").arg(clockText(qint64(elapsedMs * (1.0 - share) / share)));
    return note;
}

bool isOptimiseName(const QString &name)
{
    return name.compare(QLatin1String("%optimise%"), Qt::CaseInsensitive) == 0;
}

} // namespace

bool tarvix::validateSystem()
{
    std::vector<int> columnZeros(size_t(qMax(m_store.N, 0)));
    return Validate::validateSystem(m_store.N, m_store.coef, m_store.rhs, columnZeros.data());
}

void tarvix::on_solveb_clicked()
{
    bool undoWas = false;
    if (!beginCommand(&undoWas))
        return;
    const int n = m_store.N;
    std::vector<int> columnZeros(size_t(n), 0);
    if (m_fancy)
        fancyToArrays();
    // The checks take seconds on a large system: the pointer says so.
    if (!m_hidden)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    const ValidationReport report = Validate::check(n, m_store.coef, m_store.rhs, columnZeros.data());
    if (!m_hidden)
        QApplication::restoreOverrideCursor();
    if (Validate::tell(report)) {
        const int status = solveDocument(columnZeros.data());
        if (status == 3) {
            // Cancelled: the system and the solutions are as they were.
            statusBar()->showMessage(QStringLiteral("Solving cancelled."));
        } else if (status == 1) {
            errMsg(new QString(QStringLiteral("ERROR: Solution is INCORRECT!")),
                   new QString(QStringLiteral("<p><b>The co-efficient Matrix could NOT be reduced to Upper Triangular Matrix!</b></p>\n")
                               + QStringLiteral("The calculated solution will be incorrect.\nPlease check the errors in equations.")
                               + QStringLiteral("<p>Reason: ") + m_doc.lastTrust().reason().toHtmlEscaped()
                               + QStringLiteral(".</p>")),
                   QStringLiteral("WARNING"));
            openAnalysis(false);
        } else if (status == 0 && !m_hidden && !testAttribute(Qt::WA_DontShowOnScreen)) {
            const int answer = Prompter::instance()->message(
                Prompter::Information, QStringLiteral("Solving Completed!"),
                QStringLiteral("Successfully Solved the Equations.\nWould you like to Analyse the Solutions?"),
                Prompter::Yes | Prompter::No, Prompter::Yes);
            if (answer == Prompter::Yes)
                openAnalysis(false);
        }
    }
    endCommand(undoWas);
}

int tarvix::solveDocument(const int *columnZeros)
{
    QElapsedTimer timer;
    timer.start();
    const bool optimise = isOptimiseName(m_doc.fileName());
    int choice = 0;
    if (!optimise) {
        SolverDialog dialog(m_hidden ? nullptr : this);
        const WaitBoxesHidden unhidden;
        dialog.exec();
        choice = dialog.getResult();
    }
    m_dialogTime = int(timer.elapsed());

    SolveControl control;
    m_doc.setEliminationNote(QString());
    std::unique_ptr<OpenCLDevices> devices;
    if (UserPrefs::getOpenCLEnabled() && choice == 2) {
        bool onDevice = false;
        devices.reset(DeviceHooks::choose(m_hidden ? nullptr : this, optimise, &m_dialogTime, &onDevice));
        if (onDevice)
            DeviceHooks::use(devices.get(), control, m_doc, [this](const QString &title, const QString &text) {
                errMsg(new QString(title), new QString(text), QStringLiteral("INFORMATION"));
            });
    }

    // The window cannot close while the box is up and the threads work.
    const EquationDocument::BusyScope busy(m_doc);
    std::unique_ptr<ProgressWait> box;
    if (!optimise)
        box = Prompter::instance()->progressWait(
            QStringLiteral("Solving Equations"),
            QStringLiteral("Please wait while Tarvix is solving your equations.\n"));
    // The box's first answer counts before the first block.
    if (box && box->cancelRequested())
        control.cancel.store(true);
    QElapsedTimer clock;
    clock.start();
    control.wait = [&] {
        if (!box) {
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            return;
        }
        // The box keeps the user away from this window; its Cancel answers.
        QApplication::processEvents();
        box->update(control.done.load(), progressNote(control.done.load(), clock.elapsed()));
        if (box->cancelRequested())
            control.cancel.store(true);
    };
    const int status = m_doc.solve(columnZeros, &control, this);
    box.reset();
    devices.reset(); // releases and unloads the plugin
    return status;
}

void tarvix::on_actionSolve_in_Stealth_mode_triggered()
{
    auto hidden = std::make_unique<tarvix>(QString(), true);
    QString selected = QStringLiteral("Tarvix Text (*.trx)");
    const QString name = Prompter::instance()->openFile(
        QStringLiteral("Open a File"), m_lastDirectory,
        QStringLiteral("Tarvix Text (*.trx);;Tarvix Binary (*.btrx)"), &selected);
    if (name.isEmpty())
        return;
    bool failed = false;
    hidden->openFile(name, true, &failed);
    if (!failed) {
        hidden->on_solveb_clicked();
        hidden->openAnalysis(true);
    }
}
