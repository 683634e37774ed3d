#pragma once
// The run history: one line per run of a cron tool, so a person can see what
// ran, what it did, and what never ran.
//
// Principles of operation: <state folder>/runs.log holds tab-separated lines
//   local time (ISO 8601, with its UTC offset) TAB tool TAB outcome TAB
//   summary TAB snapshot file (may be empty) LF
// with outcome "ok", "nothing-to-do", "failed" or "interrupted" (a run that
// started and never wrote its line: killed, or the computer went off). Each
// run appends its line
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

enum class RunOutcome { Ok, NothingToDo, Failed, Interrupted };

struct RunRecord {
    std::time_t when = 0;
    std::string tool;  // "tamsel", "brondile", "veskarn"
    RunOutcome outcome = RunOutcome::Ok;
    std::string summary;   // one line for people
    std::string snapshot;  // path of the snapshot written by this run, or ""
};

constexpr size_t kRunsKeep = 2000;
// Enough for a week of runs and the newest lines many times over.
constexpr size_t kRunsReadBytes = 256 * 1024;
constexpr size_t kRunsTrimBytes = 1024 * 1024;

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
// Appending also ends the run's started record.
class RunStart;
struct RunRecorder {
    Program who;       // the log wording
    const char* tool;  // the name in the history ("tamsel")
    void operator()(RunOutcome outcome, const std::string& summary, const std::string& snapshot = {}) const;
    // Records that the run started (moving the tool's interrupted runs into
    // the log first); the record goes when the returned object does.
    RunStart start() const;
};

class RunStart {
public:
    RunStart(Program who, const char* tool);
    ~RunStart();
    RunStart(const RunStart&) = delete;
    RunStart& operator=(const RunStart&) = delete;

private:
    std::string m_path;
};

// The started record of this process for `tool`, given the run's snapshot
// (nothing happens without one).
void noteRunSnapshot(const std::string& tool, const std::string& snapshot);

// The started records whose process no longer runs, as "interrupted" runs
// (not yet moved into the log), oldest first.
std::vector<RunRecord> interruptedRuns();

// Every record in the log's last kRunsReadBytes, in the log's order (empty
// when there is no log).
std::vector<RunRecord> readRuns();

// The planning saves: the tool's plan was made (changed) now.
void notePlanMade(const std::string& tool);
// When the tool's plan was last made; nullopt when no stamp is readable.
std::optional<std::time_t> planMadeAt(const std::string& tool);

}  // namespace state
