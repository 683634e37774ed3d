#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "state/run_history.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

namespace {

using state::RunOutcome;
using state::RunRecord;

class RunHistoryTest : public ::testing::Test {
protected:
    testing_support::TempDir m_dir;
    state_test::ScopedEnv m_state{"XDG_STATE_HOME", m_dir.path() + "/state"};
    state_test::ScopedEnv m_tz{"TZ", std::string("America/New_York")};
};

TEST_F(RunHistoryTest, LinesReadBackAsWrittenWhateverTheirTexts)
{
    tzset();
    // 2006-03-02 08:05:00 in New York (UTC-5).
    const RunRecord a{1141304700, "veskarn", RunOutcome::Ok, "3 events shifted\t(sunrise -1,\nsunset +2)",
                      "/s/2006-03-02-0805-veskarn.sch"};
    const RunRecord b{1141304760, "tamsel", RunOutcome::Failed, "the CP290 did not answer", ""};
    ASSERT_EQ(state::appendRun(a), 0);
    ASSERT_EQ(state::appendRun(b), 0);

    const std::string text = testing_support::readFile(state::runsLogPath());
    EXPECT_EQ(text.substr(0, 26), "2006-03-02T08:05:00-05:00\t");
    EXPECT_NE(text.find("\tveskarn\tok\t3 events shifted (sunrise -1, sunset +2)\t/s/2006"), std::string::npos);

    // Read in another zone, the times stay the same instants.
    state_test::ScopedEnv tz("TZ", std::string("Asia/Tokyo"));
    tzset();
    const auto runs = state::readRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].when, a.when);
    EXPECT_EQ(runs[0].summary, "3 events shifted (sunrise -1, sunset +2)");
    EXPECT_EQ(runs[0].snapshot, a.snapshot);
    EXPECT_EQ(runs[1].tool, "tamsel");
    EXPECT_EQ(runs[1].outcome, RunOutcome::Failed);
    EXPECT_EQ(runs[1].snapshot, "");
}

TEST_F(RunHistoryTest, ForeignTornAndDamagedLinesAreSkipped)
{
    ASSERT_EQ(state::appendRun({1141304700, "tamsel", RunOutcome::Ok, "clock set", ""}), 0);
    const std::string good = testing_support::readFile(state::runsLogPath());
    testing_support::writeFile(state::runsLogPath(),
                               "written by hand\n"
                               "2006-13-02T08:05:00-05:00\ttamsel\tok\tx\t\n"     // month 13
                               "2006-03-02T08:05:00-05:00\ttamsel\tmaybe\tx\t\n"  // unknown outcome
                               "2006-03-02T08:05:00-05:00\t\tok\tx\t\n" +         // no tool
                                   good + "2006-03-02T08:06:00-05:00\ttamsel\tok\tcut sh");
    const auto runs = state::readRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].summary, "clock set");
}

TEST_F(RunHistoryTest, ConcurrentRunsNeverInterleaveAndTheTrimKeepsTheNewest)
{
    // Start near the bound, so the trims run while others append.
    std::string old;
    for (size_t i = 0; i < state::kRunsKeep - 50; ++i)
        old += state::runLine({1141304700 + static_cast<std::time_t>(i), "tamsel", RunOutcome::Ok, "old", ""});
    ASSERT_EQ(::mkdir((m_dir.path() + "/state").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((m_dir.path() + "/state/cp290").c_str(), 0700), 0);
    testing_support::writeFile(state::runsLogPath(), old);

    // An odd number of appends past the bound: a trim that keeps one line too
    // few shows in the count however the appends alternate with it.
    constexpr int kWriters = 3, kEach = 41;
    std::vector<pid_t> kids;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int i = 0; i < kEach; ++i)
                bad += state::appendRun({1200000000 + i, "writer" + std::to_string(w), RunOutcome::NothingToDo,
                                         std::string(300, 'a' + static_cast<char>(w)), ""}) != 0;
            ::_exit(bad);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::string text = testing_support::readFile(state::runsLogPath());
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), state::kRunsKeep);
    const auto runs = state::readRuns();
    ASSERT_EQ(runs.size(), state::kRunsKeep);  // every line whole
    int mine = 0;
    for (const auto& r : runs)
        mine += r.tool.rfind("writer", 0) == 0;
    EXPECT_EQ(mine, kWriters * kEach);  // the trim dropped only old lines
    EXPECT_EQ(runs.front().summary, "old");
}

// How a run ends decides what it leaves: its line, or (killed) a started
// record that is an interrupted run until the tool's next start logs it.
TEST_F(RunHistoryTest, ARunThatNeverWritesItsLineIsInterrupted)
{
    enum class End { Recorded, Returned, Killed };
    const struct { End end; const char* outcomes; } cases[] = {  // outcomes: the log after the next start
        {End::Recorded, "ok "}, {End::Returned, ""}, {End::Killed, "interrupted "}};
    const state::RunRecorder loader{state::Program::Brondile, "brondile"};
    for (const auto& c : cases) {
        std::filesystem::remove_all(m_dir.path() + "/state");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            {
                const state::RunStart started = loader.start();
                state::noteRunSnapshot("brondile", "/s/snap.sch");
                if (c.end == End::Recorded)
                    loader(RunOutcome::Ok, "loaded", "/s/snap.sch");
                if (c.end == End::Killed)
                    ::_exit(state::interruptedRuns().empty() ? 0 : 1);  // no destructor runs
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_EQ(status, 0);
        const auto left = state::interruptedRuns();
        ASSERT_EQ(left.size(), c.end == End::Killed ? 1u : 0u);
        EXPECT_TRUE(left.empty() || left[0].snapshot == "/s/snap.sch");

        // Another tool's start leaves it; the loader's next start logs it once.
        { const state::RunStart other(state::Program::Tamsel, "tamsel"); }
        EXPECT_EQ(state::interruptedRuns().size(), left.size());
        { const state::RunStart next = loader.start(); }
        { const state::RunStart again = loader.start(); }
        std::string outcomes;
        for (const auto& r : state::readRuns())
            outcomes += state::outcomeText(r.outcome) + std::string(" ");
        EXPECT_EQ(outcomes, c.outcomes) << static_cast<int>(c.end);
        EXPECT_TRUE(state::interruptedRuns().empty());
    }
}

// A log of any size is read, and trimmed, from its end with bounded memory.
TEST_F(RunHistoryTest, AHugeLogIsReadFromItsEnd)
{
    const auto grow = [](const std::string& line) {  // to 100 MB, mostly a hole, and a line
        ASSERT_EQ(::truncate(state::runsLogPath().c_str(), 100 << 20), 0);
        const int fd = ::open(state::runsLogPath().c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ::close(fd);
    };
    ASSERT_EQ(state::appendRun({1141304700, "tamsel", RunOutcome::Ok, "first", ""}), 0);
    grow("\n");
    ASSERT_EQ(state::appendRun({1141304760, "tamsel", RunOutcome::Ok, "newest", ""}), 0);
    struct stat st {};
    ASSERT_EQ(::stat(state::runsLogPath().c_str(), &st), 0);
    EXPECT_LE(static_cast<size_t>(st.st_size), state::kRunsTrimBytes);
    grow("\n" + state::runLine({1141304820, "tamsel", RunOutcome::Ok, "newer", ""}));

    const pid_t pid = ::fork();  // a child, to measure its memory alone
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const auto runs = state::readRuns();
        struct rusage use {};
        ::getrusage(RUSAGE_SELF, &use);
        ::_exit(runs.size() == 1 && runs[0].summary == "newer" && use.ru_maxrss < 64 * 1024 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
}

}  // namespace
