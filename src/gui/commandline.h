#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QStringList>

class tarvix;

// The command line after the program name. Equation file paths open a
// window each, "solve" right after an opened path solves that window, and
// anything else is logged as unknown.
namespace CommandLine {

// True when the arguments ask to resume a saved session: exactly
// "-Session" and a non-empty name.
bool isSessionResume(const QStringList &args);

// Walks the arguments in order; returns the windows it opened (already
// shown), in command-line order.
QList<tarvix *> openFromArguments(const QStringList &args);

}

#endif
