#include "undoredo.h"

#include "files/atomicfile.h"
#include "prefs/userprefs.h"
#include "session/sessionmanager.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kEditLog[] = ".btrx.btrx";
const char kStartSnapshot[] = "NEW/0.btrx";
constexpr int kEditLogLen = 10;

const char *const kFolders[] = {nullptr, nullptr, "NEW", "OPEN", nullptr, nullptr, "INC_VAR",
                                "DEC_VAR", "N_VAR", "TEXT", "CUT", "PASTE", "CLEAR"};
const char *const kDisplay[] = {nullptr, nullptr, "NEW", "OPEN", nullptr, nullptr,
                                "INCREASE VARIABLES BY 1", "DECREASE VARIABLES BY 1",
                                "DEFINE NO. OF VARIABLES", "TEXT EDIT", "CUT", "PASTE", "CLEAR"};

// The non-empty lines of a text file; false when it cannot be read.
bool readLines(const QString &path, QStringList *lines)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QList<QByteArray> raw = f.readAll().split('\n');
    for (const QByteArray &l : raw)
        if (!l.trimmed().isEmpty())
            lines->append(QString::fromUtf8(l));
    return true;
}

// A cell text as one field of an edit log line.
QString field(QString text)
{
    text.remove(QLatin1Char(' '));
    return text.isEmpty() ? QStringLiteral("0") : text;
}

// A whole copy of the open file source under target (complete or not at
// all); false with *error when it could not be made.
bool copyOpenFile(int source, const QString &target, QString *error)
{
    const AtomicFile::Result r = AtomicFile::replace(target, [source](const QString &temp, QString *why) {
        QFile out(temp);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *why = out.errorString();
            return false;
        }
        std::vector<char> buffer(size_t(1) << 20);
        // The disk writes start as the copy goes (it is flushed to disk
        // before it takes its name).
        qint64 written = 0;
        qint64 started = 0;
        for (;;) {
            const ssize_t got = ::read(source, buffer.data(), buffer.size());
            if (got == 0)
                break;
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                *why = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            if (out.write(buffer.data(), qint64(got)) != qint64(got)) {
                *why = out.errorString();
                return false;
            }
            written += got;
#ifdef __linux__
            if (written - started >= (qint64(8) << 20) && out.flush()) {
                ::sync_file_range(out.handle(), started, written - started, SYNC_FILE_RANGE_WRITE);
                started = written;
            }
#endif
        }
        return out.flush();
    });
    if (!r.ok)
        *error = r.error;
    return r.ok;
}

}

// The copy of an opened file under way: its thread, its snapshot reference
// and its outcome (read after the thread has ended).
struct UndoRedo::Copy
{
    std::thread thread;
    QString reference;
    int key = -1;
    bool ok = false;
    QString error;
};

namespace {

void wakeUp(QThread *thread)
{
    if (QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance(thread))
        d->wakeUp();
}

}

// One queued request: counted off when the slot ends, after every signal
// of the slot has been sent.
class UndoRedo::Request
{
public:
    explicit Request(UndoRedo *r) : m_r(r) { m_r->m_changed = false; }
    ~Request()
    {
        if (m_r->m_changed)
            m_r->keepSessionCurrent(*m_r->m_actions, *m_r->m_files, m_r->m_position);
        m_r->requestDone();
    }

private:
    UndoRedo *m_r;
};

UndoRedo::UndoRedo(bool simple, const QString &windowName, QObject *parent)
    : TrxWorker(parent), m_simple(simple), m_windowName(windowName),
      m_actions(new QList<int>{Start, Live}), m_files(new QMap<int, QString>())
{
}

UndoRedo::~UndoRedo()
{
    if (m_copy && m_copy->thread.joinable())
        m_copy->thread.join();
    delete m_actions;
    delete m_files;
}

QString UndoRedo::folderFor(const QString &windowName)
{
    return SessionManager::currentSessionFolder() + QLatin1Char('/') + windowName;
}

