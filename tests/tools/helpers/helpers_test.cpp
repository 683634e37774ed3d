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
                                std::string(3000, 'z') + "\n";
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

}  // namespace
