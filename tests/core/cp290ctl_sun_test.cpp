// cp290ctl sun and cp290ctl plan corrections, run as a person runs them.
#include <gtest/gtest.h>

#include <QSettings>

#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::runProgram;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

class Cp290ctlSunTest : public ::testing::Test {
protected:
    RunResult ctl(const std::vector<std::string>& args, const std::string& tz = "America/New_York")
    {
        return runProgram("cp290ctl", args,
                          {{"XDG_CONFIG_HOME", m_home.path()},
                           {"HOME", m_home.path()},
                           {"CP290_CRONTAB", m_crontab.script()},
                           {"CP290_NOW", "1141318800"},  // 2 March 2006, noon in New York
                           {"TZ", tz}});
    }
    void storeLocation(const char* lat, const char* lon)
    {
        QSettings s(QString::fromStdString(m_home.file("Veskarn.conf")), QSettings::IniFormat);
        s.setValue("Latitude", lat);
        s.setValue("Longitude", lon);
    }
    std::string command() const { return "\"" + std::string(CP290_BIN_DIR) + "/veskarn\""; }

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

TEST_F(Cp290ctlSunTest, PlanCorrectionsInstallsAndRemovesThePair)
{
    const std::string foreign = "# my own job\n0\t5\t*\t*\t*\t/usr/bin/backup\n";
    m_crontab.install(foreign);

    RunResult r = ctl({"plan", "corrections", "7,1,3", "3:05"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Sun corrections: 03:05 on 1,3,7\n");
    EXPECT_EQ(m_crontab.installed(), foreign + "#a Quorvel\n5\t3\t*\t*\t1,3,7\t" + command() + "\n");
    EXPECT_FALSE(std::filesystem::exists(m_home.file("Wrellish")));
    EXPECT_FALSE(std::filesystem::exists(m_home.file("tempCrontab")));

    // A new plan replaces the pair rather than adding a second one.
    r = ctl({"plan", "corrections", "2", "23:59"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(m_crontab.installed(), foreign + "#a Quorvel\n59\t23\t*\t*\t2\t" + command() + "\n");

    r = ctl({"plan"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Sun corrections: 23:59 on Tue\n"), std::string::npos) << r.out;

    r = ctl({"plan", "corrections", "off"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Sun corrections: none\n");
    EXPECT_EQ(m_crontab.installed(), foreign);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"plan", "corrections", "8", "3:05"},
             {"plan", "corrections", "1,", "3:05"},
             {"plan", "corrections", "1", "24:00"},
             {"plan", "corrections", "1", "3:5"},
             {"plan", "corrections"}}) {
        r = ctl(bad);
        EXPECT_EQ(r.exitStatus, 64) << bad.back();
    }
    EXPECT_EQ(m_crontab.installed(), foreign);

    // An unreadable crontab changes nothing and says so.
    m_crontab.setFailing(true);
    r = ctl({"plan", "corrections", "1", "4:00"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err;
    m_crontab.setFailing(false);
    EXPECT_EQ(m_crontab.installed(), foreign);
}
