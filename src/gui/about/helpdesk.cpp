#include "helpdesk.h"

#include "document/equationdocument.h"

#include "checkupdates.h"
#include "env/environment.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QThread>
#include <QUrl>

#ifndef TARVIX_HELP_RELPATH
#define TARVIX_HELP_RELPATH "../share/tarvix/help.txt"
#endif

namespace {
QString g_shippedHelp;
bool g_checking = false;
}

// ---------------------------------------------------------------------- help

void HelpDesk::setShippedHelpFile(const QString &path)
{
    g_shippedHelp = path;
}

QString HelpDesk::shippedHelpFile()
{
    if (!g_shippedHelp.isEmpty())
        return QFileInfo(g_shippedHelp).isFile() ? g_shippedHelp : QString();
    // Beside the program in the build folder; under share/ once installed.
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + QStringLiteral("/help.txt"),
                                     dir + QLatin1Char('/') + QStringLiteral(TARVIX_HELP_RELPATH)}) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    }
    return QString();
}

void HelpDesk::showHelp()
{
    const QString folder = Environment::tarvixFolder();
    const QString path = Environment::helpFile();
    // No installer puts the help file into the data folder here: the
    // program's own copy goes there the first time it is asked for.
    if (!QFileInfo::exists(path)) {
        const QString shipped = shippedHelpFile();
        if (!shipped.isEmpty() && QDir().mkpath(folder))
            QFile::copy(shipped, path);
    }
    if (QFileInfo(path).isFile()) {
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            return;
        // The file is there, but nothing on this desktop shows text files.
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Unable to Help You!"),
            QStringLiteral("No program to show text files could be started.\nThe help file is at:\n")
                + QDir::toNativeSeparators(path),
            Prompter::Ok, Prompter::Ok);
        return;
    }
    Prompter::instance()->message(
        Prompter::Warning, QStringLiteral("Unable to Help You!"),
        QStringLiteral("Looks like the help file is not available.\nPlease copy the help.txt file from "
                       "your installation and paste it at the location:\n")
            + Environment::tarvixFolder(),
        Prompter::Ok, Prompter::Ok);
}

// ------------------------------------------------------------- update check

bool HelpDesk::checkUpdateLog()
{
    // Without an update page there is nothing to check, daily or otherwise.
    if (!UserPrefs::getAutoCheckUpdates() || CheckUpdates::updateAddress().isEmpty())
        return true;
    const QString folder = Environment::updatesFolder();
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/check.log");
    const QString today = QDate::currentDate().toString(Qt::TextDate);
    QFile log(path);
    if (!log.open(QIODevice::ReadWrite | QIODevice::Text))
        return false;
    const QString last = QString::fromUtf8(log.read(4096));
    log.close();
    if (last.simplified() == today.simplified())
        return true;
    QSaveFile next(path);
    if (next.open(QIODevice::WriteOnly | QIODevice::Text)) {
        next.write(today.toUtf8());
        next.commit();
    }
    return false;
}

void HelpDesk::checkForUpdates(QWidget *parent, bool quiet, EquationDocument &doc,
                               const std::function<void(const QString &, int)> &status)
{
    // The wait below lets events in; a second check meanwhile would nest.
    if (g_checking)
        return;
    g_checking = true;
    bool done = false;
    QString result;
    auto *checker = new CheckUpdates(&done, &result);

    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Checking for Updates"),
                                QStringLiteral("<p>Tarvix is checking for updates. Please wait...</p>"),
                                QMessageBox::NoButton, parent,
                                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto *check = new QCheckBox(QStringLiteral("Check Updates Automatically"), box);
    const QString checkTip = QStringLiteral("Automatically check for updates everytime Tarvix is launched.");
    check->setToolTip(checkTip);
    check->blockSignals(true);
    check->setChecked(UserPrefs::getAutoCheckUpdates());
    check->blockSignals(false);
    box->setCheckBox(check);
    if (!quiet)
        box->show();

    checker->start();
    if (quiet)
        status(QStringLiteral("Tarvix is checking for updates..."), 10000);
    {
        const EquationDocument::BusyScope busy(doc);
        while (!done) {
            QApplication::processEvents();
            if (!done)
                QThread::msleep(10);
        }
    }

    // The outcome comes in a box of its own with the same check box.
    box->hide();
    bool automatic = check->isChecked();
    const QString address = CheckUpdates::updateAddress().toHtmlEscaped();
    const QString running = QCoreApplication::applicationVersion();
    auto tell = [&](const QString &text) {
        Prompter::instance()->checkMessage(Prompter::Information, QStringLiteral("Checking for Updates"),
                                           text, Prompter::Close, check->text(), checkTip, &automatic);
    };
    if (result.contains(CheckUpdates::newerMark())) {
        const QString version = result.section(QLatin1Char('\n'), 1, 1);
        tell(QStringLiteral("<p>You are using <b>Tarvix ") + running + QStringLiteral("</b>. <b>Tarvix ")
             + version.toHtmlEscaped() + QStringLiteral("</b> has been released.</p><p>Please download the "
                                                        "latest version from <a href = \"")
             + address + QStringLiteral("\">here</a>.</p>"));
    } else if (result == QLatin1String("OK")) {
        const QString text = QStringLiteral("Looks like you have the latest version of Tarvix!");
        if (quiet)
            status(text, 10000);
        else
            tell(text);
    } else if (result == CheckUpdates::noAddressText()) {
        // Nothing was tried: trying again would not help.
        const QString text = QStringLiteral("No update address is configured for this build of Tarvix, so it "
                                            "cannot check for updates; automatic checks are off.");
        if (quiet)
            status(text, 10000);
        else
            tell(QStringLiteral("<p>") + text + QStringLiteral("</p>"));
    } else if (quiet) {
        status(QStringLiteral("Tarvix could not connect to the server."), 10000);
    } else {
        tell(QStringLiteral("<p>Tarvix could not connect to the server. Error message: <b>")
             + result.toHtmlEscaped() + QStringLiteral("</b>.</p><p>Please try again or <a href = \"")
             + address + QStringLiteral("\">check manually</a>.</p>"));
    }

    UserPrefs::setAutoCheckUpdates(automatic);
    delete box;
    delete checker;
    g_checking = false;
}
