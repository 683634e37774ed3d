#pragma once
// Layer platform/: the Linux stand-ins every program uses (log, clock, folders,
// whole-file writes, signals, serial device listing, the device lock, the
// program start). Uses Qt Core, Qt Serial Port (the listing) and the C
// library only.
//
// The start every program of the suite makes before anything else: --help
// and --version answered, the system log opened under the program's ident,
// child signals back to their default (an ignored SIGCHLD inherited through
// exec would have the kernel reap a helper or the crontab command unseen, so
// its outcome could never be known), and, when a cleanup is given, the
// ending signals made to run it and end the program (endOnSignals).
#include <optional>

#include "platform/signals.h"

namespace platform {

struct ProgramStart {
    const char* command;   // "tamsel": the name --version prints
    const char* logIdent;  // "Tamsel": the ident of the program's log lines
    const char* usage;     // what --help prints
    SignalCleanup cleanup = nullptr;  // none: the signals are left as they are
};

// The exit status to end with at once (0 after --help or --version), or
// nullopt when the program goes on.
std::optional<int> startProgram(int argc, char** argv, const ProgramStart& start);

}  // namespace platform
