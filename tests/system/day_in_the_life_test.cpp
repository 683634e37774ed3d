// A day of unattended work under the real cron daemon, as a throw-away user.
//
// The emulator (with a state file) is the device. The user's crontab starts
// with lines of its own: the emulator's line for the tools' device listing,
// a shell that keeps the tools' log lines, and foreign jobs. The controller's
// planning code then plans, a minute apart, the clock sync, a schedule for
// today and the sun corrections, with a correction list and reference dates
// a month old so that today needs a shift. Cron runs the three tools; after
// the third the device holds the planned file with its protected event kept,
// the listed events moved by the minutes the solar routine predicts, the
// clock set, the reference dates today's, every tool's log line and history
// line written, and the foreign lines of the crontab as they were.
//
// Root only (it creates the user); skipped, and said so, otherwise. About
// four minutes; labelled slow.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/event_table.h"
#include "core/schedule_file.h"
#include "platform/clock.h"
#include "state/correction_store.h"
#include "state/crontab_plans.h"
#include "state/location.h"
#include "state/run_history.h"
#include "tests/state/state_test_env.h"
#include "tests/support/real_cron.h"
#include "tests/support/test_support.h"
#include "core/solar_time.h"

using state_test::ScopedEnv;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

cp290::EventImage event(int hour, int minute, uint8_t units = 0x80, uint8_t days = 0x7F)
{
    return {0x08, days, static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), units, 0x00, 0x60, 0x02};
}

std::tm localDay(std::time_t t, int addDays)
{
    std::tm d = platform::localTime(t);
    d.tm_mday += addDays;
    d.tm_hour = 12;
    d.tm_isdst = -1;
    std::mktime(&d);
    return d;
}

state::RefDate refDate(const std::tm& d)
{
    state::RefDate r;
    r.year = static_cast<int16_t>(d.tm_year + 1900);
    r.month = static_cast<int16_t>(d.tm_mon + 1);
    r.day = static_cast<int16_t>(d.tm_mday);
    return r;
}

std::array<int32_t, 8> onlyDay(const std::tm& d)
{
    std::array<int32_t, 8> days{};
    days[static_cast<size_t>(platform::isoWeekday(d))] = 1;
    return days;
}

class DayInTheLifeTest : public testing_support::SimTest {
protected:
    // Outlives the emulator, which saves its state file when it stops.
    testing_support::TempDir work;
};

