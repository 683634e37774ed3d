// cp290ctl plan, run as a program on a stand-in crontab.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/device_lock.h"
#include "state/crontab_work.h"

#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::RunResult;
using testing_support::TempDir;

namespace {

const std::string kBin = CP290_BIN_DIR;
const std::string kTamsel = "\"" + kBin + "/tamsel\"";
const std::string kBrondile = "\"" + kBin + "/brondile\"";
const std::string kVeskarn = "\"" + kBin + "/veskarn\"";

class PlanCommandTest : public ::testing::Test {
protected:
    std::map<std::string, std::string> env() const
    {
        return {{"HOME", m_home.path()},
                {"XDG_STATE_HOME", m_home.file("state")},
                {"CP290_CRONTAB", m_crontab.script()},
                {"CP290_APP_DIR", kBin},
                {"CP290_LOG_STDERR", "1"},
                {"CP290_CRONTAB_WAIT_MS", "20000"}};
    }
    RunResult ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), "plan");
        return testing_support::runProgram(kBin + "/cp290ctl", args, env(), 30000);
    }
    std::string file(const std::string& name)
    {
        const std::string path = m_home.file(name);
        testing_support::writeFile(path, "");
        return path;
    }
    void expectNoFilesLeft()
    {
        EXPECT_FALSE(std::filesystem::exists(m_home.file("tempCrontab")));
        EXPECT_FALSE(std::filesystem::exists(m_home.file("Wrellish")));
    }

    TempDir m_home;
    TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
};

