#include "environment.h"

#include "prompt/prompter.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QThread>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// The probe's results; "0" marks a value not found.
struct Values
{
    QString osName = QStringLiteral("0");
    QString processorArch = QStringLiteral("0");
    QString userName = QStringLiteral("0");
    QString computerName = QStringLiteral("0");
    QString tempFolder = QStringLiteral("0");
    QString appDataFolder = QStringLiteral("0");
    int processorCount = 0;
    double horizontalScale = 1.0;
    double verticalScale = 1.0;
    ScreenInfo screen;
};

Values &V()
{
    static Values v;
    return v;
}

} // namespace

void Environment::reset()
{
    V() = Values();
}

void Environment::toForwardSlashes(QString &path)
{
    for (const QString &sep : {QStringLiteral("\\\\"), QStringLiteral("\\")}) {
        if (path.contains(sep))
            path = path.split(sep, Qt::SkipEmptyParts).join(QLatin1Char('/'));
    }
}

QStringList Environment::platformEnvironment()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    auto value = [&env](const char *name, const QString &fallback) {
        const QString v = env.value(QLatin1String(name));
        if (!v.isEmpty() && v != QLatin1String("0"))
            return v;
        return fallback.isEmpty() ? QStringLiteral("0") : fallback;
    };
#ifdef Q_OS_WIN
    const QString os = QStringLiteral("Windows_NT");
#else
    const QString os = QStringLiteral("Linux");
#endif
    const QString arch = QSysInfo::buildCpuArchitecture().contains(QLatin1String("64"))
                             ? QStringLiteral("x64") : QStringLiteral("x86");
    QString user = env.value(QStringLiteral("USER"));
    if (user.isEmpty())
        user = env.value(QStringLiteral("LOGNAME"));
#ifdef Q_OS_UNIX
    if (user.isEmpty()) {
        if (const passwd *pw = ::getpwuid(::getuid()))
            user = QString::fromLocal8Bit(pw->pw_name);
    }
#endif
    QString host = QSysInfo::machineHostName();
    QString temp = env.value(QStringLiteral("TMPDIR"));
    if (temp.isEmpty())
        temp = QDir::tempPath();
    QString data = env.value(QStringLiteral("XDG_DATA_HOME"));
    if (data.isEmpty() && !QDir::homePath().isEmpty() && QDir::homePath() != QDir::rootPath())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const int ideal = QThread::idealThreadCount();
    return QStringList{value("OS", os),
                       value("PROCESSOR_ARCHITECTURE", arch),
                       value("USERNAME", user),
                       value("COMPUTERNAME", host),
                       value("TEMP", temp),
                       value("APPDATA", data),
                       value("NUMBER_OF_PROCESSORS", ideal > 0 ? QString::number(ideal) : QString())};
}

