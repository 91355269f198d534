#ifndef HELPDESK_H
#define HELPDESK_H

#include <QString>

#include <functional>

class EquationDocument;
class QWidget;

// Help and the update check of the windows.
namespace HelpDesk {

// Shows the help file of the data folder (copied there from the program's
// own the first time), or says where it has to be.
void showHelp();
// The program's own copy of the help file ("" when there is none); tests
// name one with the setter.
QString shippedHelpFile();
void setShippedHelpFile(const QString &path);

// The daily check's log: false when a check is due now (and today is
// written down), true when there is nothing to do.
bool checkUpdateLog();
// Asks the update page; quiet: the daily check (status messages unless
// there is news). doc stays busy while the answer is awaited.
void checkForUpdates(QWidget *parent, bool quiet, EquationDocument &doc,
                     const std::function<void(const QString &, int)> &status);

} // namespace HelpDesk

#endif