bool UndoRedo::createFolders(const QString &windowFolder)
{
    if (QFileInfo::exists(windowFolder))
        return QFileInfo(windowFolder).isDir();
    bool ok = QDir().mkpath(windowFolder);
    for (int k = 0; k < 13; ++k)
        if (kFolders[k])
            ok = QDir().mkpath(windowFolder + QLatin1Char('/') + QLatin1String(kFolders[k])) && ok;
    return ok;
}

QString UndoRedo::kindFolder(int kind)
{
    return kind >= 0 && kind < 13 && kFolders[kind] ? QLatin1String(kFolders[kind]) : QString();
}

QString UndoRedo::displayName(int kind)
{
    return kind >= 0 && kind < 13 && kDisplay[kind] ? QLatin1String(kDisplay[kind]) : QString();
}

int UndoRedo::kindOfPath(const QString &path)
{
    const QString folder = QFileInfo(path).dir().dirName();
    for (int k = 0; k < 13; ++k)
        if (kFolders[k] && folder == QLatin1String(kFolders[k]))
            return k;
    return -1;
}

bool UndoRedo::isEditLine(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int at = name.lastIndexOf(QLatin1String(kEditLog));
    return at > 0 && at + kEditLogLen < name.size();
}

QString UndoRedo::windowFolder() const
{
    return folderFor(m_windowName);
}

QString UndoRedo::absolute(const QString &reference) const
{
    return windowFolder() + QLatin1Char('/') + reference;
}

void UndoRedo::requestDone()
{
    m_inFlight.fetch_sub(1);
    // The window may be sleeping in its wait for this request.
    wakeUp(creatorThread());
}

void UndoRedo::copyDone()
{
    settleCopy();
}

void UndoRedo::settleCopy()
{
    if (!m_copy)
        return;
    if (m_copy->thread.joinable())
        m_copy->thread.join();
    const std::unique_ptr<Copy> copy = std::move(m_copy);
    if (copy->ok) {
        status(QStringLiteral("Backup of action OPEN complete."));
    } else {
        qWarning("error no: UR29 - %s", qUtf8Printable(copy->error));
        QFile::remove(absolute(copy->reference) + QStringLiteral(".md"));
        // Still the last action: it goes, as if it had never been recorded.
        // Behind later edits it stays, and undoing to it reports the loss.
        QList<int> &a = *m_actions;
        if (copy->key == a.size() - 2 && a.at(copy->key) == OpenKind && a.last() == Live
            && m_position == a.size() - 1) {
            a.removeAt(copy->key);
            m_files->remove(copy->key);
            m_position = a.size() - 1;
            m_sessionStale = true;
        }
        status(QStringLiteral("Backup of action OPEN failed."));
    }
    if (m_sessionStale) {
        m_sessionStale = false;
        keepSessionCurrent(*m_actions, *m_files, m_position);
    }
    m_copying = false;
    wakeUp(creatorThread());
}

// ------------------------------------------------------------------ state

void UndoRedo::Initialise()
{
    Request done(this);
    m_busy = true;
    m_actions->clear();
    m_actions->append(Start);
    m_actions->append(Live);
    m_position = 1;
    m_files->clear();
    m_busy = false;
}

void UndoRedo::InitialState()
{
    Request done(this);
    settleCopy();
    // A folder that holds a history already is about to be resumed: it is
    // left exactly as it was saved.
    const QString reference = QLatin1String(kStartSnapshot);
    if (!m_enabled || m_files->contains(Start) || QFileInfo::exists(absolute(reference))
        || QFileInfo::exists(windowFolder() + QStringLiteral("/Actions.sestrx")))
        return;
    m_busy = true;
    bool ok = false;
    emit SaveHistory(absolute(reference), &ok);
    if (ok)
        m_files->insert(Start, reference);
    m_changed = ok;
    m_busy = false;
}

void UndoRedo::isUndoEnabled(bool *b)
{
    *b = m_enabled.load();
}

void UndoRedo::setUndoEnabled(bool b)
{
    m_enabled = b;
}

void UndoRedo::checkState(bool *b)
{
    *b = m_busy.load();
}

