// Snapshots: written where the controller can open them, the newest kept,
// and what changed between two of them said in words.
#include <gtest/gtest.h>

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

TEST_F(SnapshotTest, WrittenAsAScheduleFileAndTheNewestSixtyKept)
{
    EventTable t;
    t.record(4)->setImage(at(6, 30));
    t.record(4)->changed = true;
    // 2026-12-07 00:00 UTC, then one a minute.
    constexpr std::time_t kStart = 1796601600;
    SnapshotResult first;
    for (int i = 0; i < kSnapshotKeep + 2; ++i) {
        const SnapshotResult r = writeSnapshot(t, i % 2 ? "veskarn" : "brondile", kStart + 60 * i);
        ASSERT_TRUE(r.ok()) << r.error;
        if (i == 0)
            first = r;
    }
    EXPECT_EQ(first.path, m_dir.path() + "/state/cp290/snapshots/2026-12-07-0000-brondile.sch");
    const std::vector<std::string> kept = listSnapshots();
    ASSERT_EQ(kept.size(), static_cast<size_t>(kSnapshotKeep));
    EXPECT_EQ(kept.front(), m_dir.path() + "/state/cp290/snapshots/2026-12-07-0101-veskarn.sch");
    EXPECT_EQ(kept.back(), m_dir.path() + "/state/cp290/snapshots/2026-12-07-0002-brondile.sch");
    EXPECT_FALSE(std::filesystem::exists(first.path));
    EXPECT_TRUE(t.record(4)->changed);  // the table the tool holds is not touched

    EventTable back;
    ASSERT_TRUE(readEvent(back, kept.front()).ok());
    EXPECT_EQ(back.record(4)->image(), at(6, 30));
    EXPECT_FALSE(back.isUsed(5));
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
