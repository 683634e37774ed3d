// The event editor and the list around it: what OK stores, what the list
// and the device drawer show, and the selection rules of the buttons.
#include <QLineEdit>
#include <QTest>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/event_list_model.h"
#include "quorvel/edit_window.h"
#include "quorvel/main_window_handler.h"
#include "tests/quorvel/quorvel_fixture.h"

namespace uitest {
namespace {

using namespace ui;

class Editor : public QuorvelTest {
protected:
    const core::EventRecord& rec(int n) { return *app().table().record(n); }
};

TEST_F(Editor, FunctionAndLevelBecomeOneByte)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 1, .dim = 0});
    storeInEditor({.number = 2, .dim = 9});
    // Off forces the level to 0 and locks the dim control.
    fillEditor({.number = 3, .dim = 5});
    setValue("EditWindow", FuncControlID, 2);
    cmd("EditWindow", "onff");
    EXPECT_EQ(value("EditWindow", DimControlID), 0);
    EXPECT_FALSE(enabled("EditWindow", DimControlID));
    cmd("EditWindow", "doIt");
    EXPECT_EQ(rec(1).levelFunc, 0x02);
    EXPECT_EQ(rec(2).levelFunc, 0x95);
    EXPECT_EQ(rec(3).levelFunc, 0x03);
    EXPECT_EQ(app().mainHandler().model()->text(2, 3), "On");
    EXPECT_EQ(app().mainHandler().model()->text(3, 4), "");
}

TEST_F(Editor, UnitsModeDaysAndTimeAreStoredAndShown)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 9, .units = {1, 8, 16}, .days = 0x7F, .hour = 18, .minute = 45,
                   .security = true});
    const auto& r = rec(9);
    EXPECT_EQ(r.units1to8, 0x81);
    EXPECT_EQ(r.units9to16, 0x01);
    EXPECT_EQ(r.devCount, 3);
    EXPECT_EQ(r.eventMode, 9);
    EXPECT_EQ(r.days, 0x7F);
    EXPECT_EQ(r.timeStr, "06:45 PM");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(text("MainWindow", SrceControlID), QString(30, ' '));
    // The drawer shows the stored event: three names, the rest empty.
    EXPECT_EQ(text("DevWindow", HCControlID), "A");
    EXPECT_EQ(text("DevWindow", EvtNControlID), "9");
    EXPECT_EQ(text("DevWindow", 140), "Device 1");
    EXPECT_EQ(text("DevWindow", 142), "Device 16");
    EXPECT_EQ(text("DevWindow", 143), "");
    EXPECT_EQ(text("DevWindow", 155), "");
    EXPECT_EQ(app().mainHandler().model()->text(9, 5), "S");
}

TEST_F(Editor, ModeColumnMarksSecurityAndCorrectedEvents)
{
    // Event 9 is a free slot: no mark.
    testing_support::storeCorrections(m_home.file("config/Veskarn.conf"), {{7, 1}, {9, 3}});
    device().setEvent(7, image(9, 0x7F, 7, 0, 0x80, 0, 0x60, 0x02));
    startApp();
    cmd("MainWindow", "CPrd");
    EXPECT_EQ(app().mainHandler().model()->text(7, EventListModel::ColMode), "S Sunrise");
    EXPECT_EQ(app().mainHandler().model()->text(9, EventListModel::ColMode), "");
}

TEST_F(Editor, ChangingANumberStoresACopyAndLeavesTheOriginal)
{
    device().setEvent(12, image(9, 0x05, 13, 7, 0x20, 0, 0x20, 0x75));  // house C, dim 7
    startApp();
    cmd("MainWindow", "CPrd");
    app().mainHandler().selectEvents({12});
    ASSERT_TRUE(enabled("MainWindow", UpdControlID));
    cmd("MainWindow", "updE");
    EXPECT_EQ(text("EditWindow", ENumControlID), "12");
    EXPECT_EQ(value("EditWindow", HouseControlID), 3);
    EXPECT_EQ(value("EditWindow", ModeControlID), 2);
    EXPECT_EQ(value("EditWindow", FuncControlID), 1);
    EXPECT_EQ(value("EditWindow", DimControlID), 7);
    EXPECT_EQ(value("EditWindow", MonControlID), 1);
    EXPECT_EQ(value("EditWindow", MonControlID + 1), 0);
    EXPECT_EQ(value("EditWindow", MonControlID + 2), 1);
    EXPECT_EQ(value("EditWindow", UnitFirstControlID + 2), 1);  // unit 3
    EXPECT_EQ(controlTime(ctl("EditWindow", TimeControlID)), QTime(13, 7));
    EXPECT_TRUE(enabled("EditWindow", DoItControlID));

    setControlText(ctl("EditWindow", ENumControlID), "20");
    cmd("EditWindow", "doIt");
    EXPECT_FALSE(win("EditWindow")->isVisible());
    EXPECT_EQ(rec(20).levelFunc, 0x75);
    EXPECT_EQ(rec(20).houseCode, 0x20);
    EXPECT_EQ(rec(20).eventMode, 9);
    EXPECT_FALSE(rec(12).changed);
    EXPECT_EQ(rec(12).days, 0x05);
    EXPECT_TRUE(app().mainHandler().selectedEvents().empty());
}

