#pragma once
// The run history: one line per run of a cron tool, so a person can see what
// ran, what it did, and what never ran.
//
// Principles of operation: <state folder>/runs.log holds tab-separated lines
//   local time (ISO 8601, with its UTC offset) TAB tool TAB outcome TAB
//   summary TAB snapshot file (may be empty) LF
// with outcome "ok", "nothing-to-do" or "failed". Each run appends its line
// with one write() on an O_APPEND descriptor, so lines of concurrent runs
// never interleave. Appenders and the trimming hold an flock on a lock file
// beside the log: the trim (to the newest kRunsKeep lines, whole-or-nothing
// through a renamed temporary file) can then never drop a line appended
// while it ran. Reading needs no lock; a torn or foreign line is skipped.
// Nothing here is needed to run: a failure is reported and the run goes on.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "state/program.h"

namespace state {

enum class RunOutcome { Ok, NothingToDo, Failed };

struct RunRecord {
    std::time_t when = 0;
    std::string tool;  // "tamsel", "brondile", "veskarn"
    RunOutcome outcome = RunOutcome::Ok;
    std::string summary;   // one line for people
    std::string snapshot;  // path of the snapshot written by this run, or ""
};

constexpr size_t kRunsKeep = 2000;

std::string runsLogPath();

const char* outcomeText(RunOutcome o);
std::optional<RunOutcome> outcomeFromText(const std::string& text);

// One line of the log for `r` (time in local time), LF included. Tabs and
// line breaks inside the texts become spaces.
std::string runLine(const RunRecord& r);
// The record of one line (without its LF); nullopt when it is not one.
std::optional<RunRecord> parseRunLine(const std::string& line);

// Appends the run and trims the log. 0, or the errno of the failing step.
int appendRun(const RunRecord& r);

// A tool's runs, recorded at the moment of the call: a failure to append is
// logged in the tool's wording ("Tamsel Error - writing the run history -
// ...") and the run goes on, its log lines staying the record of detail.
struct RunRecorder {
    Program who;       // the log wording
    const char* tool;  // the name in the history ("tamsel")
    void operator()(RunOutcome outcome, const std::string& summary, const std::string& snapshot = {}) const;
};

// Every record of the log, oldest first (empty when there is no log).
std::vector<RunRecord> readRuns();

}  // namespace state
