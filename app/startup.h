#ifndef STARTUP_H
#define STARTUP_H

// What both programs settle before and after their application object exists.
namespace Startup {

// Before anything else: with --version among the arguments, prints the program's name and
// this build's version (MONOPANEL_VERSION) and answers true; the program then ends. The
// window's program needs no display for it.
bool printVersionIfAsked(int argc, char *argv[], const char *program);

// Before the application object: the event loop to run on.
void chooseEventLoop();
// After it: the diagnostics that reach standard error: our categories' lines,
// debug lines included, as bare lines; not Qt's own debug lines.
void showDiagnostics();
// The verbose trace of every exchange, from MONOPANEL_VERBOSE (1: on).
bool verboseFromEnvironment();
// The answer gap in milliseconds, from MONOPANEL_ANSWER_GAP: 0 (every answer
// gets its whole waiting time) when unset, empty, 0 or not a number of
// milliseconds, the last with a warning.
int answerGapFromEnvironment();

} // namespace Startup

#endif
