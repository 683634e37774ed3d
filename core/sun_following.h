#pragma once
// Events that follow sunrise or sunset: the correction list seen with each
// event's time, devices and offset, and the one-step edits the controller's
// windows and cp290ctl share (follow, unfollow, protect).
//
// Principles of operation: the list keeps one reference date per kind; the
// CP290's times of that kind's events match its sun time on that date. An
// event's offset is its time, brought to today as a correction run would
// bring it (the sun's movement since the reference date, the hour of a
// daylight-saving change), minus today's sun time; so it is the offset the
// runs keep. Setting an event to today's sun time plus an offset is only
// right when the kind's reference date is today: when it is not, the
// kind's listed events are first brought up to today by the correction run
// itself (core::suncorrection::myTimerproc: snapshot, journal, history line),
// then the new event is set and listed, the reference being today.
//
// Sun times are computed as a run today computes them: the stored location
// (or the time zone's place) with the zone offset in force now.
#include <optional>
#include <string>
#include <vector>

#include "core/correction_list.h"
#include "core/cp290_operations.h"
#include "core/event_table.h"
#include "core/operations_ui.h"
#include "core/solar_time.h"
#include "state/correction_store.h"

namespace core::sunfollow {

// The correction types of the list.
inline constexpr int kSunrise = 1;
inline constexpr int kSunset = 2;
inline constexpr int kDst = 3;  // only the daylight-saving hour

// "sunrise", "sunset", "dst"; "?" for any other type.
const char* kindName(int kind);
// The type a name gives (as kindName spells it, any case); 0 when none.
int kindFromName(const std::string& name);

// More than this far from the sun time, the windows ask whether the offset is meant.
inline constexpr int kFarFromSun = 60;

// Today's sun at the stored location, as a run now computes it.
struct SunToday {
    state::RefDate date;                 // today, system time zone
    std::optional<sun::SolarPlace> place;  // nullopt: no location known (logged)
    std::optional<int32_t> sunrise;      // minutes after midnight; nullopt: none today (or no place)
    std::optional<int32_t> sunset;
    uint8_t DST = 0;                     // daylight-saving time in force now
    // Today's time of a kind: sunrise or sunset; nullopt for dst or none.
    std::optional<int32_t> time(int kind) const;
    // The time of a kind on another date, computed the same way (the run's place).
    std::optional<int32_t> timeOn(int kind, const state::RefDate& date) const;
};
SunToday sunToday(state::Program who);

// to - from the short way round the clock: -720 < result <= 720.
int32_t minutesBetween(int32_t from, int32_t to);

// What an event time means next to today's sun time of a kind, for the
// windows' question ("Porch lamp at 5:00 PM is 1 h 08 min after today's
// sunset (3:52 PM)"); the window words and formats it.
struct ImpliedOffset {
    int kind = 0;
    int32_t eventTime = 0;  // minutes after midnight
    int32_t sunTime = 0;    // today's sunrise or sunset
    int32_t offset = 0;     // eventTime - sunTime, -720 < offset <= 720 (negative: before)
    bool farFromSun = false;  // |offset| > kFarFromSun: ask before listing
};
// nullopt for dst or when there is no sun time today.
std::optional<ImpliedOffset> impliedOffset(const SunToday& today, int kind, int32_t eventTime);

// Today's sun time of a kind plus `offset`; nullopt when there is none or
// the result leaves the day (before 00:00 or from 24:00).
std::optional<int32_t> followTime(const SunToday& today, int kind, int32_t offset);

// The device names as stored (Lumbrasken.conf), for a table of events read here.
state::DeviceNames storedDeviceNames();

// "Porch lamp, Device 3": the unit names of an event, as the list shows them.
std::string deviceNamesOf(const EventRecord& r);

// One entry of the list, with what the events tell of it.
struct FollowedEvent {
    int slot = 0;
    int event = 0;
    int kind = 0;
    bool protect = false;
    bool held = false;      // the events given hold it
    int32_t time = 0;       // minutes after midnight, when held
    std::string devices;    // when held
    // From today's sun time, the time brought to today as a run would;
    // nullopt for dst, an event not held, or no sun time.
    std::optional<int32_t> offset;
};
// The list's entries in slot order; `events` are the CP290's (or a file's).
std::vector<FollowedEvent> followedEvents(const state::ControllerCorrections& c, const EventTable& events,
                                          const SunToday& today);
// The same row for one entry.
FollowedEvent followedEvent(const state::ControllerCorrections& c, int slot, const EventTable& events,
                            const SunToday& today);

// The run's date of a kind: true when the kind is sunrise or sunset, its
// reference date is held and it is not today (its events need bringing up
// to today before one is set from today's sun time).
bool behindToday(const state::ControllerCorrections& c, int kind, const SunToday& today);

// Lists `event` for `kind` in the window's copy of the list (the edit rules
// of core::CorrectionList: a listed number is updated). `protect` nullopt
// keeps an entry's flag (1 for a new one). `timeSetToday`: the event's time
// was just set from today's sun time, so its zone flag becomes today's. A
// sunrise or sunset kind whose held date is not today takes today as its
// reference when its sun time then was the same as today's (nothing for a
// run to move); otherwise the date is left as it is and the result says so.
// Call after bringing the kind up to today (bringUpToToday).
struct ListResult {
    CorrectionEdit edit;
    bool referenceToday = true;  // the kind's reference is (or will be stored as) today; dst: true
};
ListResult listFollowing(state::ControllerCorrections& c, int event, int kind, std::optional<bool> protect,
                         bool timeSetToday, const SunToday& today);

// Runs the correction as a planned run would (the device `devicePath`, or
// the stored one when empty). Its exit status: 0 done or nothing to
// correct, 1 failed (nothing changed but what it logged), 69 no device.
int bringUpToToday(const std::string& devicePath);

// --- Whole steps on the stored list and the CP290 (cp290ctl; the windows
// --- may call them too) -----------------------------------------------

enum class FollowStatus {
    Done,
    BadArgument,     // event outside 1..128, unknown kind, an offset for dst
    NoLocation,      // no place known for the sun's times
    NoSunTime,       // the sun does not rise (set) today here
    LeavesDay,       // sun time plus offset leaves the day
    NotStored,       // the CP290 holds no event of that number
    DeviceFailed,    // reading or sending failed: see `op`
    CorrectionFailed,  // bringing the kind up to today failed: see `runStatus`
    SnapshotFailed,  // the snapshot before the send could not be written; nothing sent
    NotWritten,      // the list could not be stored (Veskarn.conf)
};

struct FollowRequest {
    int event = 0;
    int kind = 0;
    std::optional<int32_t> offset;   // set the time to today's sun time plus this
    std::optional<bool> protect;     // nullopt: keep (new entries protected)
};

struct FollowOutcome {
    FollowStatus status = FollowStatus::Done;
    std::string message;          // for people, when not Done
    OpResult op;                  // DeviceFailed
    int runStatus = 0;            // CorrectionFailed: the run's exit status (1, 69)
    bool correctedFirst = false;  // a correction run brought the kind up to today
    std::string snapshot;         // the events before the send (with an offset)
    FollowedEvent row;            // the entry as now listed (Done)
    std::optional<ImpliedOffset> implied;  // the offset its time implies today (sunrise/sunset)
};

// cp290ctl sun follow: reads the CP290's events; when the kind is behind
// today, first runs the correction (bringUpToToday) and reads again; with
// an offset writes a snapshot (`tool` names it: "cp290ctl", "quorvel") and
// sends the one event with its new time; then stores the list with the
// event listed. The crontab is not touched.
FollowOutcome follow(const FollowRequest& req, const std::string& devicePath, OperationsUi& ui,
                     const std::string& tool, state::Program who = state::Program::Quorvel);

enum class ListEditStatus { Done, NotListed, NotWritten };
// Takes the event off the stored list (its kind's date goes with its last entry).
ListEditStatus unfollow(int event);
// Sets the stored entry's protect flag.
ListEditStatus setProtect(int event, bool protect);

// Whether the crontab plans a correction run; nullopt when it could not be read.
std::optional<bool> correctionRunPlanned();

}  // namespace core::sunfollow
