// The window's side of reading and writing its document: the progress boxes
// and the messages that name what went wrong.
#include "tarvix.h"
#include "ui_tarvix.h"

#include "files/equationfile.h"
#include "files/interchange.h"
#include "mytablemodel.h"
#include "prompt/prompter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableView>

#include <memory>

namespace {

// Milliseconds a file operation runs before its progress box appears.
constexpr qint64 kBoxDelayMs = 150;

const QString kOpenFailed = QStringLiteral("ERROR: Could not open the file!");

QString corruptText()
{
    return QStringLiteral("Could NOT Read the Opened File!\n") + QStringLiteral("File is corrupt!");
}

} // namespace

// The feedback of one file operation: the box comes up once the operation
// has taken a moment (a quick one would only flash it); while the history
// drives the window nothing is shown.
struct tarvix::FileFeedback
{
    FileFeedback(tarvix *w, const QString &title, const QString &text)
    {
        const bool quiet = w->m_quiet;
        started.start();
        feedback.errorReceiver = quiet ? nullptr : w;
        feedback.poll = [this, w, quiet, title, text]() {
            if (!quiet && !box && started.elapsed() >= kBoxDelayMs)
                box.reset(w->showWaitBox(title, text));
            // User input waits: another file command started meanwhile would
            // share the pipelines' process-wide state with this one.
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
    }
    EquationDocument::Feedback feedback;
    QElapsedTimer started;
    std::unique_ptr<QMessageBox> box;
};

QMessageBox *tarvix::showWaitBox(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton,
                                m_hidden ? nullptr : this,
                                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box->setStandardButtons(QMessageBox::NoButton);
    // The box does not wait for an answer, but it keeps the user away from
    // this window's commands while the threads work on its arrays; other
    // windows stay usable.
    box->setWindowModality(m_hidden ? Qt::NonModal : Qt::WindowModal);
    box->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return box;
}

void tarvix::openFile(const QString &path, bool freshAllocation, bool *failed)
{
    if (!freshAllocation)
        m_store.allocated = m_store.N;
    if (!m_quiet)
        m_lastDirectory = QFileInfo(path).absolutePath();
    bool undoWas = false;
    if (!freshAllocation && !m_quiet) {
        undoWas = undoEnabledQuery();
        emit setUndoState(false);
    }
    if (m_view)
        m_view->setUpdatesEnabled(false);
    const bool binary = EquationFile::isBinaryName(path);
    if (binary && m_quiet)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    EquationDocument::Opened opened;
    {
        FileFeedback io(this, QStringLiteral("Opening File"),
                        QStringLiteral("Please wait while Tarvix is opening your file.\n"));
        io.feedback.replacing = [this] {
            if (m_model)
                m_model->lock();
        };
        opened = m_doc.open(path, io.feedback);
    }
    if (binary && m_quiet)
        QApplication::restoreOverrideCursor();
    if (opened.ok())
        showSystem();
    if (m_view)
        m_view->setUpdatesEnabled(true);
    if (!freshAllocation) {
        if (ui && !m_fancy)
            ui->decvarb->setEnabled(m_store.N >= 3);
        if (opened.ok() && !m_quiet) {
            StatusBarMsg(QStringLiteral("File loaded"), 2000);
            m_doc.markSaved();
        }
        if (!m_quiet)
            emit setUndoState(undoWas);
    }
    if (failed)
        *failed = !opened.ok();
    if (opened.ok() || opened.result == EquationDocument::OpenResult::Refused)
        return;
    if (m_quiet)
        return;
    const QString text = opened.result == EquationDocument::OpenResult::Unreadable
                             ? QStringLiteral("Could NOT Open File from Disk!\n") + opened.error
                             : corruptText();
    errMsg(new QString(kOpenFailed), new QString(text), QStringLiteral("WARNING"));
}

void tarvix::showSystem()
{
    if (m_model)
        m_model->resize(m_store.N, m_store.coef, m_store.rhs);
    if (m_fancy)
        arraysToFancy();
}

bool tarvix::writeContent(const QString &path, bool binary, QString *error)
{
    FileFeedback io(this, QStringLiteral("Saving File"),
                    QStringLiteral("Please wait while Tarvix is saving your file.\n"));
    return m_doc.write(path, binary, io.feedback, error);
}

void tarvix::savetoFile(bool binary)
{
    const bool session = m_doc.fileName().contains(QLatin1String("Tarvix"))
                         && m_doc.fileName().contains(QLatin1String("Sessions"));
    if (binary && session)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    EquationDocument::Saved saved;
    {
        FileFeedback io(this, QStringLiteral("Saving File"),
                        QStringLiteral("Please wait while Tarvix is saving your file.\n"));
        saved = m_doc.save(binary, io.feedback);
    }
    if (binary && session)
        QApplication::restoreOverrideCursor();
    m_lastWriteFailed = !saved.ok;
    if (saved.ok) {
        StatusBarMsg(QStringLiteral("File saved"), 2000);
        return;
    }
    if (!saved.created) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("ERROR: Could not save the file!"),
                                      QStringLiteral("Unable to open the file for writing!\n") + saved.error,
                                      Prompter::Ok, Prompter::Ok);
        qCritical("error no: TRX4");
        return;
    }
    QString text = QStringLiteral("Could not add any data to the newly created File, hence deleting the File.");
    if (saved.existed)
        text += QStringLiteral("\nRestoring previously saved File.");
    if (!saved.error.isEmpty())
        text += QLatin1Char('\n') + saved.error;
    errMsg(new QString(QStringLiteral("ERROR: Could not save the file!\n")), new QString(text),
           QStringLiteral("WARNING"));
    qCritical("error no: TRX5");
}