// The clock-sync and sun-correction pairs: written byte for byte among
// foreign lines (a foreign job right after one of our markers included), a
// new plan replacing the pair rather than adding one, listed, and "off".
TEST_F(PlanCommandTest, TimingPairsByteForByteReplacedAndRemoved)
{
    const struct Kind {
        const char* command;
        std::string marker, entry, title, foreign;
    } kinds[] = {
        {"clocksync", "#s Quorvel\n", kTamsel, "Clock sync",
         "# mine\nMAILTO=me\n#a Quorvel\n17 4 * * * /usr/local/bin/backup\n*/5 * * * * poll\n"},
        {"corrections", "#a Quorvel\n", kVeskarn, "Sun corrections",
         "# mine\nMAILTO=me\n17 4 * * * /usr/local/bin/backup\n#s Quorvel\n*/5 * * * * poll\n"},
    };
    for (const Kind& k : kinds) {
        m_crontab.install("# mine\nMAILTO=me\n#a Quorvel\n17 4 * * * /usr/local/bin/backup\n"
                          "#s Quorvel\n*/5 * * * * poll\n" + k.marker + "0\t6\t*\t*\t2\t" + k.entry + "\n");
        RunResult r = ctl({k.command, "7,1,3", "3:05"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, k.title + ": 03:05 on 1,3,7\n");
        EXPECT_EQ(m_crontab.installed(), k.foreign + k.marker + "5\t3\t*\t*\t1,3,7\t" + k.entry + "\n");
        expectNoFilesLeft();
        // When the plan was made, for the runs that should have followed.
        EXPECT_TRUE(std::filesystem::exists(m_home.file("state/cp290/planned-") +
                                            (k.marker[1] == 's' ? "tamsel" : "veskarn")));

        ASSERT_EQ(ctl({k.command, "2", "23:59"}).exitStatus, 0);
        EXPECT_EQ(m_crontab.installed(), k.foreign + k.marker + "59\t23\t*\t*\t2\t" + k.entry + "\n");
        r = ctl({});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find(k.title + ": 23:59 on Tue\n"), std::string::npos) << r.out;

        r = ctl({k.command, "off"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, k.title + ": none\n");
        EXPECT_EQ(m_crontab.installed(), k.foreign);
        expectNoFilesLeft();
    }
}

TEST_F(PlanCommandTest, SchedulesAddUpdateTimeAndRemove)
{
    m_crontab.install("# mine\n");
    const std::string winter = file("Winter"), summer = file("Summer"), yule = file("Yule");
    ASSERT_EQ(ctl({"schedule", "add", "03/15", winter}).exitStatus, 0);
    ASSERT_EQ(ctl({"schedule", "add", "12/24", yule, "--mode", "2"}).exitStatus, 0);
    // The same date again updates its entry.
    RunResult r = ctl({"schedule", "add", "3/15", summer, "--mode", "2"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("updated"), std::string::npos);
    ASSERT_EQ(ctl({"schedule", "time", "4:30"}).exitStatus, 0);
    EXPECT_TRUE(std::filesystem::exists(m_home.file("state/cp290/planned-brondile")));
    // Entry order, not date order: the updated entry kept its place.
    EXPECT_EQ(m_crontab.installed(), "# mine\n# Quorvel\x02" + summer + "\n30\t4\t15\t3\t*\t" + kBrondile +
                                         "\n# Quorvel\x02" + yule + "\n30\t4\t24\t12\t*\t" + kBrondile + "\n" +
                                         "#c Quorvel\n17\t*\t*\t*\t*\t" + kBrondile + " --catch-up\n");

    r = ctl({});
    EXPECT_EQ(r.out, "Schedules:  loaded at 04:30\n"
                     "  03/15  mode 2 (only the file's events)  " + summer + "\n"
                     "  12/24  mode 2 (only the file's events)  " + yule + "\n"
                     "Catch-up:   every hour at minute 17, a missed load is made (brondile --catch-up)\n"
                     "Clock sync: none\n"
                     "Sun corrections: none\n");

    ASSERT_EQ(ctl({"schedule", "remove", "03/15"}).exitStatus, 0);
    ASSERT_EQ(ctl({"schedule", "remove", "12/24"}).exitStatus, 0);
    EXPECT_EQ(m_crontab.installed(), "# mine\n");
    expectNoFilesLeft();
}

TEST_F(PlanCommandTest, RefusalsLeaveTheCrontabByteIdentical)
{
    std::string full = "# mine\n";
    for (int i = 0; i < 50; ++i) {
        const int month = 1 + i / 28, day = 1 + i % 28;
        full += "# Quorvel\x01/s/f" + std::to_string(i) + "\n0\t1\t" + std::to_string(day) + "\t" +
                std::to_string(month) + "\t*\t" + kBrondile + "\n";
    }
    m_crontab.install(full);
    const std::string odd = m_home.file("two\nlines");
    testing_support::writeFile(odd, "");
    const std::vector<std::vector<std::string>> refused = {
        {"schedule", "add", "12/01", file("Winter")},  // the table is full
        {"schedule", "add", "02/30", file("Winter")},  // no such date
        {"schedule", "add", "04/31", file("Winter")},
        {"schedule", "add", "01/01", odd},             // a path a crontab line cannot carry
        {"schedule", "add", "01/01", m_home.file("missing")},
        {"schedule", "add", "01/01", file("Winter"), "--mode", "3"},
        {"schedule", "remove", "12/01"},               // nothing planned then
        {"schedule", "time", "24:00"},
        {"clocksync", "8", "3:05"},
        {"clocksync", "1,3", "3:60"},
        {"clocksync", "1;3", "3:05"},
        {"corrections", "8", "3:05"},
        {"corrections", "1,", "3:05"},
        {"corrections", "1", "24:00"},
        {"corrections", "1", "3:5"},
        {"corrections"},
        {"bogus"},
    };
    for (const auto& args : refused) {
        const RunResult r = ctl(args);
        EXPECT_NE(r.exitStatus, 0) << args.back();
        EXPECT_NE(r.err.find("cp290ctl: "), std::string::npos) << args.back();
        EXPECT_EQ(m_crontab.installed(), full) << args.back();
    }
    // A date already planned may still be updated in a full table.
    ASSERT_EQ(ctl({"schedule", "add", "01/01", file("Winter")}).exitStatus, 0);
    EXPECT_NE(m_crontab.installed().find("# Quorvel\x01" + m_home.file("Winter") + "\n"), std::string::npos);

    // With no schedule there is no load time to change.
    m_crontab.install("# mine\n");
    EXPECT_EQ(ctl({"schedule", "time", "4:30"}).exitStatus, 66);
    EXPECT_EQ(m_crontab.installed(), "# mine\n");
    // Another writer holding the crontab past the wait: nothing changes, and who holds it is said.
    {
        state_test::ScopedEnv sameState("XDG_STATE_HOME", m_home.file("state"));
        platform::DeviceLock other;
        ASSERT_EQ(other.takeFile(state::crontabLockPath(), "quorvel", 0), platform::DeviceLock::Result::Taken);
        auto e = env();
        e["CP290_CRONTAB_WAIT_MS"] = "300";
        const RunResult r = testing_support::runProgram(kBin + "/cp290ctl", {"plan", "clocksync", "1", "3:05"}, e);
        EXPECT_EQ(r.exitStatus, 75);
        EXPECT_NE(r.err.find("being changed by quorvel (process"), std::string::npos) << r.err;
    }
    // A crontab command that fails changes nothing and says so.
    m_crontab.setFailing(true);
    for (const char* command : {"clocksync", "corrections"}) {
        const RunResult r = ctl({command, "1", "3:05"});
        EXPECT_EQ(r.exitStatus, 66) << command;
        EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err;
    }
    m_crontab.setFailing(false);
    EXPECT_EQ(m_crontab.installed(), "# mine\n");
    expectNoFilesLeft();
}

// Two writers at once on a crontab whose install takes 0.2 s, round after
// round: both changes are kept, and each status tells what the crontab holds.
TEST_F(PlanCommandTest, ParallelWritersKeepBothChangesAndReportTruthfully)
{
    m_crontab.install("# mine\n");
    m_crontab.setSlow();
    const std::string winter = file("Winter");
    std::string command;
    for (const char* who : {"1", "2"})
        command += "(\"" + kBin + "/cp290ctl\" plan schedule add " + who + "/$1 '" + winter + "' 2>>'" +
                   m_home.file("err") + "'; echo $? > '" + m_home.file(who) + "') & ";
    for (int round = 1; round <= 6; ++round) {
        const RunResult r = testing_support::runProgram("/bin/sh", {"-c", command + "wait", "sh", std::to_string(round)},
                                                        env(), 60000);
        ASSERT_EQ(r.exitStatus, 0);
        const std::string now = m_crontab.installed();
        for (const char* month : {"1", "2"}) {
            const bool there = now.find("\t" + std::to_string(round) + "\t" + month + "\t*\t") != std::string::npos;
            EXPECT_TRUE(there) << "round " << round << " month " << month << "\n" << now;
            EXPECT_EQ(testing_support::readFile(m_home.file(month)), there ? "0\n" : "73\n")
                << testing_support::readFile(m_home.file("err"));
        }
    }
    expectNoFilesLeft();
}

// The status follows what the crontab holds, not what the crontab command said.
TEST_F(PlanCommandTest, StatusFollowsTheCrontabReadBackNotTheInstallCommand)
{
    const struct {
        const char* flag;
        int status;
        const char* said;
    } cases[] = {
        {"installs-then-fails", 0, "Clock sync: 03:05 on 1\n"},
        {"claims-installed", 73, "does not hold the change"},
    };
    for (const auto& c : cases) {
        m_crontab.install("# mine\n");
        m_crontab.setFlag(c.flag, true);
        const RunResult r = ctl({"clocksync", "1", "3:05"});
        m_crontab.setFlag(c.flag, false);
        EXPECT_EQ(r.exitStatus, c.status) << c.flag << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.flag << r.err;
        EXPECT_EQ(m_crontab.installed() != "# mine\n", c.status == 0) << c.flag;
        expectNoFilesLeft();
    }
}

// The work file and the crontab copy are the suite's own: a link in their
// place is replaced, and the file it pointed to stays as it was.
TEST_F(PlanCommandTest, LinksInPlaceOfTheWorkFilesAreReplacedNotWrittenThrough)
{
    const struct {
        const char* link;
        std::string program;
        std::vector<std::string> args;
    } cases[] = {
        {"Wrellish", kBin + "/cp290ctl", {"plan", "clocksync", "1", "3:05"}},
        {"tempCrontab", kBin + "/pindrel", {}},
    };
    m_crontab.install("# mine\n");
    for (const auto& c : cases) {
        const std::string diary = m_home.file("diary.txt");
        testing_support::writeFile(diary, "dear diary\n");
        std::filesystem::create_symlink(diary, m_home.file(c.link));
        const RunResult r = testing_support::runProgram(c.program, c.args, env());
        EXPECT_EQ(r.exitStatus, 0) << c.link << r.err;
        EXPECT_EQ(testing_support::readFile(diary), "dear diary\n") << c.link;
        EXPECT_FALSE(std::filesystem::is_symlink(m_home.file(c.link))) << c.link;
        std::filesystem::remove(m_home.file("tempCrontab"));
        std::filesystem::remove(m_home.file("Wrellish"));
    }
    EXPECT_EQ(m_crontab.installed(), "# mine\n#s Quorvel\n5\t3\t*\t*\t1\t" + kTamsel + "\n");
}

}  // namespace
