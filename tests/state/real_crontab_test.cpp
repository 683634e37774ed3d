// One round trip through the system's crontab command (package cron): the
// helpers copy and install the real crontab of the user running the test.
// Whatever the user had is put back afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::ScopedEnv;
using testing_support::TempDir;

namespace {

bool crontabOnPath()
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t colon = dirs.find(':', start);
        const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && access((dir + "/crontab").c_str(), X_OK) == 0)
            return true;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return false;
}

// `crontab -l` into a file; the status tells whether the user had one.
ProcessResult listInto(const std::string& file, std::string& complaint)
{
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const ProcessResult r = runAndWait({"crontab", "-l"}, std::chrono::seconds(10), fd, &complaint);
    close(fd);
    return r;
}

TEST(RealCrontabTest, InstallsAndReadsBackThroughTheCrontabCommand)
{
    if (!crontabOnPath()) {
        std::fprintf(stderr, "\n*** SKIPPED: no crontab command on PATH; install the cron package "
                             "to run the real-crontab test. ***\n\n");
        GTEST_SKIP() << "crontab command not installed";
    }
    TempDir home;
    ScopedEnv homeEnv("HOME", home.path());
    ScopedEnv noStandIn("CP290_CRONTAB", std::nullopt);

    const std::string saved = home.file("saved");
    std::string complaint;
    const ProcessResult had = listInto(saved, complaint);
    ASSERT_TRUE(had.ok() || complaint.rfind("no crontab for ", 0) == 0)
        << "cannot read the user's crontab, so it could not be restored: " << complaint;
    // Puts back what the user had, whatever happens below.
    struct Restore {
        bool had;
        std::string saved;
        ~Restore()
        {
            const ProcessResult r = had ? runAndWait({"crontab", saved}, std::chrono::seconds(10))
                                        : runAndWait({"crontab", "-r"}, std::chrono::seconds(10));
            EXPECT_TRUE(r.ok()) << "restoring the user's crontab failed";
        }
    } restore{had.ok(), saved};

    const std::string foreign = "# cp290 test foreign line\n17 4 * * * true\n";
    testing_support::writeFile(home.file("start"), foreign);
    ASSERT_TRUE(runAndWait({"crontab", home.file("start")}, std::chrono::seconds(10)).ok());

    const std::string app = std::string(CP290_BIN_DIR) + "/";
    CrontabWork work(Program::Quorvel, app);
    TimingRecord sync;
    ASSERT_TRUE(work.copyCrontab());
    ASSERT_TRUE(work.readCrontabC(sync).copyRead);
    sync.cronMinute = "5";
    sync.cronHour = "3";
    sync.cronDaysText = "1,3,7";
    ASSERT_TRUE(work.modCrontabC(sync));
    ASSERT_EQ(work.installWorkFile(), InstallResult::Installed);

    const std::string pair = "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + app + "tamsel\"\n";
    ASSERT_TRUE(listInto(home.file("now"), complaint).ok()) << complaint;
    EXPECT_EQ(testing_support::readFile(home.file("now")), foreign + pair);

    ASSERT_TRUE(work.copyCrontab());
    TimingRecord back;
    EXPECT_EQ(work.readCrontabC(back).scount, 1);
    EXPECT_EQ(back.cronDays, (std::array<int32_t, 8>{0, 1, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(testing_support::readFile(home.file(kWorkFileName)), foreign);
    work.removeFiles();
}

}  // namespace
