#ifndef CLIPROGRESS_H
#define CLIPROGRESS_H

struct SolveControl;

// The one-line progress indicator of "solve" on standard error.
namespace CliProgress {

enum class Mode { Auto, Forced, Off };

// Shown when forced (--progress), or by default when standard error is a
// terminal; never with --quiet (which wins over --progress).
bool wanted(Mode mode, bool stderrIsTerminal);
// Decides for this process (Auto asks whether standard error is a terminal).
void setMode(Mode mode);
// The progress of the CPU solve, or null when no line is shown.
SolveControl *control();
// Clears the line once the solve is over (nothing when none was shown).
void finish();

} // namespace CliProgress

#endif
