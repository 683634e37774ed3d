// The event table: display texts, unit names, searches, delete, and that no
// number or name can reach outside the table.
#include <gtest/gtest.h>

#include "core/event_table.h"

using namespace core;

namespace {
cp290::EventImage withUnits(int u1to8, int u9to16, int house = 0x60)
{
    return {0x08, 0x01, 0x07, 0x00, static_cast<uint8_t>(u1to8), static_cast<uint8_t>(u9to16),
            static_cast<uint8_t>(house), 0x02};
}
const cp290::EventImage kOn = withUnits(0x80, 0);
}  // namespace

TEST(EventTable, TimeAndDayTexts)
{
    const struct { int h, m; const char* text; } times[] = {
        {0, 0, "12:00 AM"}, {12, 5, "12:05 PM"}, {13, 7, "01:07 PM"}, {9, 30, "09:30 AM"}, {23, 59, "11:59 PM"},
    };
    for (const auto& t : times)
        EXPECT_EQ(timeText(t.h, t.m), t.text) << t.h << ":" << t.m;
    EXPECT_EQ(dayText(0x7F), "M Tu W Th F Sa Su ");
    EXPECT_EQ(dayText(0x41), "M Su ");
    EXPECT_EQ(dayText(0), "");
}

TEST(EventTable, UnitNamesFollowHouseAndBits)
{
    EventTable t;
    t.deviceNames().setName(1, 8, "Porch");
    t.deviceNames().setName(5, 1, "Hall LAMP");

    t.record(3)->setImage(withUnits(0x81, 0x01));
    t.record(3)->devCount = 7;  // EventListRec leaves it alone
    EXPECT_EQ(t.EventListRec(3), 3);
    const EventRecord& r = *t.record(3);
    EXPECT_EQ(r.devNames[0], "Device 1");
    EXPECT_EQ(r.devNames[1], "Porch");
    EXPECT_EQ(r.devNames[2], "Device 16");
    EXPECT_EQ(r.devCount, 7);

    // House code 0x10 is E, never the "no house" entry 0; a code that is no
    // house keeps the current one.
    t.record(4)->setImage(withUnits(0x80, 0, 0x10));
    t.EventListRec(4);
    EXPECT_EQ(t.curHC(), 5);
    EXPECT_EQ(t.record(4)->devNames[0], "Hall LAMP");
    t.record(5)->setImage(withUnits(0x80, 0, 0x05));
    t.EventListRec(5);
    EXPECT_EQ(t.curHC(), 5);

    // Five units rebuilt as two: no stale names behind them.
    t.record(6)->setImage(withUnits(0xF8, 0));
    EXPECT_EQ(t.EventListRec(6), 5);
    t.record(6)->setImage(withUnits(0x00, 0x03));
    EXPECT_EQ(t.EventListRec(6), 2);
    for (size_t k = 2; k < 16; ++k)
        EXPECT_TRUE(t.record(6)->devNames[k].empty()) << k;

    // A reset record is free, house A, without texts.
    t.InitEventRec(6);
    EXPECT_FALSE(t.isUsed(6));
    EXPECT_EQ(t.record(6)->image(), cp290::emptyEventImage());
    EXPECT_TRUE(t.record(6)->timeStr.empty() && t.record(6)->devNames[0].empty());
}

TEST(EventTable, NamesAndNumbersStayInsideTheTable)
{
    EventTable t;
    t.deviceNames().setName(1, 1, std::string(150, 'x'));
    EXPECT_EQ(t.deviceNames().name(1, 1).size(), static_cast<size_t>(state::kMaxDeviceName));
    // Names are ASCII wherever they come from: a character beyond it is '?'.
    t.deviceNames().setName(1, 2, std::string(28, 'a') + "\xC3\xA9");
    t.storeEvent(1, withUnits(0xC0, 0));
    EXPECT_EQ(t.record(1)->devNames[0].size(), kDevNameMax);
    EXPECT_EQ(t.record(1)->devNames[1], std::string(28, 'a') + "?");

    t.clearChanged();
    for (int n : {0, -1, 129, 1000}) {
        EXPECT_EQ(t.record(n), nullptr);
        t.InitEventRec(n);
        EXPECT_EQ(t.EventListRec(n), 0);
        EXPECT_FALSE(t.storeEvent(n, kOn));
    }
    t.deleteEvents({0, 129, -3});
    EXPECT_FALSE(t.hasUnsavedChanges());
    t.deviceNames().setName(17, 1, "x");
    EXPECT_EQ(t.deviceNames().name(0, 1), "");
}

