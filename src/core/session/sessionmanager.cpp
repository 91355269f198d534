#include "sessionmanager.h"

#include "env/environment.h"
#include "files/atomicfile.h"
#include "prompt/prompter.h"
#include "store/equationstore.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QTextCodec>
#include <QTimer>

#include <utility>

namespace {
SessionManager *g_instance = nullptr;
QString g_current;
QString g_unavailable;
int g_windowCounter = 0;
QString g_nextWindowName;
std::function<bool()> g_busy;
bool g_savePending = false;
bool g_askPending = false;
// The user declined to name the session once in this run: the log and the
// memory question do not ask again.
bool g_nameDeclined = false;

const QString kUnsaved = QStringLiteral("Unsaved");

// reason: why it was refused (none for a cancelled question).
void sessionNotSaved(const QString &reason = QString())
{
    QString text = QStringLiteral("Current session could not be saved to file.\n");
    if (!reason.isEmpty())
        text += reason + QLatin1Char('\n');
    text += QStringLiteral("Please try again!");
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Session not saved!"), text, Prompter::Ok,
                                  Prompter::Ok);
}

void markUnavailable(const QString &reason)
{
    if (g_unavailable.isEmpty())
        g_unavailable = reason;
}

QString unreadableList(const QString &why)
{
    return QStringLiteral("the session list %1 cannot be read (%2)").arg(SessionManager::listFilePath(), why);
}

QString sessionFolder(const QString &name)
{
    return SessionManager::sessionsRoot() + QLatin1Char('/') + name;
}

QStringList windowFolders(const QString &sessionFolder)
{
    return QDir(sessionFolder).entryList(QStringList{QStringLiteral("Window *")}, QDir::Dirs | QDir::NoDotAndDotDot);
}

// Serialises the read-modify-write of the list file between processes.
class ListLock
{
public:
    ListLock()
        : m_path(SessionManager::sessionsRoot() + QLatin1Char('/') + SessionManager::listLockName()),
          m_lock(m_path)
    {
        m_locked = m_lock.tryLock(0);
        // A process killed between making the lock file and writing its
        // owner into it leaves an empty file that names no one: Qt would
        // only give it up when it is old. A live owner writes its name at
        // once, so an unreadable lock older than a second is stale. The
        // check and the removal run under Qt's own removal lock, so no one
        // removes a lock another process has just taken.
        if (!m_locked) {
            QLockFile removal(m_path + QStringLiteral(".rmlock"));
            qint64 pid = 0;
            QString host, app;
            if (removal.tryLock(0) && !m_lock.getLockInfo(&pid, &host, &app)
                && QFileInfo(m_path).lastModified().msecsTo(QDateTime::currentDateTime()) > 1000)
                m_lock.removeStaleLockFile();
        }
        if (!m_locked)
            m_locked = m_lock.tryLock(10000);
        if (!m_locked)
            qWarning("Could not lock the session list in %s", qUtf8Printable(SessionManager::sessionsRoot()));
    }
    bool locked() const { return m_locked; }

private:
    QString m_path;
    QLockFile m_lock;
    bool m_locked = false;
};

bool validSessionName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && name != QLatin1String(".") && name != QLatin1String("..");
}
} // namespace

SessionManager::SessionManager()
{
    g_instance = this;
    EquationStore::setSessionSaver([] { saveCurrentSession(); });
    g_unavailable.clear();
    g_nameDeclined = false;
    startUp();
}

SessionManager::SessionManager(const QString &name)
{
    g_instance = this;
    EquationStore::setSessionSaver([] { saveCurrentSession(); });
    g_unavailable.clear();
    g_nameDeclined = false;
    if (!QDir().mkpath(sessionsRoot())) {
        qWarning("error no: SM1 - %s", qUtf8Printable(sessionsRoot()));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(sessionsRoot()));
    }
    // A session that cannot be resumed here leaves this run in a session of
    // its own: it never records into another process's session, nor
    // outside the sessions folder.
    m_resumed = adopt(name);
    m_recovered = m_resumed && name.contains(kUnsaved);
    if (!m_resumed)
        startOwnSession();
}

