#include "core/solar_time.h"

#include <cmath>

#include "platform/clock.h"
#include "state/location.h"

namespace sun {
namespace {

// Brings an angle into [0, twopi) by whole turns of the rounded constant.
double intoTurn(double a)
{
    while (a < 0)
        a += twopi;
    while (a >= twopi)
        a -= twopi;
    return a;
}

struct SolarPosition {
    double solartime = 0;
    double rtascn = 0;
    double declination = 0;
};

// The sun at 06:00 local mean time of the day, for rising and setting alike.
SolarPosition SolarData(const SolarPlace& p, int32_t julDay)
{
    SolarPosition s;
    s.solartime = julDay + (sun + p.Long) / twopi;
    const double Mn = s.solartime * con1 - con2;
    double L = ((con3 * std::sin(Mn) + Mn) + con4 * std::sin(2 * Mn)) + con5;
    L = intoTurn(L);
    // Keeps the tangent below finite on an exact quarter turn.
    const double quarters = L / sun;
    if (quarters == std::trunc(quarters))
        L += con6;
    const int q = L > con7 ? 2 : (L > sun ? 1 : 0);
    s.rtascn = std::atan(con8 * std::sin(L) / std::cos(L));
    if (q == 1)
        s.rtascn += onepi;
    else if (q == 2)
        s.rtascn += twopi;
    const double sd = con9 * std::sin(L);
    s.declination = std::atan(sd / std::sqrt(1 - sd * sd));
    return s;
}

std::optional<int32_t> convCoords(const SolarPlace& p, int32_t julDay, bool rising)
{
    const SolarPosition s = SolarData(p, julDay);
    const double c = (conA - std::sin(s.declination) * std::sin(p.Lat)) /
                     (std::cos(s.declination) * std::cos(p.Lat));
    if (std::fabs(c) > 1 || std::isnan(c))
        return std::nullopt;
    double H = sun - std::atan(c / std::sqrt(1 - c * c));
    if (rising)
        H = twopi - H;
    double T = H + s.rtascn - conB * s.solartime - conC + p.Long - p.gcon;
    return radiansToMinutes(intoTurn(T));
}

}  // namespace

double Conv2DM(int32_t v)
{
    const int32_t d = v / one_degree;
    const int32_t r = v - d * one_degree;
    const int32_t m = r / one_minute;
    return d + m / 100.0;
}

double conv2dec(double x)
{
    double s = 1;
    if (x < 0) {
        x = -x;
        s = -1;
    }
    const int d = static_cast<int>(x);
    const double f = (x - d) * 100.0;
    const int m = static_cast<int>(f);
    return (d + m / 60.0 + (f - m) * 100.0 / 3600.0) * s;
}

int32_t CalcDay(int year, int month, int day)
{
    int k = (month + 9) / 12;
    const double quarterYear = year * 0.25;
    if (quarterYear != std::trunc(quarterYear))
        k = 2 * k;
    return (275 * month) / 9 + day - k - 30;
}

SolarPlace placeFromFixed(int32_t latitude, int32_t longitude, long gmtOffsetSeconds, bool dst)
{
    SolarPlace p;
    const double latDM = Conv2DM(latitude);
    const double longDM = -Conv2DM(longitude);
    const double offset = static_cast<double>(gmtOffsetSeconds);
    p.tZone = static_cast<int32_t>(-offset) / 3600;
    p.gcon = p.tZone * conE;
    p.DST = dst ? 1 : 0;
    p.Lat = conv2dec(latDM) * conF;
    p.Long = conv2dec(longDM) * conF;
    return p;
}

SolarPlace placeAt(const state::Location& where, std::time_t when)
{
    const std::tm local = platform::localTime(when);
    SolarPlace p = placeFromFixed(where.latitude, where.longitude, local.tm_gmtoff, local.tm_isdst > 0);
    p.GregDate = local;
    return p;
}

std::optional<SolarPlace> getLocInfo(state::Program who)
{
    const std::optional<state::Location> loc = state::ReadLocation(who);
    if (!loc)
        return std::nullopt;
    return placeAt(*loc, platform::now());
}

std::optional<int32_t> SunUp(const SolarPlace& place, int32_t julDay)
{
    return convCoords(place, julDay, true);
}

std::optional<int32_t> SunDown(const SolarPlace& place, int32_t julDay)
{
    return convCoords(place, julDay, false);
}

SunTimes sunTimesOn(const state::Location& where, int year, int month, int day)
{
    std::tm noon{};
    noon.tm_year = year - 1900;
    noon.tm_mon = month - 1;
    noon.tm_mday = day;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::tm local = platform::localTime(std::mktime(&noon));
    SunTimes t;
    t.gmtOffset = local.tm_gmtoff;
    t.dst = local.tm_isdst > 0;
    const SolarPlace p = placeFromFixed(where.latitude, where.longitude, t.gmtOffset, t.dst);
    const int32_t julDay = CalcDay(year, month, day);
    t.sunrise = SunUp(p, julDay);
    t.sunset = SunDown(p, julDay);
    return t;
}

int32_t radiansToMinutes(double T)
{
    const double h = T * conD;
    int32_t hh = static_cast<int32_t>(h);
    const double f = (h - hh) * 60.0;
    int32_t mm = static_cast<int32_t>(f);
    if (f - mm >= 0.5)
        mm = mm + 1;
    if (mm > 59) {
        hh = hh + 1;
        mm = mm - 60;
    }
    if (hh > 23)
        hh = hh - 24;
    return hh * 60 + mm;
}

}  // namespace sun
