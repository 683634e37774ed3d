// The schedule loader's reading of crontab bytes: which line is a pair's
// entry, and which schedule is today's.
#include <gtest/gtest.h>

#include "state/crontab_lines.h"
#include "state/crontab_plans.h"

using namespace state;

namespace {

std::optional<ScheduleMarker> dateOf(const std::string& crontab, int day, int month)
{
    return scheduleForDate(crontab, day, month, "Brondile");
}

const std::string kEntry15March = "0\t1\t15\t3\t*\t\"/opt/cp290/brondile\"";

TEST(ScheduleForDateTest, OnlyTheMarkersOwnEntryOnThatDate)
{
    const std::string winter = std::string("# Quorvel\x01") + "/s/Winter\n";
    const std::string summer = std::string("# Quorvel\x02") + "/s/Summer\n";
    // The first pair of the date wins; its marker gives file, path and mode.
    auto m = dateOf("MAILTO=x\n" + summer + kEntry15March + "\n" + winter + kEntry15March + "\n", 15, 3);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->path, "/s/Summer");
    EXPECT_EQ(m->name, "Summer");
    EXPECT_EQ(m->load, 2);
    EXPECT_FALSE(dateOf(winter + kEntry15March + "\n", 16, 3));
    EXPECT_FALSE(dateOf(winter + kEntry15March + "\n", 15, 4));
    // A last line without LF still counts; a marker right before another marker has no entry.
    EXPECT_TRUE(dateOf(winter + kEntry15March, 15, 3));
    m = dateOf(winter + summer + kEntry15March + "\n", 15, 3);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name, "Summer");
    // Never loaded: a comment, a blank line or a foreign job after the marker,
    // an entry without a marker, an over-long marker, a day that is no number.
    for (const std::string& c :
         {winter + "# note\n" + kEntry15March + "\n", winter + "\n" + kEntry15March + "\n",
          winter + "0\t1\t15\t3\t*\t/usr/local/bin/backup\n" + kEntry15March + "\n", kEntry15March + "\n",
          "# Quorvel\x01/" + std::string(600, 'x') + "\n" + kEntry15March + "\n",
          winter + "0\t1\t1x\t3\t*\t\"/opt/cp290/brondile\"\n"})
        EXPECT_FALSE(dateOf(c, 15, 3)) << c;
}

TEST(SchedulePlanTest, DatesPathsAndTheTable)
{
    EXPECT_TRUE(dateExists(2, 29));
    EXPECT_TRUE(dateExists(12, 31));
    EXPECT_FALSE(dateExists(2, 30));
    EXPECT_FALSE(dateExists(4, 31));
    EXPECT_FALSE(dateExists(13, 1));
    EXPECT_FALSE(dateExists(1, 0));

    EXPECT_EQ(schedulePathProblem("/s/Winter", "/opt/cp290/"), "");
    // 255 characters with a name of 99 fit; one more does not.
    EXPECT_EQ(schedulePathProblem("/" + std::string(154, 'd') + "/" + std::string(99, 'n'), "/opt/"), "");
    EXPECT_NE(schedulePathProblem("/" + std::string(155, 'd') + "/" + std::string(99, 'n'), "/opt/"), "");
    EXPECT_NE(schedulePathProblem("/s/two\nlines", "/opt/"), "");
    EXPECT_NE(schedulePathProblem("/s/tab\there", "/opt/"), "");
    EXPECT_NE(schedulePathProblem("/s/" + std::string(100, 'n'), "/opt/"), "");

    ScheduleTable t;
    fillEntry(t.schedRec[2], 3, 5, "/s/Winter", 1);
    EXPECT_EQ(t.schedRec[2].schDate, "03/05");
    EXPECT_EQ(t.schedRec[2].schName, "Winter");
    EXPECT_EQ(findDate(t, 3, 5), 2);
    EXPECT_EQ(findDate(t, 5, 3), 0);
    EXPECT_EQ(firstFree(t), 1);
    EXPECT_EQ(weekdayList({0, 1, 0, 1, 0, 0, 0, 1}), "1,3,7");
    EXPECT_EQ(weekdayList({}), "");
}

}  // namespace
