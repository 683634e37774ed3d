#include <gtest/gtest.h>

#include "state/run_plan.h"
#include "tests/state/state_test_env.h"

namespace {

using state::DatedPlan;
using state::RunOutcome;
using state::WeeklyPlan;

class RunPlanTest : public ::testing::Test {
protected:
    // Local wall time in New York.
    static std::time_t local(int y, int mo, int d, int h, int mi) { return testing_support::localMoment(y, mo, d, h, mi); }
    testing_support::ZoneAndClock m_zone{"America/New_York"};
};

TEST_F(RunPlanTest, WeeklyTimesFollowLocalTimeAcrossTheDaylightSavingChange)
{
    WeeklyPlan p;
    p.hour = 3;
    p.minute = 5;
    p.weekdays[1] = p.weekdays[3] = p.weekdays[7] = true;  // Monday, Wednesday, Sunday
    // 2026-10-28 (Wednesday) to 2026-11-04: daylight-saving time ends 1 November.
    const auto times = state::plannedTimes(p, local(2026, 10, 28, 0, 0), local(2026, 11, 4, 23, 59));
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[0], local(2026, 10, 28, 3, 5));
    EXPECT_EQ(times[1], local(2026, 11, 1, 3, 5));
    EXPECT_EQ(times[2], local(2026, 11, 2, 3, 5));
    EXPECT_EQ(times[3], local(2026, 11, 4, 3, 5));
    EXPECT_EQ(times[2] - times[1], 24 * 3600);  // both after the change

    EXPECT_EQ(state::nextRun(p, local(2026, 11, 4, 3, 5)), local(2026, 11, 8, 3, 5));
    EXPECT_EQ(state::nextRun(WeeklyPlan{}, local(2026, 11, 4, 3, 5)), std::nullopt);  // no weekday
}

TEST_F(RunPlanTest, DatedPlansRunOnTheirDateOnlyAndLeapDaysWait)
{
    DatedPlan p{2, 29, 30, 1};  // 29 February, 01:30
    EXPECT_EQ(state::nextRun(p, local(2026, 12, 7, 12, 0)), local(2028, 2, 29, 1, 30));
    DatedPlan march{3, 15, 0, 1};
    EXPECT_EQ(state::nextRun(march, local(2026, 3, 15, 1, 0)), local(2027, 3, 15, 1, 0));
    EXPECT_EQ(state::nextRun(march, local(2026, 3, 15, 0, 59)), local(2026, 3, 15, 1, 0));
    EXPECT_EQ(state::nextRun(DatedPlan{2, 31, 0, 1}, local(2026, 1, 1, 0, 0)), std::nullopt);
}

TEST_F(RunPlanTest, MissedRunsAreThePlannedTimesWithoutARun)
{
    WeeklyPlan p;
    p.hour = 3;
    p.minute = 5;
    for (int d = 1; d <= 7; ++d)
        p.weekdays[static_cast<size_t>(d)] = true;
    const std::time_t now = local(2026, 12, 7, 3, 20);  // today's run is still within its window
    const auto planned = state::plannedTimes(p, local(2026, 11, 30, 0, 0), now);
    ASSERT_EQ(planned.size(), 8u);

    std::vector<state::RunRecord> runs = {
        {local(2026, 12, 2, 3, 5) + 4, "tamsel", RunOutcome::Ok, "", ""},
        {local(2026, 12, 3, 3, 6), "tamsel", RunOutcome::Failed, "", ""},  // a failed run still ran
        {local(2026, 12, 4, 3, 5), "brondile", RunOutcome::Ok, "", ""},    // another tool
        {local(2026, 12, 6, 3, 5) + 25 * 60, "tamsel", RunOutcome::Ok, "", ""},
    };
    // 30 Nov and 1 Dec come before tamsel's first run: the plan may be newer.
    const auto missed = state::missedRuns(planned, runs, "tamsel", now);
    ASSERT_EQ(missed.size(), 2u);
    EXPECT_EQ(missed[0], local(2026, 12, 4, 3, 5));
    EXPECT_EQ(missed[1], local(2026, 12, 5, 3, 5));
    EXPECT_EQ(state::missedRunText(missed[0]), "no run at 03:05 on Friday 12/04: was the computer off?");

    EXPECT_TRUE(state::missedRuns(planned, runs, "veskarn", now).empty());  // never ran: nothing to compare
    // Unless the plan was made, 5 December at 18:00.
    EXPECT_EQ(state::missedRuns(planned, runs, "veskarn", now, local(2026, 12, 5, 18, 0)),
              std::vector<std::time_t>{local(2026, 12, 6, 3, 5)});
}

// As cron runs them: a time the clocks skip runs at the change, a time they
// repeat runs once, the first time; either kind of plan, and the next run too.
TEST_F(RunPlanTest, SkippedTimesRunAtTheChangeAndRepeatedTimesOnce)
{
    const struct {
        int month, day, hour, minute;
        std::time_t expected;
    } cases[] = {
        {3, 8, 2, 30, 1772953200},   // 03:00 EDT, the clocks having gone from 02:00 to 03:00
        {3, 8, 2, 0, 1772953200},
        {11, 1, 1, 30, 1793511000},  // 01:30 EDT, not 01:30 EST an hour later
    };
    for (const auto& c : cases) {
        WeeklyPlan daily;
        daily.hour = c.hour;
        daily.minute = c.minute;
        daily.weekdays.fill(true);
        const DatedPlan dated{c.month, c.day, c.minute, c.hour};
        const std::time_t from = local(2026, c.month, c.day, 0, 0), to = from + 20 * 3600;
        for (const auto& times : {state::plannedTimes(daily, from, to), state::plannedTimes(dated, from, to)})
            EXPECT_EQ(times, std::vector<std::time_t>{c.expected}) << c.month << "/" << c.day << " " << c.hour;
        EXPECT_EQ(state::nextRun(daily, from), c.expected);
        // The run cron makes then is no missed run.
        const std::vector<state::RunRecord> ran = {{c.expected + 20, "tamsel", RunOutcome::Ok, "", ""}};
        EXPECT_TRUE(state::missedRuns({c.expected}, ran, "tamsel", to).empty());
    }
}

}  // namespace
