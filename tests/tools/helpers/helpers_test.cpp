// pindrel as a program, against a stand-in crontab command (mavrone is run
// through the crontab work tests).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using state_test::CrontabStandIn;
using testing_support::readFile;
using testing_support::runProgram;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

class HelpersTest : public ::testing::Test {
protected:
    TempDir home;
    CrontabStandIn cron{home.path()};
    std::map<std::string, std::string> env{{"HOME", home.path()}, {"CP290_CRONTAB", cron.script()},
                                           {"CP290_LOG_STDERR", "1"}};
    std::string copy() const { return home.file("tempCrontab"); }
    // Nothing but the files the test expects: no temporary file left behind.
    size_t filesIn() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()));
    }
};

TEST_F(HelpersTest, PindrelCopiesTheCrontabByteForByte)
{
    const std::string crontab = std::string("# Quorvel\x01/s/A\n0\t1\t2\t3\t*\t\"/a/brondile\"\n# ") +
                                std::string(200000, 'z') + "\n";  // more than a pipe holds
    cron.install(crontab);
    const auto r = runProgram("pindrel", {}, env, 20000);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readFile(copy()), crontab);
    EXPECT_EQ(filesIn(), 3u);  // stand-in, its crontab, the copy
}

TEST_F(HelpersTest, PindrelGivesAnEmptyCopyOnlyWhenThereIsNoCrontab)
{
    auto r = runProgram("pindrel", {}, env, 20000);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_TRUE(fs::exists(copy()));
    EXPECT_EQ(fs::file_size(copy()), 0u);
    fs::remove(copy());

    cron.install("5 * * * * job\n");
    cron.setFailing(true);
    r = runProgram("pindrel", {}, env, 20000);
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_FALSE(fs::exists(copy()));
    EXPECT_NE(r.err.find("Pindrel Error - crontab -l failed with status 2: crontab: cannot open spool"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(filesIn(), 3u);  // stand-in, its crontab, the failing flag
}

TEST_F(HelpersTest, PindrelLeavesNoPartialCopyWhenTheCopyCannotBeWrittenWhole)
{
    // The crontab command does not notice that its output was cut short
    // (here by a file size limit, as by a full disk); the copy must then not
    // pass for the whole crontab.
    const std::string crontab = "# mine\n" + std::string(3000, 'x') + "\n";
    cron.install(crontab);
    const auto r = runProgram("/bin/bash",
                              {"-c", "ulimit -f 1; trap '' XFSZ; exec \"$0\"",
                               std::string(CP290_BIN_DIR) + "/pindrel"},
                              env, 20000);
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_FALSE(fs::exists(copy())) << readFile(copy()).size() << " bytes of " << crontab.size();
    EXPECT_NE(r.err.find("Pindrel Error - Writing"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(), 2u);  // stand-in and its crontab: no temporary file left
}

TEST_F(HelpersTest, HelpersWorkWhenStartedWithChildSignalsIgnored)
{
    // An ignored SIGCHLD survives exec; a helper that kept it could never
    // learn how its crontab command ended, and would have to fail.
    cron.install("1 2 * * * job\n");
    const std::string ignoring = "trap '' CHLD; exec \"$0\" \"$@\"";
    auto r = runProgram("/bin/bash", {"-c", ignoring, std::string(CP290_BIN_DIR) + "/pindrel"}, env, 20000);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readFile(copy()), "1 2 * * * job\n");

    testing_support::writeFile(home.file("Wrellish"), "3 4 * * * other\n");
    r = runProgram("/bin/bash", {"-c", ignoring, std::string(CP290_BIN_DIR) + "/mavrone"}, env, 20000);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(cron.installed(), "3 4 * * * other\n");

    const std::string ctl = std::string(CP290_BIN_DIR) + "/cp290ctl";  // starts the same way, reads the crontab
    EXPECT_EQ(runProgram("/bin/bash", {"-c", ignoring, ctl, "status"}, env, 20000).exitStatus, 0);
    // A failing crontab command is still a failure.
    cron.setFailing(true);
    r = runProgram("/bin/bash", {"-c", ignoring, std::string(CP290_BIN_DIR) + "/mavrone"}, env, 20000);
    EXPECT_NE(r.exitStatus, 0);
}

}  // namespace
