// The six CP290 operations against the emulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "core/cp290_operations.h"
#include "core/schedule_file.h"
#include "tests/core/recording_ui.h"
#include "tests/support/test_support.h"

using namespace core;
using testing_support::LogCapture;

namespace {
const cp290::EventImage kSixThirtyA1 = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
const cp290::EventImage kDimP = {0x09, 0x41, 0x17, 0x3B, 0x01, 0x80, 0xC0, 0xF5};

// Download frames as the device receives them after the sync bytes:
// command 3, address low and high byte, the event image, its 8-bit sum.
const std::vector<uint8_t> kEvent5Frame = {0x03, 0x20, 0x00, 0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02, 0x8D};
const std::vector<uint8_t> kEmpty8Frame = {0x03, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x00, 0x60};
const std::vector<uint8_t> kEmpty128Frame = {0x03, 0xF8, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x00, 0x60};

class OperationsTest : public testing_support::SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ops.setDevicePath(devicePath());
    }
    EventTable table;
    RecordingUi ui;
    Cp290Operations ops{table, ui};
};
}  // namespace

TEST_F(OperationsTest, SendSelectedWritesExactlyThoseEvents)
{
    table.storeEvent(5, kSixThirtyA1);
    table.storeEvent(9, kDimP);
    table.storeEvent(10, kDimP);
    const OpResult r = ops.SendEventList(SendSelected, {5, 9});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.events, 2);

    const auto frames = device().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], kEvent5Frame);
    EXPECT_EQ((std::vector<uint8_t>{frames[0][1], frames[0][2], frames[1][1], frames[1][2]}),
              (std::vector<uint8_t>{0x20, 0x00, 0x40, 0x00}));  // addresses of events 5 and 9
    EXPECT_EQ(device().event(9), kDimP);
    EXPECT_EQ(ui.progress, (std::vector<int>{5, 9}));
    EXPECT_FALSE(ui.sheetShown);
    EXPECT_TRUE(!table.record(5)->changed && !table.record(9)->changed && table.record(10)->changed);
}

TEST_F(OperationsTest, SendChangedAndSendAll)
{
    // Nothing changed: the sheet comes and goes, nothing is written.
    ASSERT_TRUE(ops.SendEventList(SendChanged).ok());
    EXPECT_TRUE(device().frames().empty());
    EXPECT_EQ(ui.shows, 1);
    EXPECT_EQ(ui.hides, 1);

    // A deleted event goes out as the empty event.
    table.storeEvent(7, kSixThirtyA1);
    table.storeEvent(8, kDimP);
    table.deleteEvents({8});
    ASSERT_TRUE(ops.SendEventList(SendChanged).ok());
    auto frames = device().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], kEmpty8Frame);
    EXPECT_FALSE(table.hasUnsavedChanges());

    device().clearFrames();
    ASSERT_EQ(ops.SendEventList(SendAll).events, 128);
    frames = device().frames();
    ASSERT_EQ(frames.size(), 128u);
    EXPECT_EQ(frames[127], kEmpty128Frame);

    EXPECT_FALSE(ops.SendEventList(4).ok());  // no such send type: nothing at all
    EXPECT_EQ(device().frames().size(), 128u);
}

TEST_F(OperationsTest, UploadOfOnlyEventSeven)
{
    device().setEvent(7, kSixThirtyA1);
    table.storeEvent(3, kDimP);         // the CP290 has no event 3: reset, unmarked
    table.record(7)->changed = true;    // an upload leaves a used slot's mark alone

    const OpResult r = ops.GetEventList();
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(table.getHighEvent(), 7);
    EXPECT_EQ(table.record(7)->image(), kSixThirtyA1);
    EXPECT_EQ(table.record(7)->devCount, 1);
    EXPECT_EQ(table.record(7)->timeStr, "06:30 AM");
    EXPECT_TRUE(table.record(7)->changed);
    for (int n = 1; n <= 128; ++n)
        EXPECT_EQ(table.isUsed(n), n == 7) << n;
    EXPECT_EQ(table.record(3)->image(), cp290::emptyEventImage());
    EXPECT_FALSE(table.record(3)->changed);

    EXPECT_EQ(ui.progress.size(), 128u);
    EXPECT_EQ(ui.saveFind, true);
    EXPECT_EQ(ui.source, "Contents of CP290");
    EXPECT_EQ(ui.listChanges, 1);
    EXPECT_FALSE(ui.sheetShown);

    device().clearEvents();
    ASSERT_TRUE(ops.GetEventList().ok());
    EXPECT_EQ(table.getHighEvent(), 0);
    EXPECT_EQ(ui.saveFind, false);
}

TEST_F(OperationsTest, ClockAndBaseCode)
{
    const struct { int h, m; uint8_t day; const char* time; const char* dayName; } cases[] = {
        {0, 7, 0x20, "12:07 AM", "Saturday"},
        {13, 30, 0x04, "1:30 PM", "Wednesday"},
    };
    for (const auto& c : cases) {
        device().setClock({c.m, c.h, c.day});
        device().setBaseHouseCode(0x10);
        int house = 0;
        std::string time, day;
        ASSERT_TRUE(ops.getTimeBase(house, time, day).ok());
        EXPECT_TRUE(time == c.time && day == c.dayName && house == 5) << time << day << house;  // 0x10 is E
    }

    ASSERT_TRUE(ops.SetBaseCode(4).ok());
    EXPECT_EQ(device().frames().back(), (std::vector<uint8_t>{0x00, 0xA0}));
    EXPECT_EQ(ops.SetBaseCode(17).status, OpStatus::Refused);
    // No letter chosen: the table's entry 0 would quietly pick house E and erase the events.
    EXPECT_EQ(ops.SetBaseCode(0).status, OpStatus::Refused);
}

