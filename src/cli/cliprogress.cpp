#include "cliprogress.h"

#include "solver/solve.h"

#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

std::unique_ptr<SolveControl> g_control;
QElapsedTimer g_clock;
int g_shown = -1; // the last per mille written
bool g_written = false;

void clockText(char *out, size_t size, long long ms)
{
    const long long s = ms / 1000;
    std::snprintf(out, size, "%lld:%02lld", s / 60, s % 60);
}

// Runs on the solving thread between the elimination's blocks.
void show(double share)
{
    const int perMille = int(share * 1000.0);
    if (perMille == g_shown)
        return;
    g_shown = perMille;
    const long long elapsed = g_clock.elapsed();
    // Rounded down: 100% only once done.
    const double percent = perMille / 10.0;
    char spent[32], left[32];
    clockText(spent, sizeof spent, elapsed);
    if (share >= 0.1 && share < 1.0) {
        clockText(left, sizeof left, (long long)(double(elapsed) * (1.0 - share) / share));
        std::fprintf(stderr, "\rsolving: %5.1f%%  %s elapsed, about %s left   ", percent, spent, left);
    } else {
        std::fprintf(stderr, "\rsolving: %5.1f%%  %s elapsed                  ", percent, spent);
    }
    std::fflush(stderr);
    g_written = true;
}

} // namespace

bool CliProgress::wanted(Mode mode, bool stderrIsTerminal)
{
    return mode == Mode::Forced || (mode == Mode::Auto && stderrIsTerminal);
}

void CliProgress::setMode(Mode mode)
{
    g_control.reset();
    if (!wanted(mode, isatty(STDERR_FILENO) == 1))
        return;
    g_control = std::make_unique<SolveControl>();
    g_control->onProgress = show;
    g_clock.start();
}

SolveControl *CliProgress::control()
{
    return g_control.get();
}

void CliProgress::finish()
{
    if (!g_written)
        return;
    // The line ends where it stands: the last state stays readable.
    std::fputc('\n', stderr);
    std::fflush(stderr);
    g_written = false;
}
