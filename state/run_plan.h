#pragma once
// When planned work runs, and which planned runs never happened.
//
// Principles of operation: a weekly plan (the clock-sync and correction
// pairs: minute, hour, weekdays) and a dated plan (a schedule pair: month,
// day, minute, hour) are turned into local times the way cron reads them,
// day by day through mktime, so daylight-saving changes fall where cron puts
// them: a time the clocks skip runs right after the change, a time they
// repeat runs once, the first time. A planned time counts as run when the run history holds a line of
// the tool from a minute before it to kRunWindow after it (cron starts the
// tool within the minute; a slow device takes a while). Pure functions: the
// caller reads the crontab and the history.
#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "state/run_history.h"

namespace state {

inline constexpr std::time_t kRunWindow = 30 * 60;

struct WeeklyPlan {
    int minute = 0;
    int hour = 0;
    std::array<bool, 8> weekdays{};  // 1 Monday .. 7 Sunday; 0 unused (cron's 0 = 7)
};

struct DatedPlan {
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int minute = 0;
    int hour = 0;
};

// Planned times in [from, to], oldest first.
std::vector<std::time_t> plannedTimes(const WeeklyPlan& plan, std::time_t from, std::time_t to);
std::vector<std::time_t> plannedTimes(const DatedPlan& plan, std::time_t from, std::time_t to);

// The first planned time after `after` (within a year and a day); nullopt
// when the plan never runs (no weekday, 31 February).
std::optional<std::time_t> nextRun(const WeeklyPlan& plan, std::time_t after);
std::optional<std::time_t> nextRun(const DatedPlan& plan, std::time_t after);

// The planned times that have no run of `tool` in the history. Only times
// after the tool's first recorded run count (before it the plan may not have
// existed) and only those whose window has passed by `now`.
std::vector<std::time_t> missedRuns(const std::vector<std::time_t>& planned, const std::vector<RunRecord>& runs,
                                    const std::string& tool, std::time_t now);
// The same, where the plan was made at `planMade`: times from then on count
// too, even when the tool never ran.
std::vector<std::time_t> missedRuns(const std::vector<std::time_t>& planned, const std::vector<RunRecord>& runs,
                                    const std::string& tool, std::time_t now, std::optional<std::time_t> planMade);

// "no run at 03:05 on Tuesday 12/01: was the computer off?"
std::string missedRunText(std::time_t planned);

}  // namespace state
