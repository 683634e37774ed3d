// The Automation window: the planned work from a stand-in crontab and the run
// history, and a snapshot opened and sent back to the emulator.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <list>

#include "core/snapshot.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/memory_question.h"
#include "platform/clock.h"
#include "state/crontab_lines.h"
#include "state/run_history.h"
#include "tests/quorvel/quorvel_fixture.h"
#include "tests/state/state_test_env.h"

namespace uitest {
namespace {

using namespace ui;
using state::RunOutcome;

// Monday 2026-12-07 12:00 in New York.
constexpr std::time_t kNow = 1796662800;
constexpr std::time_t kHour = 3600, kDay = 24 * kHour;

class Automation : public QuorvelTest {
protected:
    void SetUp() override
    {
        QuorvelTest::SetUp();
        m_env.emplace_back("CP290_CRONTAB", m_crontab.script());
        m_env.emplace_back("XDG_STATE_HOME", m_home.path() + "/state");
    }
    void TearDown() override
    {
        QuorvelTest::TearDown();
        m_env.clear();
    }
    QTreeWidget* list(int id) { return static_cast<QTreeWidget*>(ctl("AutomationWindow", id)); }
    QTreeWidgetItem* workRow(const char* title)
    {
        const auto found = list(AWrkControlID)->findItems(QString::fromLatin1(title), Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }

    testing_support::TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
    std::list<state_test::ScopedEnv> m_env;
    testing_support::ZoneAndClock m_zone{"America/New_York", kNow};
};

TEST_F(Automation, ShowsThePlanTheRunsAndWhatWentWrongWithoutTouchingTheCrontab)
{
    const std::string bin = std::string(CP290_BIN_DIR) + "/";
    const std::string crontab = "# mine\n" + state::timingPair(state::Tool::Tamsel, "5", "3", "1,3,7", bin).bytes +
                                state::schedulePair(1, "/sched/Party", "0", "1", "24", "12", bin).bytes;
    m_crontab.install(crontab);
    const std::time_t wed = kNow - 5 * kDay - 9 * kHour + 5 * 60;  // Wed 12/02 03:05
    ASSERT_EQ(state::appendRun({wed + 20, "tamsel", RunOutcome::Ok, "clock set", ""}), 0);
    ASSERT_EQ(state::appendRun({wed + 4 * kDay, "tamsel", RunOutcome::Failed, "the CP290 did not answer", ""}), 0);
    startApp();

    cmd("MainWindow", "AUto");
    ASSERT_TRUE(win("AutomationWindow")->isVisible());
    ASSERT_EQ(list(AWrkControlID)->topLevelItemCount(), 3);
    const QTreeWidgetItem* sync = workRow("Clock sync");
    ASSERT_TRUE(sync);
    EXPECT_EQ(sync->text(1), "Wed 2026-12-09 03:05");
    EXPECT_EQ(sync->text(2), "Mon, Wed, Sun at 03:05");
    // Under each work its last run, then its warnings; the failure is said once.
    ASSERT_EQ(sync->childCount(), 2);
    EXPECT_EQ(sync->child(0)->text(0), "Last run: Sun 2026-12-06 03:05 failed: the CP290 did not answer");
    EXPECT_EQ(sync->child(1)->text(0), "No run at 03:05 on Monday 12/07: was the computer off?");
    EXPECT_EQ(workRow("Virtual schedules")->text(1), "Thu 2026-12-24 01:00");
    EXPECT_EQ(workRow("Virtual schedules")->child(0)->text(0), "Last run: none recorded");
    EXPECT_EQ(workRow("Sun corrections")->text(2), "Not planned");
    EXPECT_TRUE(ctl("AutomationWindow", ACronControlID)->isHidden());
    // No snapshots: the list gives way to where they come from.
    EXPECT_TRUE(list(ASnpControlID)->isHidden());
    EXPECT_TRUE(text("AutomationWindow", ANoSnpControlID).contains(QString::fromStdString(core::snapshotFolder())));
    EXPECT_FALSE(enabled("AutomationWindow", AOpnControlID));

    // Asked for again while shown: the same window, read afresh.
    ASSERT_EQ(state::appendRun({kNow - 60, "tamsel", RunOutcome::Ok, "clock set", ""}), 0);
    cmd("MainWindow", "AUto");
    EXPECT_EQ(workRow("Clock sync")->child(0)->text(0), "Last run: Mon 2026-12-07 11:59 OK: clock set");
    // Monday 03:05 is still missing; Sunday's failure is still of this week.
    ASSERT_EQ(workRow("Clock sync")->childCount(), 3);
    EXPECT_TRUE(workRow("Clock sync")->child(1)->text(0).startsWith("No run at 03:05"));
    EXPECT_EQ(workRow("Clock sync")->child(2)->text(0),
              "The run at 03:05 on Sunday 12/06 failed: the CP290 did not answer");

    m_crontab.setFailing(true);
    click("AutomationWindow", "rfsA");
    EXPECT_FALSE(ctl("AutomationWindow", ACronControlID)->isHidden());
    EXPECT_EQ(workRow("Clock sync")->text(2), "Not known");
    EXPECT_EQ(workRow("Clock sync")->child(0)->text(0), "Last run: Mon 2026-12-07 11:59 OK: clock set");

    m_crontab.setFailing(false);
    click("AutomationWindow", "yrAh");  // the year ahead, from here too
    EXPECT_TRUE(win("YearWindow")->isVisible());
    app().closeWindow(win("AutomationWindow"));
    EXPECT_FALSE(win("AutomationWindow")->isVisible());
    EXPECT_EQ(m_crontab.installed(), crontab);  // read, never written
    EXPECT_FALSE(std::filesystem::exists(m_home.file("tempCrontab")));
    EXPECT_FALSE(std::filesystem::exists(m_home.file("Wrellish")));
}

TEST_F(Automation, ASnapshotOpenedAndSentWithSendAllRestoresTheDevice)
{
    core::EventTable before, after;
    before.storeEvent(3, image(8, 0x7F, 6, 30, 0x80, 0, 0x60, 0x02));
    before.storeEvent(7, image(8, 0x41, 22, 15, 0x40, 0, 0x60, 0x03));
    after.storeEvent(3, image(8, 0x7F, 6, 29, 0x80, 0, 0x60, 0x02));
    after.storeEvent(9, image(8, 0x7F, 5, 0, 0x10, 0, 0x60, 0x02));
    const auto older = core::writeSnapshot(before, "brondile", kNow - kDay);
    ASSERT_TRUE(older.ok());
    ASSERT_TRUE(core::writeSnapshot(after, "brondile", kNow).ok());
    device().setEvent(3, image(8, 0x7F, 6, 29, 0x80, 0, 0x60, 0x02));
    device().setEvent(9, image(8, 0x7F, 5, 0, 0x10, 0, 0x60, 0x02));
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 20, .units = {4}, .hour = 8, .minute = 0});  // unsaved
    cmd("EditWindow", "clos");

