#pragma once
// veskarn's run, the sun correction, as cron starts it once a day (namespace
// core::suncorrection; its myTimerproc is veskarn's timer callback).
//
// Principles of operation: read the correction list and the reference dates
// (domain Veskarn), work out how many minutes sunrise and sunset have moved
// from the reference dates to today at the stored location, and whether
// daylight-saving time has begun or ended since each listed event was last
// set. If anything must change: upload all 128 events, write them as a
// snapshot (so a wrong correction can be undone from the controller), shift
// the listed events, download the changed ones in list order, and only then -
// after a complete upload and an acknowledgement for every download - make
// today the reference date and store the zone flags. Any failure on the way
// leaves the domain as it was and ends the run with status 1, so the next
// run measures from a date the CP290 really got.
//
// Before its first download a run stores a journal (state/correction_journal.h)
// of each listed event's starting image and the images it found and sends; a
// run that cannot store it sends nothing. A run that stops before storing the
// reference dates leaves the journal, and the next run, finding the same
// reference dates, starts those events again from their starting images, so
// whatever the CP290 got, every event ends with one correction. The journal
// goes once the reference dates are stored.
//
// A shifted time that leaves the day is wrapped into it and the event's
// weekday bits are turned with it, so the event still fires at the intended
// moment. A kind (sunrise or sunset) whose time does not exist on one of the
// two dates (polar day or night) is not shifted in that run and keeps its
// reference date.
#include <array>
#include <cstdint>
#include <string>

#include "link/cp290_protocol.h"
#include "state/correction_journal.h"
#include "state/correction_store.h"
#include "core/solar_time.h"

namespace core::suncorrection {

constexpr int kExitNoDevice = 69;

// What the progress window shows; every call may be ignored (no display).
class RunUi {
public:
    virtual ~RunUi() = default;
    virtual void phase(const char* title) = 0;  // shows the window with this title
    virtual void progress(int value) = 0;       // 0..128
    virtual void hide() = 0;
    // The run found nothing to change: show it for a moment when a person can see it.
    virtual void nothingNeeded() = 0;
};

// One slot of the tool's copy of the CP290's events.
struct ToolEvent {
    int eventNumber = 0;  // n when the CP290 reported slot n used, 0 when empty
    cp290::EventImage image{};
    bool changed = false;
};
using ToolEventTable = std::array<ToolEvent, cp290::kMaxEvents + 1>;  // index 0 unused

// Moves an event image's time by `minutes`, wrapping into 00:00..23:59 and
// turning the weekday bits (bit 0 Monday ... bit 6 Sunday) by the days crossed.
void shiftEventTime(cp290::EventImage& img, int minutes);

struct Shifts {
    bool sunrise = false;  // sunrise entries take the hour step (applySU)
    bool sunset = false;   // likewise sunset entries (applySD)
    int32_t deltaSU = 0;   // minutes; 0 when the kind is skipped this run
    int32_t deltaSD = 0;
    uint8_t DST = 0;       // daylight-saving time in force at the run
};

// How a logging step speaks: a run logs, a preview of runs to come stays quiet.
enum class Logging { On, Off };

// ApplySunCorr: shifts the listed events in `table` and updates the entries'
// zone flags. Listed numbers the CP290 does not hold are logged and skipped.
void ApplySunCorr(state::ToolCorrections& c, ToolEventTable& table, const Shifts& s,
                  Logging logging = Logging::On);

// Where one correction starts: every listed event of a pending journal (one
// whose reference dates are still the stored ones) that the CP290 holds as
// the journal's run found or sent it, or at its starting image, is set back
// to that starting image; an event changed since (another program, a person)
// keeps its present image (logged). True when the journal is pending.
bool resumeFromJournal(const state::CorrectionJournal& j, const state::ToolCorrections& c, ToolEventTable& table,
                       Logging logging = Logging::On);

// After ApplySunCorr: a listed event is to be sent exactly when its new image
// differs from the one the CP290 holds (`held`).
void markSends(const state::ToolCorrections& c, const ToolEventTable& held, ToolEventTable& table);

// What a run at the place's moment (place.GregDate) decides from the list
// as read: the shifts, and whether the CP290 must be read at all. In
// `written`, applySU/applySD say which reference dates the run moves to its
// date (a kind without a sun time on either date keeps its own).
struct RunDecision {
    Shifts shifts;
    bool needed = false;
    state::ToolCorrections written;
};
RunDecision decideRun(const state::ToolCorrections& c, const sun::SolarPlace& place, Logging logging = Logging::On);

// The whole run (myTimerproc); returns the exit status: 0 done (or nothing to
// do), 1 a failure that left the domain untouched, 69 no device.
int myTimerproc(RunUi& ui);
// The same run on `devicePath` (empty: the stored "Serial Path"), for a
// program that brings the events up to today before changing one.
int myTimerproc(RunUi& ui, const std::string& devicePath);

}  // namespace core::suncorrection
