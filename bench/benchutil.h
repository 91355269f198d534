#ifndef BENCHUTIL_H
#define BENCHUTIL_H

// What the window benchmarks share: a headless start, integer options and
// the median of timed runs.
#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

// No platform given: run offscreen.
inline void runHeadless()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The value after option name (at least lowest), or fallback.
inline int intOption(int argc, char **argv, const char *name, int fallback, int lowest)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name))
            return std::max(lowest, std::atoi(argv[i + 1]));
    return fallback;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds that f takes.
inline double timed(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

#endif