SessionManager::~SessionManager()
{
    // An unsaved session is not kept: drop it from the list; its folder goes
    // with the clean-up of the next start. A recovered one stays offered
    // until the user saves or deletes it. A list that cannot be read is
    // never rewritten.
    if (g_current.contains(kUnsaved) && !m_recovered && QFile::exists(listFilePath())) {
        ListLock lock;
        QStringList names;
        if (readListFile(&names) && names.contains(g_current)) {
            names.removeAll(g_current);
            if (!writeListFile(names))
                qWarning("error no: SM14");
        }
    }
    releaseFolder();
    if (g_instance == this) {
        g_instance = nullptr;
        EquationStore::setSessionSaver(nullptr);
    }
}

bool SessionManager::adopt(const QString &name)
{
    const QString folder = sessionFolder(name);
    if (!validSessionName(name) || folderInUse(folder))
        return false;
    if (!QFileInfo(folder).isDir() || windowFolders(folder).isEmpty()) {
        // A session that holds no window yet starts here under a name the
        // Save Session dialog would accept. It is listed at once (under the
        // list's lock, before any start-up could take it for a stray).
        if (!nameRefusal(name).isEmpty() || name != name.trimmed())
            return false;
        ListLock lock;
        QStringList names;
        if (!readListFile(&names) || !QDir().mkpath(folder))
            return false;
        if (!names.contains(name) && !writeListFile(names + QStringList{name}))
            return false;
    }
    g_current = name;
    holdFolder();
    return ownsFolder();
}

void SessionManager::startOwnSession()
{
    const QString root = sessionsRoot();
    g_current = automaticName(root);
    if (!QDir().mkpath(currentSessionFolder())) {
        qWarning("error no: SM3 - %s", qUtf8Printable(currentSessionFolder()));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(currentSessionFolder()));
        return;
    }
    holdFolder();
    ListLock lock;
    QStringList names;
    QString why;
    if (!readListFile(&names, &why)) {
        qWarning("error no: SM5 - %s", qUtf8Printable(why));
        markUnavailable(unreadableList(why));
        return;
    }
    names.removeAll(g_current);
    names.append(g_current);
    if (!writeListFile(names)) {
        qWarning("error no: SM4");
        markUnavailable(QStringLiteral("the list file %1 cannot be written").arg(listFilePath()));
    }
}

void SessionManager::startUp()
{
    const QString root = sessionsRoot();
    if (!QDir().mkpath(root)) {
        qWarning("error no: SM1 - %s", qUtf8Printable(root));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(root));
        g_current = automaticName(root);
        return;
    }
    ListLock lock;
    QStringList names;
    QString why;
    const bool listed = QFileInfo::exists(listFilePath());
    if (!readListFile(&names, &why)) {
        // A list that cannot be read says nothing about which folders are
        // saved sessions: nothing is deleted and the list is left as it is.
        // This run still records its own history.
        qWarning("error no: SM5 - %s", qUtf8Printable(why));
        markUnavailable(unreadableList(why));
        g_current = automaticName(root);
        if (QDir().mkpath(currentSessionFolder()))
            holdFolder();
        return;
    }
    const QStringList dirs = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    if (!listed) {
        // A lost list file must not cost the saved sessions: their folders
        // name them.
        for (const QString &d : dirs)
            if (!d.contains(kUnsaved))
                names.append(d);
    } else {
        QStringList found;
        for (const QString &n : names)
            if (validSessionName(n) && QFileInfo(root + QLatin1Char('/') + n).isDir() && !found.contains(n))
                found.append(n);
        names = found;
    }
    // Unsaved sessions that no process works in were left by runs that
    // ended without cleaning up (a clean end drops its name from the list).
    // Those that hold recorded actions stay until the user's word; the
    // others go. Folders that other running processes work in stay, listed
    // or not.
    QStringList keepDirs;
    QStringList live;
    for (const QString &d : dirs) {
        const QString path = root + QLatin1Char('/') + d;
        if (folderInUse(path)) {
            keepDirs.append(d);
            if (!names.contains(d))
                live.append(d);
        } else if (d.contains(kUnsaved) && (names.contains(d) || !listed)) {
            names.removeAll(d);
            if (holdsRecordedActions(path)) {
                names.append(d);
                keepDirs.append(d);
            }
        } else if (names.contains(d)) {
            keepDirs.append(d);
        }
    }
    const QStringList keepFiles{QStringLiteral("Sessions.sestrx"), listLockName()};
    DeleteDir(root, &keepFiles, &keepDirs);

    g_current = automaticName(root);
    if (!QDir().mkpath(root + QLatin1Char('/') + g_current)) {
        qWarning("error no: SM3 - %s", qUtf8Printable(root + QLatin1Char('/') + g_current));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(root + QLatin1Char('/') + g_current));
    } else {
        holdFolder();
    }
    // Names of other live processes' sessions stay in the list too.
    if (!writeListFile(names + live + QStringList{g_current})) {
        qWarning("error no: SM4");
        markUnavailable(QStringLiteral("the list file %1 cannot be written").arg(listFilePath()));
    }
}

