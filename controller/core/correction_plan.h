#pragma once
// When cron starts the sun-correction tool: the correction pair of the
// user's crontab, planned from the Time Correction window and from cp290ctl
// through the one routine here.
//
// Principles of operation: the caller has copied the crontab and read it
// with readCrontabT (the work file then holds every line but the correction
// pair); saveCorrectionPlan appends the pair when there is a plan, installs
// the work file, makes it the new copy and reads it again, so the caller's
// timing record shows what is now installed.
#include <array>
#include <optional>
#include <string>

#include "state/crontab_work.h"

namespace controller {

struct CorrectionSchedule {
    int hour = 1;
    int minute = 0;
    std::array<bool, 8> days{};  // by weekday digit, 1 Monday .. 7 Sunday
    bool anyDay() const;
};

// The timing record as the window fills it: "%d" hour and minute, the
// checked weekdays as digits joined by commas ("1,3,7").
state::TimingRecord timingRecord(const CorrectionSchedule& plan);

// The plan a timing record holds (a read correction pair).
CorrectionSchedule scheduleFrom(const state::TimingRecord& VeskRec);

struct PlanSaveResult {
    state::InstallResult install = state::InstallResult::Refused;
    bool pairWritten = true;  // false: the pair could not be written into the work file
    state::CrontabRead reread;
    bool ok() const { return install == state::InstallResult::Installed && pairWritten; }
};

// Appends the correction pair for `plan` (none for nullopt or a plan without
// days), installs, replaces the copy and reads it again into VeskRec. A pair
// that cannot be written installs nothing.
PlanSaveResult saveCorrectionPlan(state::CrontabWork& work, const std::optional<CorrectionSchedule>& plan,
                                  state::TimingRecord& VeskRec);

// A whole planning session for the command line: copy, read, save, remove
// the work files. `installed` receives the plan as now installed (nullopt
// when there is none).
struct PlanSession {
    bool copied = false;
    PlanSaveResult save;
    std::optional<CorrectionSchedule> installed;
    bool ok() const { return copied && save.ok(); }
};
PlanSession planCorrections(state::Program who, const std::string& appFolder,
                            const std::optional<CorrectionSchedule>& plan);

}  // namespace controller