int UndoRedo::countOf(int kind) const
{
    const QList<int> &a = *m_actions;
    int count = 0;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i) != kind)
            continue;
        // Text edits count by runs of consecutive entries.
        if (kind != TextKind || i == 0 || a.at(i - 1) != TextKind)
            ++count;
    }
    return count;
}

// ------------------------------------------------------------- recording

void UndoRedo::prepare()
{
    m_busy = true;
    m_changed = true;
    QList<int> &a = *m_actions;
    if (m_position < 0 || m_position > a.size())
        m_position = a.size();
    if (m_position < a.size() && a.at(m_position) == Live) {
        a.erase(a.begin() + m_position, a.end());
    } else {
        // Everything right of the marker has been undone and goes for good,
        // with its files; a saved session stops naming them first.
        QMap<int, QString> kept = *m_files;
        for (auto it = kept.begin(); it != kept.end();)
            it = it.key() >= m_position ? kept.erase(it) : it + 1;
        keepSessionCurrent(a.mid(0, m_position) << Live, kept, m_position);
        int i = m_position;
        while (i < a.size()) {
            const int kind = a.at(i);
            if (kind == TextKind && isEditLine(m_files->value(i))) {
                int j = i;
                while (j < a.size() && a.at(j) == TextKind && isEditLine(m_files->value(j)))
                    ++j;
                checkHist2(i, j - i, QStringLiteral("TEXT"));
                i = j;
                continue;
            }
            if (isAction(kind))
                checkHist1(i, kindFolder(kind));
            ++i;
        }
        a.erase(a.begin() + qMin(m_position, a.size()), a.end());
    }
    if (a.isEmpty())
        a.append(Start);
    m_position = a.size();
}

void UndoRedo::record(int kind)
{
    Request done(this);
    settleCopy();
    if (!m_enabled)
        return;
    prepare();
    if (kind == NewKind && m_actions->last() == NewKind) {
        // A second New in a row changes nothing that could be undone.
        m_position = m_actions->size();
        m_actions->append(Live);
        m_busy = false;
        return;
    }
    actionClicked(kind, kindFolder(kind));
}

void UndoRedo::actionClicked(int kind, QString name)
{
    const int k = countOf(kind) + 1;
    const QString reference = kindFolder(kind) + QLatin1Char('/') + QString::number(k) + QStringLiteral(".btrx");
    bool ok = false;
    emit SaveHistory(absolute(reference), &ok);
    name = displayName(kind);
    if (!ok) {
        status(QStringLiteral("Backup of action ") + name + QStringLiteral(" failed."));
    } else {
        const int key = m_actions->size();
        if (m_files->contains(key)) {
            qWarning("error no: UR15 - %s", qUtf8Printable(name));
            m_files->remove(key);
        }
        m_files->insert(key, reference);
        m_actions->append(kind);
        status(QStringLiteral("Backup of action ") + name + QStringLiteral(" complete."));
    }
    m_position = m_actions->size();
    m_actions->append(Live);
    m_busy = false;
}

void UndoRedo::NewbClicked()
{
    record(NewKind);
}

void UndoRedo::IncVarbClicked()
{
    record(IncVar);
}

void UndoRedo::DecVarbClicked()
{
    record(DecVar);
}

void UndoRedo::N_VarbClicked()
{
    record(NVar);
}

void UndoRedo::EditbClicked(QString type)
{
    if (type == QLatin1String("CUT"))
        record(CutKind);
    else if (type == QLatin1String("PASTE"))
        record(PasteKind);
    else if (type == QLatin1String("CLEAR"))
        record(ClearKind);
    else
        Request done(this);
}

