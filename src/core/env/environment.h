#ifndef ENVIRONMENT_H
#define ENVIRONMENT_H

#include <QString>
#include <QStringList>

// Geometry of the default screen, handed in by the program (the core has no
// access to screens). Sizes in pixels; zero when unknown.
struct ScreenInfo
{
    int availableWidth = 0;
    int availableHeight = 0;
    int fullWidth = 0;
    int fullHeight = 0;
};

// The machine the program runs on: the values found by the start-up probe
// (operating system, processor, user, folders, processor count, screen
// factors) and the folders kept under the application data folder. The
// bottom of the core: the log, the thread registry and the preferences
// read it, it reads none of them.
class Environment
{
public:
    // The platform's own environment list: the seven values in probe order,
    // each "0" when it cannot be found. Variables set in the environment win.
    static QStringList platformEnvironment();
    // Rewrites a path with "/" separators.
    static void toForwardSlashes(QString &path);

    // Takes the seven values from environment and asks for the missing ones
    // (one warning box first), then the screen factors.
    static void probe(const QStringList &environment, const ScreenInfo &screen);
    // Every value back to "0": the state before the probe.
    static void reset();

    static QString osName();
    static QString processorArch();
    static QString userName();
    static QString computerName();
    static QString tempFolder();
    static QString appDataFolder();
    // At least 1.
    static int processorCount();
    static double horizontalScale();
    static double verticalScale();
    // The screen the factors were taken from.
    static ScreenInfo screen();
    static int buildBits() { return 64; }

    // Under the application data folder.
    static QString tarvixFolder();       // .../Tarvix
    static QString prefsFolder();        // .../Tarvix/Preferences
    static QString prefsFile();          // .../Tarvix/Preferences/Tarvix.pref
    static QString logsFolder();         // .../Tarvix/logs
    static QString sessionsFolder();     // .../Tarvix/Sessions
    static QString errorReportsFolder(); // .../Tarvix/Error Reports
    static QString updatesFolder();      // .../Tarvix/Updates
    static QString helpFile();           // .../Tarvix/help.txt
};

#endif
