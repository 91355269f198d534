// The bridge between a window's document and its undo recorder.
#include "historybridge.h"

#include "tarvix.h"
#include "ui_tarvix.h"

#include "files/atomicfile.h"
#include "files/equationfile.h"
#include "files/filestring.h"
#include "history/undoredo.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "threads/mythreads.h"

#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <functional>
#include <thread>
#include <vector>

namespace {

const QString kRetrieveFailed = QStringLiteral("Failed to retrieve data from backup!");
const QString kRetrieved = QStringLiteral("Successfully retrieved data from backup!");
const QString kRetrieveTitle = QStringLiteral("ERROR: Failed to retrieve data from backup!");

// Writes one small record through a data stream; the file appears only when
// complete. *status receives the stream status.
bool writeRecord(const QString &path, const std::function<void(QDataStream &)> &fill, QString *error, int *status)
{
    const AtomicFile::Result r = AtomicFile::replace(path, [&](const QString &temp, QString *why) {
        QFile f(temp);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *why = f.errorString();
            return false;
        }
        QDataStream out(&f);
        fill(out);
        *status = out.status();
        const bool ok = out.status() == QDataStream::Ok && f.flush() && f.size() > 0;
        if (!ok && why->isEmpty() && f.error() != QFileDevice::NoError)
            *why = f.errorString();
        return ok;
    });
    if (!r.ok)
        *error = r.error;
    return r.ok;
}

// One parsed edit log line.
struct EditLine
{
    int row = 0;
    int col = 0;
    double oldValue = 0.0;
    double newValue = 0.0;
};

bool parseEditLine(const QString &line, EditLine *e)
{
    const QStringList f = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (f.size() != 4)
        return false;
    bool ok[4] = {false, false, false, false};
    e->row = f.at(0).toInt(&ok[0]);
    e->col = f.at(1).toInt(&ok[1]);
    ok[2] = MyTableModel::parseCell(f.at(2), &e->oldValue);
    ok[3] = MyTableModel::parseCell(f.at(3), &e->newValue);
    return ok[0] && ok[1] && ok[2] && ok[3];
}

}

// ------------------------------------------------------------- lifetime

HistoryBridge::HistoryBridge(tarvix &window) : QObject(&window), w(window)
{
}

QString HistoryBridge::folder() const
{
    return m_recorder ? m_recorder->windowFolder() : UndoRedo::folderFor(w.m_windowName);
}

void HistoryBridge::start()
{
    // A window made for a saved folder (to resume it) records no first state.
    m_freshHistory = !QFileInfo::exists(UndoRedo::folderFor(w.m_windowName));
    if (!UndoRedo::createFolders(UndoRedo::folderFor(w.m_windowName)))
        qWarning("error no: TRX16 - %s", qUtf8Printable(UndoRedo::folderFor(w.m_windowName)));
    qRegisterMetaType<bool *>("bool*");
    m_recorder = new UndoRedo(!w.m_fancy, w.m_windowName);
    m_undo = m_recorder;
    connectRecorder(m_recorder);
    connect(m_recorder, &UndoRedo::undoFinished, &w, &tarvix::undoFinished);
    connect(m_recorder, &UndoRedo::incVar, &w, &tarvix::on_incvarb_clicked);
    connect(m_recorder, &UndoRedo::decVar, &w, &tarvix::on_decvarb_clicked);
    connect(m_recorder, &UndoRedo::nVar, &w, &tarvix::n_Var);
    connect(m_recorder, &UndoRedo::newB, &w, &tarvix::on_newb_clicked);
    connect(m_recorder, &UndoRedo::StatusBarMsg, &w, &tarvix::StatusBarMsg);
    connect(m_recorder, &UndoRedo::SaveHistory, &w, &tarvix::saveHistToFile, Qt::BlockingQueuedConnection);
    connect(m_recorder, &UndoRedo::ReadHistory, &w, &tarvix::readHistFromFile, Qt::BlockingQueuedConnection);
    if (w.m_model) {
        connect(m_recorder, &UndoRedo::setCellData, w.m_model, &MyTableModel::setCellData,
                Qt::BlockingQueuedConnection);
        connect(m_recorder, &UndoRedo::scrollToCell, &w, &tarvix::scrollToCell, Qt::BlockingQueuedConnection);
    }
    // Initialise runs when the thread starts; nothing is recorded before.
    m_recorder->requestQueued();
    m_undoThread = MyThreads::start(m_recorder, SLOT(Initialise()),
                                    w.m_fancy ? QStringLiteral("Tarvix::Undo fancy")
                                            : QStringLiteral("Tarvix::Undo simple"));
    await();
}

