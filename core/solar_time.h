#pragma once
// Sunrise and sunset, local clock time to the minute, for one date.
//
// Principles of operation: the sunrise/sunset method of the almanac for
// computers with the official zenith 90 deg 50', worked in radians with the
// rounded constants below. The constants are part of the stored behaviour:
// the correction tool shifts events by the difference of two results, and the
// results must come out the same on every machine and in every program (the
// tool, the controller's window and cp290ctl), so they are never recomputed
// from pi. The place and the time zone's offset are taken once (getLocInfo)
// and serve for every date computed with them: two results of one run then
// differ only by the sun's own motion, never by a daylight-saving hour.
//
// No user interface and no device work here; getLocInfo reads the stored
// location through state/location.
#include <cstdint>
#include <ctime>
#include <optional>

#include "state/location.h"
#include "state/program.h"

namespace sun {

inline constexpr double con1 = 0.017202;     // mean motion of the sun, radians per day
inline constexpr double con2 = 0.0574039;    // 3.289 deg
inline constexpr double con3 = 0.0334405;    // 1.916 deg
inline constexpr double con4 = 3.49066e-4;   // 0.020 deg
inline constexpr double con5 = 4.93289;      // 282.634 deg
inline constexpr double con6 = 4.84814e-6;   // one second of arc
inline constexpr double con7 = 4.71239;      // 270 deg
inline constexpr double con8 = 0.91746;      // cosine of the obliquity of the ecliptic
inline constexpr double con9 = 0.39782;      // sine of the obliquity of the ecliptic
inline constexpr double conA = -0.0145439;   // cosine of the zenith 90 deg 50'
inline constexpr double conB = 0.0172028;    // 0.06571 hours per day, in radians
inline constexpr double conC = 1.73364;      // 6.622 hours in radians
inline constexpr double conD = 3.81972;      // radians to hours
inline constexpr double conE = 0.261799;     // one hour in radians
inline constexpr double conF = 0.0174533;    // degrees to radians
inline constexpr double sun = 1.5708;        // a quarter turn: 90 deg, and 6 hours
inline constexpr double twopi = 6.28319;
inline constexpr double onepi = 3.14159;
inline constexpr int32_t one_degree = 11930464;  // one degree in the location's fixed point
inline constexpr int32_t one_minute = 198841;    // one minute of arc in the same units

// Fixed point (2^30 = 90 deg) to degrees.minutes: 40 deg 45' gives 40.45.
// Minutes are truncated, seconds dropped; a negative value gives negative
// degrees and minutes.
double Conv2DM(int32_t v);
// Degrees.minutes to decimal degrees; digits after the minutes count as seconds.
double conv2dec(double x);

// Day of the year (1..366) of a date. Every year divisible by 4 is a leap
// year, centuries included.
int32_t CalcDay(int year, int month, int day);

// The place and the time zone a run computes for.
struct SolarPlace {
    double Lat = 0;     // radians, north positive
    double Long = 0;    // radians, west positive
    int32_t tZone = 0;  // whole hours behind Greenwich (5 for UTC-5)
    double gcon = 0;    // tZone in radians
    uint8_t DST = 0;    // daylight-saving time in force at the moment taken
    std::tm GregDate{}; // that moment, broken down in the system time zone
};

// From the location's fixed-point latitude and longitude (north and east
// positive), the zone's offset from Greenwich in seconds and its
// daylight-saving flag. Offsets that are not whole hours lose the fraction.
SolarPlace placeFromFixed(int32_t latitude, int32_t longitude, long gmtOffsetSeconds, bool dst);

// The place at a moment: the location with the system time zone's offset
// and daylight-saving flag in force then, and that moment broken down.
SolarPlace placeAt(const state::Location& where, std::time_t when);

// getLocInfo: the stored location (or the time zone's) and the system time
// zone at platform::now(). nullopt when no location is known (logged in the
// caller's name by state::ReadLocation).
std::optional<SolarPlace> getLocInfo(state::Program who);

// Minutes after local midnight (0..1439) of sunrise and sunset on day of the
// year julDay; nullopt when the sun does not rise or does not set that day
// (polar day or night).
std::optional<int32_t> SunUp(const SolarPlace& place, int32_t julDay);
std::optional<int32_t> SunDown(const SolarPlace& place, int32_t julDay);

// Sunrise and sunset at a place on a date, as a run of the correction tool
// on that date computes them: with the zone offset in force at local noon of
// that date. Also for the controller and cp290ctl, so what they show is what
// the tool uses.
struct SunTimes {
    std::optional<int32_t> sunrise;  // minutes after midnight; nullopt: none that day
    std::optional<int32_t> sunset;
    long gmtOffset = 0;              // seconds east of Greenwich used
    bool dst = false;
};
SunTimes sunTimesOn(const state::Location& where, int year, int month, int day);

// A time of day in radians (0 <= T < twopi) to whole minutes, rounding half
// a minute up; a time that rounds up to 24:00 is midnight, 0.
int32_t radiansToMinutes(double T);

}  // namespace sun
