#pragma once
// The days ahead as the sun-correction tool will make them.
//
// Principles of operation: the runs cron will start (the correction pair's
// weekdays and time, turned into local times as cron reads them) are played
// in order on a copy of the CP290's events and of the correction list, each
// with the same decision and shift the tool makes (decideRun, ApplySunCorr),
// and the reference dates and zone flags moved as a completed run stores
// them. A stopped run's journal is taken up by the first run played, as the
// tool takes it up. Nothing is read from or sent to the device, nothing stored, nothing
// logged. Each day gives the listed events' times after that day's run, and
// sunrise and sunset at the place (for the chart's background).
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/automation_status.h"
#include "core/event_table.h"
#include "state/correction_store.h"
#include "state/location.h"
#include "state/run_plan.h"
#include "core/correction_run.h"

namespace core::suncorrection {

struct PreviewEvent {
    int eventNumber = 0;
    int minutes = 0;  // after local midnight, 0..1439
};

struct PreviewDay {
    int year = 0, month = 0, day = 0;
    std::time_t noon = 0;                  // local noon of the date, to place it on a time axis
    bool corrected = false;                // a planned run changed at least one event this day
    std::vector<PreviewEvent> events;      // the listed events the CP290 holds, in list order
    std::optional<int32_t> sunrise, sunset;  // minutes after midnight; none in polar day or night
};

struct PreviewInput {
    state::ToolCorrections corrections;  // as the tool reads them (getVeskParms)
    ToolEventTable events{};             // the CP290's events as they stand
    state::Location where;
    std::optional<state::WeeklyPlan> runs;  // nullopt: no correction run planned, times stay
    // A stopped run's journal: the first planned run completes it, as the tool does.
    std::optional<state::CorrectionJournal> journal;
};

// `days` days from the local date of `from`; runs count after `from` only.
// At most kMaxPreviewDays days.
constexpr int kMaxPreviewDays = 3660;
std::vector<PreviewDay> previewDays(PreviewInput in, std::time_t from, int days);

// The used slots of the controller's table, as the tool's table holds them.
ToolEventTable toolTableFrom(const core::EventTable& table);

// What a preview reads besides the events: the correction list (as the
// tool reads it), the stored location, and the crontab's correction and
// schedule plans (listed read-only, as the Automation window does).
// `problem` says, for a person, why there is nothing to preview.
struct PreviewSources {
    PreviewInput input;  // events left empty: the caller's table
    std::vector<core::PlannedLoad> loads;
    bool crontabRead = false;
    std::string problem;
    bool nothingListed = false;  // the problem is an empty correction list
};
PreviewSources readPreviewSources();

// "date,event,time" lines, one per event and day, with a header line.
std::string previewCsv(const std::vector<PreviewDay>& days);

}  // namespace core::suncorrection
