#pragma once
// What the crontab plans, when it runs next, and how its runs went.
//
// Principles of operation: read-only. The crontab is listed once (bounded,
// without "tempCrontab" or Wrellish, as the schedule loader does) and read
// through the same pair reader as the planning windows; the run history and
// the snapshots are read as they are. Nothing is written, no helper runs.
// One row per kind of planned work (virtual schedules, sun corrections,
// clock sync): the plan in words, the next run, the last run, and warnings
// for planned runs missing from the history (from when the plan was made,
// even before the tool's first run) and for every failed or interrupted
// run of the last kMissedLookBack. A run that started and never wrote its
// line counts as interrupted. The snapshots are listed by tool.
// cp290ctl status prints the rows; the Automation window shows them.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "state/crontab_lines.h"
#include "state/device_mirror.h"
#include "state/run_history.h"
#include "state/run_plan.h"

namespace core {

// How far back planned runs are checked against the history.
constexpr std::time_t kMissedLookBack = 7 * 24 * 60 * 60;

struct AutomationRow {
    std::string title;  // "Virtual schedules", "Sun corrections", "Clock sync"
    std::string tool;   // the tool cron starts: "brondile", "veskarn", "tamsel"
    bool planned = false;
    std::string plan;   // "Mon, Wed, Sun at 03:05", "03/15 Winter (replace all events), 11/01 Summer (only the file's events) at 01:00"
    std::optional<std::time_t> nextRun;
    std::optional<state::RunRecord> lastRun;
    std::vector<std::string> warnings;
};

struct SnapshotRow {
    std::string path;
    std::string changes;  // against the tool's one before it; "" for the oldest
    std::string tool;     // "brondile", "veskarn"; "" when the name does not tell
};

struct AutomationStatus {
    bool crontabRead = false;  // false: the rows say nothing planned because nothing could be read
    std::vector<AutomationRow> rows;
    std::vector<SnapshotRow> snapshots;  // by tool (as the rows), each newest first
    // The CP290's last lost memory and its restore, from the device mirror:
    // "the CP290 lost its memory at ...; restored at ...; replace ...", or "".
    std::string deviceMemory;
};

// What crontab bytes plan, through the planning windows' pair reader: the
// weekly plan of a clock-sync or correction pair (nullopt: none, or a
// timing that is not one), and the dated schedule loads.
std::optional<state::WeeklyPlan> plannedWeekly(const std::string& crontab, state::PairKind kind);
struct PlannedLoad {
    state::DatedPlan when;
    std::string name;  // the schedule file
    int load = 1;      // 1 replace all events, 2 only the file's events
    std::string path;  // the schedule file's full path
};
// `who` names the program in the reader's log lines.
std::vector<PlannedLoad> plannedLoads(const std::string& crontab, const char* who = "Quorvel");

// From crontab bytes, the history and "now" (no files read).
std::vector<AutomationRow> automationRows(const std::string& crontab, const std::vector<state::RunRecord>& runs,
                                          std::time_t now);

// Lists the user's crontab, reads the history with the interrupted runs and
// the snapshots (at most maxSnapshots of each tool).
AutomationStatus readAutomationStatus(std::time_t now, size_t maxSnapshots = 20);

// The row of the work `tool` starts ("tamsel", "brondile"), read as
// readAutomationStatus reads it but without the snapshots (the planning
// windows show it beside their plan); nullopt when the crontab could not
// be read or plans no such work.
std::optional<AutomationRow> readAutomationRow(const std::string& tool, std::time_t now);

// "Mon, Wed, Sun at 03:05"
std::string weeklyText(const state::WeeklyPlan& p);

// The warning a failed last run gives: "the last run failed: <summary>".
std::string failedRunWarning(const state::RunRecord& run);

// "interrupted at 01:00 on Sunday 11/01: the CP290 may be partly loaded;
// snapshot <path>" (the clock sync: "the CP290's clock may not be set").
std::string interruptedRunWarning(const state::RunRecord& run);

// "Sat 2026-12-12 03:05"
std::string runTimeText(std::time_t t);

// What the device mirror's stamps say of a lost memory ("" when none seen).
std::string deviceMemoryText(const state::DeviceMirror& m);

// For cp290ctl status: text for a person, JSON for scripts.
std::string statusText(const AutomationStatus& s);
std::string statusJson(const AutomationStatus& s);

// A JSON string of s: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& s);

}  // namespace core
