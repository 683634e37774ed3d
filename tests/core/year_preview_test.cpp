// The preview of the year ahead against the year itself: the correction run
// made day by day on the emulator, with CP290_NOW at each planned run, must
// leave every listed event at the time the preview gave it for that day.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/clock.h"
#include "state/correction_journal.h"
#include "state/correction_store.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"
#include "core/correction_run.h"
#include "core/year_preview.h"

using state_test::CrontabStandIn;
using state_test::ScopedEnv;
using testing_support::TempDir;

namespace {

class QuietUi : public core::suncorrection::RunUi {
public:
    void phase(const char*) override {}
    void progress(int) override {}
    void hide() override {}
    void nothingNeeded() override {}
};

cp290::EventImage event(uint8_t days, int hour, int minute)
{
    return {8, days, static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), 0x80, 0x00, 0x60, 0x02};
}

using testing_support::localMoment;

class YearPreviewTest : public testing_support::SimTest {
protected:
    TempDir m_config, m_state, m_cron;
    testing_support::ZoneAndClock m_zone{"America/New_York"};
    ScopedEnv m_xdgConfig{"XDG_CONFIG_HOME", m_config.path()};
    ScopedEnv m_xdgState{"XDG_STATE_HOME", m_state.path()};
    ScopedEnv m_now{"CP290_NOW", std::nullopt};
};

TEST_F(YearPreviewTest, AYearOfRunsGivesEveryEventThePreviewedTime)
{
    ScopedEnv devices("CP290_SERIAL_DEVICES", devicePath());
    CrontabStandIn crontab(m_cron.path());
    ScopedEnv crontabCmd("CP290_CRONTAB", crontab.script());
    // Runs on Monday, Wednesday, Friday and Saturday at 03:05; a schedule pair beside it.
    crontab.install("# Quorvel\x01/s/Winter.sch\n0\t1\t15\t3\t*\t/usr/lib/cp290/brondile\n"
                    "#a Quorvel\n5\t3\t*\t*\t1,3,5,6\t/usr/lib/cp290/veskarn\n");
    testing_support::storeSerialPath(m_config.path(), devicePath());
    // Sunrise, sunset, the hour only, a sunset event just after midnight
    // (shifts cross midnight and turn its weekdays), one not on the CP290.
    testing_support::storeCorrections(m_config.file("Veskarn.conf"), {{1, 1}, {2, 2}, {3, 3}, {4, 2}, {9, 1}}, 1, 4,
                                      2027, "40.7514", "-73.9847");
    device().setEvent(1, event(0x7F, 7, 20));
    device().setEvent(2, event(0x1F, 16, 40));
    device().setEvent(3, event(0x60, 22, 0));
    device().setEvent(4, event(0x01, 0, 3));
    device().setEvent(7, event(0x7F, 12, 0));  // not listed: never moves

    core::suncorrection::PreviewSources sources = core::suncorrection::readPreviewSources();
    ASSERT_EQ(sources.problem, "");
    ASSERT_TRUE(sources.input.runs.has_value());
    ASSERT_EQ(sources.loads.size(), 1u);
    EXPECT_EQ(sources.loads[0].when.month, 3);
    for (int n = 1; n <= cp290::kMaxEvents; ++n) {
        if (const auto img = device().event(n)) {
            sources.input.events[static_cast<size_t>(n)].eventNumber = n;
            sources.input.events[static_cast<size_t>(n)].image = *img;
        }
    }
    const std::time_t from = localMoment(2027, 1, 4, 0, 0);  // a Monday in standard time
    const std::vector<core::suncorrection::PreviewDay> days = core::suncorrection::previewDays(sources.input, from, 365);
    ASSERT_EQ(days.size(), 365u);
    EXPECT_EQ(days.back().month, 1);
    EXPECT_EQ(days.back().day, 3);

    QuietUi ui;
    int runs = 0, corrected = 0;
    for (const core::suncorrection::PreviewDay& day : days) {
        const std::time_t runAt = localMoment(day.year, day.month, day.day, 3, 5);
        const int weekday = platform::isoWeekday(platform::localTime(runAt));
        if (weekday == 1 || weekday == 3 || weekday == 5 || weekday == 6) {
            ScopedEnv now("CP290_NOW", std::to_string(runAt));
            ASSERT_EQ(core::suncorrection::myTimerproc(ui), 0) << day.month << "/" << day.day;
            ++runs;
        }
        corrected += day.corrected ? 1 : 0;
        ASSERT_EQ(day.events.size(), 4u);
        for (const core::suncorrection::PreviewEvent& e : day.events) {
            const auto img = device().event(e.eventNumber);
            ASSERT_TRUE(img.has_value());
            ASSERT_EQ((*img)[2] * 60 + (*img)[3], e.minutes)
                << "event " << e.eventNumber << " on " << day.year << "-" << day.month << "-" << day.day;
        }
    }
    EXPECT_EQ(runs, 209);
    EXPECT_GT(corrected, 100);
    EXPECT_EQ(device().event(7), event(0x7F, 12, 0));
    // The hour came and went: event 3 is back at 22:00 after a year.
    EXPECT_EQ(days.back().events[2].minutes, 22 * 60);
    bool summer = false;
    for (const core::suncorrection::PreviewDay& d : days)
        summer = summer || d.events[2].minutes == 23 * 60;
    EXPECT_TRUE(summer);
}

