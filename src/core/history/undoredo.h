#ifndef UNDOREDO_H
#define UNDOREDO_H

#include "threads/mythreads.h"

#include <QList>
#include <QMap>
#include <QString>

#include <atomic>
#include <memory>

// The undo recorder of one main window. It lives on a pooled thread of its
// own and keeps the window's action list: entry 0 is the start of history,
// then the recorded actions, with exactly one position marker (1 at the live
// end, 4 after an undo, 5 after a redo). Entries left of the marker are
// applied, entries right of it can be redone. Every recorded action has a
// snapshot on disk under the window folder (see the file map); the window
// writes and reads those snapshots on its own thread when asked through the
// blocking SaveHistory and ReadHistory signals.
//
// Window folder: <appData>/Tarvix/Sessions/<session>/<window name>, with the
// kind folders NEW, OPEN, INC_VAR, DEC_VAR, N_VAR, TEXT, CUT, PASTE, CLEAR.
// Snapshot references (file map values) are relative to the window folder:
//   "<KIND>/<k>.btrx"            NEW, INC_VAR, DEC_VAR, N_VAR, CUT, PASTE,
//                                CLEAR and the first edit of a text run
//   "OPEN/<k>.btrx" or ".trx"    a byte copy of the opened file
//   "TEXT/<n>.btrx.btrx<m>"      a further edit of text run n: line m - 1
//                                of the run's edit log "TEXT/<n>.btrx.btrx"
//   "NEW/0.btrx"                 the state the window was built with, the
//                                snapshot of the start entry (key 0)
// Every snapshot but NEW has a meta-data companion: the name plus ".md".
class UndoRedo : public TrxWorker
{
    Q_OBJECT
public:
    enum Kind {
        Start = 0, Live = 1, NewKind = 2, OpenKind = 3, Undone = 4, Redone = 5,
        IncVar = 6, DecVar = 7, NVar = 8, TextKind = 9, CutKind = 10, PasteKind = 11,
        ClearKind = 12
    };

    // simple: the window uses the table view. windowName: the last
    // component of the window folder ("Window 1").
    UndoRedo(bool simple, const QString &windowName, QObject *parent = nullptr);
    ~UndoRedo() override;

    // <appData>/Tarvix/Sessions/<current session>/<windowName>.
    static QString folderFor(const QString &windowName);
    // Creates the window folder with its nine kind folders when it does not
    // exist yet. False: it could not be created.
    static bool createFolders(const QString &windowFolder);
    // "NEW", "OPEN", ... for the action kinds, empty for the markers.
    static QString kindFolder(int kind);
    // "INCREASE VARIABLES BY 1", ... (empty for the markers).
    static QString displayName(int kind);
    static bool isAction(int kind) { return kind == 2 || kind == 3 || (kind >= 6 && kind <= 12); }
    static bool isMarker(int kind) { return kind == 1 || kind == 4 || kind == 5; }
    // The kind of a snapshot path, taken from the name of the folder the
    // file lies in (never from the rest of the path, which holds the session
    // and window names): a kind value, or -1 when the folder is none of the
    // kind folders. A ".md" name is a meta-data record of that kind.
    static int kindOfPath(const QString &path);
    // True when path names one line of a text run's edit log (optionally
    // followed by "*").
    static bool isEditLine(const QString &path);

    QString windowFolder() const;
    QString windowName() const { return m_windowName; }
    bool isSimple() const { return m_simple; }

    // Requests in flight. The window counts each queued request before it
    // is posted (requestQueued, any thread) and the recorder counts it off
    // when the slot has finished, after its last signal to the window; the
    // window waits for zero before it goes on. This keeps every snapshot
    // equal to the state right after its action.
    void requestQueued() { m_inFlight.fetch_add(1); }
    int requestsInFlight() const { return m_inFlight.load(); }
    // True while the copy of an opened file is under way. OPEN is recorded
    // (its meta-data record and its entry) at once and the copy made on a
    // thread of its own, so the window shows the file and goes on; the
    // window waits for the copy before its next command, and every request
    // that may need the copy waits for it here.
    bool copying() const { return m_copying.load(); }

    // Read only while no request is in flight (tests, diagnostics).
    QList<int> actions() const { return *m_actions; }
    QMap<int, QString> fileMap() const { return *m_files; }
    int position() const { return m_position; }

signals:
    void undoFinished();
    void newB();
    void openB(QString filePath);
    void incVar();
    void decVar();
    void nVar(int);
    void setCellData(int r, int c, double d);
    void setLEData(double d);
    void setTableData(QString filePath);
    void getTableData(QString filePath);
    void scrollToCell(int row, int col);
    void StatusBarMsg(QString msg, int time);
    void SaveHistory(QString path, bool *result);
    void ReadHistory(QString path, bool *result, bool redo);

public slots:
    void Initialise();
    // Records the state the window was built with as the start entry's
    // snapshot, so that its first action can be undone. Nothing happens in
    // a folder that already holds one (a window about to be resumed).
    void InitialState();
    void DeInitialise();
    void resumeWindow(QString path);
    void saveWindowSession();
    // The state flags are atomics: these three may be called from the
    // window's thread directly, so that a query never waits for a recorder
    // that is itself waiting for the window.
    void isUndoEnabled(bool *b);
    void setUndoEnabled(bool b);
    void checkState(bool *b);
    void UndobClicked();
    void RedobClicked();
    void NewbClicked();
    void OpenbClicked(QString fileName);
    void IncVarbClicked();
    void DecVarbClicked();
    void N_VarbClicked();
    void CellChanged(int row, int col, QString curr, QString old);
    void EditbClicked(QString type);

private slots:
    // The copy thread has ended (queued to the recorder's thread).
    void copyDone();

private:
    class Request;
    struct Copy;
    // Waits for the copy of an opened file, reports it, and writes the
    // session file it held back.
    void settleCopy();
    // Empties the busy slot of a finished request and wakes the window.
    void requestDone();

    void prepare();
    void actionClicked(int kind, QString name);
    bool doUndo();
    bool doRedo();
    bool undoAction(int kind, QString name);
    bool redoAction(int kind, QString name);
    void checkHist1(int index, QString kindName);
    void checkHist2(int index, int count, QString name);
    // Number of entries of kind in the list (text: number of runs).
    int countOf(int kind) const;
    void record(int kind);
    void status(const QString &msg) { emit StatusBarMsg(msg, 2000); }
    // The lines of "Actions.sestrx" for a list, its file map and position.
    static QByteArray sessionText(const QList<int> &list, const QMap<int, QString> &files, int position);
    // A saved (named) session resumes to the latest state: its window file
    // is rewritten after every change of the history, and before files the
    // old one names are deleted. Unsaved sessions are written on saving.
    void keepSessionCurrent(const QList<int> &list, const QMap<int, QString> &files, int position);
    QString absolute(const QString &reference) const;
    void dump() const;

    bool m_simple;
    QString m_windowName;
    QList<int> *m_actions;
    QMap<int, QString> *m_files;
    int m_position = 1;
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_enabled{true};
    std::atomic<int> m_inFlight{0};
    // The history changed during the running request.
    bool m_changed = false;
    std::unique_ptr<Copy> m_copy;
    std::atomic<bool> m_copying{false};
    // The session file was not rewritten while the copy it names was
    // incomplete.
    bool m_sessionStale = false;
};

#endif
