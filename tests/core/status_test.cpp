// cp290ctl status: what the crontab plans, next and last runs, runs that
// never happened and the snapshots, read without changing anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "core/automation_status.h"
#include "core/schedule_loader.h"
#include "core/snapshot.h"
#include "state/crontab_lines.h"
#include "state/run_history.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using state::RunOutcome;
using state_test::ScopedEnv;
using testing_support::readFile;

namespace {

// Monday 2026-12-07 12:00 in New York.
constexpr std::time_t kNow = 1796662800;
constexpr std::time_t kHour = 3600, kDay = 24 * kHour;

class StatusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string app = std::string(CP290_BIN_DIR) + "/";
        m_crontab = "# mine\nMAILTO=\"\"\n" +
                    state::timingPair(state::Tool::Tamsel, "5", "3", "1,3,7", app).bytes +
                    state::schedulePair(1, "/sched/Winter", "0", "1", "15", "03", app).bytes +
                    state::schedulePair(2, "/sched/Party", "0", "1", "24", "12", app).bytes +
                    "30\t2\t*\t*\t*\t/usr/local/bin/backup\n";
        m_cron.install(m_crontab);
    }

    testing_support::RunResult status(const std::vector<std::string>& args)
    {
        return testing_support::runProgram(std::string(CP290_BIN_DIR) + "/cp290ctl", args,
                                           {{"HOME", m_dir.path()},
                                            {"XDG_STATE_HOME", m_dir.path() + "/state"},
                                            {"CP290_CRONTAB", m_cron.script()},
                                            {"CP290_NOW", std::to_string(kNow)},
                                            {"TZ", "America/New_York"}});
    }

    testing_support::TempDir m_dir;
    state_test::CrontabStandIn m_cron{m_dir.path()};
    std::string m_crontab;
    testing_support::ZoneAndClock m_zone{"America/New_York"};
    ScopedEnv m_state{"XDG_STATE_HOME", m_dir.path() + "/state"};
};

TEST_F(StatusTest, RowsTellThePlanTheNextAndLastRunAndTheMissedOnes)
{
    // Clock sync ran on Wednesday and (failing) on Sunday; Thursday is not
    // planned, and the Monday before Wednesday is before the first run.
    const std::time_t wed = kNow - 5 * kDay - 9 * kHour + 5 * 60;  // Wed 12/02 03:05
    ASSERT_EQ(state::appendRun({wed + 20, "tamsel", RunOutcome::Ok, "clock set to Wed 03:05", ""}), 0);
    ASSERT_EQ(state::appendRun({wed + 4 * kDay + 15, "tamsel", RunOutcome::Failed, "the CP290 did not answer", ""}), 0);

    const auto r = status({"status"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string& out = r.out;
    EXPECT_NE(out.find("Clock sync (tamsel)\n  planned:  Mon, Wed, Sun at 03:05\n"
                       "  next run: Wed 2026-12-09 03:05\n"
                       "  last run: Sun 2026-12-06 03:05 failed: the CP290 did not answer\n"
                       "  warning:  no run at 03:05 on Monday 12/07: was the computer off?\n"
                       "  warning:  the last run failed: the CP290 did not answer\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Virtual schedules (brondile)\n"
                       "  planned:  03/15 Winter (replace all events), 12/24 Party (only the file's events) at 01:00\n"
                       "  next run: Thu 2026-12-24 01:00\n  last run: none recorded\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Sun corrections (veskarn)\n  planned:  nothing\n"), std::string::npos) << out;
    EXPECT_EQ(m_cron.installed(), m_crontab);  // read, never written
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/tempCrontab"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/Wrellish"));

    const auto j = status({"status", "--json"});
    ASSERT_EQ(j.exitStatus, 0) << j.err;
    EXPECT_NE(j.out.find("{\"title\": \"Clock sync\", \"tool\": \"tamsel\", \"planned\": true, "
                         "\"plan\": \"Mon, Wed, Sun at 03:05\", \"next_run\": \"Wed 2026-12-09 03:05\", "
                         "\"last_run\": {\"time\": \"Sun 2026-12-06 03:05\", \"outcome\": \"failed\""),
              std::string::npos)
        << j.out;
}

TEST_F(StatusTest, AMissedLoadMadeByACatchUpRunSaysWhen)
{
    const std::string crontab = state::schedulePair(1, "/sched/Party", "0", "1", "06", "12", "/a/").bytes;
    const std::time_t planned = kNow - kDay - 11 * kHour;  // Sun 12/06 01:00
    const std::vector<state::RunRecord> runs = {{planned + 7 * kHour + 17 * 60, "brondile", RunOutcome::Ok,
                                                 core::loader::catchUpSummaryPrefix(planned) + "Party loaded", ""}};
    EXPECT_EQ(core::automationRows(crontab, runs, kNow)[0].warnings,
              std::vector<std::string>{"caught up at Sun 2026-12-06 08:17 the load planned for Sun 2026-12-06 01:00"});
}

