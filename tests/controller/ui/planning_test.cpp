// The planning windows against a stand-in crontab: Clock Sync and Schedules,
// by command code and control ID.
#include <QMenu>
#include <QTimeEdit>
#include <QTreeView>
#include <filesystem>

#include "controller/ui/control_ids.h"
#include "controller/ui/controls.h"
#include "controller/ui/main_window.h"
#include "tests/controller/ui/quorvel_fixture.h"
#include "tests/state/state_test_env.h"

namespace uitest {
namespace {

using namespace ui;

const std::string kBin = CP290_BIN_DIR;

class Planning : public QuorvelTest {
protected:
    void SetUp() override
    {
        QuorvelTest::SetUp();
        m_crontabEnv.emplace("CP290_CRONTAB", m_crontab.script());
    }
    void TearDown() override
    {
        QuorvelTest::TearDown();
        m_crontabEnv.reset();
    }
    bool planningMenuEnabled() { return app().windows().main->planningMenu()->isEnabled(); }
    bool workFilesGone()
    {
        return !std::filesystem::exists(m_home.file("tempCrontab")) &&
               !std::filesystem::exists(m_home.file("Wrellish"));
    }
    void setTime(const char* window, int id, int hour, int minute)
    {
        setControlTime(ctl(window, id), QTime(hour, minute));
    }

    testing_support::TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
    std::optional<state_test::ScopedEnv> m_crontabEnv;
};

TEST_F(Planning, ClockSyncSavedForMondayWednesdaySundayAtFivePastThree)
{
    const std::string foreign = "# mine\nMAILTO=me\n17 4 * * * /usr/local/bin/backup\n";
    m_crontab.install("# mine\nMAILTO=me\n#s Quorvel\n17 4 * * * /usr/local/bin/backup\n");
    startApp();
    ASSERT_TRUE(app().command(nullptr, "sYnc"));
    ASSERT_TRUE(win("SyncWindow")->isVisible());
    EXPECT_FALSE(planningMenuEnabled());
    EXPECT_EQ(controlTime(ctl("SyncWindow", CTimControlID)), QTime(1, 0));
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(value("SyncWindow", CMonControlID + d), 0);
    EXPECT_FALSE(enabled("SyncWindow", CSavControlID));

    click("SyncWindow", "mRst");
    EXPECT_TRUE(enabled("SyncWindow", CSavControlID));
    click("SyncWindow", "wRst");
    click("SyncWindow", "uRst");
    setTime("SyncWindow", CTimControlID, 3, 5);
    click("SyncWindow", "savC");
    EXPECT_EQ(m_crontab.installed(),
              foreign + "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + kBin + "/tamsel\"\n");
    EXPECT_FALSE(enabled("SyncWindow", CSavControlID));

    app().closeWindow(win("SyncWindow"));
    EXPECT_FALSE(win("SyncWindow")->isVisible());
    EXPECT_TRUE(planningMenuEnabled());
    EXPECT_TRUE(workFilesGone());

    // Reopened: the plan as saved. Changes closed without Save are dropped.
    cmd("MainWindow", "sYnc");
    EXPECT_EQ(controlTime(ctl("SyncWindow", CTimControlID)), QTime(3, 5));
    EXPECT_EQ(value("SyncWindow", CMonControlID), 1);
    EXPECT_EQ(value("SyncWindow", CMonControlID + 1), 0);
    EXPECT_EQ(value("SyncWindow", CMonControlID + 2), 1);
    EXPECT_EQ(value("SyncWindow", CSunControlID), 1);
    click("SyncWindow", "tRst");
    app().closeWindow(win("SyncWindow"));
    EXPECT_EQ(m_crontab.installed(),
              foreign + "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + kBin + "/tamsel\"\n");

    // No day checked: the pair goes.
    cmd("MainWindow", "sYnc");
    click("SyncWindow", "mRst");
    click("SyncWindow", "wRst");
    click("SyncWindow", "uRst");
    click("SyncWindow", "savC");
    EXPECT_EQ(m_crontab.installed(), foreign);
    app().closeWindow(win("SyncWindow"));
    EXPECT_TRUE(workFilesGone());
}

TEST_F(Planning, ClockSyncWrittenByHandWithEveryDay)
{
    m_crontab.install("#s Quorvel\n30\t22\t*\t*\t*\t\"" + kBin + "/tamsel\"\n");
    startApp();
    cmd("MainWindow", "sYnc");
    EXPECT_EQ(controlTime(ctl("SyncWindow", CTimControlID)), QTime(22, 30));
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(value("SyncWindow", CMonControlID + d), 0);
    // Saved without a checked day, it is removed.
    setTime("SyncWindow", CTimControlID, 22, 31);
    click("SyncWindow", "savC");
    EXPECT_EQ(m_crontab.installed(), "");
}

}  // namespace
}  // namespace uitest
