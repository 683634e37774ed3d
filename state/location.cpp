#include "state/location.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "platform/syslog_log.h"
#include "state/settings_domain.h"

namespace state {
namespace {

constexpr const char* kLatitude = "Latitude";
constexpr const char* kLongitude = "Longitude";

constexpr const char* kZoneTables[] = {"/usr/share/zoneinfo/zone1970.tab",
                                       "/usr/share/zoneinfo/zone.tab"};

// One ISO 6709 part of a zone table: sign, then DDMM[SS] (latitude) or
// DDDMM[SS] (longitude). Advances `p`.
std::optional<double> parseCoordinate(const std::string& s, size_t& p, int degreeDigits)
{
    if (p >= s.size() || (s[p] != '+' && s[p] != '-'))
        return std::nullopt;
    const double sign = s[p] == '-' ? -1.0 : 1.0;
    size_t end = ++p;
    while (end < s.size() && s[end] >= '0' && s[end] <= '9')
        ++end;
    const size_t len = end - p;
    if (len != static_cast<size_t>(degreeDigits + 2) && len != static_cast<size_t>(degreeDigits + 4))
        return std::nullopt;
    auto num = [&](size_t at, size_t n) { return std::stoi(s.substr(at, n)); };
    double deg = num(p, static_cast<size_t>(degreeDigits));
    deg += num(p + static_cast<size_t>(degreeDigits), 2) / 60.0;
    if (len == static_cast<size_t>(degreeDigits + 4))
        deg += num(p + static_cast<size_t>(degreeDigits) + 2, 2) / 3600.0;
    p = end;
    return sign * deg;
}

std::optional<double> readDegrees(const SettingsDomain& d, const char* key, double limit)
{
    const std::optional<QString> text = d.readString(key);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double v = text->trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > limit) {
        platform::logf("%s Error - Preference \"%s\" of %s is not a coordinate within %g "
                       "degrees; ignored.\n",
                       programName(d.program()), key, d.domain(), limit);
        return std::nullopt;
    }
    return v;
}

}  // namespace

int32_t degreesToFixed(double degrees)
{
    const double v = std::round(degrees / 90.0 * 1073741824.0);
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

std::string systemZoneName()
{
    std::string zone;
    if (const char* tz = std::getenv("TZ")) {
        zone = tz;
        if (!zone.empty() && zone[0] == ':')
            zone.erase(0, 1);
    } else if (std::ifstream in("/etc/timezone"); in && std::getline(in, zone)) {
    } else {
        char buf[PATH_MAX];
        const ssize_t n = readlink("/etc/localtime", buf, sizeof buf - 1);
        if (n > 0)
            zone.assign(buf, static_cast<size_t>(n));
    }
    // An absolute file name of the zone database names the zone after it.
    if (const size_t at = zone.find("zoneinfo/"); at != std::string::npos)
        zone.erase(0, at + 9);
    return zone;
}

std::optional<Location> zoneLocation(const std::string& zone)
{
    if (zone.empty())
        return std::nullopt;
    for (const char* table : kZoneTables) {
        std::ifstream in(table);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            // codes TAB coordinates TAB zone [TAB comment]
            const size_t t1 = line.find('\t');
            const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
            if (t2 == std::string::npos)
                continue;
            const size_t t3 = line.find('\t', t2 + 1);
            if (line.compare(t2 + 1, t3 == std::string::npos ? std::string::npos : t3 - t2 - 1, zone) != 0)
                continue;
            const std::string coords = line.substr(t1 + 1, t2 - t1 - 1);
            size_t p = 0;
            const std::optional<double> lat = parseCoordinate(coords, p, 2);
            const std::optional<double> lon = lat ? parseCoordinate(coords, p, 3) : std::nullopt;
            if (!lat || !lon || p != coords.size())
                return std::nullopt;
            return Location{degreesToFixed(*lat), degreesToFixed(*lon)};
        }
    }
    return std::nullopt;
}

std::optional<LocationDegrees> storedLocation(Program who)
{
    SettingsDomain d(kCorrectionDomain, who);
    const std::optional<double> lat = readDegrees(d, kLatitude, 90.0);
    const std::optional<double> lon = readDegrees(d, kLongitude, 180.0);
    if (lat && lon)
        return LocationDegrees{*lat, *lon};
    return std::nullopt;
}

bool storeLocation(Program who, const std::optional<LocationDegrees>& where)
{
    SettingsDomain d(kCorrectionDomain, who);
    if (where) {
        // Six decimals: about 0.1 m, more than the solar routine can use.
        d.writeString(kLatitude, QString::number(where->latitude, 'f', 6));
        d.writeString(kLongitude, QString::number(where->longitude, 'f', 6));
    } else {
        d.remove(kLatitude);
        d.remove(kLongitude);
    }
    return d.sync();
}

std::optional<Location> ReadLocation(Program who)
{
    if (const std::optional<LocationDegrees> stored = storedLocation(who))
        return Location{degreesToFixed(stored->latitude), degreesToFixed(stored->longitude)};
    const std::string zone = systemZoneName();
    if (const std::optional<Location> z = zoneLocation(zone))
        return z;
    platform::logf("%s Error - Location unknown: no \"Latitude\" and \"Longitude\" in "
                   "preferences and no coordinates for time zone %s.\n",
                   programName(who), zone.empty() ? "(none)" : zone.c_str());
    return std::nullopt;
}

}  // namespace state
