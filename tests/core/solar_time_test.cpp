// The solar routine against the worked examples it must reproduce to the minute.
#include <gtest/gtest.h>

#include "state/location.h"
#include "core/correction_run.h"
#include "core/solar_time.h"
#include "core/sun_following.h"

namespace {

// 40 deg 45' N, 73 deg 59' W (a few seconds in, as a stored location is).
const int32_t kLat = state::degreesToFixed(40.0 + 45.0 / 60 + 5.0 / 3600);
const int32_t kLong = state::degreesToFixed(-(73.0 + 59.0 / 60 + 5.0 / 3600));

sun::SolarPlace newYork(int hoursBehind)
{
    return sun::placeFromFixed(kLat, kLong, -hoursBehind * 3600L, hoursBehind == 4);
}

}  // namespace

TEST(SolarTime, FixedPointToDegreesMinutesTruncates)
{
    EXPECT_DOUBLE_EQ(sun::Conv2DM(kLat), 40.45);
    EXPECT_DOUBLE_EQ(sun::Conv2DM(kLong), -73.59);
    // 73.9833 deg west is 73 deg 58.998': the minute is not rounded up.
    EXPECT_DOUBLE_EQ(sun::Conv2DM(state::degreesToFixed(-73.9833)), -73.58);
    EXPECT_DOUBLE_EQ(sun::Conv2DM(0), 0.0);
    EXPECT_DOUBLE_EQ(sun::Conv2DM(1 << 30), 90.0);
    EXPECT_NEAR(sun::conv2dec(40.45), 40.75, 1e-9);
    EXPECT_NEAR(sun::conv2dec(-73.5930), -(73 + 59 / 60.0 + 30 / 3600.0), 1e-9);
}

TEST(SolarTime, DayOfTheYear)
{
    EXPECT_EQ(sun::CalcDay(2006, 1, 1), 1);
    EXPECT_EQ(sun::CalcDay(2006, 3, 1), 60);
    EXPECT_EQ(sun::CalcDay(2004, 3, 1), 61);
    EXPECT_EQ(sun::CalcDay(2000, 3, 1), 61);
    EXPECT_EQ(sun::CalcDay(1900, 3, 1), 61);  // no century rule
    EXPECT_EQ(sun::CalcDay(2006, 12, 31), 365);
    EXPECT_EQ(sun::CalcDay(2004, 12, 31), 366);
    EXPECT_EQ(sun::CalcDay(2006, 6, 21), 172);
    EXPECT_EQ(sun::CalcDay(2006, 12, 21), 355);
}

TEST(SolarTime, TimeZoneInWholeHoursTowardZero)
{
    EXPECT_EQ(sun::placeFromFixed(kLat, kLong, -4 * 3600, true).tZone, 4);
    EXPECT_EQ(sun::placeFromFixed(kLat, kLong, -(3 * 3600 + 1800), false).tZone, 3);
    EXPECT_EQ(sun::placeFromFixed(kLat, kLong, 5 * 3600 + 1800, false).tZone, -5);
    EXPECT_DOUBLE_EQ(sun::placeFromFixed(kLat, kLong, -5 * 3600, false).gcon, 5 * sun::conE);
}

TEST(SolarTime, WorkedExamplesToTheMinute)
{
    const sun::SolarPlace summer = newYork(4);
    EXPECT_EQ(sun::SunUp(summer, 172), 325);   // 21 June 2006, 05:25
    EXPECT_EQ(sun::SunDown(summer, 172), 1231);  // 20:31

    const sun::SolarPlace winter = newYork(5);
    EXPECT_EQ(sun::SunUp(winter, 355), 437);   // 21 December 2006, 07:17
    EXPECT_EQ(sun::SunDown(winter, 355), 991);  // 16:31

    // 1 and 2 March 2006 at offset -4 h: sunrise one minute earlier, sunset two later.
    EXPECT_EQ(sun::SunUp(summer, 60), 450);
    EXPECT_EQ(sun::SunUp(summer, 61), 449);
    EXPECT_EQ(sun::SunDown(summer, 60), 1126);
    EXPECT_EQ(sun::SunDown(summer, 61), 1128);
}

