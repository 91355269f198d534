#ifndef TARVIX_H
#define TARVIX_H

#include "document/equationdocument.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

class AnalyseDialog;
class FancyGrid;
class HistoryBridge;
class MyDelegate;
class MyTableModel;
class QTableView;
class UndoRedo;

namespace Ui {
class tarvix;
}

// The main window: the view and the commands of one equation system. Any
// number of windows live in one process and share the window list.
//
// What the system is (arrays, file name, saved flag, trust record, busy
// count) lives in EquationDocument (core/document), which also opens, saves
// and solves it; the window holds one. Where the rest lives:
// - tarvix.cpp: construction, destruction, New, the window list, close
//   handling, the table view, the recorder frame of every command;
// - historybridge.h: the recorder, its requests and the waiting rules, the
//   snapshots and Undo/Redo;
// - tarvix_file.cpp (the work in windowfiles.h): Open, Save, Save As,
//   Import, Export, drag and drop;
// - tarvix_solve.cpp: Solve and stealth solving (devices in
//   opencl/devicehooks.h);
// - tarvix_variables.cpp, tarvix_edit.cpp (elementedit.h), tarvix_fancy.cpp,
//   tarvix_sessions.cpp, tarvix_analysis.cpp, tarvix_options.cpp: the
//   variable count, element edits, the field grid, sessions, analysis,
//   Options (the benchmark and optimisation in options/benchharness.h);
// - about/helpdesk.h: Help and the update check; shareddialogs.h: the
//   dialogs and the copy buffer all windows share.
class tarvix : public QMainWindow
{
    Q_OBJECT
public:
    // path: a file to open at once (empty for a new system). hidden: the
    // window variant without form, view or recorder that is never shown
    // (stealth solving and the benchmark).
    explicit tarvix(const QString &path = QString(), bool hidden = false, QWidget *parent = nullptr);
    ~tarvix() override;

    // Every visible window, in construction order.
    static const QList<tarvix *> &windows();
    static int windowsEverMade();

    // The window's system, its file name and saved flag.
    EquationDocument &document() { return m_doc; }
    EquationStore &store() { return m_store; }
    QString windowName() const { return m_windowName; }
    QString currentFileName() const { return m_doc.fileName(); }
    // The benchmark and the thread optimisation name their hidden windows
    // "%optimise%" so that Solve asks nothing.
    void setCurrentFileName(const QString &name) { m_doc.setFileName(name); }
    QString lastDirectory() const { return m_lastDirectory; }
    bool isHiddenWindow() const { return m_hidden; }
    bool isFancy() const { return m_fancy; }
    bool isQuiet() const { return m_quiet; }
    bool isSaved() const { return m_doc.isSaved(); }
    // Milliseconds the last solve spent in the solver dialogs.
    int dialogTime() const { return m_dialogTime; }
    MyTableModel *tableModel() const { return m_model; }
    QTableView *tableView() const { return m_view; }
    void updateTitle();

    // Gives the system newN unknowns, all values lost: the model is locked,
    // the arrays are released and allocated again and the view follows. The
    // caller sets the allocated count afterwards (and runs New unless a
    // file is being read). False: allocation failed.
    bool resizeSystem(int newN);

    // Recorder queries; without a recorder nothing is recorded.
    bool undoEnabledQuery();
    bool undoBusyQuery();
    // The frame of every command that changes the system: false when the
    // command has to be ignored (the recorder is busy). *undoWas receives
    // whether recording was on; the recorder is switched off meanwhile.
    bool beginCommand(bool *undoWas);
    void endCommand(bool undoWas);
    // Stands in a recorder object; its slots answer the blocking queries.
    // Used where a window runs without its own recorder (tests). The
    // window's own recorder stops receiving the window's requests.
    void setRecorder(QObject *recorder);
    friend class HistoryBridge;

