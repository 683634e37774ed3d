// Snapshots: written where the controller can open them, the newest kept,
// and what changed between two of them said in words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "core/schedule_file.h"
#include "core/snapshot.h"
#include "tests/support/test_support.h"

using namespace core;

namespace {

cp290::EventImage at(int hour, int minute)
{
    return {0x08, 0x7F, static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), 0x80, 0x00, 0x60, 0x02};
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_STATE_HOME", (m_dir.path() + "/state").c_str(), 1);
    }
    void TearDown() override { unsetenv("XDG_STATE_HOME"); }
    testing_support::TempDir m_dir;
    testing_support::ZoneAndClock m_zone{"UTC"};
};

TEST_F(SnapshotTest, WrittenAsAScheduleFileNeverOverwrittenAndEachToolKeepsItsNewestSixty)
{
    EventTable t;
    t.record(4)->setImage(at(6, 30));
    t.record(4)->changed = true;
    // 2026-12-07 00:00 UTC: one correction's snapshot, then a load's a minute
    // for longer than the limit, the last three in the same second.
    constexpr std::time_t kStart = 1796601600;
    const std::string folder = m_dir.path() + "/state/cp290/snapshots/";
    ASSERT_TRUE(writeSnapshot(t, "veskarn", kStart - 1).ok());
    std::vector<std::string> written;
    for (int i = 0; i < kSnapshotKeep + 2; ++i) {
        const SnapshotResult r = writeSnapshot(t, "brondile", kStart + 60 * std::min(i, kSnapshotKeep - 1) + 5);
        ASSERT_TRUE(r.ok()) << r.error;
        written.push_back(r.path);
    }
    EXPECT_EQ(written[0], folder + "2026-12-07-000005-brondile.sch");
    EXPECT_EQ(written[kSnapshotKeep], folder + "2026-12-07-005905-brondile-2.sch");
    const std::vector<std::string> kept = listSnapshots();
    ASSERT_EQ(kept.size(), static_cast<size_t>(kSnapshotKeep + 1));
    EXPECT_EQ(kept.front(), folder + "2026-12-07-005905-brondile-3.sch");
    EXPECT_EQ(kept[kSnapshotKeep - 1], folder + "2026-12-07-000205-brondile.sch");
    EXPECT_EQ(kept.back(), folder + "2026-12-06-235959-veskarn.sch");  // not pushed out by the loads
    EXPECT_FALSE(std::filesystem::exists(written[1]));
    EXPECT_TRUE(t.record(4)->changed);  // the table the tool holds is not touched

    EventTable back;
    ASSERT_TRUE(readEvent(back, kept.front()).ok());
    EXPECT_EQ(back.record(4)->image(), at(6, 30));
    EXPECT_FALSE(back.isUsed(5));
}

TEST(SnapshotNames, TellTheirTimeAndTool)
{
    const struct { const char* name; std::time_t when; const char* tool; } cases[] = {  // when 0: not a snapshot
        {"/s/2026-12-07-000005-brondile.sch", 1796601605, "brondile"},
        {"2026-12-07-005905-veskarn-12.sch", 1796605145, "veskarn"},
        {"2026-12-07-0100-brondile.sch", 1796605200, "brondile"},  // written before seconds were added
        {"2026-12-07-0100-brondile-x.sch", 0, ""},
        {"notes-2026-12-07-000005-brondile.sch", 0, ""},
    };
    testing_support::ZoneAndClock utc{"UTC"};
    for (const auto& c : cases) {
        const auto stamp = snapshotStamp(c.name);
        EXPECT_EQ(stamp ? stamp->when : 0, c.when) << c.name;
        EXPECT_EQ(stamp ? stamp->tool : "", c.tool) << c.name;
    }
}

TEST_F(SnapshotTest, AnUnwritableStateFolderIsReportedNotHidden)
{
    testing_support::writeFile(m_dir.path() + "/state", "a file where the folder should be");
    EventTable t;
    const SnapshotResult r = writeSnapshot(t, "brondile", 1796601600);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error, ENOTDIR);
}

TEST(SnapshotChanges, SaysWhatChanged)
{
    EventTable before, after;
    EXPECT_EQ(describeChanges(before, after), "no change");
    before.record(3)->setImage(at(6, 30));
    after.record(3)->setImage(at(6, 29));
    before.record(7)->setImage(at(7, 0));
    after.record(7)->setImage(at(7, 0));
    after.record(12)->setImage(at(8, 0));
    after.record(13)->setImage(at(9, 0));
    before.record(5)->setImage(at(5, 0));
    EXPECT_EQ(describeChanges(before, after), "event 3 changed; events 12, 13 added; event 5 removed");
}

}  // namespace
