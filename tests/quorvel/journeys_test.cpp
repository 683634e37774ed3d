// Whole user journeys through quorvel's windows against the emulator, by
// command code and control ID.
#include <QComboBox>
#include <QScrollBar>
#include <QTreeView>
#include <filesystem>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/event_list_model.h"
#include "quorvel/formats.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "tests/quorvel/quorvel_fixture.h"

namespace uitest {
namespace {

using namespace ui;

class Journeys : public QuorvelTest {};

TEST_F(Journeys, NewEventsOneAfterAnotherThenSendTheChangedOnes)
{
    startApp();
    cmd("MainWindow", "addE");
    ASSERT_TRUE(win("EditWindow")->isVisible());
    EXPECT_EQ(text("EditWindow", ENumControlID), "1");
    EXPECT_FALSE(enabled("EditWindow", DoItControlID));  // no unit yet

    storeInEditor({.units = {1}, .days = 0x7F, .hour = 6, .minute = 30});
    EXPECT_EQ(text("EditWindow", ENumControlID), "2");  // next free number offered
    EXPECT_TRUE(win("EditWindow")->isVisible());
    storeInEditor({.units = {2, 9}, .days = 0x1F, .hour = 18, .minute = 45, .dim = 9});
    storeInEditor({.house = 3, .units = {16}, .days = 0x60, .hour = 23, .minute = 0, .off = true});
    EXPECT_EQ(text("EditWindow", ENumControlID), "4");

    EXPECT_EQ(app().mainHandler().model()->text(2, 1), ui::timeText(QTime(18, 45)));
    EXPECT_EQ(app().mainHandler().model()->text(2, 4), "9");
    EXPECT_EQ(app().mainHandler().model()->text(3, 3), "Off");
    EXPECT_TRUE(enabled("MainWindow", SavControlID));
    EXPECT_TRUE(win("MainWindow")->isWindowModified());

    cmd("MainWindow", "CPsd");
    EXPECT_TRUE(enabled("SndWindow", SchgControlID));
    EXPECT_FALSE(enabled("SndWindow", ShighControlID));  // the new-event editor cleared the selection
    cmd("SndWindow", "Schg");
    cmd("SndWindow", "CPs2");
    EXPECT_FALSE(win("SndWindow")->isVisible());
    EXPECT_EQ(device().event(1), image(8, 0x7F, 6, 30, 0x80, 0, 0x60, 0x02));
    EXPECT_EQ(device().event(2), image(8, 0x1F, 18, 45, 0x40, 0x80, 0x60, 0x95));
    EXPECT_EQ(device().event(3), image(8, 0x60, 23, 0, 0, 0x01, 0x20, 0x03));
    EXPECT_FALSE(device().event(4).has_value());
    EXPECT_FALSE(app().table().hasUnsavedChanges());
    EXPECT_FALSE(win("MainWindow")->isWindowModified());
}

TEST_F(Journeys, ReadBackThenDeleteTwoAndSendTheChanges)
{
    device().setEvent(7, image(9, 0x41, 7, 5, 0x80, 0, 0x60, 0x02));
    device().setEvent(40, image(8, 0x7F, 21, 0, 0x20, 0, 0x60, 0x03));
    device().setEvent(90, image(8, 0x7F, 5, 0, 0x10, 0, 0x60, 0x02));
    startApp();
    EXPECT_FALSE(enabled("MainWindow", SavControlID));
    cmd("MainWindow", "CPrd");
    EXPECT_EQ(text("MainWindow", SrceControlID), "Contents of CP290");
    EXPECT_TRUE(enabled("MainWindow", SavControlID));
    EXPECT_TRUE(enabled("MainWindow", FndControlID));
    EXPECT_EQ(app().table().getHighEvent(), 90);
    EXPECT_EQ(app().mainHandler().model()->text(7, 5), "S");
    EXPECT_EQ(app().mainHandler().model()->text(7, 2), "M Su ");
    EXPECT_FALSE(win("tWindow")->isVisible());

    app().mainHandler().selectEvents({7, 90});
    EXPECT_FALSE(enabled("MainWindow", UpdControlID));
    EXPECT_TRUE(enabled("MainWindow", DelControlID));
    cmd("MainWindow", "delE");
    EXPECT_FALSE(app().table().isUsed(7));
    EXPECT_TRUE(app().table().isUsed(40));
    EXPECT_EQ(text("MainWindow", SrceControlID), QString(30, ' '));
    EXPECT_EQ(app().mainHandler().currID(), 0);

    cmd("MainWindow", "CPsd");
    cmd("SndWindow", "Schg");
    cmd("SndWindow", "CPs2");
    const auto empty = image(0, 0, 0, 0, 0, 0, 0x60, 0);
    EXPECT_EQ(device().event(7), empty);
    EXPECT_EQ(device().event(90), empty);
    EXPECT_EQ(device().event(40), image(8, 0x7F, 21, 0, 0x20, 0, 0x60, 0x03));
}

TEST_F(Journeys, SaveAndOpenAgainAskingFirstWhenChangesWouldBeLost)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 5, .units = {1}, .hour = 6, .minute = 30});
    storeInEditor({.number = 128, .units = {3}, .hour = 7, .minute = 0});
    cmd("EditWindow", "clos");

    saveAnswer = QString::fromStdString(m_home.file("evening"));
    cmd("MainWindow", "savS");
    EXPECT_EQ(proposedName, "untitled.sch");
    const std::string bytes = testing_support::readFile(m_home.file("evening"));
    ASSERT_EQ(bytes.size(), 20u);
    EXPECT_EQ(bytes.substr(0, 10), std::string("\x05\x08\x7F\x06\x1E\x80\x00\x60\x02\x01", 10));
    EXPECT_EQ(static_cast<uint8_t>(bytes[10]), 128);
    EXPECT_EQ(text("MainWindow", SrceControlID), "evening");
    EXPECT_TRUE(win("MainWindow")->windowTitle().contains("evening"));
    EXPECT_FALSE(app().table().hasUnsavedChanges());

    // A change, then open: the question comes first and cancelling keeps the change.
    app().mainHandler().selectEvents({5});
    cmd("MainWindow", "delE");
    openAnswer = QString::fromStdString(m_home.file("evening"));
    cmd("MainWindow", "opnS");
    EXPECT_TRUE(win("MessWindow")->isVisible());
    EXPECT_EQ(text("MessWindow", MessControlID),
              "Changes to the Event list have not been saved. Opening another file discards them.");
    app().closeWindow(win("MessWindow"));
    EXPECT_FALSE(app().table().isUsed(5));

    cmd("MainWindow", "opnS");
    cmd("MessWindow", "delM");
    EXPECT_TRUE(app().table().isUsed(5));
    EXPECT_TRUE(app().table().isUsed(128));
    EXPECT_FALSE(app().table().hasUnsavedChanges());
    EXPECT_EQ(app().table().record(128)->timeStr, "07:00 AM");

    // Save writes the opened file at once; Save As asks, proposing its name.
    app().mainHandler().selectEvents({5});
    cmd("MainWindow", "delE");
    proposedName.clear();
    saveAnswer.clear();
    cmd("MainWindow", "savS");
    EXPECT_TRUE(proposedName.isEmpty());
    EXPECT_EQ(testing_support::readFile(m_home.file("evening")).size(), 10u);
    EXPECT_FALSE(app().table().hasUnsavedChanges());
    cmd("MainWindow", "savA");
    EXPECT_EQ(proposedName, "evening");
}