void SessionManager::holdFolder()
{
    releaseFolder();
    m_folderLock.reset(new QLockFile(currentSessionFolder() + QLatin1Char('/') + folderLockName()));
    // Held for the life of the process: never stale by age.
    m_folderLock->setStaleLockTime(0);
    if (!m_folderLock->tryLock(0))
        m_folderLock.reset();
}

void SessionManager::releaseFolder()
{
    if (m_folderLock)
        m_folderLock->unlock();
    m_folderLock.reset();
}

bool SessionManager::folderInUse(const QString &path)
{
    const QString lockPath = path + QLatin1Char('/') + folderLockName();
    if (!QFileInfo::exists(lockPath))
        return false;
    QLockFile probe(lockPath);
    probe.setStaleLockTime(0);
    // A lock left by a process that has died is stale: taking it succeeds.
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

SessionManager *SessionManager::instance()
{
    return g_instance;
}

QString SessionManager::currentSessionName()
{
    return g_current;
}

QString SessionManager::unavailableReason()
{
    return g_unavailable;
}

bool SessionManager::recordingPossible()
{
    return !g_instance || g_instance->ownsFolder();
}

bool SessionManager::keepsWindowFiles()
{
    return g_instance && g_instance->ownsFolder() && g_unavailable.isEmpty()
           && (!g_current.contains(kUnsaved) || g_instance->m_recovered);
}

QString SessionManager::nextWindowName()
{
    if (!g_nextWindowName.isEmpty())
        return std::exchange(g_nextWindowName, QString());
    QString name;
    do
        name = QStringLiteral("Window ") + QString::number(++g_windowCounter);
    while (QFileInfo::exists(currentSessionFolder() + QLatin1Char('/') + name));
    return name;
}

void SessionManager::setNextWindowName(const QString &name)
{
    g_nextWindowName = name;
}

QString SessionManager::sessionsRoot()
{
    return Environment::sessionsFolder();
}

QString SessionManager::listFilePath()
{
    return sessionsRoot() + QStringLiteral("/Sessions.sestrx");
}

QString SessionManager::currentSessionFolder()
{
    return sessionsRoot() + QLatin1Char('/') + g_current;
}

QString SessionManager::automaticName(const QString &root)
{
    const QString base = QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Unsaved 'MMM dd, yyyy"));
    QString name = base;
    for (int n = 1; QFileInfo::exists(root + QLatin1Char('/') + name); ++n)
        name = base + QLatin1Char('_') + QString::number(n);
    return name;
}

bool SessionManager::readListFile(QStringList *names, QString *why) const
{
    names->clear();
    QString reason;
    QFile f(listFilePath());
    if (!QFileInfo::exists(f.fileName()))
        return true;
    QByteArray data;
    if (!f.open(QIODevice::ReadOnly)) {
        reason = f.errorString();
    } else {
        data = f.readAll();
        if (f.error() != QFileDevice::NoError)
            reason = f.errorString();
    }
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    if (reason.isEmpty() && (data.contains('\0') || state.invalidChars > 0))
        reason = QStringLiteral("it is no text file");
    if (!reason.isEmpty()) {
        if (why)
            *why = reason;
        return false;
    }
    const QString root = sessionsRoot() + QLatin1Char('/');
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        QString name = line.trimmed();
        if (name.isEmpty())
            continue;
        // A name saved with blanks around it by an older version lives in
        // a folder of that spelling: keep that folder.
        if (name != line && !QFileInfo(root + name).isDir() && QFileInfo(root + line).isDir())
            name = line;
        names->append(name);
    }
    return true;
}

bool SessionManager::writeListFile(const QStringList &names) const
{
    QByteArray content;
    for (const QString &n : names)
        content += n.toUtf8() + '\n';
    const AtomicFile::Result r = AtomicFile::writeBytes(listFilePath(), content);
    if (!r.ok)
        qWarning("%s", qUtf8Printable(r.error));
    return r.ok;
}

