// The emulator as a client sees it: frames written to the pseudo-terminal,
// replies read back byte for byte.
#include <chrono>
#include <thread>

#include "tests/sim/line_client.h"
#include "tests/support/test_support.h"

using namespace simtest;
using namespace std::chrono;
using testing_support::SimTest;

namespace {

const Bytes kWake = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};  // every day 06:30, A1 on
const Bytes kLamp = {0x09, 0x04, 0x17, 0x05, 0x00, 0x01, 0xE0, 0xA5};  // Wednesday 23:05, B16 dim 10

sim::EventImage image(const Bytes& b)
{
    sim::EventImage img{};
    std::copy(b.begin(), b.end(), img.begin());
    return img;
}

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

double msSince(steady_clock::time_point t0)
{
    return duration<double, std::milli>(steady_clock::now() - t0).count();
}

}  // namespace

using Cp290SimTest = SimTest;

TEST_F(Cp290SimTest, DownloadThenUploadGivesEverySlotAndTheChecksum)
{
    {
        LineClient line(devicePath());
        ASSERT_TRUE(line.ok());
        EXPECT_EQ(line.exchange(frame(4), 12)[6], 0) << "power-up: nothing programmed";
        EXPECT_EQ(line.exchange(writeEventFrame(1, kWake), 7), ack(1));
        EXPECT_EQ(line.exchange(writeEventFrame(33, kLamp), 7), ack(1));
        EXPECT_EQ(line.exchange(writeEventFrame(128, kWake), 7), ack(1));
    }
    EXPECT_EQ(device().frames().at(2), cat({0x03, 0x00, 0x01}, withSum(kLamp)));
    EXPECT_EQ(device().event(33), image(kLamp));
    EXPECT_FALSE(device().event(2));

    Bytes expected = ack(1);
    unsigned sum = 0;
    for (int n = 1; n <= 128; ++n) {
        const Bytes* e = n == 33 ? &kLamp : (n == 1 || n == 128) ? &kWake : nullptr;
        if (!e) {
            expected.push_back(0xFF);
            sum += 0xFF;  // the documented sum counts the empty slots' marks
            continue;
        }
        expected = cat(expected, *e);
        for (uint8_t b : *e)
            sum += b;
    }
    expected.push_back(static_cast<uint8_t>(sum));
    LineClient again(devicePath());  // the line outlives the first client
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.exchange(frame(5), expected.size()), expected);
    EXPECT_TRUE(again.read(1, 200).empty()) << "nothing after the checksum, no echo";
}

TEST_F(Cp290SimTest, BadWritesAreAcknowledgedButNotStoredAndFFClearsASlot)
{
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    Bytes corrupt = writeEventFrame(2, kWake);
    corrupt.back() ^= 1;
    EXPECT_EQ(line.exchange(corrupt, 7), ack(0));
    EXPECT_EQ(line.exchange(frame(3, cat({0x04, 0x00}, withSum(kWake))), 7), ack(0)) << "not an event's address";
    EXPECT_FALSE(device().event(1));
    EXPECT_FALSE(device().event(2));

    device().setEvent(3, image(kWake));
    EXPECT_EQ(line.exchange(writeEventFrame(3, {0xFF, 0, 0, 0, 0, 0, 0, 0}), 7), ack(1));
    EXPECT_FALSE(device().event(3));

    EXPECT_EQ(line.exchange(frame(3, cat({0x0A, 0x04}, withSum({0x12, 0x34}))), 7), ack(1));
    const auto g = device().graphics();
    EXPECT_EQ(g[10], 0x12);
    EXPECT_EQ(g[11], 0x34);
    const Bytes upload = line.exchange(frame(6), 7 + 256 + 1);
    ASSERT_EQ(upload.size(), 264u);
    EXPECT_EQ(Bytes(upload.begin() + 7, upload.end() - 1), Bytes(g.begin(), g.end()));
    EXPECT_EQ(upload.back(), uint8_t(0x12 + 0x34));
}

