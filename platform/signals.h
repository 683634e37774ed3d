#pragma once
// The signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT).
//
// A tool run from a shell or cron ends at once: endOnSignals() runs the given
// cleanup (it must be async-signal-safe, e.g. cp290::restoreOpenLines) and
// then lets the signal end the program with the usual status. The windowed
// controller instead notes the signal (quitOnSignals): a descriptor becomes
// readable for its event loop, and stopRequested() turns true so a running
// operation ends early and closes its line on the normal path.
namespace platform {

using SignalCleanup = void (*)();

void endOnSignals(SignalCleanup cleanup);

// Returns the read end of the self-pipe; -1 when it could not be made.
int quitOnSignals();

bool stopRequested();

}  // namespace platform
