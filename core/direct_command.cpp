#include "core/direct_command.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/automation_status.h"
#include "link/device_commands.h"
#include "platform/clock.h"
#include "state/device_mirror.h"
#include "state/line_log.h"
#include "platform/syslog_log.h"

namespace core {

namespace {

std::function<EventSlot()> g_events;

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int houseOfLetter(const std::string& s)
{
    if (s.size() != 1)
        return 0;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return c >= 'A' && c <= 'P' ? c - 'A' + 1 : 0;
}

}  // namespace

int dimLevelFromPercent(int percent)
{
    const int p = std::clamp(percent, 0, 100);
    return ((100 - p) * 15 + 50) / 100;
}

int percentFromDimLevel(int level)
{
    return 100 - (std::clamp(level, 0, 15) * 100 + 7) / 15;
}

std::optional<UnitChoice> parseUnitChoice(const std::vector<std::string>& words, const state::DeviceNames& names,
                                          std::string& error)
{
    std::string joined;
    for (const std::string& w : words)
        joined += (joined.empty() ? "" : " ") + w;
    // A letter, then unit numbers, together or apart.
    std::string compact;
    for (char c : joined)
        if (c != ' ')
            compact += c;
    if (compact.size() >= 2 && houseOfLetter(compact.substr(0, 1)) &&
        std::isdigit(static_cast<unsigned char>(compact[1]))) {
        if (const auto units = cp290::parseUnitList(compact.substr(1)))
            return UnitChoice{houseOfLetter(compact.substr(0, 1)), *units};
    }
    // A device name, matched whole and without regard to case.
    std::optional<UnitChoice> found;
    const std::string wanted = lower(joined);
    for (int h = 1; h <= state::kHouses && !wanted.empty(); ++h)
        for (int u = 1; u <= state::kUnits; ++u)
            if (lower(names.name(h, u)) == wanted) {
                if (found && found->house != h) {
                    error = "\"" + joined + "\" names units in more than one house; give the letter and units";
                    return std::nullopt;
                }
                if (!found)
                    found = UnitChoice{h, 0};
                found->units = static_cast<cp290::UnitMask>(found->units | (1u << (u - 1)));
            }
    if (!found)
        error = "\"" + joined + "\" is neither a house letter with units (A1, A 1-3,16) nor a device name";
    return found;
}

std::optional<int> parsePercent(const std::string& text)
{
    std::string t = text;
    if (!t.empty() && t.back() == '%')
        t.pop_back();
    if (t.empty() || t.size() > 3 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int v = std::stoi(t);
    return v <= 100 ? std::optional<int>(v) : std::nullopt;
}

std::string unitNames(const state::DeviceNames& names, int house, cp290::UnitMask units)
{
    std::string out;
    for (int u = 1; u <= 16; ++u)
        if (units & (1u << (u - 1)))
            out += (out.empty() ? "" : ", ") + names.name(house, u);
    return out;
}

std::string unitsLabel(int house, cp290::UnitMask units)
{
    return (house >= 1 && house <= 16 ? std::string(1, cp290::HLetters[house - 1]) : std::string("?")) +
           cp290::unitsText(units);
}

std::string powerlineText(const state::PowerlineEntry& e, const state::DeviceNames& names)
{
    const std::tm t = platform::localTime(e.when);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &t);
    return std::string(when) + " " + unitsLabel(e.house, e.units) + " " + unitNames(names, e.house, e.units) + ": " +
           cp290::functionName(e.function) + " (" + e.source + ")";
}

std::string powerlineJson(const state::PowerlineEntry& e, const state::DeviceNames& names)
{
    std::string units, unitNamesJson;
    for (int u = 1; u <= 16; ++u)
        if (e.units & (1u << (u - 1))) {
            units += (units.empty() ? "" : ", ") + std::to_string(u);
            unitNamesJson += (unitNamesJson.empty() ? "" : ", ") + jsonString(names.name(e.house, u));
        }
    const std::string house = e.house >= 1 && e.house <= 16 ? std::string(1, cp290::HLetters[e.house - 1]) : "?";
    return "{\"time\": " + jsonString(state::isoLocal(e.when)) + ", \"house\": " + jsonString(house) +
           ", \"units\": [" + units + "], \"function\": " + jsonString(cp290::functionName(e.function)) +
           ", \"source\": " + jsonString(e.source) + ", \"names\": [" + unitNamesJson + "]}";
}

OpResult sendDirectCommand(const std::string& devicePath, const cp290::DirectCommand& command,
                           cp290::Report& confirmed, platform::Program who)
{
    const auto start = cp290::LinkClock::now();
    if (command.house < 1 || command.house > 16 || command.units == 0 || command.level < 0 || command.level > 15) {
        OpResult r;
        r.status = OpStatus::Refused;
        return r;
    }
    cp290::SerialLine line(who);
    if (const cp290::LinkResult lr = line.open(devicePath); !lr.ok())
        return fromLink(lr);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(cp290::LinkClock::now() - start);
    // What the acknowledgement may take, then the report within the rest.
    const int ackMs = cp290::wireMs(cp290::kDirectFrameLength + cp290::kAckLength) + cp290::kReplyIdleMs;
    const int left = kDirectTotalMs - static_cast<int>(spent.count()) - ackMs - 500;
    const cp290::LinkResult lr =
        cp290::sendDirect(line, command, std::clamp(left, 1000, kReportWaitMs), confirmed);
    if (lr.status == cp290::LinkStatus::NoReport)
        platform::logf("%s Error - the CP290 acknowledged the command for %s but never reported sending it\n",
                       platform::programName(who), unitsLabel(command.house, command.units).c_str());
    return fromLink(lr);
}

int timerEventFor(const cp290::Report& r, int hour, int minute, uint8_t dayBit, const EventSlot& slot)
{
    const int now = hour * 60 + minute;
    for (int n = 1; n <= cp290::kMaxEvents; ++n) {
        const auto e = slot(n);
        if (!e || ((*e)[7] & 0x0F) == 0 || !((*e)[1] & dayBit))
            continue;
        if (cp290::houseIndexFromCode((*e)[6] & 0xF0, 0) != r.house || ((*e)[7] & 0x0F) != r.function ||
            cp290::unitMask((*e)[5], (*e)[4]) != r.units)
            continue;
        // The report comes as the minute begins; the clock may be read just after it.
        const int late = now - ((*e)[2] * 60 + (*e)[3]);
        if ((*e)[0] == 9 ? std::abs(late) <= 16 : late == 0 || late == 1)
            return n;
    }
    return 0;
}

void setKnownEvents(std::function<EventSlot()> events)
{
    g_events = std::move(events);
}

bool knownEventsSet()
{
    return static_cast<bool>(g_events);
}

std::string reportSource(const cp290::SeenReport& seen)
{
    if (seen.direct)
        return "direct";
    if (!g_events)
        return "timer or console";
    int hour = 0, minute = 0;
    uint8_t day = 0;
    if (seen.deviceClock) {
        hour = seen.deviceClock->hour;
        minute = seen.deviceClock->minute;
        day = seen.deviceClock->dayBit;
    } else {
        const std::tm t = platform::localTime(seen.when);
        hour = t.tm_hour;
        minute = t.tm_min;
        day = cp290::dayBit(platform::isoWeekday(t));
    }
    const EventSlot slots = g_events();
    if (!slots)
        return "timer or console";
    const int event = timerEventFor(seen.report, hour, minute, day, slots);
    return event > 0 ? "timer event " + std::to_string(event) : "console";
}

state::PowerlineEntry powerlineEntry(const cp290::SeenReport& seen)
{
    return {seen.when, seen.report.house, seen.report.units, seen.report.function, reportSource(seen)};
}

EventSlot mirroredEvents()
{
    state::MirrorRead read = state::readDeviceMirror();
    if (read.state != state::MirrorState::Read)
        return {};
    return [events = std::make_shared<state::MirrorSlots>(read.mirror.events)](int n) {
        return n >= 1 && n <= state::kMirrorSlots ? (*events)[static_cast<size_t>(n)] : std::nullopt;
    };
}

void recordReports(platform::Program who, std::function<void(const state::PowerlineEntry&)> also)
{
    setKnownEvents(mirroredEvents);
    cp290::setProgramReportSink([who, also = std::move(also), failed = false](const cp290::SeenReport& seen) mutable {
        const state::PowerlineEntry e = powerlineEntry(seen);
        if (const int err = state::appendPowerline(e); err && !failed) {
            failed = true;
            platform::logf("%s Error - writing the power-line log - %s(%d).\n", platform::programName(who),
                           std::strerror(err), err);
        }
        if (also)
            also(e);
    });
}

}  // namespace core
