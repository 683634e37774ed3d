// The whole unattended road through the real cron daemon: a clock-sync pair
// planned a minute ahead in the crontab of a throw-away user, cron starts
// tamsel as that user, tamsel sets the emulator's clock. Needs root (to
// create the user); skipped, and said so, otherwise. Takes up to about two
// minutes; labelled "slow" so quick runs can leave it out (ctest -LE slow).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "state/crontab_plans.h"
#include "state/helper_process.h"
#include "tests/state/state_test_env.h"
#include "tests/support/real_cron.h"
#include "tests/support/test_support.h"

using state_test::ScopedEnv;
using testing_support::TempDir;

namespace {

class RealCronTest : public testing_support::SimTest {};

TEST_F(RealCronTest, CronStartsTamselForTheUserAtThePlannedMinute)
{
    if (const std::string why = testing_support::realCronUnavailable(); !why.empty()) {
        testing_support::skipVisibly("real-cron test", why);
        GTEST_SKIP() << why;
    }

    testing_support::ThrowAwayUser user("cp290cron");
    ASSERT_TRUE(user.create());
    const std::string& userHome = user.home;
    testing_support::CronDaemon cron;
    ASSERT_TRUE(cron.ensure()) << "cron did not start";

    // The emulator's line and the stored device path belong to the user; its
    // clock starts far from the computer's.
    const std::string line = device().ptyPath();
    ASSERT_EQ(::chown(line.c_str(), user.uid, user.gid), 0);
    device().setClock(sim::SimClock{0, 12, 0x01});
    std::filesystem::create_directories(userHome + "/.config");
    testing_support::storeSerialPath(userHome + "/.config", line);
    ASSERT_TRUE(user.ownHome());

    // Only the user's crontab is touched: the helpers' crontab command is
    // the system's, told which user; the planning files live in a folder of
    // the test's own.
    TempDir work;
    const std::string wrapper = testing_support::crontabForUser(work.path(), user.name);
    ScopedEnv home("HOME", work.path());
    ScopedEnv crontab("CP290_CRONTAB", wrapper);
    const testing_support::ReachableApp app(CP290_BIN_DIR);
    ScopedEnv appDir("CP290_APP_DIR", app.folder());
    // Cron does not list pseudo-terminals as serial devices; the user's crontab names the line.
    testing_support::stayClearOfCronMinute();
    testing_support::writeFile(work.file("start"), "CP290_SERIAL_DEVICES=" + line + "\n");
    ASSERT_TRUE(testing_support::runCommand({wrapper, work.file("start")}));

    // A minute ahead, with room for cron to notice the new crontab first.
    std::time_t at = std::time(nullptr) + 60;
    if (platform::localTime(at).tm_sec > 45)
        at += 60;
    const std::tm when = platform::localTime(at);
    std::array<int32_t, 8> days{};
    days[static_cast<size_t>(platform::isoWeekday(when))] = 1;
    state::ClockSyncPlanning plan(state::Program::Quorvel, app.folder());
    ASSERT_TRUE(plan.open());
    ASSERT_EQ(plan.save(when.tm_hour, when.tm_min, days), state::InstallResult::Installed);
    plan.close();
    std::string listing;
    ASSERT_TRUE(state::listCrontab("Test", std::chrono::seconds(10), listing));
    ASSERT_NE(listing.find("#s Quorvel\n" + std::to_string(when.tm_min) + "\t" + std::to_string(when.tm_hour)),
              std::string::npos)
        << listing;

    // Wait for the set-clock frame, to 40 s past the planned minute.
    const auto giveUp = std::chrono::system_clock::from_time_t(at - when.tm_sec + 40);
    bool set = false;
    while (!set && std::chrono::system_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        set = testing_support::framesOf(device(), 0x02) > 0;
    }
    ASSERT_TRUE(set) << "cron did not run tamsel for " << user.name << " at " << when.tm_hour << ":"
                     << when.tm_min << " (cron " << (testing_support::CronDaemon::running() ? "running" : "gone")
                     << "; tamsel's history: \""
                     << testing_support::readFile(userHome + "/.local/state/cp290/runs.log") << "\")";
    const std::tm now = platform::localTime(std::time(nullptr));
    const sim::SimClock c = device().clock();
    EXPECT_LE(std::abs((c.hour * 60 + c.minute) - (now.tm_hour * 60 + now.tm_min)) % (24 * 60 - 1), 1);
}

}  // namespace
