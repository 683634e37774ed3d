#include "cp290ctl/sun_command.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/clock.h"
#include "state/location.h"
#include "core/solar_time.h"

namespace cli {
namespace {

constexpr int kExitUsage = 64;  // sysexits(3), as cp290ctl's other commands

int usage(const std::string& message)
{
    std::fprintf(stderr, "cp290ctl: %s\nTry 'cp290ctl --help'.\n", message.c_str());
    return kExitUsage;
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

std::string minutesText(const std::optional<int32_t>& m, const char* none)
{
    if (!m)
        return none;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02d:%02d", *m / 60, *m % 60);
    return buf;
}

std::string degreesText(double v, char positive, char negative)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f %c", std::fabs(v), v < 0 ? negative : positive);
    return buf;
}

int sun(const std::vector<std::string>& operands)
{
    if (operands.size() > 1)
        return usage("wrong number of arguments for sun");
    std::tm day = platform::localTime(platform::now());
    if (!operands.empty()) {
        const std::optional<std::tm> d = parseDate(operands[0]);
        if (!d)
            return usage("date must be YYYY-MM-DD, a day that exists: " + operands[0]);
        day = *d;
    }
    const std::string zone = state::systemZoneName();
    std::string source = "stored";
    std::optional<state::Location> where;
    if (const auto stored = state::storedLocation(state::Program::Quorvel)) {
        where = state::Location{state::degreesToFixed(stored->latitude), state::degreesToFixed(stored->longitude)};
    } else if ((where = state::zoneLocation(zone))) {
        source = "of time zone " + zone;
    } else {
        std::fprintf(stderr,
                     "cp290ctl: no location: store \"Latitude\" and \"Longitude\" in the Time Correction window, "
                     "or set a time zone listed in the zone tables (now: %s)\n",
                     zone.empty() ? "none" : zone.c_str());
        return 1;
    }
    const sun::SunTimes t = sun::sunTimesOn(*where, day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
    const double lat = where->latitude / 1073741824.0 * 90.0;
    const double lon = where->longitude / 1073741824.0 * 90.0;
    const long off = std::labs(t.gmtOffset);
    std::printf("date       %04d-%02d-%02d\n", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
    std::printf("location   %s, %s (%s)\n", degreesText(lat, 'N', 'S').c_str(), degreesText(lon, 'E', 'W').c_str(),
                source.c_str());
    std::printf("time zone  %s, UTC%c%02ld:%02ld%s\n", zone.empty() ? "(system)" : zone.c_str(),
                t.gmtOffset < 0 ? '-' : '+', off / 3600, off % 3600 / 60, t.dst ? ", daylight-saving time" : "");
    std::printf("sunrise    %s\n", minutesText(t.sunrise, "none (the sun does not rise)").c_str());
    std::printf("sunset     %s\n", minutesText(t.sunset, "none (the sun does not set)").c_str());
    return 0;
}

}  // namespace

int runSunCommand(const std::vector<std::string>& operands)
{
    return sun(operands);
}

}  // namespace cli