void Environment::probe(const QStringList &environment, const ScreenInfo &screen)
{
    Values &s = V();
    Prompter *p = Prompter::instance();
    bool warned = false;
    auto entry = [&environment](int i) {
        const QString v = i < environment.size() ? environment.at(i) : QString();
        return v.isEmpty() ? QStringLiteral("0") : v;
    };
    auto warnOnce = [&]() {
        if (warned)
            return;
        warned = true;
        p->message(Prompter::Warning, QStringLiteral("ENVIRONMENT VARIABLE NOT FOUND!"),
                   QStringLiteral("                    WARNING: ENVIRONMENT VARIABLE(s) NOT FOUND!\n")
                       + QStringLiteral("\nThey can be temporarily setup for this session now. However if the problem is not solved then please")
                       + QStringLiteral(" create the ENVIRONMENT VARIABLE manually. Google Search if you don't know how to.\n")
                       + QStringLiteral("Otherwise you can setup the ENVIRONMENT VARIABLES exclusively for this Application, as a permanent solution.\n")
                       + QStringLiteral("To do this go to .........\n"),
                   Prompter::Ok, Prompter::Ok);
    };
    bool ok = false;

    s.osName = entry(0);
    if (s.osName == QLatin1String("0")) {
        warnOnce();
        const QString a = p->item(QStringLiteral("Which Operating System?"),
                                  QStringLiteral("Which Operating System are you using?"),
                                  {QStringLiteral("Windows"), QStringLiteral("Linux")}, 0, false, &ok);
        s.osName = a == QLatin1String("Windows") ? QStringLiteral("Windows_NT") : QStringLiteral("Linux");
    }
    s.processorArch = entry(1);
    if (s.processorArch == QLatin1String("0")) {
        warnOnce();
        const QString a = p->item(QStringLiteral("Which Processor Architecture?"),
                                  QStringLiteral("Which Processor Architecture are you using?"),
                                  {QStringLiteral("32 bit"), QStringLiteral("64 bit")}, 0, false, &ok);
        s.processorArch = a == QLatin1String("32 bit") ? QStringLiteral("x86") : QStringLiteral("x64");
    }
    s.userName = entry(2);
    if (s.userName == QLatin1String("0")) {
        warnOnce();
        s.userName = p->text(QStringLiteral("Enter User Name"),
                             QStringLiteral("Please Enter the User Name: "), QString(), &ok);
    }
    s.computerName = entry(3);
    if (s.computerName == QLatin1String("0")) {
        warnOnce();
        s.computerName = p->text(QStringLiteral("Enter Computer Name"),
                                 QStringLiteral("Please Enter the Computer Name: "), QString(), &ok);
    }
    s.tempFolder = entry(4);
    toForwardSlashes(s.tempFolder);
    if (s.tempFolder == QLatin1String("0")) {
        warnOnce();
        s.tempFolder = p->directory(QStringLiteral("Temporary (TEMP) folder?"), QString());
        toForwardSlashes(s.tempFolder);
    }
    s.appDataFolder = entry(5);
    toForwardSlashes(s.appDataFolder);
    if (s.appDataFolder == QLatin1String("0")) {
        warnOnce();
        s.appDataFolder = p->directory(QStringLiteral("Application Data folder?"), QString());
        toForwardSlashes(s.appDataFolder);
    }
    if (entry(6) == QLatin1String("0")) {
        s.processorCount = QThread::idealThreadCount();
        if (s.processorCount <= 0) {
            warnOnce();
            s.processorCount = p->integer(QStringLiteral("How many Processors in CPU?"),
                                          QStringLiteral("No of Processors :"), 1, 1, 8, 1, &ok);
        }
    } else {
        s.processorCount = entry(6).toInt(&ok, 10);
    }
    // A count that is not a positive number never reaches the thread pool
    // or the worker counts: fall back to what the machine reports.
    if (s.processorCount < 1)
        s.processorCount = qMax(1, QThread::idealThreadCount());

    s.screen = screen;
    s.horizontalScale = screen.availableWidth / 1366.0;
    if (qAbs(s.horizontalScale) <= 1e-15) {
        s.horizontalScale = screen.fullWidth / 1366.0;
        if (qAbs(s.horizontalScale) <= 1e-15)
            s.horizontalScale = 1.0;
    }
    s.verticalScale = screen.availableHeight / 728.0;
    if (qAbs(s.verticalScale) <= 1e-15) {
        s.verticalScale = screen.fullHeight / 768.0;
        if (qAbs(s.verticalScale) <= 1e-15)
            s.verticalScale = 1.0;
    }
}

QString Environment::osName() { return V().osName; }
QString Environment::processorArch() { return V().processorArch; }
QString Environment::userName() { return V().userName; }
QString Environment::computerName() { return V().computerName; }
QString Environment::tempFolder() { return V().tempFolder; }
QString Environment::appDataFolder() { return V().appDataFolder; }
int Environment::processorCount() { return qMax(1, V().processorCount); }
double Environment::horizontalScale() { return V().horizontalScale; }
double Environment::verticalScale() { return V().verticalScale; }
ScreenInfo Environment::screen() { return V().screen; }

// ---------------------------------------------------------------- folders

QString Environment::tarvixFolder() { return V().appDataFolder + QStringLiteral("/Tarvix"); }
QString Environment::prefsFolder() { return tarvixFolder() + QStringLiteral("/Preferences"); }

QString Environment::prefsFile()
{
    // Only a Windows build may take backslashes: elsewhere they are plain
    // name characters, whatever the OS variable claims.
#ifdef Q_OS_WIN
    if (V().osName == QLatin1String("Windows_NT"))
        return V().appDataFolder + QStringLiteral("\\Tarvix\\Preferences\\Tarvix.pref");
#endif
    return prefsFolder() + QStringLiteral("/Tarvix.pref");
}

QString Environment::logsFolder() { return tarvixFolder() + QStringLiteral("/logs"); }
QString Environment::sessionsFolder() { return tarvixFolder() + QStringLiteral("/Sessions"); }
QString Environment::errorReportsFolder() { return tarvixFolder() + QStringLiteral("/Error Reports"); }
QString Environment::updatesFolder() { return tarvixFolder() + QStringLiteral("/Updates"); }
QString Environment::helpFile() { return tarvixFolder() + QStringLiteral("/help.txt"); }