void UndoRedo::OpenbClicked(QString fileName)
{
    Request done(this);
    if (!m_enabled)
        return;
    settleCopy();
    prepare();
    const int k = countOf(OpenKind) + 1;
    const QString reference = QStringLiteral("OPEN/") + QString::number(k)
                              + (QFileInfo(fileName).fileName().contains(QLatin1String(".btrx")) ? QStringLiteral(".btrx")
                                                                           : QStringLiteral(".trx"));
    const QString copy = absolute(reference);
    if (QFile::exists(copy)) {
        qWarning("error no: UR12");
        QFile::remove(copy);
    }
    // The file is opened now, while the window waits: a save over it
    // afterwards puts new bytes under the name, and the copy still takes
    // those that were opened.
    const int source = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    bool ok = source >= 0;
    if (ok)
        emit SaveHistory(copy + QStringLiteral(".md"), &ok);
    if (ok) {
        const int key = m_actions->size();
        if (m_files->contains(key)) {
            qWarning("error no: UR17 - OPEN");
            m_files->remove(key);
        }
        m_files->insert(key, reference);
        m_actions->append(OpenKind);
        m_copy.reset(new Copy);
        m_copy->reference = reference;
        m_copy->key = key;
        m_copying = true;
        Copy *job = m_copy.get();
        job->thread = std::thread([this, job, source, copy] {
            job->ok = copyOpenFile(source, copy, &job->error);
            ::close(source);
            QMetaObject::invokeMethod(this, "copyDone", Qt::QueuedConnection);
        });
    } else {
        if (source >= 0)
            ::close(source);
        status(QStringLiteral("Backup of action OPEN failed."));
    }
    m_position = m_actions->size();
    m_actions->append(Live);
    m_busy = false;
}

void UndoRedo::CellChanged(int row, int col, QString curr, QString old)
{
    Request done(this);
    if (!m_enabled)
        return;
    prepare();
    if (m_actions->last() != TextKind) {
        // A new run starts with a full snapshot.
        actionClicked(TextKind, QStringLiteral("TEXT"));
        return;
    }
    const QString log = QStringLiteral("TEXT/") + QString::number(countOf(TextKind)) + QLatin1String(kEditLog);
    bool ok = false;
    int m = 0;
    {
        QFile f(absolute(log));
        if (f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            const QByteArray line = (QString::number(row) + QLatin1Char(' ') + QString::number(col) + QLatin1Char(' ')
                                     + field(old) + QLatin1Char(' ') + field(curr) + QLatin1Char('\n'))
                                        .toUtf8();
            ok = f.write(line) == line.size() && f.flush();
            f.close();
        }
        QStringList lines;
        if (ok && readLines(absolute(log), &lines))
            m = lines.size() + 1;
        ok = ok && m >= 2;
    }
    if (ok) {
        const int key = m_actions->size();
        if (m_files->contains(key)) {
            qWarning("error no: UR16 - TEXT");
            m_files->remove(key);
        }
        m_files->insert(key, log + QString::number(m));
        m_actions->append(TextKind);
        status(QStringLiteral("Backup of action TEXT complete."));
    } else {
        status(QStringLiteral("Backup of action TEXT failed."));
    }
    m_position = m_actions->size();
    m_actions->append(Live);
    m_busy = false;
}

void UndoRedo::checkHist1(int index, QString kindName)
{
    if (!m_files->contains(index)) {
        qWarning("error no: UR9 - %s", qUtf8Printable(kindName));
        return;
    }
    const QString reference = m_files->take(index);
    if (reference.isEmpty()) {
        qWarning("error no: UR8 - %s", qUtf8Printable(kindName));
        return;
    }
    const QString path = absolute(reference);
    if (!QFile::exists(path))
        qWarning("error no: UR14 - %s", qUtf8Printable(path));
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".md"));
    // The first snapshot of a text run takes the run's edit log with it.
    if (kindOfPath(path) == TextKind)
        QFile::remove(path + QStringLiteral(".btrx"));
}

