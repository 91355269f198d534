#include "sessionmanager.h"

#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

namespace {
SessionManager *g_instance = nullptr;
QString g_current;
int g_windowCounter = 0;

void sessionNotSaved()
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Session not saved!"),
                                  QStringLiteral("Current session could not be saved to file.\nPlease try again!"),
                                  Prompter::Ok, Prompter::Ok);
}
}

SessionManager::SessionManager()
{
    g_instance = this;
    startUp();
}

SessionManager::SessionManager(const QString &name)
{
    g_instance = this;
    QDir().mkpath(sessionsRoot());
    g_current = name;
}

SessionManager::~SessionManager()
{
    // An unsaved session is not kept: drop it from the list; its folder goes
    // with the clean-up of the next start.
    if (g_current.contains(QLatin1String("Unsaved")) && QFile::exists(listFilePath())) {
        QStringList names = readListFile();
        names.removeAll(g_current);
        if (!writeListFile(names))
            qWarning("error no: SM14");
    }
    if (g_instance == this)
        g_instance = nullptr;
}

void SessionManager::startUp()
{
    const QString root = sessionsRoot();
    if (!QFile::exists(listFilePath())) {
        if (QFileInfo::exists(root))
            DeleteDir(root);
        if (!QDir().mkpath(root))
            qWarning("error no: SM1 - %s", qUtf8Printable(root));
    } else {
        QStringList names;
        for (const QString &n : readListFile())
            if (QFileInfo(root + QLatin1Char('/') + n).isDir() && !names.contains(n))
                names.append(n);
        const QStringList keepFiles{QStringLiteral("Sessions.sestrx")};
        DeleteDir(root, &keepFiles, &names);
        if (!writeListFile(names))
            qWarning("error no: SM15");
        m_listed = names;
    }
    g_current = automaticName(root);
    if (!QDir().mkpath(root + QLatin1Char('/') + g_current))
        qWarning("error no: SM3 - %s", qUtf8Printable(root + QLatin1Char('/') + g_current));
    QFile list(listFilePath());
    if (list.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        QTextStream(&list) << g_current << '\n';
    } else {
        qWarning("error no: SM4");
    }
}

SessionManager *SessionManager::instance()
{
    return g_instance;
}

QString SessionManager::currentSessionName()
{
    return g_current;
}

QString SessionManager::nextWindowName()
{
    return QStringLiteral("Window ") + QString::number(++g_windowCounter);
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
    QFile f(listFilePath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&f);
    for (const QString &n : names)
        out << n << '\n';
    return true;
}

QStringList SessionManager::resumableSessions() const
{
    QStringList out;
    for (const QString &n : readListFile())
        if (n != g_current && !n.contains(QLatin1String("Unsaved"))
            && QFileInfo(sessionsRoot() + QLatin1Char('/') + n).isDir())
            out.append(n);
    return out;
}

void SessionManager::saveSession(bool *done)
{
    *done = false;
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
    // sessions folder.
    if (!ok || name.trimmed().isEmpty() || name.contains(QLatin1String("Unsaved"))
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name == QLatin1String(".") || name == QLatin1String("..")) {
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
        DeleteDir(target);
    }
    if (!QDir().rename(currentSessionFolder(), target)) {
        sessionNotSaved();
        return;
    }
    g_current = name;
    QFile list(listFilePath());
    if (!list.exists() || !list.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        sessionNotSaved();
        return;
    }
    QTextStream(&list) << name << '\n';
    list.close();
    *done = true;
    emit SaveSession();
}

void SessionManager::saveCurrentSession()
{
    if (!g_instance)
        return;
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