    // ---- History (historybridge.h): the window's side of its recorder.
    UndoRedo *recorder() const;
    QString historyFolder() const;
    void awaitRecorder();
    // Commits a cell editor that is still open, so that commands read the
    // value the user typed (and the edit is recorded first).
    void commitOpenEditor();
    // A session save has to wait while this is true (see HistoryBridge::busy).
    bool withRecorder() const;

    // Files (tarvix_file.cpp, the work in windowfiles.h).
    void openFile(const QString &path, bool freshAllocation, bool *failed);
    void savetoFile(bool binary);
    bool checkSaved();
    // Opens path the way File > Open does once a name is chosen: recording
    // off meanwhile, the title, and an OPEN step for the recorder unless
    // the open failed. True: opened.
    bool openRecorded(const QString &path);
    // Import: a .mtx or .csv system (rhsPath: the right-hand side of a
    // square Matrix Market matrix) replaces the window's like Open, without
    // a file name, and is recorded as an OPEN step. True: imported.
    bool importRecorded(const QString &path, const QString &rhsPath);
    // The shortest text that reads back as exactly v (how the history logs
    // a cell's old and new value).
    static QString roundTripText(double v);

    // Sessions (tarvix_sessions.cpp): resumes this window from a window
    // folder of a saved session; whether any window reads, writes or solves.
    void resumeFrom(const QString &windowFolder);
    static bool anyWindowBusy();
    // Whether the window's history holds its every change: recording is on,
    // no change went unrecorded (a failed backup) and no solve computed a
    // solution. Only such a window can rely on a saved session instead of
    // asking on Close.
    bool changesRecorded();
    void noteUnrecordedChange() { m_unrecorded = true; }
    // Scripted checks of a resumed session (never in a normal run): writes
    // every window's data, then after one redo and one undo, to path and
    // closes every window without questions.
    static void reportSessionAndClose(const QString &path);

    // Solving (tarvix_solve.cpp).
    // How far the last solution can be trusted: method, backward error, HPL
    // ratio, condition estimate, refinement steps (for the analysis dialog).
    const SolveTrust &lastTrust() const { return m_doc.lastTrust(); }

    // Analysis (tarvix_analysis.cpp): the window's analysis dialog, made when
    // it is first opened (null until then; hidden windows use a passing one).
    AnalyseDialog *analyseDialog() const { return m_analyse; }

public slots:
    void on_newb_clicked();
    void on_actionNew_Window_triggered();
    void on_actionClose_All_Except_This_triggered();
    void on_actionClose_All_triggered();
    void on_undob_clicked();
    void on_redob_clicked();
    void on_analyseb_clicked();

    void on_openb_clicked();
    void on_saveb_clicked();
    void on_actionSave_As_triggered(bool saveb = false);
    void on_actionImport_triggered();
    void on_actionExport_triggered();
    void on_actionExport_Solution_triggered();

    void on_solveb_clicked();
    void on_actionSolve_in_Stealth_mode_triggered();

    void on_incvarb_clicked();
    void on_decvarb_clicked();
    void on_actionVariables_n_triggered();
    // The history replay sets a count directly: no question, no dialog.
    void n_Var(int n);

    void on_actionSave_Session_triggered();
    void on_actionSave_Session_and_Exit_triggered();
    void on_actionSession_Manager_triggered();

    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();
    void on_actionClear_triggered();

    void errMsg(QString *errTitle, QString *errTxt, QString errorType);
    void StatusBarMsg(QString msg, int time);
    void scrollToCell(int row, int col);
    void cellChanged(int row, int col, QString currs);
    void undoFinished();
    void saveWindowToFile();
    // The recorder's snapshot writer and reader (run on this thread while
    // the recorder waits). The kind of a snapshot is the name of its folder.
    void saveHistToFile(QString path, bool *result);
    void readHistFromFile(QString path, bool *result, bool redo);

signals:
    void terminateApp();
    void resumeWindow(QString path);
    void saveWindow();
    void isUndoEnabled(bool *b);
    void setUndoState(bool b);
    void checkUndoState(bool *b);
    void newbClicked();
    void openbClicked(QString path);
    void undobClicked();
    void redobClicked();
    void incvarbClicked();
    void decvarbClicked();
    void nvarbClicked();
    void textChanged(int row, int col, QString curr, QString old);
    void editbClicked(QString type);
    // The window is built: its recorder keeps this state as the start.
    void initialStateBuilt();

