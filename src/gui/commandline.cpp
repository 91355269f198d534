#include "commandline.h"

#include "prompt/prompter.h"
#include "tarvix.h"

#include <QFile>

namespace {
void reportMissing(const QString &path, const char *code)
{
    qWarning("error no: %s - %s. File does not exist!", code, qUtf8Printable(path));
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("WARNING!"),
                                  path + QStringLiteral(". File does not exist!"), Prompter::Ok,
                                  Prompter::Ok);
}
}

bool CommandLine::isSessionResume(const QStringList &args)
{
    return args.size() == 2 && args.at(0) == QLatin1String("-Session") && !args.at(1).isEmpty();
}

QList<tarvix *> CommandLine::openFromArguments(const QStringList &args)
{
    QList<tarvix *> opened;
    tarvix *lastOpened = nullptr;
    for (const QString &arg : args) {
        if (lastOpened && arg.toLower() == QLatin1String("solve")) {
            lastOpened->on_solveb_clicked();
            lastOpened = nullptr;
            continue;
        }
        lastOpened = nullptr;
        const bool text = arg.contains(QLatin1String(".trx"));
        const bool binary = !text && arg.contains(QLatin1String(".btrx"));
        if (!text && !binary) {
            qWarning("error no: MAIN2 - %s. Unkown Argument!", qUtf8Printable(arg));
            continue;
        }
        if (!QFile::exists(arg)) {
            reportMissing(arg, text ? "MAIN1" : "MAIN3");
            continue;
        }
        auto *w = new tarvix(arg);
        w->show();
        lastOpened = w;
        opened.append(w);
    }
    return opened;
}
