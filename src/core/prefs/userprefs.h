#ifndef USERPREFS_H
#define USERPREFS_H

#include "app/applog.h"
#include "env/environment.h"
#include "threads/mythreads.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class QFile;
class QTextStream;

// The process-wide preference store. Every value is class-wide; the single
// object exists so that the save can run as a slot on a worker thread.
class UserPrefs : public TrxWorker
{
    Q_OBJECT
public:
    // Window numbers of the six stored geometries.
    enum Window { AboutWindow = 0, AnalyseWindow, AnalyseOptionsWindow, EditWindow,
                  MainWindow, OptionsWindow };
    // The four-element lists of lines 11 to 14.
    enum ListKind { Widths = 1, Heights = 2, VariableStyle = 3, PlusStyle = 4 };

    // holder: address of the log's on/off switch pointer (may be null).
    explicit UserPrefs(LogSwitchHolder *holder);
    ~UserPrefs() override;

    static UserPrefs *instance();
    static void setInstance(UserPrefs *prefs);

    // Runs the environment probe, then reads or creates the preferences file.
    // False: the program cannot go on.
    bool initialise(const QStringList &environment, const ScreenInfo &screen);
    // The platform's own environment list: the seven values in probe order,
    // each "0" when it cannot be found. Variables set in the environment win.
    static QStringList platformEnvironment() { return Environment::platformEnvironment(); }
    // Rewrites a path with "/" separators.
    static void toForwardSlashes(QString &path) { Environment::toForwardSlashes(path); }

    // Console use, nothing is created or written: the environment probe
    // alone, then the preferences file at path read if it exists (defaults
    // otherwise). False when the file exists but could not be read.
    static void probeEnvironment(const QStringList &environment, const ScreenInfo &screen);
    static bool readPrefsFile(const QString &path);

    // Writes the file back when dirty (no thread hand-over); true when the
    // file on disk is current afterwards.
    static bool savePrefs();
    // Forgets every value: the state before start-up (tests and shut-down).
    static void resetStore();

    // Defaults.
    static int getDefaultPrefsInt(int item);
    static bool getDefaultPrefs(int item);
    static int getDefaultPrefs(int kind, int element);
    static void getDefaultPrefs(int window, int *out);
    static double getDefaultTolerance() { return 1e-15; }

    // Items.
    static QList<int> getThreadLimits();
    static void setThreadLimits(const QList<int> &limits);
    static double getTolerance();
    static void setTolerance(double v);
    static bool getFancyUI();
    static void setFancyUI(bool v);
    static bool getUndoEnabled();
    static void setUndoEnabled(bool v);
    static bool getDebugEnabled();
    static void setDebugEnabled(bool v);
    static bool getOpenCLEnabled();
    static void setOpenCLEnabled(bool v);
    // OpenCL engine: false the blocked one (default), true step by step.
    static bool getOpenCLStepwise();
    static void setOpenCLStepwise(bool v);
    static bool getAutoCheckUpdates();
    static void setAutoCheckUpdates(bool v);
    static int getAnalysisRows();
    static void setAnalysisRows(int v);
    static int getAnalysisTables();
    static void setAnalysisTables(int v);
    static int getErrorSolutionSet();
    static void setErrorSolutionSet(int v);
    static int getSavedSolutionSet();
    static void setSavedSolutionSet(int v);
    static int getAccuracyMode();
    static void setAccuracyMode(int v);
    static int getAccuracyDigits();
    static void setAccuracyDigits(int v);

    // Geometry items: x, y, w, h. index < 0 replaces all four values.
    static std::array<int, 4> getGeometry(Window w);
    static void setGeometry(Window w, const int *values, int index = -1);

    // Four-element lists. Widths and heights: index 0..2 (coefficient,
    // variable, plus); styles: index 0..3. Out-of-range indexes are ignored
    // by the setters and give 0 from the getter.
    static int getListValue(ListKind kind, int index);
    static void setListValue(ListKind kind, int index, int value);
    static int getDisplayColumns() { return getListValue(Widths, 3); }
    static void setDisplayColumns(int v);
    static int getDisplayRows() { return getListValue(Heights, 3); }
    static void setDisplayRows(int v);

    // Environment values (getters only), found by the probe.
    static QString getOsName() { return Environment::osName(); }
    static QString getProcessorArch() { return Environment::processorArch(); }
    static QString getUserName() { return Environment::userName(); }
    static QString getComputerName() { return Environment::computerName(); }
    static QString getTempFolder() { return Environment::tempFolder(); }
    static QString getAppDataFolder() { return Environment::appDataFolder(); }
    static int getProcessorCount() { return Environment::processorCount(); }
    static double getHorizontalScale() { return Environment::horizontalScale(); }
    static double getVerticalScale() { return Environment::verticalScale(); }
    static int getBuildBits() { return Environment::buildBits(); }
    static QString getVersion();
    static void setVersion(const QString &v);

    static bool isDirty();
    static QString prefsFilePath();

    // Stop and resume all log output.
    static void turnOffDbg();
    static void turnOnDbg();

public slots:
    // Saves when dirty, frees the store and hands the object back to the
    // thread that created it.
    void Destruct();

private:
    static void runProbe(const QStringList &environment, const ScreenInfo &screen);
    static void setDefaultPrefs();
    static bool readPrefs(QTextStream &in);
    static void writePrefs(QTextStream &out);
    static int openPrefsFile(QFile *file, bool truncate);
};

#endif