void HistoryBridge::connectRecorder(QObject *recorder)
{
    auto *rec = static_cast<UndoRedo *>(recorder);
    connect(&w, &tarvix::terminateApp, rec, &UndoRedo::DeInitialise);
    connect(&w, &tarvix::saveWindow, rec, &UndoRedo::saveWindowSession, Qt::BlockingQueuedConnection);
    // The state flags are atomics read in place: a query never waits for a
    // recorder that might itself be waiting for this thread.
    connect(&w, &tarvix::isUndoEnabled, rec, &UndoRedo::isUndoEnabled, Qt::DirectConnection);
    connect(&w, &tarvix::setUndoState, rec, &UndoRedo::setUndoEnabled, Qt::DirectConnection);
    connect(&w, &tarvix::checkUndoState, rec, &UndoRedo::checkState, Qt::DirectConnection);

    // Each request is counted before it is posted and waited for after.
    auto count = [rec] { rec->requestQueued(); };
#define TARVIX_REQUEST(signal, slot)                                                  \
    connect(&w, &tarvix::signal, rec, count, Qt::DirectConnection);                 \
    connect(&w, &tarvix::signal, rec, &UndoRedo::slot, Qt::QueuedConnection);       \
    connect(&w, &tarvix::signal, this, &HistoryBridge::await, Qt::DirectConnection)
    TARVIX_REQUEST(resumeWindow, resumeWindow);
    TARVIX_REQUEST(newbClicked, NewbClicked);
    // The opened file's copy goes on after the request: the window shows
    // the file meanwhile; its next command waits for the copy (await).
    connect(&w, &tarvix::openbClicked, rec, count, Qt::DirectConnection);
    connect(&w, &tarvix::openbClicked, rec, &UndoRedo::OpenbClicked, Qt::QueuedConnection);
    connect(&w, &tarvix::openbClicked, this, [this] { awaitRequests(); }, Qt::DirectConnection);
    TARVIX_REQUEST(undobClicked, UndobClicked);
    TARVIX_REQUEST(redobClicked, RedobClicked);
    TARVIX_REQUEST(incvarbClicked, IncVarbClicked);
    TARVIX_REQUEST(decvarbClicked, DecVarbClicked);
    TARVIX_REQUEST(nvarbClicked, N_VarbClicked);
    TARVIX_REQUEST(editbClicked, EditbClicked);
    TARVIX_REQUEST(initialStateBuilt, InitialState);
#undef TARVIX_REQUEST
    // A cell edit arrives from inside the table's editor handling, where
    // handling other events could delete the editor under it: it is not
    // waited for here; the event loop serves it, and every command waits
    // for it before its own work.
    connect(&w, &tarvix::textChanged, rec, count, Qt::DirectConnection);
    connect(&w, &tarvix::textChanged, rec, &UndoRedo::CellChanged, Qt::QueuedConnection);
}

void HistoryBridge::setStandIn(QObject *recorder)
{
    if (m_recorder && recorder != m_recorder) {
        // The stand-in takes every request; the recorder keeps only its end.
        disconnect(&w, nullptr, m_recorder, nullptr);
        connect(&w, &tarvix::terminateApp, m_recorder, &UndoRedo::DeInitialise);
    }
    m_undo = recorder;
}

void HistoryBridge::stop()
{
    if (!m_recorder)
        return;
    // DeInitialise (sent by terminateApp) hands the recorder back to this
    // thread when it is done.
    while (m_undoThread && m_recorder->thread() != QThread::currentThread()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        ThreadSleep::msleep(1);
    }
    disconnect(&w, nullptr, m_recorder, nullptr);
    disconnect(m_recorder, nullptr, &w, nullptr);
    delete m_recorder;
    m_recorder = nullptr;
    m_undo = nullptr;
    m_undoThread = nullptr;
}

void HistoryBridge::await()
{
    awaitRequests(true);
}

