// The location keys of domain Veskarn and the time-zone fallback.
#include <gtest/gtest.h>

#include "state/location.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::ScopedEnv;
using testing_support::LogCapture;
using testing_support::TempDir;

namespace {

TEST(LocationTest, FixedPointFormAtTheEdgesOfItsRange)
{
    EXPECT_EQ(degreesToFixed(180.0), INT32_MAX);  // one step past the 32-bit range
    EXPECT_EQ(degreesToFixed(-180.0), INT32_MIN);
}

TEST(LocationTest, StoredKeysElseTheTimeZonesCoordinates)
{
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    ScopedEnv tz("TZ", "America/New_York");
    testing_support::writeFile(dir.file("Veskarn.conf"),
                               "[General]\nLatitude=40.75\nLongitude=-73.9833\n");
    EXPECT_EQ(ReadLocation(Program::Veskarn), (Location{degreesToFixed(40.75), -882655150}));

    // zone1970.tab: America/New_York +404251-0740023
    const Location ny{degreesToFixed(40 + 42 / 60.0 + 51 / 3600.0),
                      degreesToFixed(-(74 + 0 / 60.0 + 23 / 3600.0))};
    TempDir other;
    ScopedEnv xdg2("XDG_CONFIG_HOME", other.path());
    testing_support::writeFile(other.file("Veskarn.conf"), "[General]\nLatitude=north\nLongitude=10\n");
    LogCapture log;
    EXPECT_EQ(ReadLocation(Program::Veskarn), ny);
    EXPECT_TRUE(log.contains("\"Latitude\" of Veskarn is not a coordinate"));

    // A zone only the older table lists, and a zone no table lists.
    ScopedEnv oslo("TZ", ":/usr/share/zoneinfo/Europe/Oslo");
    EXPECT_EQ(systemZoneName(), "Europe/Oslo");
    EXPECT_TRUE(ReadLocation(Program::Veskarn).has_value());
    ScopedEnv utc("TZ", "UTC");
    EXPECT_FALSE(ReadLocation(Program::Veskarn).has_value());
    EXPECT_TRUE(log.contains("Veskarn Error - Location unknown"));
}

}  // namespace