// A stopped run's journal: the CP290 keeps what that run sent until the
// first planned run, which completes the correction as the tool does, so from
// then on the times are those the stopped run would have led to.
TEST_F(YearPreviewTest, TheFirstRunCompletesAStoppedOne)
{
    CrontabStandIn crontab(m_cron.path());
    ScopedEnv crontabCmd("CP290_CRONTAB", crontab.script());
    crontab.install("#a Quorvel\n5\t3\t*\t*\t3\t/usr/lib/cp290/veskarn\n");  // Wednesdays
    testing_support::storeCorrections(m_config.file("Veskarn.conf"), {{1, 1}, {2, 2}}, 1, 4, 2027, "40.7514",
                                      "-73.9847");
    const cp290::EventImage base[] = {event(0x7F, 7, 20), event(0x1F, 16, 40)};
    const std::time_t from = localMoment(2027, 1, 4);  // Monday; the first run is on Wednesday
    auto preview = [&](const cp290::EventImage& held1) {
        core::suncorrection::PreviewSources s = core::suncorrection::readPreviewSources();
        EXPECT_EQ(s.problem, "");
        s.input.events[1] = {1, held1, false};
        s.input.events[2] = {2, base[1], false};
        return core::suncorrection::previewDays(s.input, from, 14);
    };
    const auto unbroken = preview(base[0]);
    // The stopped run had given event 1 a time 10 minutes later.
    const cp290::EventImage sent = event(0x7F, 7, 30);
    state::ToolCorrections c;
    ASSERT_EQ(state::getVeskParms(c), 0);
    const state::CorrectionJournal stopped{
        c.SUTime, c.SDTime, {{1, 0, base[0], base[0], sent}, {2, 0, base[1], base[1], base[1]}}};
    ASSERT_EQ(state::writeCorrectionJournal(stopped), 0);
    const auto resumed = preview(sent);
    EXPECT_EQ(resumed[0].events[0].minutes, 7 * 60 + 30);
    for (size_t day = 2; day < resumed.size(); ++day)
        for (size_t k = 0; k < 2; ++k)
            EXPECT_EQ(resumed[day].events[k].minutes, unbroken[day].events[k].minutes) << day << " " << k;
}

TEST_F(YearPreviewTest, WithoutListOrPlaceThereIsNothingToPreview)
{
    CrontabStandIn crontab(m_cron.path());
    ScopedEnv crontabCmd("CP290_CRONTAB", crontab.script());
    EXPECT_NE(core::suncorrection::readPreviewSources().problem, "");

    // Without a planned run the times stay; the CSV lists each day.
    core::suncorrection::PreviewInput in;
    in.corrections.CorrArray.push_back({});
    in.corrections.CorrArray[0].eventNumber = 5;
    in.corrections.CorrArray[0].corrType = 1;
    in.corrections.applySU = 1;
    in.corrections.SUTime = {2027, 1, 1};
    in.events[5].eventNumber = 5;
    in.events[5].image = event(0x7F, 6, 5);
    in.where = {state::degreesToFixed(40.7514), state::degreesToFixed(-73.9847)};
    const auto days = core::suncorrection::previewDays(in, localMoment(2027, 6, 1, 12, 0), 2);
    EXPECT_EQ(core::suncorrection::previewCsv(days), "date,event,time\n2027-06-01,5,06:05\n2027-06-02,5,06:05\n");
    EXPECT_TRUE(core::suncorrection::previewDays(in, localMoment(2027, 6, 1, 12, 0), -4).empty());
}

TEST_F(YearPreviewTest, Cp290ctlPrintsThePreviewFromTheDeviceOrAFile)
{
    CrontabStandIn crontab(m_cron.path());
    auto cp290ctl = [&](const std::vector<std::string>& args) {
        return testing_support::runProgram(std::string(CP290_BIN_DIR) + "/cp290ctl", args,
                                           {{"HOME", m_state.path()},
                                            {"XDG_CONFIG_HOME", m_config.path()},
                                            {"XDG_STATE_HOME", m_state.path()},
                                            {"CP290_CRONTAB", crontab.script()},
                                            {"CP290_NOW", std::to_string(localMoment(2027, 1, 4, 12, 0))},
                                            {"TZ", "America/New_York"}});
    };
    testing_support::RunResult r = cp290ctl({"--device", devicePath(), "preview"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "date,event,time\n");
    EXPECT_NE(r.err.find("no sun corrections are set up"), std::string::npos) << r.err;
    EXPECT_TRUE(device().frames().empty()) << "the device was asked before the list was known";

    testing_support::storeCorrections(m_config.file("Veskarn.conf"), {{2, 2}}, 12, 4, 2026, "40.7514", "-73.9847");
    device().setEvent(2, event(0x7F, 16, 30));
    r = cp290ctl({"--device", devicePath(), "preview", "--days", "2"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // No run planned: the time stays, and the person is told why.
    EXPECT_EQ(r.out, "date,event,time\n2027-01-04,2,16:30\n2027-01-05,2,16:30\n");
    EXPECT_NE(r.err.find("no sun-correction run is planned"), std::string::npos) << r.err;

    // Planned daily at 03:05: Tuesday's run moves it by the month's later sunset.
    crontab.install("#a Quorvel\n5\t3\t*\t*\t1,2,3,4,5,6,7\t/usr/lib/cp290/veskarn\n");
    const std::string file = m_state.file("events.sch");
    testing_support::writeFile(file, std::string("\x02\x08\x7f\x10\x1e\x80\x00\x60\x02\x01", 10));
    r = cp290ctl({"preview", "--days=2", file});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 35), "date,event,time\n2027-01-04,2,16:30\n") << r.out;
    EXPECT_NE(r.out.find("2027-01-05,2,16:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("2027-01-05,2,16:30"), std::string::npos) << r.out;

    for (const char* bad : {"0", "3661", "x", "-1"})
        EXPECT_EQ(cp290ctl({"preview", "--days", bad, file}).exitStatus, 64) << bad;
    EXPECT_EQ(cp290ctl({"list", "--days", "3"}).exitStatus, 64);
}

}  // namespace