void UndoRedo::checkHist2(int index, int count, QString name)
{
    int firstLine = -1;
    QString log;
    for (int i = index; i < index + count; ++i) {
        if (!m_files->contains(i)) {
            qWarning("error no: UR24 - %s", qUtf8Printable(name));
            continue;
        }
        const QString reference = m_files->take(i);
        const int at = reference.lastIndexOf(QLatin1String(kEditLog));
        bool ok = false;
        const int m = reference.mid(at + kEditLogLen).toInt(&ok);
        if (at < 0 || !ok || m < 2) {
            qWarning("error no: UR20 - %s", qUtf8Printable(reference));
            continue;
        }
        if (log.isEmpty())
            log = reference.left(at + kEditLogLen);
        if (firstLine < 0 || m - 1 < firstLine)
            firstLine = m - 1;
    }
    if (log.isEmpty())
        return;
    // When the run's first entry goes as well, the whole log went with it.
    int head = index - 1;
    while (head >= 0 && (isMarker(m_actions->at(head)) || isEditLine(m_files->value(head))))
        --head;
    if (head >= m_position)
        return;

    const QString path = absolute(log);
    QStringList lines;
    if (!readLines(path, &lines)) {
        qWarning("error no: UR21 - %s", qUtf8Printable(path));
        return;
    }
    const int keep = firstLine - 1;
    if (keep > lines.size())
        qWarning("error no: UR22 - %s", qUtf8Printable(path));
    QByteArray kept;
    for (int i = 0; i < keep && i < lines.size(); ++i)
        kept += lines.at(i).toUtf8() + '\n';
    if (!QFile::remove(path) || !AtomicFile::writeBytes(path, kept).ok)
        qWarning("error no: UR23 - %s", qUtf8Printable(path));
}

// ------------------------------------------------------------ undo, redo

void UndoRedo::UndobClicked()
{
    Request done(this);
    settleCopy();
    if (m_enabled)
        doUndo();
    // The window waits for this to leave its quiet state, also when nothing
    // could be undone.
    emit undoFinished();
}

void UndoRedo::RedobClicked()
{
    Request done(this);
    settleCopy();
    if (m_enabled)
        doRedo();
    emit undoFinished();
}

bool UndoRedo::doUndo()
{
    QList<int> &a = *m_actions;
    if (a.size() <= 2 || m_position <= 0 || m_position >= a.size())
        return false;
    // A failed or empty undo leaves the list as it was.
    const QList<int> before = a;
    const int positionBefore = m_position;
    const QMap<int, QString> filesBefore = *m_files;
    auto restore = [&] {
        a = before;
        m_position = positionBefore;
        *m_files = filesBefore;
    };
    const int marker = a.at(m_position);
    if (marker == Live) {
        a.insert(a.size() - 1, Undone);
    } else if (marker == Redone) {
        a[m_position] = Undone;
    } else if (marker != Undone) {
        return false;
    }
    m_position -= 1;
    const int kind = a.at(m_position);
    if (kind == Start) {
        restore();
        return false;
    }
    if (!isAction(kind)) {
        qWarning("error no: UR18");
        restore();
        return false;
    }
    m_busy = true;
    const bool ok = undoAction(kind, m_windowName);
    m_busy = false;
    if (!ok)
        restore();
    m_changed = m_changed || ok;
    return ok;
}

bool UndoRedo::undoAction(int kind, QString name)
{
    QList<int> &a = *m_actions;
    const int at = m_position;
    const QString reference = m_files->value(at - 1);
    name = displayName(kind);
    bool ok = false;
    if (!reference.isEmpty()) {
        QString path = absolute(reference);
        // Reverting one logged line needs the state right after that line;
        // any other action rebuilds the run's state from its snapshot.
        if (isEditLine(reference) && kind != TextKind)
            path += QLatin1Char('*');
        emit ReadHistory(path, &ok, false);
    }
    if (ok) {
        a.swapItemsAt(at, at + 1);
        if (m_files->contains(at))
            m_files->insert(at + 1, m_files->take(at));
        m_position = at;
        status(QStringLiteral("Undo of action ") + name + QStringLiteral(" complete."));
    } else {
        qWarning("error no: UR19 - %s", qUtf8Printable(name));
        status(QStringLiteral("Undo of action ") + name + QStringLiteral(" failed."));
    }
    return ok;
}