TEST_F(Journeys, SearchByDeviceNameWhileSortedByTime)
{
    storeDeviceNames('A', {"Hall Lamp", "Porch", "Device 3", "Kitchen lamp", "Fan", "Device 6",
                           "Device 7", "Device 8", "Device 9", "Device 10", "Device 11",
                           "Device 12", "Device 13", "Device 14", "Device 15", "Device 16"});
    startApp();
    auto* combo = static_cast<QComboBox*>(ctl("SearchWindow", CBoxControlID));
    QStringList offered;
    for (int i = 0; i < combo->count(); ++i)
        offered << combo->itemText(i);
    EXPECT_EQ(offered, QStringList({"Hall Lamp", "Porch", "Kitchen lamp", "Fan"}));

    cmd("MainWindow", "addE");
    storeInEditor({.number = 3, .units = {1, 4}, .hour = 20, .minute = 0});  // both lamps
    storeInEditor({.number = 8, .units = {2}, .hour = 5, .minute = 0});
    storeInEditor({.number = 12, .units = {4}, .hour = 1, .minute = 0});
    cmd("EditWindow", "clos");

    app().windows().main->list()->sortByColumn(1, Qt::AscendingOrder);
    cmd("MainWindow", "fndE");
    EXPECT_TRUE(win("SearchWindow")->isVisible());
    setControlText(ctl("SearchWindow", CBoxControlID), "LAMP");
    cmd("SearchWindow", "sSch");
    EXPECT_FALSE(win("SearchWindow")->isVisible());
    EXPECT_EQ(app().mainHandler().selectedEvents(), (std::vector<int>{3, 12}));
    EXPECT_EQ(app().mainHandler().currID(), 3);
    EXPECT_EQ(app().mainHandler().currID2(), 12);

    // A text past the 50 bytes taken is cut, not overrun.
    setControlText(ctl("SearchWindow", CBoxControlID), QString(300, 'x'));
    cmd("SearchWindow", "sSch");
    EXPECT_TRUE(app().mainHandler().selectedEvents().empty());
}

