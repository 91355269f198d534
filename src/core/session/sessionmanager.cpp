#include "sessionmanager.h"

#include "files/atomicfile.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QTextStream>
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

void sessionNotSaved()
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Session not saved!"),
                                  QStringLiteral("Current session could not be saved to file.\nPlease try again!"),
                                  Prompter::Ok, Prompter::Ok);
}

void markUnavailable(const QString &reason)
{
    if (g_unavailable.isEmpty())
        g_unavailable = reason;
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
    g_unavailable.clear();
    startUp();
}

SessionManager::SessionManager(const QString &name)
{
    g_instance = this;
    g_unavailable.clear();
    if (!QDir().mkpath(sessionsRoot())) {
        qWarning("error no: SM1 - %s", qUtf8Printable(sessionsRoot()));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(sessionsRoot()));
    }
    g_current = name;
    if (validSessionName(name) && QFileInfo(currentSessionFolder()).isDir())
        holdFolder();
}

SessionManager::~SessionManager()
{
    // An unsaved session is not kept: drop it from the list; its folder goes
    // with the clean-up of the next start.
    if (g_current.contains(QLatin1String("Unsaved")) && QFile::exists(listFilePath())) {
        ListLock lock;
        QStringList names = readListFile();
        names.removeAll(g_current);
        if (!writeListFile(names))
            qWarning("error no: SM14");
    }
    releaseFolder();
    if (g_instance == this)
        g_instance = nullptr;
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
    if (!QFile::exists(listFilePath())) {
        // A lost list file must not cost the saved sessions: their folders
        // name them. Unsaved leftovers are cleaned as usual.
        const QStringList dirs = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
        for (const QString &d : dirs)
            if (!d.contains(QLatin1String("Unsaved")))
                names.append(d);
    } else {
        for (const QString &n : readListFile())
            if (validSessionName(n) && QFileInfo(root + QLatin1Char('/') + n).isDir() && !names.contains(n))
                names.append(n);
    }
    // Folders that other running processes work in stay, listed or not.
    QStringList keepDirs = names;
    const QStringList dirs = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &d : dirs)
        if (!keepDirs.contains(d) && folderInUse(root + QLatin1Char('/') + d))
            keepDirs.append(d);
    const QStringList keepFiles{QStringLiteral("Sessions.sestrx"), listLockName()};
    DeleteDir(root, &keepFiles, &keepDirs);
    m_listed = names;

    g_current = automaticName(root);
    if (!QDir().mkpath(root + QLatin1Char('/') + g_current)) {
        qWarning("error no: SM3 - %s", qUtf8Printable(root + QLatin1Char('/') + g_current));
        markUnavailable(QStringLiteral("the folder %1 cannot be created").arg(root + QLatin1Char('/') + g_current));
    } else {
        holdFolder();
    }
    // Names of other live processes' sessions stay in the list too.
    QStringList listed = names;
    for (const QString &d : keepDirs)
        if (!listed.contains(d))
            listed.append(d);
    listed.append(g_current);
    if (!writeListFile(listed)) {
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
    return UserPrefs::getAppDataFolder() + QStringLiteral("/Tarvix/Sessions");
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

QStringList SessionManager::readListFile() const
{
    QStringList names;
    QFile f(listFilePath());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return names;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty())
            names.append(line);
    }
    return names;
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
    for (const QString &n : readListFile()) {
        const QString folder = sessionsRoot() + QLatin1Char('/') + n;
        if (n != g_current && validSessionName(n) && !n.contains(QLatin1String("Unsaved"))
            && QFileInfo(folder).isDir() && !folderInUse(folder) && !out.contains(n))
            out.append(n);
    }
    return out;
}

bool SessionManager::removeFromList(const QStringList &names)
{
    ListLock lock;
    if (!QFile::exists(listFilePath())) {
        qWarning("error no: SM7");
        return false;
    }
    QStringList kept = readListFile();
    for (const QString &n : names)
        kept.removeAll(n);
    if (!writeListFile(kept)) {
        qWarning("error no: SM8");
        return false;
    }
    return true;
}

void SessionManager::saveSession(bool *done)
{
    *done = false;
    if (!g_unavailable.isEmpty()) {
        sessionNotSaved();
        return;
    }
    if (!g_current.contains(QLatin1String("Unsaved"))) {
        *done = true;
        emit SaveSession();
        return;
    }
    bool ok = false;
    const QString name = Prompter::instance()->text(
        QStringLiteral("Session Name"),
        QStringLiteral("Enter a name for the current session.\nThe name cannot contain the text \"Unsaved\"."),
        g_current, &ok);
    // A name is also a folder name: refuse anything that would leave the
    // sessions folder or collide with the lock files.
    if (!ok || name.trimmed().isEmpty() || name.contains(QLatin1String("Unsaved")) || !validSessionName(name)
        || name == listLockName() || name == QLatin1String("Sessions.sestrx")) {
        sessionNotSaved();
        return;
    }
    const QString target = sessionsRoot() + QLatin1Char('/') + name;
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
            sessionNotSaved();
            return;
        }
        DeleteDir(target);
    }
    ListLock lock;
    releaseFolder();
    if (!QDir().rename(currentSessionFolder(), target)) {
        holdFolder();
        sessionNotSaved();
        return;
    }
    const QString previous = g_current;
    g_current = name;
    holdFolder();
    if (!QFile::exists(listFilePath())) {
        sessionNotSaved();
        return;
    }
    QStringList names = readListFile();
    names.removeAll(previous);
    names.removeAll(name);
    names.append(name);
    if (!writeListFile(names)) {
        sessionNotSaved();
        return;
    }
    *done = true;
    emit SaveSession();
}

void SessionManager::setBusyQuery(std::function<bool()> busy)
{
    g_busy = std::move(busy);
}

void SessionManager::saveCurrentSession()
{
    if (!g_instance)
        return;
    // A window in the middle of reading, writing or solving holds a half
    // system: the save waits until it has finished.
    if (g_busy && g_busy()) {
        if (!g_savePending && QCoreApplication::instance()) {
            g_savePending = true;
            QTimer::singleShot(100, QCoreApplication::instance(), []() {
                g_savePending = false;
                saveCurrentSession();
            });
        }
        return;
    }
    bool done = false;
    g_instance->saveSession(&done);
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