TEST_F(Editor, ChangeEditorKeepsToTheEventItOpenedWhileTheListSelectionMoves)
{
    device().setEvent(12, image(8, 0x7F, 7, 0, 0x20, 0, 0x20, 0x02));  // house C, unit 3
    device().setEvent(30, image(8, 0x7F, 8, 0, 0x08, 0, 0x20, 0x02));  // house C, unit 5
    startApp();
    cmd("MainWindow", "CPrd");
    app().mainHandler().selectEvents({12});
    cmd("MainWindow", "updE");
    // The editor is not modal: the user looks at another event meanwhile.
    app().mainHandler().selectEvents({30});
    setValue("EditWindow", HouseControlID, 4);
    cmd("EditWindow", "CPHc");
    setValue("EditWindow", HouseControlID, 3);
    cmd("EditWindow", "CPHc");
    EXPECT_EQ(value("EditWindow", UnitFirstControlID + 2), 1);  // event 12's unit 3
    EXPECT_EQ(value("EditWindow", UnitFirstControlID + 4), 0);  // not event 30's unit 5
    cmd("EditWindow", "doIt");
    EXPECT_EQ(rec(12).units1to8, 0x20);
    EXPECT_EQ(rec(30).units1to8, 0x08);
    EXPECT_FALSE(rec(30).changed);
}

TEST_F(Editor, NextFreeNumberSkipsUsedSlotsAndZeroStoresNothing)
{
    for (int n : {1, 2, 4, 5})
        device().setEvent(n, image(8, 0x7F, 7, 0, 0x80, 0, 0x60, 0x02));
    startApp();
    cmd("MainWindow", "CPrd");
    cmd("MainWindow", "addE");
    EXPECT_EQ(text("EditWindow", ENumControlID), "3");
    storeInEditor({});
    EXPECT_EQ(text("EditWindow", ENumControlID), "6");

    // An empty field or a number out of range stores nothing.
    setControlText(ctl("EditWindow", ENumControlID), "");
    cmd("EditWindow", "doIt");
    setControlText(ctl("EditWindow", ENumControlID), "999");
    cmd("EditWindow", "doIt");
    EXPECT_EQ(app().table().getHighEvent(), 5);
}

TEST_F(Editor, HouseChangeRetitlesUnitsAndNewModeStartsAgain)
{
    storeDeviceNames('A', {"Hall", "Porch", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j",
                           "k", "l", "m", "n"});
    {
        std::vector<std::string> c(16, "");
        c[0] = "Garage door opener on the north side";  // longer than a box title
        c[1] = "Pump";
        storeDeviceNames('B', std::vector<std::string>(16, "x"));
        storeDeviceNames('C', c);
    }
    startApp();
    cmd("MainWindow", "addE");
    EXPECT_EQ(text("EditWindow", UnitFirstControlID), "1 Hall");
    setValue("EditWindow", UnitFirstControlID, 1);
    cmd("EditWindow", "devc");
    EXPECT_TRUE(enabled("EditWindow", DoItControlID));

    setValue("EditWindow", HouseControlID, 3);
    cmd("EditWindow", "CPHc");
    EXPECT_EQ(text("EditWindow", UnitFirstControlID), "1 Garage door opener on");
    EXPECT_EQ(text("EditWindow", UnitFirstControlID + 1), "2 Pump");
    EXPECT_EQ(text("EditWindow", UnitFirstControlID + 2), "3");
    EXPECT_EQ(value("EditWindow", UnitFirstControlID), 0);
    EXPECT_FALSE(enabled("EditWindow", DoItControlID));
    EXPECT_TRUE(static_cast<EditWindow*>(win("EditWindow"))->drawerOpen());
}

TEST_F(Editor, TypingInTheNumberFieldDrivesOk)
{
    startApp();
    cmd("MainWindow", "addE");
    auto* field = static_cast<QLineEdit*>(ctl("EditWindow", ENumControlID));
    setValue("EditWindow", UnitFirstControlID, 1);
    cmd("EditWindow", "devc");
    ASSERT_TRUE(enabled("EditWindow", DoItControlID));
    field->setCursorPosition(1);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "");
    EXPECT_FALSE(enabled("EditWindow", DoItControlID));
    QTest::keyClick(field, Qt::Key_0);  // refused: the field stays empty, OK stays off
    EXPECT_FALSE(enabled("EditWindow", DoItControlID));
    QTest::keyClicks(field, "77");
    EXPECT_EQ(field->text(), "77");
    EXPECT_TRUE(enabled("EditWindow", DoItControlID));

    // Without a day OK stays off whatever is typed.
    for (int d = 0; d < 7; ++d)
        setValue("EditWindow", MonControlID + d, 0);
    cmd("EditWindow", "dayc");
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_1);
    EXPECT_FALSE(enabled("EditWindow", DoItControlID));
}

TEST_F(Editor, SelectionRulesOfTheChangeAndDeleteButtons)
{
    device().setEvent(3, image(8, 0x7F, 7, 0, 0xE0, 0, 0x60, 0x02));
    startApp();
    cmd("MainWindow", "CPrd");
    MainWindowHandler& main = app().mainHandler();

    main.selectEvents({3});
    EXPECT_TRUE(enabled("MainWindow", UpdControlID));
    EXPECT_TRUE(enabled("MainWindow", DelControlID));
    EXPECT_EQ(text("DevWindow", 142), "Device 3");

    main.selectEvents({10});  // a free slot
    EXPECT_FALSE(enabled("MainWindow", UpdControlID));
    EXPECT_FALSE(enabled("MainWindow", DelControlID));
    EXPECT_EQ(text("DevWindow", 140), "");
    cmd("MainWindow", "updE");  // nothing to change
    EXPECT_FALSE(win("EditWindow")->isVisible());

    main.selectEvents({3, 10});
    EXPECT_FALSE(enabled("MainWindow", UpdControlID));
    EXPECT_TRUE(enabled("MainWindow", DelControlID));
    EXPECT_EQ(text("DevWindow", HCControlID), "");

    // Opening a new event takes the selection away.
    cmd("MainWindow", "addE");
    EXPECT_EQ(main.currID(), 0);
    EXPECT_FALSE(enabled("MainWindow", DelControlID));
}

}  // namespace
}  // namespace uitest