TEST_F(Cp290SimTest, ClockIsSetReadBackAndRunsOn)
{
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.exchange(frame(2, {0x05, 0x07, 0x04, 0x10}), 7), ack(1));  // Wednesday 07:05
    EXPECT_EQ(line.exchange(frame(4), 12), cat(ack(1), withSum({0x05, 0x07, 0x04, 0x60})));
    EXPECT_EQ(line.exchange(frame(2, withSum({60, 7, 0x04})), 7), ack(1));  // minute 60: refused
    EXPECT_EQ(device().clock().minute, 5);

    device().setClock({59, 23, 0x40}, minutes(1) + seconds(1));  // Sunday 23:59 a minute ago
    EXPECT_EQ(line.exchange(frame(4), 12), cat(ack(1), withSum({0, 0, 0x01, 0x60})));
    device().setClock({58, 10, 0x01}, seconds(125));
    const sim::SimClock c = device().clock();
    EXPECT_EQ((std::array{c.minute, c.hour, int(c.dayBit)}), (std::array{0, 11, 1}));
}

TEST_F(Cp290SimTest, BaseCodeAndSelfTestEraseEventsAndTheTestTakesItsTime)
{
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    device().setEvent(5, image(kWake));
    EXPECT_EQ(line.exchange(frame(0, {0xE0}), 7), ack(1));
    EXPECT_FALSE(device().event(5));
    EXPECT_EQ(device().baseHouseCode(), 0xE0);

    device().setSelfTestMs(300);
    for (const bool fail : {false, true}) {
        device().setEvent(5, image(kWake));
        device().setFailSelfTest(fail);
        const auto t0 = steady_clock::now();
        line.send(frame(7));
        std::this_thread::sleep_for(milliseconds(100));
        line.send(frame(4));  // the device is busy and does not hear it
        EXPECT_EQ(line.read(7), ack(fail ? 1 : 0));
        EXPECT_GE(msSince(t0), 300);
        EXPECT_LT(msSince(t0), 600);
        EXPECT_TRUE(line.read(1, 200).empty());
        EXPECT_FALSE(device().event(5));
        EXPECT_EQ(line.exchange(frame(4), 12)[6], 0) << "unprogrammed after the test";
    }
}

TEST_F(Cp290SimTest, ControlChannelCutsThePowerAndAnswersEveryLine)
{
    device().setEvent(5, image(kWake));
    device().setBaseHouseCode(0xE0);
    device().setClock({5, 7, 0x04});
    EXPECT_EQ(control("state"), "ok status 1 base E0 events 1 clock 07:05 04");
    EXPECT_EQ(control("power-cut"), "ok");
    EXPECT_EQ(control("state"), "ok status 0 base 60 events 0 clock 00:00 01");
    LineClient line(devicePath());
    EXPECT_EQ(line.exchange(frame(4), 12), cat(ack(0), {0x00, 0x00, 0x01, 0x60, 0x61}));
    EXPECT_EQ(line.exchange(frame(2, {0x05, 0x07, 0x04, 0x10}), 7), ack(1)) << "programmed again";
    for (const auto& [command, reply] : std::vector<std::pair<std::string, std::string>>{
             {"power-cut now", "error: power-cut takes no arguments"},
             {"  ", "error: empty command"},
             {"frobnicate", "error: unknown command: frobnicate"},
             {std::string(2000, 'x'), "error: command line longer than 1024 bytes"}})
        EXPECT_EQ(control(command), reply);
    EXPECT_EQ(device().status(), 1) << "a refused command changes nothing";
}

TEST_F(Cp290SimTest, SilentDeviceHearsButNeverAnswers)
{
    sim::SimOptions options;
    options.silent = true;
    restartSim(options);
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    line.send(writeEventFrame(1, kWake));
    line.send(frame(4));
    EXPECT_TRUE(line.read(1, 300).empty());
    EXPECT_EQ(device().frames().size(), 2u);
    EXPECT_FALSE(device().event(1));
    device().setSilent(false);
    EXPECT_EQ(line.exchange(frame(4), 12).size(), 12u);
}

TEST_F(Cp290SimTest, OnlyFullSyncStartsAFrameAndAnAbandonedFrameIsDropped)
{
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    line.send({0x01, 0x02, 0xFF, 0x03});
    line.send(cat(Bytes(15, 0xFF), {0x04}));  // short sync
    line.send(cat(Bytes(20, 0xFF), {0x09}));                 // no such command
    EXPECT_TRUE(line.read(1, 200).empty());
    EXPECT_TRUE(device().frames().empty());
    EXPECT_EQ(line.exchange(cat(Bytes(20, 0xFF), {0x04}), 12).size(), 12u);

    const Bytes f = writeEventFrame(9, kWake);  // in two pieces
    line.send(Bytes(f.begin(), f.begin() + 20));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(line.exchange(Bytes(f.begin() + 20, f.end()), 7), ack(1));
    EXPECT_EQ(device().event(9), image(kWake));

    line.send(Bytes(f.begin(), f.begin() + 20));  // the sender gives up on this one
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(line.exchange(frame(4), 12).size(), 12u);
}

