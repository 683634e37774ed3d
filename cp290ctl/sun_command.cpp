#include "cp290ctl/sun_command.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "core/sun_following.h"
#include "cp290ctl/device_command.h"
#include "cp290ctl/exit_status.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/location.h"

namespace cli {

const char* const kSunUsage =
    "  sun [YYYY-MM-DD]    sunrise and sunset at the stored location (today by default)\n"
    "  sun list            the events that follow the sun: time, kind, offset from\n"
    "                      today's sunrise or sunset, protection, devices\n"
    "  sun follow EVENT sunrise|sunset|dst [--offset MIN] [--protect on|off]\n"
    "                      list EVENT for that correction; with --offset (minutes,\n"
    "                      -10 before, 25 after) its time on the CP290 becomes\n"
    "                      today's sunrise or sunset plus MIN (a snapshot first)\n"
    "  sun unfollow EVENT  take EVENT off the list\n"
    "  sun protect EVENT on|off\n"
    "                      whether schedule loads spare EVENT\n"
    "  sun location [LAT LON | --zone]\n"
    "                      print or store the location (degrees, north and east\n"
    "                      positive: 40.75 -73.99); --zone uses the time zone's place\n";

namespace {

// Options of the sun subcommands; "-10" and "-73.99" are numbers, not options.
struct SunArgs {
    std::vector<std::string> words;
    std::optional<std::string> offset;
    std::optional<std::string> protect;
    bool zone = false;
    std::string device;
};

bool isNumber(const std::string& s)
{
    return s.size() > 1 && (s[0] == '-' || s[0] == '+') && (std::isdigit(static_cast<unsigned char>(s[1])) || s[1] == '.');
}

bool parseArgs(const std::vector<std::string>& args, SunArgs& a, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto value = [&](const char* name, std::string& out) {
            const std::string prefix = std::string(name) + "=";
            if (s.rfind(prefix, 0) == 0) {
                out = s.substr(prefix.size());
                return true;
            }
            if (s != name)
                return false;
            if (i + 1 >= args.size())
                error = std::string(name) + " needs a value";
            else
                out = args[++i];
            return true;
        };
        std::string v;
        if (value("--offset", v))
            a.offset = v;
        else if (value("--protect", v))
            a.protect = v;
        else if (value("--device", v))
            a.device = v;
        else if (s == "--zone")
            a.zone = true;
        else if (s.size() > 1 && s[0] == '-' && !isNumber(s))
            error = "unknown option " + s;
        else
            a.words.push_back(s);
        if (!error.empty())
            return false;
    }
    return true;
}

// A whole number with an optional sign, within [lo, hi].
std::optional<int> parseInt(const std::string& s, int lo, int hi)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])) || errno || *end || v < lo || v > hi)
        return std::nullopt;
    return static_cast<int>(v);
}

std::optional<double> parseDegrees(const std::string& s, double limit)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])) || *end || !std::isfinite(v) ||
        std::fabs(v) > limit)
        return std::nullopt;
    return v;
}

std::optional<bool> onOff(const std::string& s)
{
    if (s == "on")
        return true;
    if (s == "off")
        return false;
    return std::nullopt;
}

bool allDigits(const std::string& s)
{
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// YYYY-MM-DD of a day that exists; nullopt otherwise.
std::optional<std::tm> parseDate(const std::string& s)
{
    if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !allDigits(s.substr(0, 4)) || !allDigits(s.substr(5, 2)) ||
        !allDigits(s.substr(8, 2)))
        return std::nullopt;
    std::tm t{};
    t.tm_year = std::stoi(s.substr(0, 4)) - 1900;
    t.tm_mon = std::stoi(s.substr(5, 2)) - 1;
    t.tm_mday = std::stoi(s.substr(8, 2));
    t.tm_hour = 12;
    t.tm_isdst = -1;
    const std::tm asked = t;
    if (t.tm_year < 0 || std::mktime(&t) == static_cast<std::time_t>(-1) || t.tm_mday != asked.tm_mday ||
        t.tm_mon != asked.tm_mon)
        return std::nullopt;
    return t;
}

std::string hhmm(int32_t m)
{
    return platform::format("%02d:%02d", m / 60, m % 60);
}

std::string minutesText(const std::optional<int32_t>& m, const char* none)
{
    return m ? hhmm(*m) : std::string(none);
}

std::string degreesText(double v, char positive, char negative)
{
    return platform::format("%.4f %c", std::fabs(v), v < 0 ? negative : positive);
}

struct Place {
    state::Location where;
    std::string source;
};

// The stored location, else the time zone's; nullopt (said on stderr) when neither.
std::optional<Place> place(const std::string& zone)
{
    if (const auto stored = state::storedLocation(state::Program::Quorvel))
        return Place{{state::degreesToFixed(stored->latitude), state::degreesToFixed(stored->longitude)}, "stored"};
    if (const auto z = state::zoneLocation(zone))
        return Place{*z, "of time zone " + zone};
    std::fprintf(stderr,
                 "cp290ctl: no location: store one with cp290ctl sun location LAT LON, or set a time zone listed in "
                 "the zone tables (now: %s)\n",
                 zone.empty() ? "none" : zone.c_str());
    return std::nullopt;
}

