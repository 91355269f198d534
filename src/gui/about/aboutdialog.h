#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDate>
#include <QDialog>
#include <QString>

namespace Ui {
class AboutDialog;
}

// Name, version, word size and build date of the program, with a button
// for Qt's own about box. One dialog for the process.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    // "Version 1.20.1 (64 bit)" for the running program.
    static QString versionText();
    // The day this file was compiled.
    static QDate buildDate();

public slots:
    void on_AbtQtb_clicked();
    void on_AbtOKb_clicked();

private:
    Ui::AboutDialog *ui;
};

#endif
