#include "childrun.h"

#include <QDir>
#include <QFile>

void prepareChild(QProcess &p, const QString &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"APPDATA", "XDG_DATA_HOME"})
        env.insert(QLatin1String(name), dir + QStringLiteral("/appdata"));
    for (const char *name : {"TEMP", "TMPDIR"})
        env.insert(QLatin1String(name), dir);
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString runtime = dir + QStringLiteral("/runtime");
    if (QDir().mkpath(runtime))
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
}

Run runChild(QProcess &p, const QString &program, const QStringList &args)
{
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

Run runChild(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    prepareChild(p, dir);
    return runChild(p, program, args);
}

QList<double> outputNumbers(const QByteArray &text)
{
    QList<double> v;
    for (const QByteArray &line : text.split('\n'))
        if (!line.trimmed().isEmpty())
            v << line.trimmed().toDouble();
    return v;
}
