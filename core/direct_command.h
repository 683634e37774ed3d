#pragma once
// Switching units now: a direct command sent to the CP290, and what the
// power line's reports are worth to people.
//
// Principles of operation: sendDirectCommand() opens the line (waiting its
// turn as every program of the suite does; a watcher holding it lets go,
// core/line_watcher.h), sends the 22-byte direct command, reads the
// acknowledgement and waits for the CP290's report that it sent the command
// on the power line, all within kDirectTotalMs of the call. The report is
// also written to the power-line log, marked "direct". Every program that
// opens the line calls recordReports() at start: each report its line reads
// goes to the power-line log with its source (state/powerline_log.h).
//
// Dim levels: the CP290 has 16 (0-15), and a higher level is a dimmer light
// (level 0 is on at full brightness). A brightness of P percent sends level
// round((100 - P) * 15 / 100): 100% is 0, 50% is 8, 0% is 15.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/cp290_operations.h"
#include "link/cp290_protocol.h"
#include "link/serial_link.h"
#include "state/device_names.h"
#include "state/powerline_log.h"

namespace core {

// A direct command ends, whatever happens, within this long of its start.
constexpr int kDirectTotalMs = 20000;
// The power line carries an address per unit and then the function, each
// about 0.4 s at 60 Hz; this bounds the wait for the report of 16 units.
constexpr int kReportWaitMs = 12000;

int dimLevelFromPercent(int percent);
int percentFromDimLevel(int level);

// House and units chosen by a person: "A1", "A 1", "a 1-3,16", or a device
// name ("Porch lamp", the words joined by spaces). A letter with unit
// numbers wins over a name. nullopt with `error` set when nothing matches.
struct UnitChoice {
    int house = 0;
    cp290::UnitMask units = 0;
};
std::optional<UnitChoice> parseUnitChoice(const std::vector<std::string>& words, const state::DeviceNames& names,
                                          std::string& error);
// "50%" or "50", 0 to 100; nullopt otherwise.
std::optional<int> parsePercent(const std::string& text);

// The names of the units, comma-separated ("Porch lamp, Device 2").
std::string unitNames(const state::DeviceNames& names, int house, cp290::UnitMask units);
// "A1", "A1-3,16".
std::string unitsLabel(int house, cp290::UnitMask units);

// One report for people: "2026-12-07 18:03:00 A1 Porch lamp: on (timer event 5)".
std::string powerlineText(const state::PowerlineEntry& e, const state::DeviceNames& names);
// One JSON object, one line: keys time, house, units, function, source, names.
std::string powerlineJson(const state::PowerlineEntry& e, const state::DeviceNames& names);

// Sends the command on `devicePath` and waits for its report; `confirmed`
// holds it on success. The link logs its failures in `who`'s wording.
OpResult sendDirectCommand(const std::string& devicePath, const cp290::DirectCommand& command,
                           cp290::Report& confirmed, platform::Program who = platform::Program::Quorvel);

// The event that sends this report at the device's time (hour, minute, day
// bit): the number of a used event of that house, units and function due
// then - a security event anywhere within 15 minutes of its time - or 0.
// slot(n) gives event n as the device is known to hold it.
using EventSlot = std::function<std::optional<cp290::EventImage>(int)>;
int timerEventFor(const cp290::Report& r, int hour, int minute, uint8_t dayBit, const EventSlot& slot);
// Where the device's events are known from; without it, or when it gives
// no EventSlot, the source of a report that is not direct cannot be told
// ("timer or console"). recordReports() sets it to the device mirror.
void setKnownEvents(std::function<EventSlot()> events);
bool knownEventsSet();
// The events of the device mirror (state/device_mirror.h); none when it is absent or unusable.
EventSlot mirroredEvents();
// "direct", "timer event 5", "console" or "timer or console".
std::string reportSource(const cp290::SeenReport& seen);
state::PowerlineEntry powerlineEntry(const cp290::SeenReport& seen);

// Every report this program's lines read goes to the power-line log, its
// source told from the device mirror's events; a
// failure to write it is logged once, in `who`'s wording. `also`, when
// given, sees each entry after it was written.
void recordReports(platform::Program who, std::function<void(const state::PowerlineEntry&)> also = {});

}  // namespace core
