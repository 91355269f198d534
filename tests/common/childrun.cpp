#include "childrun.h"

void prepareChild(QProcess &p, const QString &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"APPDATA", "XDG_DATA_HOME"})
        env.insert(QLatin1String(name), dir + QStringLiteral("/appdata"));
    for (const char *name : {"TEMP", "TMPDIR"})
        env.insert(QLatin1String(name), dir);
    env.remove(QStringLiteral("DISPLAY"));
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
