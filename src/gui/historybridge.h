#ifndef HISTORYBRIDGE_H
#define HISTORYBRIDGE_H

#include <QObject>
#include <QString>

class QThread;
class UndoRedo;
class tarvix;

// Between a window's document and its undo recorder, which runs on a thread
// of its own and writes below folder(). Each request the window sends it
// (the action signals, undo, redo, resumeWindow) is counted and waited for
// before the window goes on, so every snapshot shows the state right after
// its action. A cell edit, reported from inside the table's editor, is
// served by the event loop and waited for before the next command does its
// own work. While the recorder is served (it waits for a snapshot) nothing
// waits for it: that wait would never end.
class HistoryBridge : public QObject
{
    Q_OBJECT
public:
    explicit HistoryBridge(tarvix &window);

    // Makes the window folder and starts the recorder; stop ends it (after
    // the window's terminateApp) and deletes it.
    void start();
    void stop();
    // Whether the window folder was made for this window (it records a
    // first state then; a resumed folder has its own).
    bool freshHistory() const { return m_freshHistory; }
    UndoRedo *recorder() const { return m_recorder; }
    // Whoever answers the queries: the recorder or a stand-in (tests).
    bool answered() const { return m_undo != nullptr; }
    void setStandIn(QObject *recorder);
    QString folder() const;

    // Waits, handling the recorder's requests but no user input, until the
    // recorder has finished every request sent to it and the copy of an
    // opened file (copy false: the requests only).
    void await();
    void awaitRequests(bool copy = false);
    // True while the recorder works on a request of this window or the
    // window serves or waits for it.
    bool busy() const;
    bool enabledQuery();
    bool busyQuery();
    // Has the recorder write the window's session file once both are idle.
    void saveWindow();

    // Undo (false) or Redo (true) of the window.
    void step(bool redo);
    // The recorder's snapshot writer and reader (on the window's thread
    // while the recorder waits). The kind of a snapshot is its folder's name.
    void saveSnapshot(QString path, bool *result);
    void readSnapshot(QString path, bool *result, bool redo);

private:
    void connectRecorder(QObject *recorder);
    // One of the window's blocking queries, once the recorder is idle.
    bool ask(void (tarvix::*query)(bool *));
    bool readMetaRecord(const QString &path, QString *fileName, double *current, double *custom, int n);

    tarvix &w;
    UndoRedo *m_recorder = nullptr;
    QObject *m_undo = nullptr;   // answers the queries (the recorder or a stand-in)
    QThread *m_undoThread = nullptr;
    int m_serving = 0;
    // True while await waits; a wait started inside it (a queued call it
    // delivered) leaves the waiting to the outer one.
    bool m_awaiting = false;
    bool m_freshHistory = true;
};

#endif