bool UndoRedo::doRedo()
{
    QList<int> &a = *m_actions;
    if (a.size() <= 2 || m_position <= 0 || m_position >= a.size() - 1)
        return false;
    const int marker = a.at(m_position);
    if (marker != Undone && marker != Redone)
        return false;
    const QList<int> before = a;
    const int positionBefore = m_position;
    const QMap<int, QString> filesBefore = *m_files;
    a[m_position] = Redone;
    const int next = m_position + 1;
    if (next == a.size() - 1 && a.at(next) == Live) {
        // Everything is redone: back at the live end, nothing to read.
        a.removeAt(m_position);
        m_changed = true;
        return true;
    }
    const int kind = a.at(next);
    if (!isAction(kind)) {
        qWarning("error no: UR25");
        a = before;
        return false;
    }
    a.swapItemsAt(m_position, next);
    if (m_files->contains(next))
        m_files->insert(m_position, m_files->take(next));
    m_busy = true;
    const bool ok = redoAction(kind, m_windowName);
    m_busy = false;
    if (ok) {
        m_position = next;
        m_changed = true;
    } else {
        // The window still shows the state before the action.
        a = before;
        m_position = positionBefore;
        *m_files = filesBefore;
    }
    return ok;
}

bool UndoRedo::redoAction(int kind, QString name)
{
    const QString reference = m_files->value(m_position);
    name = displayName(kind);
    bool ok = false;
    if (!reference.isEmpty())
        emit ReadHistory(absolute(reference), &ok, true);
    if (ok) {
        status(QStringLiteral("Redo of action ") + name + QStringLiteral(" complete."));
    } else {
        qWarning("error no: UR26 - %s", qUtf8Printable(name));
        status(QStringLiteral("Redo of action ") + name + QStringLiteral(" failed."));
    }
    return ok;
}

// -------------------------------------------------------------- sessions

QByteArray UndoRedo::sessionText(const QList<int> &list, const QMap<int, QString> &files, int position)
{
    QByteArray text;
    for (int i = 0; i < list.size(); ++i) {
        QByteArray line = QByteArray::number(list.at(i)) + '\t';
        if (files.contains(i))
            line += files.value(i).toUtf8() + '\t';
        if (i == position)
            line += '*';
        text += line + '\n';
    }
    return text;
}

// Unsaved sessions too: what a run that crashed leaves behind is offered
// again at the next start and must resume to its last step.
void UndoRedo::keepSessionCurrent(const QList<int> &list, const QMap<int, QString> &files, int position)
{
    // A session file never names a copy that is not complete yet.
    if (m_copy) {
        m_sessionStale = true;
        return;
    }
    const QString folder = windowFolder();
    if (!QFileInfo(folder).isDir())
        return;
    if (!AtomicFile::writeBytes(folder + QStringLiteral("/Actions.sestrx"), sessionText(list, files, position)).ok)
        status(QStringLiteral("Failed to save session to file!"));
}

void UndoRedo::saveWindowSession()
{
    settleCopy();
    const QString folder = windowFolder();
    if (!QFileInfo(folder).isDir()) {
        qWarning("error no: UR28");
        status(QStringLiteral("Failed to save session to file!"));
        return;
    }
    const bool ok = AtomicFile::writeBytes(folder + QStringLiteral("/Actions.sestrx"),
                                           sessionText(*m_actions, *m_files, m_position))
                        .ok;
    status(ok ? QStringLiteral("Successfully saved the session to file!")
              : QStringLiteral("Failed to save session to file!"));
}