TEST_F(Journeys, SortByTimePutsFreeSlotsFirstAndScrollsToTheFirstEvent)
{
    startApp();
    win("MainWindow")->show();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 100, .units = {1}, .hour = 9, .minute = 15});
    storeInEditor({.number = 2, .units = {1}, .hour = 22, .minute = 0});
    storeInEditor({.number = 50, .units = {1}, .hour = 0, .minute = 5});
    cmd("EditWindow", "clos");

    QTreeView* list = app().windows().main->list();
    list->sortByColumn(1, Qt::AscendingOrder);
    const std::vector<int> order = displayOrder(app());
    ASSERT_EQ(order.size(), 128u);
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ((std::vector<int>{order[125], order[126], order[127]}), (std::vector<int>{50, 100, 2}));
    // Scrolled down to the first used event, which is in sight.
    const QRect first = list->visualRect(list->model()->index(125, 0));
    EXPECT_GT(list->verticalScrollBar()->value(), 0);
    EXPECT_GE(first.top(), 0);
    EXPECT_LE(first.bottom(), list->viewport()->height());

    list->sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(displayOrder(app()).front(), 128);
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
}

TEST_F(Journeys, SendSheetOffersOnlyWhatMakesSense)
{
    device().setEvent(4, image(8, 0x7F, 7, 0, 0x80, 0, 0x60, 0x02));
    device().setEvent(9, image(8, 0x7F, 8, 0, 0x80, 0, 0x60, 0x02));
    startApp();
    cmd("MainWindow", "CPsd");
    EXPECT_EQ(value("SndWindow", SallControlID), 1);
    EXPECT_FALSE(enabled("SndWindow", ShighControlID));
    EXPECT_FALSE(enabled("SndWindow", SchgControlID));
    cmd("SndWindow", "Shih");  // a disabled choice cannot be taken
    EXPECT_EQ(value("SndWindow", SallControlID), 1);
    app().closeWindow(win("SndWindow"));
    EXPECT_TRUE(device().frames().empty());  // closing sends nothing

    cmd("MainWindow", "CPrd");
    app().mainHandler().selectEvents({4, 9});
    cmd("MainWindow", "CPsd");
    EXPECT_TRUE(enabled("SndWindow", ShighControlID));
    EXPECT_FALSE(enabled("SndWindow", SchgControlID));
    cmd("SndWindow", "Shih");
    EXPECT_EQ(value("SndWindow", SallControlID), 0);
    EXPECT_EQ(value("SndWindow", ShighControlID), 1);
    cmd("SndWindow", "Shih");  // a second click keeps the choice
    EXPECT_EQ(value("SndWindow", ShighControlID), 1);
    device().clearFrames();
    cmd("SndWindow", "CPs2");
    const auto frames = device().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][0], 0x03);
    EXPECT_EQ(frames[0][1], 0x18);  // event 4 at address 24
    EXPECT_EQ(frames[1][1], 0x40);  // event 9 at 64
    EXPECT_TRUE(app().mainHandler().selectedEvents().empty());
    EXPECT_EQ(value("tWindow", PrgsControlID), 0);

    cmd("MainWindow", "CPsd");
    cmd("SndWindow", "Sall");
    device().clearFrames();
    cmd("SndWindow", "CPs2");
    EXPECT_EQ(device().frames().size(), 128u);
}

}  // namespace
}  // namespace uitest