TEST_F(StatusTest, SnapshotsByToolNewestFirstWithWhatChanged)
{
    core::EventTable a, b;
    a.record(3)->setImage({0x08, 0x7F, 6, 30, 0x80, 0x00, 0x60, 0x02});
    b.record(3)->setImage({0x08, 0x7F, 6, 29, 0x80, 0x00, 0x60, 0x02});
    ASSERT_TRUE(core::writeSnapshot(b, "veskarn", kNow - 2 * kDay).ok());
    ASSERT_TRUE(core::writeSnapshot(a, "brondile", kNow - kDay).ok());
    ASSERT_TRUE(core::writeSnapshot(b, "brondile", kNow).ok());
    const std::string folder = m_dir.path() + "/state/cp290/snapshots/";
    const auto r = status({"status"});
    EXPECT_NE(r.out.find("Snapshots (by tool, newest first; open one in the controller and send it to go back):\n"
                         "  brondile:\n    " + folder + "2026-12-07-120000-brondile.sch  (event 3 changed)\n    " +
                         folder + "2026-12-06-120000-brondile.sch\n  veskarn:\n    " + folder +
                         "2026-12-05-120000-veskarn.sch\n"),
              std::string::npos)
        << r.out;
}

// A killed load, a correction planned but never run, and failures older
// than the last run: each row says all of it.
TEST_F(StatusTest, InterruptedNeverRunAndEveryFailedRunOfTheWeekAreWarned)
{
    const std::string app = std::string(CP290_BIN_DIR) + "/";
    m_cron.install(m_crontab + state::schedulePair(3, "/sched/Today", "0", "1", "07", "12", app).bytes +
                   state::timingPair(state::Tool::Veskarn, "0", "4", "1,2,3,4,5,6,7", app).bytes);
    const std::time_t load = kNow - 11 * kHour;  // today 01:00
    {
        // A load killed after its snapshot: the started record stays.
        testing_support::ZoneAndClock at("America/New_York", load);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const state::RunStart started(state::Program::Brondile, "brondile");
            ::_exit(core::writeSnapshot(core::EventTable(), "brondile", load).ok() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_EQ(status, 0);
        state::notePlanMade("veskarn");
    }
    const std::time_t wed = kNow - 5 * kDay - 9 * kHour + 5 * 60;  // Wed 12/02 03:05
    ASSERT_EQ(state::appendRun({wed, "tamsel", RunOutcome::Failed, "the CP290 did not answer", ""}), 0);
    ASSERT_EQ(state::appendRun({wed + kDay, "tamsel", RunOutcome::Failed, "no serial device", ""}), 0);
    ASSERT_EQ(state::appendRun({wed + 4 * kDay, "tamsel", RunOutcome::Ok, "clock set", ""}), 0);

    const struct { const char* row; const char* warnings; } rows[] = {
        {"Virtual schedules (brondile)\n",
         "  last run: Mon 2026-12-07 01:00 interrupted: stopped before it finished\n"
         "  warning:  interrupted at 01:00 on Monday 12/07: the CP290 may be partly loaded; snapshot "},
        {"Sun corrections (veskarn)\n",
         "  last run: none recorded\n  warning:  no run at 04:00 on Monday 12/07: was the computer off?\n\n"},
        {"Clock sync (tamsel)\n",
         "  last run: Sun 2026-12-06 03:05 ok: clock set\n"
         "  warning:  no run at 03:05 on Monday 12/07: was the computer off?\n"
         "  warning:  the run at 03:05 on Wednesday 12/02 failed: the CP290 did not answer\n"
         "  warning:  the run at 03:05 on Thursday 12/03 failed: no serial device\n\n"},
    };
    const auto r = status({"status"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (const auto& row : rows) {
        const size_t at = r.out.find(row.row);
        const std::string block = r.out.substr(at, r.out.find("\n\n", at) + 2 - at);
        EXPECT_NE(block.find(row.warnings), std::string::npos) << block;
        EXPECT_EQ(block.find("no run at 01:00"), std::string::npos) << block;
    }
    EXPECT_NE(r.out.find("; snapshot " + m_dir.path() + "/state/cp290/snapshots/2026-12-07-010000-brondile.sch\n\n"),
              std::string::npos);
}

TEST_F(StatusTest, AnUnreadableCrontabIsSaidNotShownAsNothingPlanned)
{
    m_cron.setFailing(true);
    const auto r = status({"status"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out.rfind("warning: the crontab could not be read", 0), 0u) << r.out;
    EXPECT_EQ(status({"status", "--bogus"}).exitStatus, 64);
}

}  // namespace