void UndoRedo::resumeWindow(QString path)
{
    Request done(this);
    settleCopy();
    bool failed = false;
    if (!QFileInfo(path).isDir()) {
        status(QStringLiteral("Failed to resume session from file!"));
        emit undoFinished();
        return;
    }
    // Later recordings and session saves go to the resumed folder; the
    // fresh folder this window was given goes while it holds no recorded
    // action (only the state the window was built with).
    const QString fresh = windowFolder();
    const bool nothingRecorded = m_actions->size() <= 2;
    m_windowName = QFileInfo(path).fileName();
    if (nothingRecorded && QFileInfo(fresh).absoluteFilePath() != QFileInfo(windowFolder()).absoluteFilePath())
        QDir(fresh).removeRecursively();
    createFolders(windowFolder());

    QStringList lines;
    if (!readLines(path + QStringLiteral("/Actions.sestrx"), &lines)) {
        status(QStringLiteral("Failed to resume session from file!"));
        emit undoFinished();
        return;
    }
    QList<int> list;
    QMap<int, QString> files;
    int position = -1;
    for (const QString &raw : qAsConst(lines)) {
        const QStringList f = raw.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.isEmpty())
            continue;
        bool ok = false;
        const int kind = f.first().toInt(&ok);
        // Only the kinds this recorder writes; anything else is damage.
        if (!ok || kind < Start || kind > ClearKind) {
            failed = true;
            continue;
        }
        const int key = list.size();
        if (f.size() >= 2 && f.at(1) != QLatin1String("*")) {
            if (files.contains(key))
                qWarning("error no: UR27 - %s", qUtf8Printable(files.take(key)));
            const QString reference = f.at(1);
            // A reference names a file inside the window folder, nothing else.
            const QString clean = QDir::cleanPath(reference);
            if (clean.startsWith(QLatin1String("..")) || QDir::isAbsolutePath(clean)
                || kindOfPath(clean) < 0) {
                failed = true;
            } else {
                files.insert(key, clean);
                QString file = clean;
                if (isEditLine(file))
                    file.truncate(file.lastIndexOf(QLatin1String(kEditLog)) + kEditLogLen);
                if (!QFile::exists(path + QLatin1Char('/') + file))
                    failed = true;
            }
        }
        list.append(kind);
        if (f.last() == QLatin1String("*"))
            position = list.size() - 1;
    }
    // A usable list starts at the start entry, ends at the live end and has
    // its position on a marker; otherwise the window starts a fresh history.
    if (list.isEmpty() || list.first() != Start || list.last() != Live || position < 1
        || !isMarker(list.at(position))) {
        failed = true;
        list = QList<int>{Start, Live};
        files.clear();
        position = 1;
    }
    *m_actions = list;
    *m_files = files;
    m_position = position;

    // The window shows the state right after the last applied action.
    const int applied = m_position - 1;
    const int kind = m_actions->at(applied);
    if (kind != Start) {
        m_busy = true;
        bool ok = false;
        const QString reference = m_files->value(applied);
        if (isEditLine(reference)) {
            // A text run: its first snapshot with the run's edits up to this
            // one replayed, as an undo to this entry rebuilds it.
            emit ReadHistory(absolute(reference) + QLatin1Char('*'), &ok, false);
        } else if (!reference.isEmpty()) {
            emit ReadHistory(absolute(reference), &ok, false);
        }
        m_busy = false;
        failed = failed || !ok;
    }
    emit undoFinished();
    status(failed ? QStringLiteral("Failed to resume session from file!")
                   : QStringLiteral("Successfully resumed session from file!"));
}

void UndoRedo::dump() const
{
    QString list;
    for (int i = 0; i < m_actions->size(); ++i) {
        list += QString::number(m_actions->at(i));
        if (m_files->contains(i))
            list += QLatin1Char(' ') + m_files->value(i);
        if (i == m_position)
            list += QStringLiteral(" *");
        list += QStringLiteral("; ");
    }
    qDebug().noquote() << "UndoRedo history of" << m_windowName << ":" << list;
}

void UndoRedo::DeInitialise()
{
    settleCopy();
    for (int i = 0; i < m_actions->size(); ++i) {
        if (!isAction(m_actions->at(i)))
            continue;
        QString reference = m_files->value(i);
        if (isEditLine(reference))
            reference.truncate(reference.lastIndexOf(QLatin1String(kEditLog)) + kEditLogLen);
        if (reference.isEmpty() || !QFile::exists(absolute(reference)))
            qWarning("error no: UR13");
    }
    dump();
    MyThreads::threadFinished(thread(), QStringLiteral("UndoRedo::Deintialise"), this,
                              QStringLiteral("UNDOREDO"));
}
