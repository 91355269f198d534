#ifndef WINDOWFILES_H
#define WINDOWFILES_H

#include <QString>

class QMessageBox;
class tarvix;

// A window's file commands on its document: Open, Save, Import and Export
// with the progress box that comes up when they take a moment, the view
// following a replaced system, and the messages that name what went wrong.
// While the history drives the window (it is quiet) nothing is shown.
class WindowFiles
{
public:
    explicit WindowFiles(tarvix &window) : w(window) {}

    // See tarvix::openFile, tarvix::savetoFile, tarvix::importRecorded.
    void openFile(const QString &path, bool freshAllocation, bool *failed);
    void savetoFile(bool binary);
    bool importRecorded(const QString &path, const QString &rhsPath);
    // File > Import...: the file (and a square matrix's right-hand side)
    // chosen, then importRecorded.
    void importChosen();
    // Export of the system (augmented, one file) or of the current solution.
    void exportSystem(bool solution);
    // Writes the window's system to path; false when the writer failed.
    bool writeContent(const QString &path, bool binary, QString *error = nullptr);

private:
    struct FileFeedback;
    // A message box without buttons shown while a long operation runs.
    QMessageBox *showWaitBox(const QString &title, const QString &text);
    // The view follows the document's arrays after they were replaced.
    void showSystem();

    tarvix &w;
};

#endif