TEST_F(Cp290SimTest, ReportsForDirectCommandsAndEventsWhoseTimeComes)
{
    sim::SimOptions options;
    options.reports = true;
    restartSim(options);
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.exchange(frame(1, withSum({0x02, 0xE0, 0x00, 0x80})), 19),
              cat(ack(0), cat(ack(0), withSum({0xE2, 0x00, 0x80, 0x60}))));

    device().setEvent(1, image({0x08, 0x04, 6, 30, 0x40, 0x00, 0x60, 0x03}));  // Wednesday 06:30, A2 off
    device().setEvent(2, image({0x08, 0x08, 6, 30, 0x80, 0x00, 0x60, 0x02}));  // Thursday
    device().setEvent(3, image({0x08, 0x04, 6, 31, 0x80, 0x00, 0x60, 0x02}));  // a minute later
    device().setClock({29, 6, 0x04}, milliseconds(59'600));
    EXPECT_EQ(line.read(12), cat(ack(1), withSum({0x63, 0x00, 0x40, 0x60})));
    EXPECT_TRUE(line.read(1, 300).empty());
}

TEST_F(Cp290SimTest, PacedLineTakesTheWireTimeOfEveryByte)
{
    sim::SimOptions options;
    options.paced = true;
    restartSim(options);
    LineClient line(devicePath());
    ASSERT_TRUE(line.ok());
    constexpr double kByteMs = 10 * 1000.0 / 600;
    const auto t0 = steady_clock::now();
    // Lower bounds hold however late this thread gets to read; the upper bound
    // spans six frames so that one byte time too many per frame (100 ms) shows
    // through the scheduling noise of a loaded machine.
    constexpr int kFrames = 6;
    for (int n = 1; n <= kFrames; ++n) {
        line.send(writeEventFrame(n, kWake));
        std::vector<double> at;
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(line.read(1).size(), 1u);
            at.push_back(msSince(t0));
        }
        if (n == 1) {
            EXPECT_GE(at.front(), 29 * kByteMs - 1) << "reply only after the frame's last byte";
            EXPECT_GE(at.back(), 35 * kByteMs - 1) << "one byte at a time, not a burst";
        }
    }
    EXPECT_GE(msSince(t0), kFrames * 35 * kByteMs - 1);
    EXPECT_LT(msSince(t0), kFrames * 35 * kByteMs + 60) << "a byte time too many per frame shows here";
}

TEST_F(Cp290SimTest, ModulesFollowThePowerLineAtTheClocksSpeed)
{
    sim::SimOptions options;
    options.reports = true;
    options.speed = 600;  // a minute every 100 ms
    restartSim(options);
    LineClient line(devicePath());
    // Security mode, Monday 06:30, A1 dim 8: moved by (3 x 7 + 0 x 13) mod 31 - 15 = +6 minutes.
    device().setEvent(3, image({0x09, 0x01, 6, 30, 0x80, 0x00, 0x60, 0x85}));
    const auto start = steady_clock::now();
    device().setClock({34, 6, 0x01});
    EXPECT_EQ(line.read(12, 2000), cat(ack(1), withSum({0x65, 0x00, 0x80, 0x60})));
    EXPECT_GT(msSince(start), 150) << "two minutes of the device";
    EXPECT_EQ(device().module(0, 1), (sim::ModuleState{true, true, 8}));
    EXPECT_EQ(control("press B 16 off"), "ok");
    EXPECT_EQ(line.read(12), cat(ack(1), withSum({0xE3, 0x01, 0x00, 0x60})));
    EXPECT_EQ(device().module(1, 16), (sim::ModuleState{true, false, 0}));
    EXPECT_EQ(control("press B 17 on"), "error: press takes a house A..P, a unit 1..16 and on, off or dim 1..15");
}
