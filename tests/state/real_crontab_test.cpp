// One round trip through the system's crontab command (package cron): the
// helpers copy and install the crontab of a throw-away user the test creates
// with useradd and removes afterwards, so the crontab of whoever runs the
// suite (root, in CI) is never touched. Without root or useradd the test is
// skipped, saying why.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "tests/state/state_test_env.h"
#include "tests/support/real_cron.h"
#include "tests/support/test_support.h"

using namespace state;
using testing_support::TempDir;

namespace {

// Text of the first failed step, empty when all went well. Runs in the
// child that has become the throw-away user.
std::string roundTrip(const std::string& home, const std::string& app, const std::string& foreign)
{
    testing_support::writeFile(home + "/start", foreign);
    if (!runAndWait({"crontab", home + "/start"}, std::chrono::seconds(10)).ok())
        return "crontab could not install the starting crontab";
    CrontabWork work(Program::Quorvel, app);
    TimingRecord sync;
    if (!work.copyCrontab() || !work.readCrontabC(sync).copyRead)
        return "the crontab copy was not read";
    sync.cronMinute = "5";
    sync.cronHour = "3";
    sync.cronDaysText = "1,3,7";
    if (!work.modCrontabC(sync))
        return "the clock-sync pair was not written";
    if (work.installWorkFile() != InstallResult::Installed)
        return "the work file was not installed";
    if (!work.copyCrontab())
        return "the installed crontab could not be copied";
    TimingRecord back;
    if (work.readCrontabC(back).scount != 1)
        return "the clock-sync marker was not read back";
    if (back.cronDays != std::array<int32_t, 8>{0, 1, 0, 1, 0, 0, 0, 1})
        return "the weekdays read back differ";
    if (testing_support::readFile(home + "/" + kWorkFileName) != foreign)
        return "the work file does not hold the foreign lines alone";
    work.removeFiles();
    return {};
}

TEST(RealCrontabTest, InstallsAndReadsBackThroughTheCrontabCommand)
{
    if (const std::string why = testing_support::realCronUnavailable(); !why.empty())
        GTEST_SKIP() << why << "; the crontab of the user running the tests is never used";

    testing_support::ThrowAwayUser user("cp290t");
    ASSERT_TRUE(user.create()) << "useradd failed";
    const uid_t uid = user.uid;
    const gid_t gid = user.gid;
    const TempDir home;
    ASSERT_EQ(chown(home.path().c_str(), uid, gid), 0);
    const testing_support::ReachableApp reachable(CP290_BIN_DIR);
    const std::string app = reachable.folder();
    const std::string foreign = "# cp290 test foreign line\n17 4 * * * true\n";
    const std::string pair = "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + app + "tamsel\"\n";
    const std::string report = home.file("report");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(3);
        setenv("HOME", home.path().c_str(), 1);
        setenv("USER", user.name.c_str(), 1);
        setenv("LOGNAME", user.name.c_str(), 1);
        unsetenv("CP290_CRONTAB");
        const std::string failure = roundTrip(home.path(), app, foreign);
        testing_support::writeFile(report, failure);
        _exit(failure.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the throw-away user's round trip did not end normally";
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << (std::filesystem::exists(report) ? testing_support::readFile(report) : "could not become the user");

    // What cron holds for the user, read as root.
    std::string complaint;
    const int fd = open(home.file("now").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const ProcessResult listed =
        runAndWait({"crontab", "-u", user.name, "-l"}, std::chrono::seconds(10), fd, &complaint);
    close(fd);
    ASSERT_TRUE(listed.ok()) << complaint;
    EXPECT_EQ(testing_support::readFile(home.file("now")), foreign + pair);
}

}  // namespace