TEST_F(DayInTheLifeTest, CronRunsTheClockSyncTheScheduleAndTheCorrectionsOfADay)
{
    if (const std::string why = testing_support::realCronUnavailable(); !why.empty()) {
        testing_support::skipVisibly("day-in-the-life test", why);
        GTEST_SKIP() << why;
    }
    const auto hardBound = std::chrono::steady_clock::now() + std::chrono::minutes(5);

    sim::SimOptions options;
    options.stateFile = work.file("cp290.state");
    restartSim(options);

    testing_support::ThrowAwayUser user("cp290day");
    ASSERT_TRUE(user.create());
    testing_support::CronDaemon cron;
    ASSERT_TRUE(cron.ensure()) << "cron did not start";

    // The first planned minute: far enough ahead for cron to see the new
    // crontab, and the three runs on one date.
    std::time_t at = std::time(nullptr) + 60;
    if (platform::localTime(at).tm_sec > 40)
        at += 60;
    while (platform::localTime(at + 180).tm_mday != platform::localTime(std::time(nullptr)).tm_mday) {
        std::this_thread::sleep_for(std::chrono::seconds(10));
        at = std::time(nullptr) + 120;
    }
    at -= platform::localTime(at).tm_sec;
    const std::tm syncAt = platform::localTime(at);
    const std::tm loadAt = platform::localTime(at + 60);
    const std::tm correctAt = platform::localTime(at + 120);
    const std::tm today = platform::localTime(at);

    // The user's side: device path, correction list a month old, place, the schedule file.
    const std::string line = device().ptyPath();
    ASSERT_EQ(::chown(line.c_str(), user.uid, user.gid), 0);
    const std::string config = user.home + "/.config";
    std::filesystem::create_directories(config);
    testing_support::storeSerialPath(config, line);
    ScopedEnv xdg("XDG_CONFIG_HOME", config);
    const uint8_t dst = today.tm_isdst > 0 ? 1 : 0;
    ASSERT_TRUE(state::storeLocation(state::Program::Quorvel, state::LocationDegrees{40.75, -73.9833}));

    // Sunrise and sunset move over a month except near a solstice: go back
    // further until both have moved, as the tool will compute them.
    const std::optional<sun::SolarPlace> place = sun::getLocInfo(state::Program::Veskarn);
    ASSERT_TRUE(place);
    auto minutesOn = [&](const std::tm& d, bool rising) {
        const int32_t day = sun::CalcDay(d.tm_year + 1900, d.tm_mon + 1, d.tm_mday);
        return (rising ? sun::SunUp : sun::SunDown)(*place, day);
    };
    std::tm ref{};
    int deltaSU = 0, deltaSD = 0;
    for (int back : {30, 60, 90, 120}) {
        ref = localDay(at, -back);
        const auto su0 = minutesOn(ref, true), su1 = minutesOn(today, true);
        const auto sd0 = minutesOn(ref, false), sd1 = minutesOn(today, false);
        ASSERT_TRUE(su0 && su1 && sd0 && sd1);
        deltaSU = *su1 - *su0;
        deltaSD = *sd1 - *sd0;
        if (deltaSU != 0 && deltaSD != 0)
            break;
    }
    // Sunrise, sunset, and daylight-saving only (protected from the loader),
    // with the reference dates as a run a month ago left them.
    testing_support::storeCorrections(config + "/Veskarn.conf",
                                      {{10, 1, dst, false}, {11, 2, dst, false}, {20, 3, dst, true}}, ref.tm_mon + 1,
                                      ref.tm_mday, ref.tm_year + 1900);

    const cp290::EventImage plain = event(7, 0), dawn = event(6, 30, 0x40), dusk = event(17, 0, 0x20);
    const cp290::EventImage guarded = event(22, 0, 0x10), stale = event(9, 9, 0x08);
    const std::string schedule = user.home + "/Today.sch";
    {
        core::EventTable t;
        t.record(5)->setImage(plain);
        t.record(10)->setImage(dawn);
        t.record(11)->setImage(dusk);
        ASSERT_TRUE(core::writeEvent(t, schedule).ok());
    }
    device().setEvent(10, event(5, 55));
    device().setEvent(20, guarded);
    device().setEvent(30, stale);
    device().setClock(sim::SimClock{0, 12, 0x01});

    // Cron runs each job through $SHELL: this one keeps the tools' log lines.
    const std::string toolLog = user.home + "/tools.log";
    writeFile(user.home + "/logshell", "#!/bin/sh\nexec /bin/sh \"$@\" 2>>'" + toolLog + "'\n");
    std::filesystem::permissions(user.home + "/logshell", std::filesystem::perms::owner_all |
                                                               std::filesystem::perms::group_read |
                                                               std::filesystem::perms::group_exec |
                                                               std::filesystem::perms::others_read |
                                                               std::filesystem::perms::others_exec);
    ASSERT_TRUE(user.ownHome());

    // The user's own crontab, then the three plans through the planning code.
    const std::string own = "CP290_SERIAL_DEVICES=" + line +
                            "\nCP290_LOG_STDERR=1\nSHELL=" + user.home +
                            "/logshell\n# my own jobs\nMAILTO=\"\"\n17 4 * * *\t/bin/true\n";
    const std::string wrapper = testing_support::crontabForUser(work.path(), user.name);
    writeFile(work.file("own"), own);
    testing_support::stayClearOfCronMinute();
    ASSERT_TRUE(testing_support::runCommand({wrapper, work.file("own")}));
    {
        ScopedEnv home("HOME", work.path());
        ScopedEnv crontab("CP290_CRONTAB", wrapper);
        ScopedEnv appDir("CP290_APP_DIR", CP290_BIN_DIR);
        const std::string app = std::string(CP290_BIN_DIR) + "/";

        state::ClockSyncPlanning sync(state::Program::Quorvel, app);
        ASSERT_TRUE(sync.open());
        ASSERT_EQ(sync.save(syncAt.tm_hour, syncAt.tm_min, onlyDay(syncAt)), state::InstallResult::Installed);
        sync.close();

        state::SchedulePlanning sched(state::Program::Quorvel, app);
        ASSERT_TRUE(sched.open());
        const int slot = state::firstFree(sched.table());
        ASSERT_GT(slot, 0);
        state::fillEntry(sched.table().schedRec[static_cast<size_t>(slot)], loadAt.tm_mon + 1, loadAt.tm_mday,
                         schedule, 1);
        sched.table().sch_count = std::max(sched.table().sch_count, slot);
        ASSERT_EQ(sched.save(loadAt.tm_hour, loadAt.tm_min), state::InstallResult::Installed);
        sched.close();

        state::CorrectionPlanning corr(state::Program::Quorvel, app);
        ASSERT_TRUE(corr.open());
        ASSERT_EQ(corr.save(correctAt.tm_hour, correctAt.tm_min, onlyDay(correctAt)),
                  state::InstallResult::Installed);
        corr.close();
    }
    std::string installed;
    ASSERT_TRUE(state::runAndWait({wrapper, "-l"}, std::chrono::seconds(10), -1, nullptr, &installed).ok());
    ASSERT_EQ(installed.substr(0, own.size()), own) << installed;
    EXPECT_NE(installed.find("#s Quorvel\n"), std::string::npos) << installed;
    EXPECT_NE(installed.find("#a Quorvel\n"), std::string::npos) << installed;
    EXPECT_NE(installed.find("# Quorvel\x01" + schedule + "\n"), std::string::npos) << installed;

    // Wait for the third tool's history line.
    const std::string runsLog = user.home + "/.local/state/cp290/runs.log";
    auto veskarnRan = [&] {
        return std::filesystem::exists(runsLog) && readFile(runsLog).find("\tveskarn\t") != std::string::npos;
    };
    const auto giveUp = std::min(hardBound, std::chrono::steady_clock::now() +
                                                std::chrono::seconds(at + 120 + 50 - std::time(nullptr)));
    while (!veskarnRan() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string logs = std::filesystem::exists(toolLog) ? readFile(toolLog) : std::string();
    ASSERT_TRUE(veskarnRan()) << "history:\n"
                              << (std::filesystem::exists(runsLog) ? readFile(runsLog) : "none") << "\nlogs:\n"
                              << logs;

    // The clock, set by tamsel at the first minute.
    EXPECT_GT(testing_support::framesOf(device(), 0x02), 0);
    const std::tm now = platform::localTime(std::time(nullptr));
    const sim::SimClock clock = device().clock();
    EXPECT_LE(std::abs((clock.hour * 60 + clock.minute) - (now.tm_hour * 60 + now.tm_min)) % (24 * 60 - 1), 1);

    // The planned file, the protected event kept, the stale one cleared, the
    // listed ones moved by the predicted minutes.
    auto shifted = [](cp290::EventImage img, int minutes) {
        const int t = img[2] * 60 + img[3] + minutes;
        img[2] = static_cast<uint8_t>(t / 60);
        img[3] = static_cast<uint8_t>(t % 60);
        return img;
    };
    EXPECT_EQ(device().event(5), plain);
    EXPECT_EQ(device().event(10), shifted(dawn, deltaSU)) << "sunrise moved " << deltaSU;
    EXPECT_EQ(device().event(11), shifted(dusk, deltaSD)) << "sunset moved " << deltaSD;
    EXPECT_EQ(device().event(20), guarded);
    // A cleared slot holds the empty event (level and function 0).
    auto isFree = [&](int n) {
        const auto e = device().event(n);
        return !e || (*e)[7] == 0;
    };
    EXPECT_TRUE(isFree(30));
    for (int n : {1, 2, 3, 4, 6, 12, 128})
        EXPECT_TRUE(isFree(n)) << n;
    EXPECT_GT(std::filesystem::file_size(options.stateFile), 0u);

    // Today's reference dates.
    state::ControllerCorrections after;
    ASSERT_EQ(state::getVeskParms(after), 0);
    EXPECT_EQ(after.SUTime, refDate(today));
    EXPECT_EQ(after.SDTime, refDate(today));

    // Each tool's log line, and its history line.
    EXPECT_NE(logs.find("Tamsel CP290 Clock updated on "), std::string::npos) << logs;
    EXPECT_NE(logs.find("Brondile - Schedule (Today.sch) loaded to CP290."), std::string::npos) << logs;
    EXPECT_NE(logs.find("Veskarn - Corrections Applied on " + std::to_string(today.tm_mon + 1) + "/" + std::to_string(today.tm_mday)),
              std::string::npos)
        << logs;
    const std::string history = readFile(runsLog);
    for (const char* tool : {"\ttamsel\tok\t", "\tbrondile\tok\t", "\tveskarn\tok\t"})
        EXPECT_NE(history.find(tool), std::string::npos) << history;

    // The user's own lines, byte for byte.
    ASSERT_TRUE(state::runAndWait({wrapper, "-l"}, std::chrono::seconds(10), -1, nullptr, &installed).ok());
    EXPECT_EQ(installed.substr(0, own.size()), own) << installed;
}

}  // namespace