void HistoryBridge::awaitRequests(bool copy)
{
    if (!m_recorder || m_serving > 0 || m_awaiting)
        return;
    m_awaiting = true;
    while (m_recorder->requestsInFlight() > 0 || (copy && m_recorder->copying()))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    m_awaiting = false;
    // Its last queued calls (status, undoFinished) were posted before it
    // counted the request off.
    QCoreApplication::sendPostedEvents(&w, QEvent::MetaCall);
}

bool HistoryBridge::busy() const
{
    return m_serving > 0 || m_awaiting
           || (m_recorder && (m_recorder->requestsInFlight() > 0 || m_recorder->copying()));
}

bool HistoryBridge::ask(void (tarvix::*query)(bool *))
{
    if (!m_undo)
        return false;
    await();
    bool b = false;
    emit (w.*query)(&b);
    return b;
}

bool HistoryBridge::enabledQuery()
{
    return ask(&tarvix::isUndoEnabled);
}

bool HistoryBridge::busyQuery()
{
    return ask(&tarvix::checkUndoState);
}

void HistoryBridge::saveWindow()
{
    // The session file is written by the recorder while this thread waits.
    // Asked while this thread serves the recorder (or waits for it), the
    // save would wait for a recorder that waits for this thread: it comes
    // back once both are idle.
    if (m_serving > 0 || m_awaiting) {
        QTimer::singleShot(100, this, &HistoryBridge::saveWindow);
        return;
    }
    // A recording still under way needs this thread first.
    await();
    emit w.saveWindow();
}

// --------------------------------------------------------- undo and redo

void HistoryBridge::step(bool redo)
{
    if (w.m_quiet || !m_undo)
        return;
    w.commitOpenEditor();
    if (!enabledQuery() || busyQuery())
        return;
    w.setAreaUpdates(false);
    w.m_quiet = true;
    w.m_store.allocated = w.m_store.N;
    if (redo)
        emit w.redobClicked();
    else
        emit w.undobClicked();
    await();
    if (m_undo != m_recorder)
        w.m_quiet = false;   // a stand-in never answers with undoFinished
    else
        w.m_doc.savedFromHistory();
    w.setAreaUpdates(true);
    w.updateTitle();
}

// --------------------------------------------------------------- snapshots

// Counts the window as serving its recorder for one scope.
namespace {
struct Serving
{
    explicit Serving(int &c) : count(c) { ++count; }
    ~Serving() { --count; }
    int &count;
};
}

