// The window's side of reading and writing its document: the progress boxes
// and the messages that name what went wrong.
#include "windowfiles.h"

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
struct WindowFiles::FileFeedback
{
    FileFeedback(WindowFiles *files, const QString &title, const QString &text)
    {
        const bool quiet = files->w.m_quiet;
        started.start();
        feedback.errorReceiver = quiet ? nullptr : &files->w;
        feedback.poll = [this, files, quiet, title, text]() {
            if (!quiet && !box && started.elapsed() >= kBoxDelayMs)
                box.reset(files->showWaitBox(title, text));
            // User input waits: another file command started meanwhile would
            // share the pipelines' process-wide state with this one.
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
        // A read that replaces the arrays first takes the table off them.
        feedback.replacing = [files] {
            if (files->w.m_model)
                files->w.m_model->lock();
        };
    }
    EquationDocument::Feedback feedback;
    QElapsedTimer started;
    std::unique_ptr<QMessageBox> box;
};

QMessageBox *WindowFiles::showWaitBox(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton,
                                w.m_hidden ? nullptr : &w,
                                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box->setStandardButtons(QMessageBox::NoButton);
    // The box does not wait for an answer, but it keeps the user away from
    // this window's commands while the threads work on its arrays; other
    // windows stay usable.
    box->setWindowModality(w.m_hidden ? Qt::NonModal : Qt::WindowModal);
    box->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return box;
}

void WindowFiles::openFile(const QString &path, bool freshAllocation, bool *failed)
{
    if (!freshAllocation)
        w.m_store.allocated = w.m_store.N;
    if (!w.m_quiet)
        w.m_lastDirectory = QFileInfo(path).absolutePath();
    bool undoWas = false;
    if (!freshAllocation && !w.m_quiet) {
        undoWas = w.undoEnabledQuery();
        emit w.setUndoState(false);
    }
    const int sizeBefore = w.m_store.N;
    if (w.m_view)
        w.m_view->setUpdatesEnabled(false);
    const bool binary = EquationFile::isBinaryName(path);
    if (binary && w.m_quiet)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    EquationDocument::Opened opened;
    {
        FileFeedback io(this, QStringLiteral("Opening File"),
                        QStringLiteral("Please wait while Tarvix is opening your file.\n"));
        opened = w.m_doc.open(path, io.feedback);
    }
    if (binary && w.m_quiet)
        QApplication::restoreOverrideCursor();
    if (opened.ok())
        showSystem();
    if (w.m_view) {
        // A table shown at another size lays itself out now: left to its
        // first paint, that layout would mark the whole table for a second.
        if (opened.ok() && w.m_store.N != sizeBefore && w.m_view->isVisible())
            w.m_view->doItemsLayout();
        w.m_view->setUpdatesEnabled(true);
    }
    if (!freshAllocation) {
        if (w.ui && !w.m_fancy)
            w.ui->decvarb->setEnabled(w.m_store.N >= 3);
        if (opened.ok() && !w.m_quiet) {
            w.StatusBarMsg(QStringLiteral("File loaded"), 2000);
            w.m_doc.markSaved(opened.print);
        }
        if (!w.m_quiet)
            emit w.setUndoState(undoWas);
    }
    if (failed)
        *failed = !opened.ok();
    if (opened.ok() || opened.result == EquationDocument::OpenResult::Refused)
        return;
    if (w.m_quiet)
        return;
    const QString text = opened.result == EquationDocument::OpenResult::Unreadable
                             ? QStringLiteral("Could NOT Open File from Disk!\n") + opened.error
                             : corruptText();
    w.errMsg(new QString(kOpenFailed), new QString(text), QStringLiteral("WARNING"));
}

void WindowFiles::showSystem()
{
    if (w.m_model)
        w.m_model->resize(w.m_store.N, w.m_store.coef, w.m_store.rhs);
    if (w.m_fancy)
        w.arraysToFancy();
}

bool WindowFiles::writeContent(const QString &path, bool binary, QString *error)
{
    FileFeedback io(this, QStringLiteral("Saving File"),
                    QStringLiteral("Please wait while Tarvix is saving your file.\n"));
    return w.m_doc.write(path, binary, io.feedback, error);
}

void WindowFiles::savetoFile(bool binary)
{
    const bool session = w.m_doc.fileName().contains(QLatin1String("Tarvix"))
                         && w.m_doc.fileName().contains(QLatin1String("Sessions"));
    if (binary && session)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    EquationDocument::Saved saved;
    {
        FileFeedback io(this, QStringLiteral("Saving File"),
                        QStringLiteral("Please wait while Tarvix is saving your file.\n"));
        saved = w.m_doc.save(binary, io.feedback);
    }
    if (binary && session)
        QApplication::restoreOverrideCursor();
    w.m_lastWriteFailed = !saved.ok;
    if (saved.ok) {
        w.StatusBarMsg(QStringLiteral("File saved"), 2000);
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
    w.errMsg(new QString(QStringLiteral("ERROR: Could not save the file!\n")), new QString(text),
           QStringLiteral("WARNING"));
    qCritical("error no: TRX5");
}

// ------------------------------------------------------- import and export

namespace {
const char kInterchangeFilter[] = "Matrix Market (*.mtx);;CSV (*.csv)";
}

void WindowFiles::importChosen()
{
    // Like File > Open: ignored while a recording is under way.
    if ((w.undoEnabledQuery() && w.undoBusyQuery()) || !w.checkSaved())
        return;
    QString selected = QStringLiteral("Matrix Market (*.mtx)");
    const QString name = Prompter::instance()->openFile(QStringLiteral("Import a System"), w.m_lastDirectory,
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

bool WindowFiles::importRecorded(const QString &path, const QString &rhsPath)
{
    bool undoWas = false;
    if (!w.beginCommand(&undoWas))
        return false;
    w.m_lastDirectory = QFileInfo(path).absolutePath();
    EquationDocument::Opened opened;
    {
        FileFeedback io(this, QStringLiteral("Importing File"),
                        QStringLiteral("Please wait while Tarvix is importing your file.\n"));
        opened = w.m_doc.import(path, rhsPath, io.feedback);
    }
    if (opened.ok()) {
        showSystem();
        if (w.ui)
            w.ui->decvarb->setEnabled(w.m_store.N >= 3);
        w.StatusBarMsg(QStringLiteral("File imported"), 2000);
    }
    w.updateTitle();
    w.endCommand(undoWas);
    if (!opened.ok()) {
        w.errMsg(new QString(QStringLiteral("ERROR: Could not import the file!")),
               new QString(QStringLiteral("Could NOT Import the File!\n") + opened.error), QStringLiteral("WARNING"));
        return false;
    }
    if (undoWas) {
        // The history keeps an OPEN step of the system in the program's own
        // format (it holds no file name: Save asks for one).
        const QString copy = w.historyFolder() + QStringLiteral("/import.btrx");
        FileFeedback io(this, QStringLiteral("Importing File"),
                        QStringLiteral("Please wait while Tarvix is importing your file.\n"));
        if (w.m_doc.write(copy, true, io.feedback))
            emit w.openbClicked(copy);
        else
            w.noteUnrecordedChange();
        QFile::remove(copy);
    }
    return true;
}

void WindowFiles::exportSystem(bool solution)
{
    w.commitOpenEditor();
    if (w.m_fancy)
        w.fancyToArrays();
    QString selected = QStringLiteral("Matrix Market (*.mtx)");
    QString name = Prompter::instance()->saveFile(
        solution ? QStringLiteral("Export the Solution") : QStringLiteral("Export the System"), w.m_lastDirectory,
        QLatin1String(kInterchangeFilter), &selected);
    if (name.isEmpty())
        return;
    // A name without either extension takes the chosen filter's.
    const Interchange::Kind kind = Interchange::kindOf(name);
    if (kind != Interchange::Kind::MatrixMarket && kind != Interchange::Kind::Csv)
        name += selected.contains(QLatin1String("csv")) ? QStringLiteral(".csv") : QStringLiteral(".mtx");
    w.m_lastDirectory = QFileInfo(name).absolutePath();
    const QString error = solution ? w.m_doc.exportSolution(name) : w.m_doc.exportTo(name, QString());
    if (error.isEmpty())
        w.StatusBarMsg(QStringLiteral("File exported"), 2000);
    else
        w.errMsg(new QString(QStringLiteral("ERROR: Could not export the file!")), new QString(error),
               QStringLiteral("WARNING"));
}