void printLocation(const Place& p)
{
    const double lat = p.where.latitude / 1073741824.0 * 90.0;
    const double lon = p.where.longitude / 1073741824.0 * 90.0;
    std::printf("location   %s, %s (%s)\n", degreesText(lat, 'N', 'S').c_str(), degreesText(lon, 'E', 'W').c_str(),
                p.source.c_str());
}

int sunTimes(const std::vector<std::string>& words)
{
    if (words.size() > 1)
        return usageError("wrong number of arguments for sun");
    std::tm day = platform::localTime(platform::now());
    if (!words.empty()) {
        const std::optional<std::tm> d = parseDate(words[0]);
        if (!d)
            return usageError("date must be YYYY-MM-DD, a day that exists: " + words[0]);
        day = *d;
    }
    const std::string zone = state::systemZoneName();
    const std::optional<Place> p = place(zone);
    if (!p)
        return kExitNoInput;
    const sun::SunTimes t = sun::sunTimesOn(p->where, day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
    const long off = std::labs(t.gmtOffset);
    std::printf("date       %04d-%02d-%02d\n", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
    printLocation(*p);
    std::printf("time zone  %s, UTC%c%02ld:%02ld%s\n", zone.empty() ? "(system)" : zone.c_str(),
                t.gmtOffset < 0 ? '-' : '+', off / 3600, off % 3600 / 60, t.dst ? ", daylight-saving time" : "");
    std::printf("sunrise    %s\n", minutesText(t.sunrise, "none (the sun does not rise)").c_str());
    std::printf("sunset     %s\n", minutesText(t.sunset, "none (the sun does not set)").c_str());
    return 0;
}

int location(const SunArgs& a)
{
    if (a.zone ? !a.words.empty() : a.words.size() != 0 && a.words.size() != 2)
        return usageError("sun location takes LAT LON, --zone or nothing");
    if (a.zone || !a.words.empty()) {
        std::optional<state::LocationDegrees> where;
        if (!a.zone) {
            const std::optional<double> lat = parseDegrees(a.words[0], 90);
            const std::optional<double> lon = parseDegrees(a.words[1], 180);
            if (!lat || !lon)
                return usageError("the location is a latitude from -90 to 90 and a longitude from -180 to 180, "
                                  "north and east positive");
            where = state::LocationDegrees{*lat, *lon};
        }
        if (!state::storeLocation(state::Program::Quorvel, where))
            return failWith(kExitCantCreate, "the location could not be stored in Veskarn.conf");
    }
    const std::optional<Place> p = place(state::systemZoneName());
    if (!p)
        return kExitNoInput;
    printLocation(*p);
    return 0;
}

// "+25 min", "-10 min", "0 min".
std::string offsetText(int32_t m)
{
    return m ? platform::format("%+d min", m) : std::string("0 min");
}

void printList(const std::vector<core::sunfollow::FollowedEvent>& rows)
{
    std::printf("%-5s  %-5s  %-7s  %-8s  %-9s  %s\n", "Event", "Time", "Kind", "Offset", "Protected", "Device");
    for (const core::sunfollow::FollowedEvent& r : rows)
        std::printf("%-5d  %-5s  %-7s  %-8s  %-9s  %s\n", r.event, r.held ? hhmm(r.time).c_str() : "-",
                    core::sunfollow::kindName(r.kind), r.offset ? offsetText(*r.offset).c_str() : "-",
                    r.protect ? "yes" : "no", r.held ? r.devices.c_str() : "(not in the CP290)");
}

int list(const SunArgs& a)
{
    if (!a.words.empty())
        return usageError("sun list takes no arguments");
    const core::sunfollow::SunToday today = core::sunfollow::sunToday(state::Program::Quorvel);
    state::ControllerCorrections c;
    state::getVeskParms(c);
    std::printf("today      %04d-%02d-%02d, sunrise %s, sunset %s\n", today.date.year, today.date.month,
                today.date.day, minutesText(today.sunrise, "none").c_str(), minutesText(today.sunset, "none").c_str());
    state::DeviceNames names = core::sunfollow::storedDeviceNames();
    core::EventTable events(names);
    if (c.ceCount <= 0) {
        printList({});
        std::fprintf(stderr, "cp290ctl: no events follow the sun; list one with cp290ctl sun follow EVENT "
                             "sunrise|sunset|dst\n");
        return 0;
    }
    core::NullOperationsUi ui;
    core::Cp290Operations ops(events, ui);
    ops.setDevicePath(chooseDevice(a.device));
    if (ops.devicePath().empty())
        return failWith(kExitUnavailable, "no serial device found; use --device PATH");
    if (const core::OpResult r = ops.GetEventList(); !r.ok())
        return failWith(exitStatusOf(r), core::describe(r, ops.devicePath()));
    printList(core::sunfollow::followedEvents(c, events, today));
    return 0;
}

int statusOf(const core::sunfollow::FollowOutcome& o)
{
    using core::sunfollow::FollowStatus;
    switch (o.status) {
    case FollowStatus::Done: return 0;
    case FollowStatus::BadArgument:
    case FollowStatus::NoSunTime:
    case FollowStatus::LeavesDay: return kExitUsage;
    case FollowStatus::NoLocation:
    case FollowStatus::NotStored: return kExitNoInput;
    case FollowStatus::DeviceFailed: return exitStatusOf(o.op);
    case FollowStatus::CorrectionFailed: return o.runStatus;
    case FollowStatus::SnapshotFailed:
    case FollowStatus::NotWritten: return kExitCantCreate;
    }
    return kExitFailure;
}

int follow(const SunArgs& a)
{
    using namespace core::sunfollow;
    if (a.words.size() != 2)
        return usageError("sun follow takes EVENT and sunrise, sunset or dst");
    FollowRequest req;
    const std::optional<int> event = parseInt(a.words[0], 1, core::kEventCount);
    req.kind = kindFromName(a.words[1]);
    if (!event || !req.kind)
        return usageError("sun follow takes an event number 1 to 128 and sunrise, sunset or dst");
    req.event = *event;
    if (a.offset) {
        req.offset = parseInt(*a.offset, -1439, 1439);
        if (!req.offset)
            return usageError("--offset takes whole minutes, as -10 or 25: " + *a.offset);
    }
    if (a.protect && !(req.protect = onOff(*a.protect)))
        return usageError("--protect takes on or off");
    const std::string device = chooseDevice(a.device);
    if (device.empty())
        return failWith(kExitUnavailable, "no serial device found; use --device PATH");
    core::NullOperationsUi ui;
    const FollowOutcome o = core::sunfollow::follow(req, device, ui, "cp290ctl");
    if (o.status != FollowStatus::Done)
        return failWith(statusOf(o), o.message + (o.snapshot.empty() ? "" : "; the events before: " + o.snapshot));
    if (o.correctedFirst)
        std::printf("the %s events were first brought up to today\n", kindName(req.kind));
    const FollowedEvent& r = o.row;
    std::printf("event %d at %s follows %s", r.event, hhmm(r.time).c_str(), kindName(r.kind));
    if (o.implied)
        std::printf(", %s from today's %s (%s)", offsetText(o.implied->offset).c_str(), kindName(r.kind),
                    hhmm(o.implied->sunTime).c_str());
    std::printf("%s\n", r.protect ? ", protected" : "");
    if (!o.snapshot.empty())
        std::printf("the CP290's events before: %s\n", o.snapshot.c_str());
    if (!req.offset && o.implied && o.implied->farFromSun)
        std::fprintf(stderr, "cp290ctl: that is more than an hour from today's %s; --offset 0 moves the event to it\n",
                     kindName(req.kind));
    const std::optional<bool> planned = correctionRunPlanned();
    if (!planned)
        std::fprintf(stderr, "cp290ctl: the crontab could not be read to see whether corrections are planned\n");
    else if (!*planned)
        std::fprintf(stderr, "cp290ctl: no correction run is planned, so the time stays as it is; plan one with "
                             "cp290ctl plan corrections DAYS HH:MM\n");
    return 0;
}

int editEntry(const SunArgs& a, bool protect)
{
    using core::sunfollow::ListEditStatus;
    const char* what = protect ? "sun protect takes EVENT and on or off" : "sun unfollow takes EVENT";
    if (a.words.size() != (protect ? 2u : 1u))
        return usageError(what);
    const std::optional<int> event = parseInt(a.words[0], 1, core::kEventCount);
    const std::optional<bool> on = protect ? onOff(a.words[1]) : std::optional<bool>(false);
    if (!event || !on)
        return usageError(what);
    const ListEditStatus s = protect ? core::sunfollow::setProtect(*event, *on) : core::sunfollow::unfollow(*event);
    if (s == ListEditStatus::NotListed)
        return failWith(kExitNoInput, platform::format("event %d is not listed (cp290ctl sun list)", *event));
    if (s == ListEditStatus::NotWritten)
        return failWith(kExitCantCreate, "the correction list could not be stored in Veskarn.conf");
    return 0;
}

}  // namespace

int runSunCommand(const std::vector<std::string>& args, const std::string& device)
{
    SunArgs a;
    a.device = device;
    std::string error;
    if (!parseArgs(args, a, error))
        return usageError(error);
    const std::string sub = a.words.empty() ? std::string() : a.words[0];
    const bool named = sub == "list" || sub == "follow" || sub == "unfollow" || sub == "protect" || sub == "location";
    if (named)
        a.words.erase(a.words.begin());
    if ((a.offset || a.protect) && sub != "follow")
        return usageError("--offset and --protect apply to sun follow only");
    if (a.zone && sub != "location")
        return usageError("--zone applies to sun location only");
    if (sub == "list")
        return list(a);
    if (sub == "follow")
        return follow(a);
    if (sub == "unfollow" || sub == "protect")
        return editEntry(a, sub == "protect");
    if (sub == "location")
        return location(a);
    return sunTimes(a.words);
}

}  // namespace cli