// ------------------------------------------------------- import and export

namespace {
const char kInterchangeFilter[] = "Matrix Market (*.mtx);;CSV (*.csv)";
}

void tarvix::on_actionImport_triggered()
{
    // Like File > Open: ignored while a recording is under way.
    if ((undoEnabledQuery() && undoBusyQuery()) || !checkSaved())
        return;
    QString selected = QStringLiteral("Matrix Market (*.mtx)");
    const QString name = Prompter::instance()->openFile(QStringLiteral("Import a System"), m_lastDirectory,
                                                        QLatin1String(kInterchangeFilter), &selected);
    if (name.isEmpty())
        return;
    QString rhs;
    if (Interchange::needsRightHandSide(name)) {
        rhs = Prompter::instance()->openFile(QStringLiteral("Open the Right-Hand Side"),
                                             QFileInfo(name).absolutePath(),
                                             QStringLiteral("Matrix Market (*.mtx)"), &selected);
        if (rhs.isEmpty())
            return;
    }
    importRecorded(name, rhs);
}

bool tarvix::importRecorded(const QString &path, const QString &rhsPath)
{
    bool undoWas = false;
    if (!beginCommand(&undoWas))
        return false;
    m_lastDirectory = QFileInfo(path).absolutePath();
    EquationDocument::Opened opened;
    {
        FileFeedback io(this, QStringLiteral("Importing File"),
                        QStringLiteral("Please wait while Tarvix is importing your file.\n"));
        io.feedback.replacing = [this] {
            if (m_model)
                m_model->lock();
        };
        opened = m_doc.import(path, rhsPath, io.feedback);
    }
    if (opened.ok()) {
        showSystem();
        if (ui)
            ui->decvarb->setEnabled(m_store.N >= 3);
        StatusBarMsg(QStringLiteral("File imported"), 2000);
    }
    updateTitle();
    endCommand(undoWas);
    if (!opened.ok()) {
        errMsg(new QString(QStringLiteral("ERROR: Could not import the file!")),
               new QString(QStringLiteral("Could NOT Import the File!\n") + opened.error), QStringLiteral("WARNING"));
        return false;
    }
    if (undoWas) {
        // The history keeps an OPEN step of the system in the program's own
        // format (it holds no file name: Save asks for one).
        const QString copy = historyFolder() + QStringLiteral("/import.btrx");
        FileFeedback io(this, QStringLiteral("Importing File"),
                        QStringLiteral("Please wait while Tarvix is importing your file.\n"));
        if (m_doc.write(copy, true, io.feedback))
            emit openbClicked(copy);
        else
            noteUnrecordedChange();
        QFile::remove(copy);
    }
    return true;
}

void tarvix::exportSystem(bool solution)
{
    commitOpenEditor();
    if (m_fancy)
        fancyToArrays();
    QString selected = QStringLiteral("Matrix Market (*.mtx)");
    QString name = Prompter::instance()->saveFile(
        solution ? QStringLiteral("Export the Solution") : QStringLiteral("Export the System"), m_lastDirectory,
        QLatin1String(kInterchangeFilter), &selected);
    if (name.isEmpty())
        return;
    // A name without either extension takes the chosen filter's.
    const Interchange::Kind kind = Interchange::kindOf(name);
    if (kind != Interchange::Kind::MatrixMarket && kind != Interchange::Kind::Csv)
        name += selected.contains(QLatin1String("csv")) ? QStringLiteral(".csv") : QStringLiteral(".mtx");
    m_lastDirectory = QFileInfo(name).absolutePath();
    const QString error = solution ? m_doc.exportSolution(name) : m_doc.exportTo(name, QString());
    if (error.isEmpty())
        StatusBarMsg(QStringLiteral("File exported"), 2000);
    else
        errMsg(new QString(QStringLiteral("ERROR: Could not export the file!")), new QString(error),
               QStringLiteral("WARNING"));
}