    cmd("MainWindow", "AUto");
    QTreeWidget* snaps = list(ASnpControlID);
    ASSERT_EQ(snaps->topLevelItemCount(), 2);
    EXPECT_EQ(snaps->topLevelItem(0)->text(0), "Mon 2026-12-07 12:00");
    EXPECT_EQ(snaps->topLevelItem(0)->text(1), "Virtual schedules");
    EXPECT_EQ(snaps->topLevelItem(0)->text(3), "event 3 changed; event 9 added; event 7 removed");
    EXPECT_EQ(snaps->topLevelItem(1)->text(2), "2026-12-06-120000-brondile.sch");

    // Enter on the older one: the unsaved events are asked about first.
    snaps->setCurrentItem(snaps->topLevelItem(1));
    EXPECT_TRUE(enabled("AutomationWindow", AOpnControlID));
    QTest::keyClick(snaps, Qt::Key_Return);
    ASSERT_TRUE(win("MessWindow")->isVisible());
    EXPECT_TRUE(app().table().isUsed(20));
    cmd("MessWindow", "delM");
    EXPECT_FALSE(app().table().isUsed(20));
    EXPECT_TRUE(app().table().isUsed(7));
    EXPECT_TRUE(win("MainWindow")->windowTitle().contains("2026-12-06-120000-brondile.sch"));
    EXPECT_FALSE(win("AutomationWindow")->isVisible());  // it would hide the table

    cmd("MainWindow", "CPsd");
    cmd("SndWindow", "Sall");
    cmd("SndWindow", "CPs2");
    for (int n = 1; n <= core::kEventCount; ++n) {
        const core::EventRecord& r = *before.record(n);
        if (r.used())
            EXPECT_EQ(device().event(n), r.image()) << n;
        else
            EXPECT_TRUE(!device().event(n) || device().event(n)->at(7) == 0) << n;  // free: no function
    }
}

TEST_F(Automation, TheControllerAsksToPutBackALostMemoryAndTheWindowTellsIt)
{
    startApp();
    for (const int n : {1, 2})
        app().table().storeEvent(n, image(8, 0x7F, 6, 30 + n, 0x80, 0, 0x60, 2));
    ASSERT_TRUE(app().ops().SendEventList(core::SendSelected, {1, 2}).ok());
    ASSERT_EQ(control("power-cut"), "ok");
    app().memoryQuestion().checkAtLaunch();
    QMessageBox* question = app().memoryQuestion().question();
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->text().contains("Put back the 2 events it held on Monday ")) << question->text().toStdString();
    for (QAbstractButton* b : question->buttons())
        if (question->buttonRole(b) == QMessageBox::AcceptRole)
            b->click();
    EXPECT_EQ(device().event(2), image(8, 0x7F, 6, 32, 0x80, 0, 0x60, 2));
    EXPECT_EQ(device().status(), 1);
    cmd("MainWindow", "AUto");
    const QString told = text("AutomationWindow", ACronControlID);
    EXPECT_TRUE(told.contains("lost its memory at Mon 2026-12-07 12:00") && told.contains("restored at"))
        << told.toStdString();
}

}  // namespace
}  // namespace uitest
