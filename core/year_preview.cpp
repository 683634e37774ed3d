#include "core/year_preview.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "core/solar_time.h"

namespace core::suncorrection {
namespace {

// Local midnight of the date `offset` days after the date of `t`.
std::tm dateAfter(std::time_t t, int offset)
{
    std::tm d = platform::localTime(t);
    d.tm_mday += offset;
    d.tm_hour = 12;  // noon: never in a daylight-saving gap
    d.tm_min = d.tm_sec = 0;
    d.tm_isdst = -1;
    std::mktime(&d);
    return d;
}

// One planned run at `when`, as the tool makes it: decide, shift, and - the
// run having completed - move the reference dates and keep the zone flags.
// True when an event changed.
bool playRun(PreviewInput& in, std::time_t when)
{
    const sun::SolarPlace place = sun::placeAt(in.where, when);
    const RunDecision d = decideRun(in.corrections, place, Logging::Off);
    const ToolEventTable held = in.events;
    const bool resumed = in.journal && resumeFromJournal(*in.journal, in.corrections, in.events, Logging::Off);
    if (!d.needed && !resumed)
        return false;
    in.journal.reset();
    ApplySunCorr(in.corrections, in.events, d.shifts, Logging::Off);
    markSends(in.corrections, held, in.events);
    bool changed = false;
    for (ToolEvent& e : in.events) {
        changed = changed || e.changed;
        e.changed = false;
    }
    const state::RefDate runDate{static_cast<int16_t>(place.GregDate.tm_year + 1900),
                                 static_cast<int16_t>(place.GregDate.tm_mon + 1),
                                 static_cast<int16_t>(place.GregDate.tm_mday)};
    if (d.written.applySU)
        in.corrections.SUTime = runDate;
    if (d.written.applySD)
        in.corrections.SDTime = runDate;
    return changed;
}

}  // namespace

std::vector<PreviewDay> previewDays(PreviewInput in, std::time_t from, int days)
{
    days = std::clamp(days, 0, kMaxPreviewDays);
    std::vector<PreviewDay> out;
    out.reserve(static_cast<size_t>(days));
    std::vector<std::time_t> runs;
    if (in.runs && days > 0) {
        std::tm end = dateAfter(from, days);
        end.tm_hour = 0;
        end.tm_isdst = -1;
        runs = state::plannedTimes(*in.runs, from + 1, std::mktime(&end) - 1);
    }
    size_t next = 0;
    for (int i = 0; i < days; ++i) {
        std::tm date = dateAfter(from, i);
        PreviewDay day;
        day.year = date.tm_year + 1900;
        day.month = date.tm_mon + 1;
        day.day = date.tm_mday;
        day.noon = std::mktime(&date);
        std::tm endOfDay = date;
        endOfDay.tm_hour = 23;
        endOfDay.tm_min = endOfDay.tm_sec = 59;
        endOfDay.tm_isdst = -1;
        const std::time_t dayEnd = std::mktime(&endOfDay);
        for (; next < runs.size() && runs[next] <= dayEnd; ++next)
            day.corrected = playRun(in, runs[next]) || day.corrected;

        for (const state::ToolCorrectionRecord& k : in.corrections.CorrArray) {
            const ToolEvent& e = in.events[static_cast<size_t>(k.eventNumber)];
            if (e.eventNumber != k.eventNumber)
                continue;
            // The signed bytes the tool shifts; a time outside the day (a
            // table never shifted yet) is shown wrapped, as a shift would put it.
            const int minutes = static_cast<int8_t>(e.image[2]) * 60 + static_cast<int8_t>(e.image[3]);
            day.events.push_back({k.eventNumber, ((minutes % 1440) + 1440) % 1440});
        }
        const sun::SunTimes sunTimes = sun::sunTimesOn(in.where, day.year, day.month, day.day);
        day.sunrise = sunTimes.sunrise;
        day.sunset = sunTimes.sunset;
        out.push_back(std::move(day));
    }
    return out;
}

PreviewSources readPreviewSources()
{
    PreviewSources s;
    if (state::getVeskParms(s.input.corrections) != 0) {
        s.problem = "no sun corrections are set up: list the events in the controller's Time Correction window";
        s.nothingListed = true;
        return s;
    }
    const std::optional<state::Location> where = state::ReadLocation(state::Program::Quorvel);
    if (!where) {
        s.problem = "no location is known: enter latitude and longitude in the Time Correction window";
        return s;
    }
    s.input.where = *where;
    if (state::JournalRead j = state::readCorrectionJournal(); j.state == state::JournalState::Read)
        s.input.journal = std::move(j.journal);
    std::string crontab;
    s.crontabRead = state::listCrontab("Quorvel", state::kHelperBound, crontab);
    if (s.crontabRead) {
        s.input.runs = core::plannedWeekly(crontab, state::PairKind::Correction);
        s.loads = core::plannedLoads(crontab);
    }
    return s;
}

ToolEventTable toolTableFrom(const core::EventTable& table)
{
    ToolEventTable out{};
    for (int n = 1; n <= cp290::kMaxEvents; ++n) {
        const core::EventRecord* r = table.record(n);
        if (r && r->used()) {
            out[static_cast<size_t>(n)].eventNumber = n;
            out[static_cast<size_t>(n)].image = r->image();
        }
    }
    return out;
}

std::string previewCsv(const std::vector<PreviewDay>& days)
{
    std::string out = "date,event,time\n";
    char line[64];
    for (const PreviewDay& d : days) {
        for (const PreviewEvent& e : d.events) {
            std::snprintf(line, sizeof line, "%04d-%02d-%02d,%d,%02d:%02d\n", d.year, d.month, d.day, e.eventNumber,
                          e.minutes / 60, e.minutes % 60);
            out += line;
        }
    }
    return out;
}

}  // namespace core::suncorrection