void HistoryBridge::saveSnapshot(QString path, bool *result)
{
    const Serving serving(m_serving);
    w.StatusBarMsg(QStringLiteral("Please wait while Tarvix is creating a backup of the data..."), 0);
    *result = false;
    if (QFile::exists(path)) {
        qWarning("error no: TRX14 - %s", qUtf8Printable(path));
        QFile::remove(path);
    }
    if (w.m_fancy)
        w.fancyToArrays();
    const int kind = UndoRedo::kindOfPath(path);
    const int n = w.m_store.N;
    QString error;
    int status = 0;
    auto meta = [this, n](QDataStream &out) {
        FileString::writeMetaData(out, w.m_doc.fileName(), w.m_store.currentSol, w.m_store.customSol, n);
    };
    const bool withMeta = kind == UndoRedo::IncVar || kind == UndoRedo::DecVar || kind == UndoRedo::NVar
                          || kind == UndoRedo::TextKind || kind == UndoRedo::CutKind
                          || kind == UndoRedo::PasteKind || kind == UndoRedo::ClearKind;
    // The meta-data record is taken now and written on a thread of its own
    // while the snapshot is written here: the two reach the disk together
    // instead of one flush after the other.
    const QString md = path + QStringLiteral(".md");
    QByteArray metaBytes;
    int metaStatus = 0;
    AtomicFile::Result metaWritten;
    std::thread metaWriter;
    if (withMeta) {
        if (QFile::exists(md)) {
            qWarning("error no: TRX15 - %s", qUtf8Printable(md));
            QFile::remove(md);
        }
        QDataStream out(&metaBytes, QIODevice::WriteOnly);
        meta(out);
        metaStatus = out.status();
        if (metaStatus == QDataStream::Ok)
            metaWriter = std::thread([&] { metaWritten = AtomicFile::writeBytes(md, metaBytes); });
    }
    bool ok = false;
    switch (kind) {
    case UndoRedo::OpenKind:
        // The copy of the opened file is the recorder's; this is its record.
        ok = writeRecord(path, meta, &error, &status);
        break;
    case UndoRedo::NewKind:
    case UndoRedo::IncVar:
    case UndoRedo::DecVar:
    case UndoRedo::NVar:
        ok = writeRecord(path, [n](QDataStream &out) { FileString::writeHeaderRecord(out, n); }, &error, &status);
        break;
    case UndoRedo::TextKind:
    case UndoRedo::CutKind:
    case UndoRedo::PasteKind:
    case UndoRedo::ClearKind: {
        const AtomicFile::Result r = AtomicFile::replace(path, [this, n](const QString &temp, QString *) {
            EquationFile::Options options;
            options.processors = UserPrefs::getProcessorCount();
            options.durable = true;
            options.poll = [] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
            const EquationDocument::BusyScope busy(w.m_doc);
            const EquationFile::Outcome out =
                EquationFile::writeBinary(temp, w.m_store.coef, w.m_store.rhs, w.m_store.fileSol, n, options);
            return !out.failed && QFileInfo(temp).size() > 0;
        });
        ok = r.ok;
        error = r.error;
        break;
    }
    default:
        error = QStringLiteral("Unknown kind of backup: ") + path;
        break;
    }
    if (metaWriter.joinable())
        metaWriter.join();
    if (withMeta) {
        // Either record alone is no backup.
        if (ok && !metaWritten.ok) {
            ok = false;
            error = metaWritten.error;
            status = metaStatus;
            QFile::remove(path);
        } else if (!ok && metaWritten.ok) {
            QFile::remove(md);
        }
    }
    if (!ok) {
        QString text = QStringLiteral("Could NOT save backup of current data to disk!\n");
        if (!error.isEmpty())
            text += error + QLatin1Char('\n');
        if (status != 0)
            text += QStringLiteral("Status = ") + QString::number(status);
        w.noteUnrecordedChange();
        w.errMsg(new QString(QStringLiteral("ERROR: Backup failed!")), new QString(text), QStringLiteral("WARNING"));
    }
    *result = ok;
}

bool HistoryBridge::readMetaRecord(const QString &path, QString *fileName, double *current, double *custom, int n)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        w.StatusBarMsg(kRetrieveFailed, 2000);
        return false;
    }
    QDataStream in(&f);
    if (!FileString::readMetaData(in, n, fileName, current, custom)) {
        QString text = QStringLiteral("Could not retrieve backed up data from disk!\n") + f.errorString()
                       + QStringLiteral("\nStatus = ") + QString::number(in.status());
        w.errMsg(new QString(kRetrieveTitle), new QString(text), QStringLiteral("WARNING"));
        w.StatusBarMsg(kRetrieveFailed, 2000);
        return false;
    }
    return true;
}

