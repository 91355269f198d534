// Open, Save, Save As, the modified prompt and drag and drop.
#include "tarvix.h"
#include "ui_tarvix.h"

#include "files/equationfile.h"
#include "mytablemodel.h"
#include "windowfiles.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTableView>
#include <QUrl>

namespace {
const char kFilter[] = "Tarvix Text (*.trx);;Tarvix Binary (*.btrx)";
const char kTextFilter[] = "Tarvix Text (*.trx)";

bool isEquationName(const QString &name)
{
    return name.contains(QLatin1String(".trx")) || name.contains(QLatin1String(".btrx"));
}

QStringList droppedEquationFiles(const QMimeData *mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls())
        return files;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && isEquationName(url.toLocalFile()))
            files.append(url.toLocalFile());
    }
    return files;
}
}

bool tarvix::checkSaved()
{
    if (m_doc.isSaved())
        return true;
    const int answer = Prompter::instance()->message(
        Prompter::Warning, QStringLiteral("Session NOT Saved!"),
        QStringLiteral("The Session has been modified.\nDo you want to save your changes?"),
        Prompter::Save | Prompter::Discard | Prompter::Cancel, Prompter::Save);
    if (answer == Prompter::Save) {
        on_saveb_clicked();
        return !m_doc.fileName().isEmpty() && m_doc.isSaved();
    }
    return answer == Prompter::Discard;
}

void tarvix::on_openb_clicked()
{
    if (!m_quiet && undoEnabledQuery() && undoBusyQuery())
        return;
    if (!checkSaved())
        return;
    QString selected = QLatin1String(kTextFilter);
    const QString name = Prompter::instance()->openFile(QStringLiteral("Open a File"), m_lastDirectory,
                                                        QLatin1String(kFilter), &selected);
    if (name.isEmpty() || !isEquationName(name))
        return;
    openRecorded(name);
}

bool tarvix::openRecorded(const QString &path)
{
    const bool undoWas = !m_quiet && undoEnabledQuery();
    if (!m_quiet)
        emit setUndoState(false);
    bool failed = false;
    openFile(path, false, &failed);
    updateTitle();
    if (!m_quiet)
        emit setUndoState(undoWas);
    // A file that could not be read changed nothing that could be undone.
    if (undoWas && !failed)
        emit openbClicked(path);
    return !failed;
}

// Validation before a save; an invalid system is saved only when the user
// insists.
bool tarvix::validForSaving()
{
    if (validateSystem())
        return true;
    return Prompter::instance()->message(
               Prompter::Warning, QStringLiteral("File Saving FAILED!"),
               QStringLiteral("ERROR: Please input valid co-efficients which can be solved, then save the file.\n"
                              "Would you still like to Save the File with the illegal co-efficients?"),
               Prompter::Yes | Prompter::No, Prompter::No)
           == Prompter::Yes;
}

void tarvix::on_saveb_clicked()
{
    commitOpenEditor();
    if (m_fancy)
        fancyToArrays();
    if (!validForSaving())
        return;
    if (m_doc.fileName().isEmpty())
        on_actionSave_As_triggered(true);
    else
        savetoFile(EquationFile::isBinaryName(m_doc.fileName()));
    updateTitle();
}

void tarvix::on_actionSave_As_triggered(bool saveb)
{
    if (!saveb) {
        commitOpenEditor();
        if (m_fancy)
            fancyToArrays();
        if (!validForSaving()) {
            errMsg(new QString(QStringLiteral("ERROR: Could not save the file!")),
                   new QString(QStringLiteral("Could NOT Save File to Disk!\n")
                               + QStringLiteral("Please input valid co-efficients which can be solved, then save the file.")),
                   QStringLiteral("WARNING"));
            return;
        }
    }
    QString selected;
    const QString name = Prompter::instance()->saveFile(QStringLiteral("Save File As"), m_lastDirectory,
                                                        QLatin1String(kFilter), &selected);
    if (name.isEmpty() || !isEquationName(name))
        return;
    m_lastDirectory = QFileInfo(name).absolutePath();
    m_doc.setFileName(EquationDocument::currentNameFor(name));
    savetoFile(EquationFile::isBinaryName(m_doc.fileName()));
    updateTitle();
}

void tarvix::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedEquationFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void tarvix::dropEvent(QDropEvent *event)
{
    const QStringList files = droppedEquationFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    for (int i = 0; i < files.size(); ++i) {
        if (i == 0) {
            // Like File > Open: ignored while a recording is under way.
            if ((!m_quiet && undoEnabledQuery() && undoBusyQuery()) || !checkSaved())
                continue;
            openRecorded(files.at(0));
        } else {
            auto *w = new tarvix(files.at(i));
            w->show();
        }
    }
}

void tarvix::openFile(const QString &path, bool freshAllocation, bool *failed)
{
    WindowFiles(*this).openFile(path, freshAllocation, failed);
}

void tarvix::savetoFile(bool binary)
{
    WindowFiles(*this).savetoFile(binary);
}

bool tarvix::importRecorded(const QString &path, const QString &rhsPath)
{
    return WindowFiles(*this).importRecorded(path, rhsPath);
}

void tarvix::on_actionImport_triggered()
{
    WindowFiles(*this).importChosen();
}

void tarvix::on_actionExport_triggered()
{
    WindowFiles(*this).exportSystem(false);
}

void tarvix::on_actionExport_Solution_triggered()
{
    WindowFiles(*this).exportSystem(true);
}
