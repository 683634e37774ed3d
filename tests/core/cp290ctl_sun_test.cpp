// cp290ctl sun and device, run as a person runs them, against the emulator.
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>

#include "core/solar_time.h"
#include "state/preferences.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::runProgram;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

class Cp290ctlSunTest : public testing_support::SimTest {
protected:
    RunResult ctl(const std::vector<std::string>& args, const std::string& tz = "America/New_York",
                  const std::string& now = "1141318800")  // 2 March 2006, noon in New York
    {
        return runProgram("cp290ctl", args,
                          {{"XDG_CONFIG_HOME", m_home.path()},
                           {"XDG_STATE_HOME", m_home.path()},
                           {"HOME", m_home.path()},
                           {"CP290_SERIAL_DEVICES", devicePath()},
                           {"CP290_CRONTAB", m_crontab.script()},
                           {"CP290_NOW", now},
                           {"TZ", tz}});
    }
    QVariant stored(const char* file, const char* key)
    {
        return QSettings(QString::fromStdString(m_home.file(file)), QSettings::IniFormat).value(key);
    }
    // A lamp switched on every day at sunset in New York on `day` March 2006 plus `offset`.
    static sim::EventImage lampAtSunset(int day, int offset)
    {
        const testing_support::ZoneAndClock zone("America/New_York");
        const state::Location ny{state::degreesToFixed(40.7514), state::degreesToFixed(-73.9847)};
        const int t = *sun::sunTimesOn(ny, 2006, 3, day).sunset + offset;
        return {8, 0x7F, static_cast<uint8_t>(t / 60), static_cast<uint8_t>(t % 60), 0x80, 0x00, 0x60, 0x02};
    }
    void storeLocation(const char* lat, const char* lon)
    {
        QSettings s(QString::fromStdString(m_home.file("Veskarn.conf")), QSettings::IniFormat);
        s.setValue("Latitude", lat);
        s.setValue("Longitude", lon);
    }

    TempDir m_home;
    state_test::CrontabStandIn m_crontab{m_home.path()};
};

}  // namespace

TEST_F(Cp290ctlSunTest, SunTimesAtTheStoredPlaceOrTheTimeZones)
{
    storeLocation("40.7514", "-73.9847");
    RunResult r = ctl({"sun"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("date       2006-03-02\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("40.7514 N, 73.9847 W (stored)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("America/New_York, UTC-05:00\n"), std::string::npos) << r.out;
    // Standard time on 2 March: the worked example (07:29, 18:48 at UTC-4) an hour earlier.
    EXPECT_NE(r.out.find("sunrise    06:29\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sunset     17:48\n"), std::string::npos) << r.out;

    // 21 June in daylight-saving time: the worked example's 05:25 and 20:31.
    r = ctl({"sun", "2006-06-21"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("UTC-04:00, daylight-saving time\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sunrise    05:25\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sunset     20:31\n"), std::string::npos) << r.out;

    // Nothing stored: the time zone's coordinates, said so.
    std::filesystem::remove(m_home.file("Veskarn.conf"));
    r = ctl({"sun", "2006-06-21"}, "Europe/Oslo");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("(of time zone Europe/Oslo)"), std::string::npos) << r.out;

    // Midsummer in Svalbard: no times, no invented ones.
    storeLocation("78.2", "15.6");
    r = ctl({"sun", "2006-06-21"}, "Arctic/Longyearbyen");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("sunrise    none (the sun does not rise)"), std::string::npos) << r.out;

    for (const char* bad : {"2006-02-30", "2006-3-2", "yesterday"}) {
        r = ctl({"sun", bad});
        EXPECT_EQ(r.exitStatus, 64) << bad;
        EXPECT_NE(r.err.find("YYYY-MM-DD"), std::string::npos) << r.err;
    }
}

// One step from a shell: the event goes to today's sunset plus the offset,
// and the runs keep that offset; a second event of a kind whose reference
// date is behind is set only after the listed ones were brought up to today.
TEST_F(Cp290ctlSunTest, FollowSetsTodaysSunsetPlusTheOffsetAndTheRunsKeepIt)
{
    const std::string link = m_home.file("by-id-cp290");
    std::filesystem::create_symlink(devicePath(), link);
    ASSERT_EQ(ctl({"device", link}).exitStatus, 0);
    EXPECT_EQ(stored("Lumbrasken.conf", "Serial Path").toString().toStdString(), link);  // kept as given
    RunResult r = ctl({"sun", "location", "40.7514", "-73.9847"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    {
        // What the controller reads at start-up, and stores again at its quit.
        const state_test::ScopedEnv config("XDG_CONFIG_HOME", m_home.path());
        EXPECT_EQ(state::storedLocation(state::Program::Quorvel)->longitude, -73.9847);
        state::Preferences prefs;
        state::PreferencesUi none;
        state::ReadParms(prefs, {"/dev/ttyS0", devicePath()}, none);
        EXPECT_EQ(prefs.curPort, 2);
        EXPECT_EQ(prefs.serPath, link);
        ASSERT_TRUE(state::WriteParms(prefs, 2));
        EXPECT_EQ(state::storedSerialPath(state::Program::Quorvel), link);
    }
    device().setEvent(3, lampAtSunset(2, -48));  // 17:00
    device().setEvent(4, lampAtSunset(2, -48));

    r = ctl({"sun", "follow", "3", "sunset", "--offset", "-10"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("event 3 at 17:38 follows sunset, -10 min from today's sunset (17:48), protected"),
              std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cp290ctl plan corrections DAYS HH:MM"), std::string::npos) << r.err;
    EXPECT_EQ(testing_support::downloadedEvents(device()), std::vector<int>{3});
    EXPECT_EQ(stored("Veskarn.conf", "Last SD Da").toInt(), 2);

    const RunResult run = testing_support::runAsCron("veskarn", m_home.path(),
        {{"XDG_CONFIG_HOME", m_home.path()}, {"XDG_STATE_HOME", m_home.path()}, {"CP290_SERIAL_DEVICES", devicePath()},
         {"CP290_NOW", "1141405200"}, {"TZ", "America/New_York"}});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(device().event(3), lampAtSunset(3, -10));

    // 4 March, the sunset date still 3 March: event 3 is corrected first, then 4 set.
    r = ctl({"sun", "follow", "4", "sunset", "--offset=+5", "--protect", "off"}, "America/New_York", "1141491600");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("the sunset events were first brought up to today"), std::string::npos) << r.out;
    EXPECT_EQ(device().event(3), lampAtSunset(4, -10));
    EXPECT_EQ(device().event(4), lampAtSunset(4, 5));
    EXPECT_EQ(stored("Veskarn.conf", "Last SD Da").toInt(), 4);
    r = ctl({"sun", "list"}, "America/New_York", "1141491600");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("  sunset   -10 min   yes        Device 1\n4 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  sunset   +5 min    no         Device 1\n"), std::string::npos) << r.out;

    ASSERT_EQ(ctl({"sun", "unfollow", "4"}).exitStatus, 0);
    EXPECT_EQ(stored("Veskarn.conf", "Event Numbers").toStringList(), QStringList{"3"});
    // Without an offset the time stands, and what it means is said.
    r = ctl({"sun", "follow", "4", "sunrise"}, "America/New_York", "1141491600");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("event 4 at 17:55 follows sunrise, +689 min from today's sunrise (06:26)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("more than an hour from today's sunrise"), std::string::npos) << r.err;
}