void HistoryBridge::readSnapshot(QString path, bool *result, bool redo)
{
    const Serving serving(m_serving);
    *result = false;
    w.StatusBarMsg(QStringLiteral("Please wait while Tarvix is retrieving data from the backup..."), 0);
    if (QFileInfo(path).fileName() == QLatin1String("BEGIN")) {
        w.n_Var(2);
        *result = true;
        return;
    }
    const bool rebuild = path.endsWith(QLatin1Char('*'));
    if (rebuild)
        path.chop(1);
    const int kind = UndoRedo::kindOfPath(path);
    const bool editLine = kind == UndoRedo::TextKind && UndoRedo::isEditLine(path);
    const int logEnd = editLine ? path.lastIndexOf(QLatin1String(".btrx.btrx")) + 10 : -1;
    const QString first = kind == UndoRedo::OpenKind ? path + QStringLiteral(".md")
                          : editLine                 ? path.left(logEnd)
                                                     : path;
    if (kind < 0 || !QFile::exists(first)) {
        qWarning("error no: TRX15 - %s", qUtf8Printable(first));
        w.StatusBarMsg(kRetrieveFailed, 2000);
        return;
    }
    {
        QFile probe(first);
        if (!probe.open(QIODevice::ReadOnly)) {
            w.errMsg(new QString(kRetrieveTitle),
                   new QString(QStringLiteral("Could not retrieve backed up data from disk because file could not be "
                                              "opened!\n")
                               + probe.errorString()),
                   QStringLiteral("CRITICAL"));
            w.StatusBarMsg(kRetrieveFailed, 2000);
            return;
        }
    }

    // Everything is read and checked before the window changes, so a
    // damaged history leaves the window as it was.
    auto fail = [this] {
        w.StatusBarMsg(kRetrieveFailed, 2000);
        return;
    };
    QString snapshot = path;   // the equation file to open, if any
    int headerN = 0;
    switch (kind) {
    case UndoRedo::NewKind:
    case UndoRedo::IncVar:
    case UndoRedo::DecVar:
    case UndoRedo::NVar: {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return fail();
        QDataStream in(&f);
        if (!FileString::readHeaderRecord(in, &headerN))
            return fail();
        snapshot.clear();
        break;
    }
    default:
        if (editLine)
            snapshot = rebuild ? path.left(logEnd - 5) : QString();
        break;
    }

    // The edit log lines to replay.
    std::vector<EditLine> lines;
    if (editLine) {
        if (!w.m_model && !w.m_grid)
            return fail();   // replaying cells needs a view of them
        bool okM = false;
        const int m = path.mid(logEnd).toInt(&okM);
        const int i = m - 1 + (redo ? 0 : 1);
        QFile f(path.left(logEnd));
        if (!okM || m < 2 || !f.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail();
        QStringList all;
        for (const QByteArray &l : f.readAll().split('\n'))
            if (!l.trimmed().isEmpty())
                all.append(QString::fromUtf8(l));
        const int from = rebuild ? 1 : i;
        const int to = rebuild ? i - 1 : i;
        if (to > all.size() || (!rebuild && i < 1))
            return fail();
        for (int k = from; k <= to; ++k) {
            EditLine e;
            if (!parseEditLine(all.at(k - 1), &e))
                return fail();
            lines.push_back(e);
        }
    }

    // N after the step, for the meta-data record and the cell checks.
    int n = w.m_store.N;
    if (headerN > 0) {
        n = headerN;
    } else if (!snapshot.isEmpty()) {
        const EquationFile::Header h = EquationFile::readHeader(snapshot);
        if (!h.opened || h.corrupt) {
            w.errMsg(new QString(kRetrieveTitle),
                   new QString(QStringLiteral("Could not retrieve backed up data from disk!\n") + h.errorString),
                   QStringLiteral("WARNING"));
            return fail();
        }
        n = h.n;
    }
    for (const EditLine &e : lines)
        if (e.row < 0 || e.row >= n || e.col < 0 || e.col == n || e.col > n + 1)
            return fail();
    QString name;
    std::vector<double> current(static_cast<size_t>(n));
    std::vector<double> custom(static_cast<size_t>(n));
    const bool needMeta = kind != UndoRedo::NewKind && (!editLine || rebuild);
    if (needMeta) {
        const QString md = (editLine ? snapshot : path) + QStringLiteral(".md");
        if (!readMetaRecord(md, &name, current.data(), custom.data(), n))
            return;
    }

    // Apply.
    if (headerN > 0) {
        w.n_Var(headerN);
    } else if (!snapshot.isEmpty()) {
        bool failed = false;
        w.openFile(snapshot, false, &failed);
        if (failed || w.m_store.N != n) {
            w.errMsg(new QString(kRetrieveTitle),
                   new QString(QStringLiteral("Could not retrieve backed up data from disk!\n")),
                   QStringLiteral("WARNING"));
            return fail();
        }
    }
    if (needMeta) {
        w.m_doc.setFileName(name);
        std::copy(current.begin(), current.end(), w.m_store.currentSol);
        std::copy(custom.begin(), custom.end(), w.m_store.customSol);
    }
    for (const EditLine &e : lines) {
        const double v = rebuild || redo ? e.newValue : e.oldValue;
        if (e.col == n + 1)
            w.m_store.rhs[e.row] = v;
        else
            w.m_store.coef[e.row][e.col] = v;
    }
    if (!lines.empty() && w.m_model) {
        w.scrollToCell(lines.back().row, lines.back().col);
        w.m_model->refreshAll();
    } else if (!lines.empty()) {
        w.arraysToFancy();
    }
    if (w.ui)
        w.ui->decvarb->setEnabled(w.m_store.N >= 3);
    w.updateTitle();
    *result = true;
    w.StatusBarMsg(kRetrieved, 2000);
}
