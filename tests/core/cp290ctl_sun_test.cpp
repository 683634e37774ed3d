// cp290ctl sun, run as a person runs it.
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>

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
                           {"CP290_NOW", "1141318800"},  // 2 March 2006, noon in New York
                           {"TZ", tz}});
    }
    void storeLocation(const char* lat, const char* lon)
    {
        QSettings s(QString::fromStdString(m_home.file("Veskarn.conf")), QSettings::IniFormat);
        s.setValue("Latitude", lat);
        s.setValue("Longitude", lon);
    }

    TempDir m_home;
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
