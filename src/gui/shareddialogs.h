#ifndef SHAREDDIALOGS_H
#define SHAREDDIALOGS_H

#include "prefs/userprefs.h"

#include <QStringList>

class AboutDialog;
class EditDialog;
class Options;
class QWidget;

// The dialogs every window shares (the edit chooser, About, Options) and the
// copy buffer of the edit commands: made by the first window, placed where
// the user left them last time, stored again and deleted by the last window.
namespace SharedDialogs {

// Makes whatever does not exist yet.
void create();
// Null before create() and after destroy().
EditDialog *edit();
AboutDialog *about();
Options *options();
QStringList *copyBuffer();
// Stores the position and size of every dialog made.
void storeGeometry();
void destroy();

// A window's position and size from, and back to, the preferences.
void place(QWidget *w, UserPrefs::Window where);
void store(const QWidget *w, UserPrefs::Window where);

} // namespace SharedDialogs

#endif