    // Help, About and the update check (about/helpdesk.h).
public slots:
    void on_actionHelp_triggered();
    void on_actionAbout_triggered();
    // quiet: the daily check (status bar unless there is news).
    void on_actionCheck_for_Updates_triggered(bool quiet);
public:
    bool checkUpdateLog();
    static void setShippedHelpFile(const QString &path);

    // Options, the thread optimisation and the benchmark cycle.
public:
    // Tunes threadLimits by timing solves of random systems; true when it
    // stopped at maxN variables or budgetMs milliseconds before finding
    // every threshold (those found are kept).
    bool optimiseThreads(int maxN, int budgetMs);
    // One timed cycle for n variables: *times gets Initialise, Generate,
    // Save, Open and Solve in milliseconds (fewer when the file could not
    // be written or read), *file the benchmark file.
    // stealth: this is a hidden window, and a second one opens and solves.
    void benchmark(int n, bool binary, QList<int> *times, QString *file, bool stealth = false);
    void benchmarkStealth(int n, bool binary, QList<int> *times, QString *file)
    {
        benchmark(n, binary, times, file, true);
    }
public slots:
    void on_actionOptions_triggered();
private:
    friend class BenchHarness;
    friend class WindowFiles;

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildForm();
    void buildTableView();
    void lastWindowTearDown();
    // The recorder part of a command's frame: *undoWas receives whether
    // recording is on; false when the recorder is busy (ignore the command).
    bool recorderReady(bool *undoWas);
    // Screen updates of the equation area.
    void setAreaUpdates(bool on);
    // Gives the system newN unknowns (all values lost). The new arrays are
    // allocated before the old ones go, so a failed allocation ends the
    // process while the window still holds its complete system.
    void changeCount(int newN);
    void applyCount(int newN, bool undoWas);
    // Cut, Copy, Paste and Clear ('x', 'c', 'v', 'd').
    void editElement(char operation);
    // The analysis dialog of this window (modal for the stealth solve).
    void openAnalysis(bool modal);
    // Fields of the fancy grid into the arrays and back.
    void fancyToArrays();
    void arraysToFancy();
    bool validateSystem();
    bool validForSaving();
    // Solves the document with the solver dialog, the devices and the
    // progress box; the status word of the solve.
    int solveDocument(const int *columnZeros);


    Ui::tarvix *ui = nullptr;
    MyTableModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    MyDelegate *m_delegate = nullptr;
    HistoryBridge *m_history = nullptr;   // with the recorder; none in a hidden window

    EquationDocument m_doc;
    EquationStore &m_store = m_doc.store();
    QString m_windowName;
    QString m_lastDirectory;
    bool m_hidden;
    bool m_fancy = false;
    bool m_quiet = false;
    int m_dialogTime = 0;
    bool m_lastWriteFailed = false;
    AnalyseDialog *m_analyse = nullptr;   // a child of the window
    bool m_unrecorded = false;   // a change the history does not hold

    // The fancy interface (tarvix_fancy.cpp): the field grid with its pan
    // controls, and the edits typed into its fields.
public:
    FancyGrid *fancyGrid() const { return m_grid; }
public slots:
    // A field's editing finished: the value goes into the arrays and the
    // edit to the recorder. column == N is the right-hand side.
    void leditChanged(int equation, int column, QString text);
private:
    void buildFancyView();
    FancyGrid *m_grid = nullptr;
};

#endif
