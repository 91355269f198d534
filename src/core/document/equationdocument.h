#ifndef EQUATIONDOCUMENT_H
#define EQUATIONDOCUMENT_H

#include "solver/trust.h"
#include "store/equationstore.h"

#include <QHash>
#include <QString>

#include <functional>

class QObject;
struct SolveControl;

// What a window's system is, without any widget: the arrays, the name of the
// file they belong to, whether that file holds them (the saved flag), the
// trust record of the last solve and a count of the operations that use the
// arrays on other threads meanwhile. It opens and saves through the equation
// files and the interchange formats and solves through the one solve run
// (solveArrays), so a window, a hidden window, the benchmark and the console
// program compute the same way.
class EquationDocument
{
public:
    EquationDocument();
    EquationDocument(const EquationDocument &) = delete;
    EquationDocument &operator=(const EquationDocument &) = delete;

    EquationStore &store() { return m_store; }
    const EquationStore &store() const { return m_store; }
    const QString &fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }

    // The saved flag. Each open and save keeps a digest of what its file
    // holds (size, values and the solution set Save writes); after undo and
    // redo the flag is set only where the arrays again hold what the file
    // holds, or nothing at all without a file.
    bool isSaved() const { return m_saved; }
    void setSaved(bool saved) { m_saved = saved; }
    void markSaved();
    // The same with the digest the read or write of the file took
    // (Opened::print), instead of a pass over the arrays.
    void markSaved(quint64 print);
    void savedFromHistory();
    // The digest of what Save would write (ContentPrint::fold).
    quint64 contentPrint() const;
    // The solution set Save writes (the savedSolutionSet preference).
    double *solutionToSave() const;

    // Non-zero while threads use the arrays (a window cannot close then).
    int busy() const { return m_busy; }
    struct BusyScope
    {
        explicit BusyScope(EquationDocument &d) : doc(d) { ++doc.m_busy; }
        ~BusyScope() { --doc.m_busy; }
        EquationDocument &doc;
    };

    // How the caller stays informed while a file operation runs: poll is
    // called between the pipelines' steps (a window paints and shows its
    // progress box there), errorReceiver receives the pipelines' errors
    // (an object with the slot errMsg(QString*, QString*, QString)), and
    // replacing (may be empty) is called just before the arrays are
    // replaced by those of a complete read.
    struct Feedback
    {
        std::function<void()> poll;
        QObject *errorReceiver = nullptr;
        std::function<void()> replacing;
    };

    // Opening: the header and the size check come first, then the content
    // goes into fresh arrays, which replace the document's own only when
    // the read is complete; anything else leaves the document as it was.
    enum class OpenResult { Opened, Unreadable, Corrupt, Refused };
    struct Opened
    {
        OpenResult result = OpenResult::Unreadable;
        QString error;   // why the file could not be opened (Unreadable)
        quint64 print = 0;   // contentPrint() of the arrays as read (open, Opened)
        bool ok() const { return result == OpenResult::Opened; }
    };
    // A .trx or .btrx file: takes the file's name (currentNameFor) and its
    // solution as the current one. Refused: the size did not pass the
    // memory question.
    Opened open(const QString &path, const Feedback &feedback);
    // A .mtx or .csv system (rhsPath: the right-hand side of an N x N
    // Matrix Market matrix, else empty): no file name, not saved.
    Opened import(const QString &path, const QString &rhsPath, const Feedback &feedback);

    // Writes the arrays to path (.trx or .btrx by binary); false with *error
    // when the writer failed. print, when given, receives contentPrint() of
    // what was written, taken by the writer.
    bool write(const QString &path, bool binary, const Feedback &feedback, QString *error = nullptr,
               quint64 *print = nullptr);
    // Save to the document's file: the previous file is kept as name.old
    // and the new content replaces the file only when complete.
    struct Saved
    {
        bool ok = false;
        bool created = false;   // the file could be created at all
        bool existed = false;   // a previous file was there
        QString error;
    };
    Saved save(bool binary, const Feedback &feedback);
    // The system (and, with solution, the current solution as an N x 1
    // column) in a format of other tools, by the name's extension. The
    // file name and the saved flag stay.
    QString exportTo(const QString &path, const QString &rhsPath) const;
    QString exportSolution(const QString &path) const;

    // Solves the arrays through solveArrays with the preferences' worker
    // settings: the answer becomes the custom and current solution, the
    // saved flag drops when what Save writes changed. Returns the status
    // word (3: cancelled, nothing changed).
    int solve(const int *columnZeros, SolveControl *control, QObject *errorReceiver);
    const SolveTrust &lastTrust() const { return m_trust; }
    // Where the last elimination ran when not on this computer's workers.
    void setEliminationNote(const QString &note) { m_eliminationNote = note; }

    // The name a file is kept under: absolute folder, "/", the name up to its
    // first dot and ".btrx" or ".trx" by kind.
    static QString currentNameFor(const QString &path);

private:
    // write, for a file flushed to disk once complete when durable.
    bool writeFile(const QString &path, bool binary, const Feedback &feedback, QString *error, quint64 *print,
                   bool durable);

    EquationStore m_store;
    QString m_fileName;
    bool m_saved = true;
    QHash<QString, quint64> m_filePrints;   // file name -> contentPrint() at its last open or save
    int m_busy = 0;
    SolveTrust m_trust;
    QString m_eliminationNote;
};

#endif