QStringList SessionManager::resumableSessions() const
{
    QStringList out;
    QStringList names;
    readListFile(&names);
    for (const QString &n : names) {
        const QString folder = sessionFolder(n);
        if (n != g_current && validSessionName(n) && !n.contains(kUnsaved) && QFileInfo(folder).isDir()
            && !folderInUse(folder) && !out.contains(n))
            out.append(n);
    }
    return out;
}

QStringList SessionManager::recoverableSessions() const
{
    QStringList out;
    QStringList names;
    readListFile(&names);
    for (const QString &n : names) {
        const QString folder = sessionFolder(n);
        if (n != g_current && validSessionName(n) && n.contains(kUnsaved) && QFileInfo(folder).isDir()
            && !folderInUse(folder) && holdsRecordedActions(folder) && !out.contains(n))
            out.append(n);
    }
    return out;
}

bool SessionManager::holdsRecordedActions(const QString &sessionFolder)
{
    for (const QString &w : windowFolders(sessionFolder)) {
        const QDir window(sessionFolder + QLatin1Char('/') + w);
        for (const QString &kind : window.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QString &file : QDir(window.filePath(kind)).entryList(QDir::Files)) {
                // The window's start and a first New are empty systems:
                // nothing to lose.
                if (kind == QLatin1String("NEW")
                    && (file.startsWith(QLatin1String("0.btrx")) || file.startsWith(QLatin1String("1.btrx"))))
                    continue;
                return true;
            }
        }
    }
    return false;
}

QString SessionManager::nameRefusal(const QString &raw)
{
    const QString name = raw.trimmed();
    if (name.isEmpty())
        return QStringLiteral("The name is empty.");
    if (name.contains(kUnsaved))
        return QStringLiteral("The name cannot contain the text \"Unsaved\".");
    for (const QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return QStringLiteral("The name cannot contain \"/\", \"\\\" or line breaks.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("The name cannot be \".\" or \"..\".");
    if (name.startsWith(QLatin1String("Sessions.sestrx")))
        return QStringLiteral("The name belongs to the session list.");
    if (name.toUtf8().size() > 200)
        return QStringLiteral("The name is longer than 200 bytes.");
    return QString();
}

QString SessionManager::suggestedName()
{
    const QString base = QLocale::c().toString(QDate::currentDate(), QStringLiteral("'Session 'MMM dd, yyyy"));
    QString name = base;
    for (int n = 1; QFileInfo::exists(sessionFolder(name)); ++n)
        name = base + QLatin1Char('_') + QString::number(n);
    return name;
}

bool SessionManager::removeFromList(const QStringList &names)
{
    ListLock lock;
    if (!QFile::exists(listFilePath())) {
        qWarning("error no: SM7");
        return false;
    }
    QStringList kept;
    QString why;
    if (!readListFile(&kept, &why)) {
        qWarning("error no: SM7 - %s", qUtf8Printable(why));
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Session not deleted!"),
            QStringLiteral("The session list %1 cannot be read (%2).\nNothing was deleted.").arg(listFilePath(), why),
            Prompter::Ok, Prompter::Ok);
        return false;
    }
    for (const QString &n : names)
        kept.removeAll(n);
    if (!writeListFile(kept)) {
        qWarning("error no: SM8");
        return false;
    }
    // Every start-up keeps a recovered session while it holds actions: the
    // user's word removes it now.
    for (const QString &n : names) {
        const QString folder = sessionFolder(n);
        if (n.contains(kUnsaved) && n != g_current && validSessionName(n) && !folderInUse(folder))
            DeleteDir(folder);
    }
    return true;
}