TEST(SolarTime, PolarDayAndNightHaveNoTime)
{
    // 78 deg N (Svalbard), UTC+1.
    const sun::SolarPlace north = sun::placeFromFixed(state::degreesToFixed(78.2), state::degreesToFixed(15.6),
                                                      3600, false);
    EXPECT_FALSE(sun::SunUp(north, 172).has_value());
    EXPECT_FALSE(sun::SunDown(north, 172).has_value());
    EXPECT_FALSE(sun::SunUp(north, 355).has_value());
    EXPECT_TRUE(sun::SunUp(north, 80).has_value());  // equinox: the sun rises
    // The pole itself: no division blows up into a time.
    const sun::SolarPlace pole = sun::placeFromFixed(1 << 30, 0, 0, false);
    EXPECT_FALSE(sun::SunUp(pole, 172).has_value());
}

TEST(SolarTime, MinutesRoundHalfUpAndWrapAtMidnight)
{
    auto at = [](double hours) { return hours / sun::conD; };
    EXPECT_EQ(sun::radiansToMinutes(at(5 + 25.49 / 60)), 325);
    EXPECT_EQ(sun::radiansToMinutes(at(5 + 25.51 / 60)), 326);
    EXPECT_EQ(sun::radiansToMinutes(at(13 + 59.6 / 60)), 14 * 60);
    EXPECT_EQ(sun::radiansToMinutes(at(23 + 59.7 / 60)), 0);  // never 1440
    EXPECT_EQ(sun::radiansToMinutes(0), 0);
}

// Where the sun's time itself crosses midnight between the reference date and
// the run (sunset 23:48 one day, 00:02 the next, at 69.65 N 18.96 E), the
// day's change is the short way round, and an event that follows it past
// midnight moves to the next weekday.
TEST(SolarTime, ChangeAcrossMidnightIsTheShortWayRound)
{
    struct Case {
        int refDay, runDay;
        int32_t sunsetShift;
    } cases[] = {{16, 17, 14}, {17, 16, -14}, {17, 18, 23}};
    for (const Case& c : cases) {
        state::ToolCorrections list;
        list.applySD = 1;
        list.SDTime = {2027, 5, static_cast<int16_t>(c.refDay)};
        sun::SolarPlace place =
            sun::placeFromFixed(state::degreesToFixed(69.65), state::degreesToFixed(18.96), 7200, true);
        place.GregDate = {};
        place.GregDate.tm_year = 127;
        place.GregDate.tm_mon = 4;
        place.GregDate.tm_mday = c.runDay;
        const core::suncorrection::RunDecision d =
            core::suncorrection::decideRun(list, place, core::suncorrection::Logging::Off);
        EXPECT_EQ(d.shifts.deltaSD, c.sunsetShift) << c.refDay << " -> " << c.runDay;
    }
    // 23:50 Monday to Friday, 14 minutes later: 00:04 Tuesday to Saturday.
    cp290::EventImage img = {0x08, 0x1F, 23, 50, 0x80, 0x00, 0x60, 0x02};
    core::suncorrection::shiftEventTime(img, 14);
    EXPECT_EQ(img, (cp290::EventImage{0x08, 0x3E, 0, 4, 0x80, 0x00, 0x60, 0x02}));
}

// What the windows ask about and cp290ctl prints: an event's offset from
// today's sun time the short way round the clock, more than an hour "far",
// and a sun time plus an offset only within the day.
TEST(SolarTime, OffsetsFromTodaysSunTime)
{
    namespace f = core::sunfollow;
    f::SunToday today;
    today.sunrise = 400;
    today.sunset = 952;  // 15:52
    const struct {
        int kind;
        int32_t sun, event, offset;
        bool far;
    } cases[] = {{f::kSunset, 952, 1020, 68, true}, {f::kSunset, 952, 912, -40, false},
                 {f::kSunset, 1432, 10, 18, false}, {f::kSunrise, 400, 300, -100, true}};
    for (const auto& c : cases) {
        (c.kind == f::kSunset ? today.sunset : today.sunrise) = c.sun;
        const std::optional<f::ImpliedOffset> o = f::impliedOffset(today, c.kind, c.event);
        ASSERT_TRUE(o) << c.event;
        EXPECT_EQ(o->offset, c.offset) << c.event;
        EXPECT_EQ(o->farFromSun, c.far) << c.event;
    }
    EXPECT_FALSE(f::impliedOffset(today, f::kDst, 600));
    EXPECT_EQ(f::followTime(today, f::kSunrise, -10), 390);
    EXPECT_FALSE(f::followTime(today, f::kSunset, 10));  // 23:52 + 10 leaves the day
}
