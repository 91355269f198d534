#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "prefs/userprefs.h"

#include <QCoreApplication>
#include <QLocale>
#include "prompt/prompter.h"

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    // Month names in English whatever the desktop's language.
    ui->buildLabel->setText(QStringLiteral("Build Date: ")
                            + QLocale::c().toString(buildDate(), QStringLiteral("dd MMM yyyy")));
    ui->versionLabel->setText(versionText());
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

QString AboutDialog::versionText()
{
    return QStringLiteral("Version ") + QCoreApplication::applicationVersion()
           + (UserPrefs::getBuildBits() == 32 ? QStringLiteral(" (32 bit)") : QStringLiteral(" (64 bit)"));
}

QDate AboutDialog::buildDate()
{
    // __DATE__ is "Mmm dd yyyy" with a space before a one-digit day.
    return QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
}

void AboutDialog::on_AbtQtb_clicked()
{
    // Over this dialog: it is the active modal window while it runs.
    Prompter::instance()->aboutQt(QStringLiteral("About Qt"));
}

void AboutDialog::on_AbtOKb_clicked()
{
    close();
}
