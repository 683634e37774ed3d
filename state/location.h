#pragma once
// The computer's geographic location for the solar routine, in its
// fixed-point form: signed 32-bit with 30 fraction bits, 2^30 = 90 degrees,
// north and east positive.
//
// Source: "Latitude" and "Longitude" in domain Veskarn (decimal degrees as
// text). When they are absent or unusable, the coordinates that the time-zone
// tables (/usr/share/zoneinfo/zone1970.tab, then zone.tab) give for the
// system time zone.
#include <cstdint>
#include <optional>
#include <string>

#include "state/program.h"

namespace state {

struct Location {
    int32_t latitude = 0;
    int32_t longitude = 0;
    bool operator==(const Location&) const = default;
};

// round(degrees / 90 * 2^30); +180 degrees, one step past the 32-bit range,
// becomes the largest value (the same meridian within a fraction of a second).
int32_t degreesToFixed(double degrees);

// The system time zone's name as the zone tables spell it ("Europe/Berlin"):
// TZ, else /etc/timezone, else the target of /etc/localtime. Empty if unknown.
std::string systemZoneName();

// Coordinates the zone tables give for a zone; nullopt when it is not listed.
// zone.tab is asked too, since zone1970.tab leaves out zones merged with others.
std::optional<Location> zoneLocation(const std::string& zone);

// The location in decimal degrees, north and east positive, as the keys hold it.
struct LocationDegrees {
    double latitude = 0;
    double longitude = 0;
};

// "Latitude" and "Longitude" of domain Veskarn when both are present and
// usable (an unusable one is logged in the program's name); else nullopt.
std::optional<LocationDegrees> storedLocation(Program who);
// Stores both keys as decimal text, or removes both (nullopt), so the time
// zone's coordinates serve again. False when the store refused the write.
bool storeLocation(Program who, const std::optional<LocationDegrees>& where);

// ReadLocation: the stored location, else the time zone's; nullopt (logged in
// the program's name) when neither is known.
std::optional<Location> ReadLocation(Program who);

}  // namespace state
