// The edit rules of the correction list and the schedule table: a number or
// date already listed is updated, a new one takes the lowest free place, a
// full table (or a count that says there is room when there is none) refuses
// without touching the count, and removing counts only entries in use.
#include <gtest/gtest.h>

#include "core/correction_list.h"
#include "core/schedule_plan_edit.h"
#include "state/crontab_plans.h"
#include "tests/support/test_support.h"

using namespace core;

namespace {

// Event numbers listed in slots 1.., 0 leaving a gap; ceCount = the used ones.
state::ControllerCorrections corrections(const std::vector<int>& numbers)
{
    state::ControllerCorrections c;
    c.DST = 1;
    for (size_t i = 0; i < numbers.size(); ++i) {
        c.VeskNumRecs[i + 1].eventNumber = numbers[i];
        c.ceCount += numbers[i] > 0 ? 1 : 0;
    }
    return c;
}

const char* const kCorrectionsFull = "Quorvel Error - Time Correction array exceeded\n";
const char* const kSchedulesFull = "Quorvel Error - Schedule array exceeded\n";

}  // namespace

TEST(PlanEdit, CorrectionListAddOrUpdate)
{
    std::vector<int> all(state::kMaxCorrections);
    for (int i = 0; i < state::kMaxCorrections; ++i)
        all[static_cast<size_t>(i)] = i + 1;
    const struct {
        const char* name;
        std::vector<int> listed;
        int32_t countOverride;  // -1: as listed
        int number;
        CorrectionEditOutcome outcome;
        int slot;
        int32_t countAfter;
    } cases[] = {
        {"new number takes the first gap", {5, 0, 7}, -1, 9, CorrectionEditOutcome::Added, 2, 3},
        {"listed number is updated", {5, 0, 7}, -1, 7, CorrectionEditOutcome::Updated, 3, 2},
        {"listed number in a full list", all, -1, 128, CorrectionEditOutcome::Updated, 128, 128},
        {"count says full", {5}, 128, 9, CorrectionEditOutcome::Full, 0, 128},
        {"count says room, every slot used", std::vector<int>(128, 5), 127, 9, CorrectionEditOutcome::Full, 0, 127},
        {"no event number", {5}, -1, 0, CorrectionEditOutcome::Refused, 0, 1},
    };
    for (const auto& t : cases) {
        state::ControllerCorrections c = corrections(t.listed);
        if (t.countOverride >= 0)
            c.ceCount = t.countOverride;
        testing_support::LogCapture log;
        const CorrectionEdit e = CorrectionList(c).addOrUpdate(t.number, 2, 1);
        EXPECT_EQ(e.outcome, t.outcome) << t.name;
        EXPECT_EQ(e.slot, t.slot) << t.name;
        EXPECT_EQ(c.ceCount, t.countAfter) << t.name;
        EXPECT_EQ(log.contains(kCorrectionsFull), t.outcome == CorrectionEditOutcome::Full) << t.name;
        if (e.slot) {
            EXPECT_EQ(c.VeskNumRecs[static_cast<size_t>(e.slot)].corrType, 2) << t.name;
            EXPECT_EQ(c.VeskNumRecs[static_cast<size_t>(e.slot)].zone,
                      t.outcome == CorrectionEditOutcome::Added ? 1 : 0) << t.name;
        }
    }
}

TEST(PlanEdit, CorrectionListRemoveCountsAndRunDays)
{
    state::ControllerCorrections c = corrections({5, 0, 7, 5});
    CorrectionList list(c);
    EXPECT_EQ(list.countOf(5), 2);
    EXPECT_EQ(list.remove({2, 3, 3, 0, 129}), 1);  // a gap, a repeat and places outside count nothing
    EXPECT_EQ(list.count(), 2);
    const std::array<int32_t, 8> monday{0, 1};
    EXPECT_EQ(list.runDays(monday), monday);
    EXPECT_EQ(list.remove({1, 4}), 2);
    EXPECT_EQ(list.countOf(0), 0);               // an empty list marks nothing
    EXPECT_EQ(list.runDays(monday), (std::array<int32_t, 8>{}));  // and plans no run
}

TEST(PlanEdit, ScheduleStoreAndRemove)
{
    state::ScheduleTable t;
    for (int i = 1; i <= state::kMaxSchedules; ++i)
        state::fillEntry(t.schedRec[static_cast<size_t>(i)], 1 + (i - 1) / 28, 1 + (i - 1) % 28, "/s/f", 1);
    t.sch_count = state::kMaxSchedules;
    const auto request = [](int month, int day, bool adding, int changeId = 0) {
        return ScheduleRequest{month, day, "/s/new", 2, adding, changeId};
    };
    const struct {
        const char* name;
        ScheduleRequest request;
        ScheduleEditOutcome outcome;
        int id;
    } full[] = {
        {"new date, table full", request(6, 1, true), ScheduleEditOutcome::Full, 0},
        {"planned date while adding", request(1, 3, true), ScheduleEditOutcome::Changed, 3},
        {"planned date wins over the chosen entry", request(1, 3, false, 9), ScheduleEditOutcome::Changed, 3},
        {"change of the chosen entry", request(6, 1, false, 9), ScheduleEditOutcome::Changed, 9},
        {"change with no entry chosen", request(6, 1, false), ScheduleEditOutcome::Refused, 0},
        {"a date that does not exist", request(2, 30, true), ScheduleEditOutcome::Refused, 0},
    };
    for (const auto& c : full) {
        state::ScheduleTable copy = t;
        testing_support::LogCapture log;
        const ScheduleEdit e = storeSchedule(copy, c.request);
        EXPECT_EQ(e.outcome, c.outcome) << c.name;
        EXPECT_EQ(e.id, c.id) << c.name;
        EXPECT_EQ(copy.sch_count, state::kMaxSchedules) << c.name;
        EXPECT_EQ(log.contains(kSchedulesFull), c.outcome == ScheduleEditOutcome::Full) << c.name;
        EXPECT_EQ(copy.schedRec[0].schLoad, 0) << c.name;
    }

    EXPECT_EQ(removeSchedules(t, {4, 4, 0, 51}), 1);
    EXPECT_TRUE(canAddSchedule(t));
    const ScheduleEdit added = storeSchedule(t, request(6, 1, true));
    EXPECT_EQ(added.outcome, ScheduleEditOutcome::Added);
    EXPECT_EQ(added.id, 4);
    EXPECT_EQ(t.schedRec[4].schDate, "06/01");
    EXPECT_FALSE(canAddSchedule(t));
    // A count claiming room while every entry is used: entry 0 never takes it.
    t.sch_count = state::kMaxSchedules - 1;
    EXPECT_EQ(storeSchedule(t, request(7, 1, true)).outcome, ScheduleEditOutcome::Full);
    EXPECT_EQ(t.sch_count, state::kMaxSchedules - 1);
}