TEST(EventTable, NextFreeAndHighestEvent)
{
    EventTable t;
    EXPECT_EQ(t.getHighEvent(), 0);
    for (int n = 1; n <= kEventCount; ++n)
        t.storeEvent(n, kOn);
    EXPECT_EQ(t.getNextNum(0), 0);
    t.InitEventRec(3);
    EXPECT_EQ(t.getNextNum(5), 3);  // wraps to the start
    EXPECT_EQ(t.getNextNum(3), 0);  // never the slot itself
    EXPECT_EQ(t.getNextNum(128), 3);

    EventTable u;
    u.storeEvent(1, kOn);
    u.storeEvent(77, kOn);
    EXPECT_EQ(u.getHighEvent(), 77);
}

TEST(EventTable, DeleteAndSearch)
{
    EventTable t;
    for (int n : {4, 5, 6})
        t.storeEvent(n, kOn);
    t.clearChanged();
    t.deleteEvents({4, 6});
    EXPECT_TRUE(!t.isUsed(4) && t.record(4)->changed);
    EXPECT_TRUE(!t.isUsed(6) && t.record(6)->changed);
    EXPECT_TRUE(t.isUsed(5) && !t.record(5)->changed);

    t.deviceNames().setName(1, 3, "Hall LAMP");
    t.deviceNames().setName(1, 4, "Desk lamp");
    t.storeEvent(2, withUnits(0xB0, 0));  // units 1, 3, 4
    t.storeEvent(8, withUnits(0x00, 0));  // no units, no names
    EXPECT_EQ(t.findByName("lamp"), std::vector<int>{2});  // two names match, one event
    // Case does not matter, whichever way it differs.
    t.storeEvent(3, withUnits(0x20, 0));  // unit 3 alone: "Hall LAMP"
    EXPECT_EQ(t.findByName("lamp"), (std::vector<int>{2, 3}));
    EXPECT_EQ(t.findByName("DESK"), std::vector<int>{2});
    t.deleteEvents({3});
    EXPECT_TRUE(t.findByName("").empty());
    EXPECT_FALSE(t.matchesName(8, "Device"));
}

namespace {
// The editor's choices as the CP290's bytes, one encoding for every caller.
TEST(EventTable, EditorChoicesBecomeTheEventImage)
{
    const struct { EventSettings s; cp290::EventImage img; } cases[] = {
        {{.house = 1, .days = 0x7F, .hour = 6, .minute = 30, .units = 1}, {8, 0x7F, 6, 30, 0x80, 0, 0x60, 0x02}},
        {{.house = 4, .level = 9, .days = 0x1F, .hour = 18, .minute = 45, .units = 0x8081},
         {8, 0x1F, 18, 45, 0x81, 0x01, 0xA0, 0x95}},
        {{.house = 3, .off = true, .security = true, .days = 0x60, .hour = 23, .units = 0x8000},
         {9, 0x60, 23, 0, 0, 0x01, 0x20, 0x03}},
        {{.house = 0, .units = 0x0100}, {8, 0, 0, 0, 0, 0x80, 0x60, 0x02}},  // no house: A
    };
    for (const auto& c : cases)
        EXPECT_EQ(eventImage(c.s), c.img);
}

// A free slot shows nothing, whatever bytes it came with (sending all events
// writes free slots as zero events, which read back with mode 0 and hour 0).
TEST(EventTable, FreeSlotsHaveNoTexts)
{
    EventTable t;
    t.record(1)->setImage({0, 0x7F, 0, 0, 0x80, 0, 0x60, 0});
    EXPECT_EQ(t.EventListRec(1), 0);
    EXPECT_TRUE(t.record(1)->timeStr.empty());
    EXPECT_TRUE(t.record(1)->dayStr.empty());
    EXPECT_TRUE(t.record(1)->devNames[0].empty());

    // New names reach built records at once; their marks stay.
    state::DeviceNames names;
    EventTable u(names);
    u.storeEvent(2, {8, 0x7F, 6, 30, 0x10, 0, 0x60, 2});
    names.setName(1, 4, "Porch light");
    u.refreshNames();
    EXPECT_EQ(u.record(2)->devNames[0], "Porch light");
    EXPECT_TRUE(u.record(2)->changed);
}
}  // namespace