TEST_F(OperationsTest, SelfTestPassedFailedAndSilent)
{
    device().setSelfTestMs(50);
    LogCapture log;
    EXPECT_TRUE(ops.SelfTest().ok());
    EXPECT_TRUE(ui.selfTestStartedCalled);
    EXPECT_EQ(ui.selfTest, true);

    device().setFailSelfTest(true);
    EXPECT_EQ(ops.SelfTest().status, OpStatus::TestFailed);
    EXPECT_EQ(ui.selfTest, false);

    device().setSilent(true);
    ui.selfTest.reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ops.SelfTest().status, OpStatus::Timeout);
    EXPECT_NEAR(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0, 2.0);
    EXPECT_EQ(ui.selfTest, false);
    EXPECT_TRUE(log.contains("Quorvel - *** CP290 NOT Responding *** \n"));
}

TEST_F(OperationsTest, SilentDeviceKeepsUnsentChangesMarked)
{
    table.storeEvent(3, kSixThirtyA1);
    table.storeEvent(5, kDimP);
    device().setEvent(20, kDimP);
    const EventTable before = table;
    device().setSilent(true);
    LogCapture log;

    EXPECT_EQ(ops.SendEventList(SendChanged).status, OpStatus::Timeout);
    EXPECT_TRUE(table.record(3)->changed && table.record(5)->changed);
    EXPECT_EQ(ui.progress, std::vector<int>{3});  // the batch stopped at the first silence
    EXPECT_TRUE(log.contains("Quorvel Error - CP290 not responding\n"));
    EXPECT_TRUE(!ui.sheetShown && !ui.errors.empty());

    // An upload cut short leaves the table as it was.
    EXPECT_EQ(ops.GetEventList().status, OpStatus::Timeout);
    for (int n = 1; n <= 128; ++n)
        EXPECT_EQ(table.record(n)->image(), before.record(n)->image()) << n;
    EXPECT_NE(ui.source, "Contents of CP290");
}

TEST_F(OperationsTest, LineThatCannotBeOpenedLogsEachOperationsLine)
{
    ops.setDevicePath("/nonexistent/cp290");
    table.storeEvent(2, kSixThirtyA1);
    LogCapture log;

    EXPECT_EQ(ops.SendEventList(SendChanged).status, OpStatus::OpenFailed);
    EXPECT_TRUE(log.contains("Quorvel Error - Bad File Descriptor CP290\n"));
    EXPECT_TRUE(table.record(2)->changed);
    EXPECT_EQ(ui.shows, 0);

    EXPECT_EQ(ops.GetEventList().status, OpStatus::OpenFailed);
    EXPECT_TRUE(log.contains("Quorvel Error - CP290 Bad File Descriptor\n"));
    EXPECT_TRUE(!ui.sheetShown && table.isUsed(2));

    int house = 9;
    std::string time = "keep", day = "keep";
    EXPECT_EQ(ops.getTimeBase(house, time, day).status, OpStatus::OpenFailed);
    EXPECT_TRUE(house == 9 && time == "keep");
    EXPECT_TRUE(log.contains("Quorvel Error - Bad File Descriptor CP290 \n"));

    EXPECT_EQ(ops.SetClock().status, OpStatus::OpenFailed);
    EXPECT_TRUE(log.contains("Quorvel Error - SetClock Bad File Descriptor\n"));

    EXPECT_EQ(ops.SelfTest().status, OpStatus::OpenFailed);
    EXPECT_FALSE(ui.selfTest.has_value());  // the status window keeps "Test in Progress..."
}

namespace {
// Each cause its own sentence and fix; Cancel and success say nothing.
TEST(FailureMessages, NameTheCauseByStatusAndErrno)
{
    using core::OpResult;
    using core::OpStatus;
    const auto message = [](OpStatus s, int err) {
        OpResult r;
        r.status = s;
        r.error = err;
        return core::failureMessage(r, "/dev/ttyUSB0");
    };
    for (int err : {ENOENT, ENODEV, ENXIO})
        EXPECT_NE(message(OpStatus::OpenFailed, err).find("is not there: is the adapter plugged in?"),
                  std::string::npos);
    for (int err : {EACCES, EPERM})
        EXPECT_NE(message(OpStatus::OpenFailed, err).find("dialout group"), std::string::npos);
    EXPECT_NE(message(OpStatus::OpenFailed, EBUSY).find("/dev/ttyUSB0 is in use by another program"),
              std::string::npos);
    EXPECT_NE(message(OpStatus::OpenFailed, EIO).find("could not be opened: Input/output error"),
              std::string::npos);
    EXPECT_NE(message(OpStatus::Timeout, 0).find("power and cable, and that /dev/ttyUSB0 is its port"),
              std::string::npos);
    EXPECT_NE(message(OpStatus::BadReply, 0).find("reply was not valid"), std::string::npos);
    EXPECT_EQ(message(OpStatus::Cancelled, 0), "");
    EXPECT_EQ(message(OpStatus::Ok, 0), "");
}
}  // namespace
