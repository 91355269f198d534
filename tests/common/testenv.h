#ifndef TESTENV_H
#define TESTENV_H

#include "prefs/userprefs.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

// A private application-data and temporary folder for one test, and the
// preference store initialised on them (no dialog, no real user file).
class TestEnv
{
public:
    // processors: the processor count the store reports.
    explicit TestEnv(int processors = 2, bool initialisePrefs = true);
    ~TestEnv();

    QString appData() const;   // .../appdata (exists)
    QString temp() const;      // .../tmp (exists)
    QString root() const { return m_dir.path(); }
    // The environment list for the probe with every value present.
    QStringList environment() const;
    static ScreenInfo screen() { return ScreenInfo{1366, 728, 1366, 768}; }

private:
    QTemporaryDir m_dir;
    int m_processors;
    std::unique_ptr<UserPrefs> m_prefs;
};

// |a - b| <= tol * max(1, |a|, |b|)
inline bool fuzzyEqual(double a, double b, double tol = 1e-9)
{
    if (std::isnan(a) || std::isnan(b))
        return false;
    const double scale = std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
    return std::fabs(a - b) <= tol * scale;
}

#endif