void SessionManager::saveSession(bool *done)
{
    *done = false;
    if (!g_unavailable.isEmpty()) {
        sessionNotSaved(QStringLiteral("Sessions are off for this run: ") + g_unavailable + QLatin1Char('.'));
        return;
    }
    if (!ownsFolder()) {
        sessionNotSaved(QStringLiteral("This run holds no session folder of its own."));
        return;
    }
    if (!g_current.contains(kUnsaved)) {
        *done = true;
        emit SaveSession();
        return;
    }
    QStringList names;
    QString why;
    {
        ListLock lock;
        if (!readListFile(&names, &why)) {
            sessionNotSaved(QStringLiteral("Sessions are off for this run: ") + unreadableList(why) + QLatin1Char('.'));
            return;
        }
    }
    bool ok = false;
    QString name = Prompter::instance()->text(
        QStringLiteral("Session Name"),
        QStringLiteral("Enter a name for the current session.\nThe name cannot contain the text \"Unsaved\"."),
        suggestedName(), &ok);
    if (!ok) {
        sessionNotSaved();
        return;
    }
    // A name is kept in one spelling only: without blanks around it.
    name = name.trimmed();
    const QString refusal = nameRefusal(name);
    if (!refusal.isEmpty()) {
        sessionNotSaved(refusal);
        return;
    }
    const QString target = sessionFolder(name);
    if (QFileInfo::exists(target)) {
        const int a = Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Session already exists!"),
            QStringLiteral("There already exists a session with the same name -> ") + name
                + QStringLiteral(".\nWould you like to replace it?"),
            Prompter::Yes | Prompter::No, Prompter::No);
        if (a != Prompter::Yes)
            return;
        // Another running Tarvix works in that session: never delete it.
        if (folderInUse(target)) {
            sessionNotSaved(QStringLiteral("Another Tarvix works in the session ") + name + QLatin1Char('.'));
            return;
        }
        DeleteDir(target);
    }
    ListLock lock;
    const QString previous = g_current;
    const QString from = currentSessionFolder();
    releaseFolder();
    if (!QDir().rename(from, target)) {
        holdFolder();
        sessionNotSaved(QStringLiteral("The folder %1 could not be renamed to %2.").arg(from, target));
        return;
    }
    g_current = name;
    holdFolder();
    bool listed = readListFile(&names, &why);
    if (listed) {
        names.removeAll(previous);
        names.removeAll(name);
        names.append(name);
        listed = writeListFile(names);
    }
    if (!listed) {
        // An unlisted folder would go at the next start: take the rename back.
        releaseFolder();
        QDir().rename(target, from);
        g_current = previous;
        holdFolder();
        sessionNotSaved(QStringLiteral("The session list %1 could not be written.").arg(listFilePath()));
        return;
    }
    m_recovered = false;
    *done = true;
    emit SaveSession();
}

void SessionManager::setBusyQuery(std::function<bool()> busy)
{
    g_busy = std::move(busy);
}

void SessionManager::saveCurrentSession(bool mayAsk)
{
    // With sessions off there is nothing to save and nothing to ask.
    if (!g_instance || !g_unavailable.isEmpty() || !g_instance->ownsFolder())
        return;
    const bool unsaved = g_current.contains(kUnsaved);
    if (unsaved && (!mayAsk || g_nameDeclined))
        return;
    // A window in the middle of reading, writing or solving holds a half
    // system: the save waits until it has finished.
    if (g_busy && g_busy()) {
        g_askPending = g_askPending || mayAsk;
        if (!g_savePending && QCoreApplication::instance()) {
            g_savePending = true;
            QTimer::singleShot(100, QCoreApplication::instance(), []() {
                g_savePending = false;
                saveCurrentSession(std::exchange(g_askPending, false));
            });
        }
        return;
    }
    bool done = false;
    g_instance->saveSession(&done);
    if (!done && unsaved)
        g_nameDeclined = true;
}

void SessionManager::DeleteDir(const QString &path, const QStringList *keepFiles,
                               const QStringList *keepDirs)
{
    QDir dir(path);
    if (!dir.exists())
        return;
    bool keptSomething = false;
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                    | QDir::NoDotAndDotDot);
    for (const QFileInfo &e : entries) {
        if (e.isDir() && !e.isSymLink()) {
            if (keepDirs && keepDirs->contains(e.fileName())) {
                keptSomething = true;
                continue;
            }
            DeleteDir(e.absoluteFilePath(), keepFiles, keepDirs);
            if (QFileInfo::exists(e.absoluteFilePath()))
                keptSomething = true;
        } else {
            if (keepFiles && keepFiles->contains(e.fileName())) {
                keptSomething = true;
                continue;
            }
            if (!QFile::remove(e.absoluteFilePath())) {
                qWarning("error no: SM6 - %s", qUtf8Printable(e.absoluteFilePath()));
                keptSomething = true;
            }
        }
    }
    if (!keptSomething) {
        if (!QDir().rmdir(path))
            qWarning("error no: SM2 - %s", qUtf8Printable(path));
    }
}
