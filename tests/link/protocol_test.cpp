// Frame vectors and reply decoding of the CP290 protocol.
#include <gtest/gtest.h>

#include "link/cp290_protocol.h"

using namespace cp290;

namespace {
Frame withSync(std::initializer_list<uint8_t> tail)
{
    Frame f(16, 0xFF);
    for (uint8_t b : tail)
        f.push_back(b);
    return f;
}
const EventImage kSixThirty = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
}  // namespace

TEST(Frames, DownloadAddressesAcrossTheHighByte)
{
    struct Case { int event; uint8_t lo, hi; };
    for (const Case c : {Case{1, 0x00, 0x00}, {5, 0x20, 0x00}, {9, 0x40, 0x00}, {32, 0xF8, 0x00},
                         {33, 0x00, 0x01}, {128, 0xF8, 0x03}}) {
        const Frame f = downloadEventFrame(c.event, kSixThirty);
        ASSERT_EQ(f.size(), 28u);
        EXPECT_EQ(f[16], 0x03);
        EXPECT_EQ(f[17], c.lo) << "event " << c.event;
        EXPECT_EQ(f[18], c.hi) << "event " << c.event;
    }
}

TEST(Frames, DownloadChecksumCoversOnlyTheImage)
{
    const Frame f = downloadEventFrame(33, kSixThirty);
    EXPECT_EQ(f, withSync({0x03, 0x00, 0x01, 0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02, 0x8D}));
    // The sum wraps at 8 bits.
    const EventImage big = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(downloadEventFrame(1, big).back(), 0xF8);
}

TEST(Frames, SetClockFromLocalTime)
{
    std::tm wed{};
    wed.tm_wday = 3;
    wed.tm_hour = 7;
    wed.tm_min = 5;
    EXPECT_EQ(setClockFrame(wed), withSync({0x02, 0x05, 0x07, 0x04, 0x10}));
    std::tm sun{};
    sun.tm_wday = 0;
    sun.tm_hour = 23;
    sun.tm_min = 59;
    EXPECT_EQ(setClockFrame(sun), withSync({0x02, 59, 23, 0x40, 0x92}));
}

TEST(Frames, OtherCommands)
{
    EXPECT_EQ(baseCodeFrame(HC[4]), withSync({0x00, 0xA0}));
    EXPECT_EQ(clockRequestFrame(), withSync({0x04}));
    EXPECT_EQ(uploadFrame(), withSync({0x05}));
    EXPECT_EQ(selfTestFrame(), withSync({0x07}));
}

TEST(Encodings, HouseCodesRoundTripAndUnknownKeepsPrevious)
{
    for (int i = 1; i <= 16; ++i)
        EXPECT_EQ(houseIndexFromCode(HC[i], 0), i) << HLetters[i - 1];
    // 0x10 is also the "no house" entry 0, which must never be the answer.
    EXPECT_EQ(houseIndexFromCode(0x10, 0), 5);
    EXPECT_EQ(houseIndexFromCode(0x11, 7), 7);
    EXPECT_EQ(houseIndexFromCode(-1, 3), 3);
}

TEST(Encodings, DayBits)
{
    EXPECT_EQ(dayBit(1), 0x01);
    EXPECT_EQ(dayBit(3), 0x04);
    EXPECT_EQ(dayBit(7), 0x40);
    EXPECT_EQ(dayBit(0), 0);
    EXPECT_EQ(dayBit(8), 0);
    EXPECT_EQ(dayBit(-100), 0);
}

TEST(ClockReply, TextsOfTheTwelveHourClock)
{
    EXPECT_EQ(clockTimeText(0, 7), "12:07 AM");
    EXPECT_EQ(clockTimeText(7, 5), "7:05 AM");
    EXPECT_EQ(clockTimeText(11, 59), "11:59 AM");
    EXPECT_EQ(clockTimeText(12, 0), "12:00 PM");
    EXPECT_EQ(clockTimeText(13, 30), "1:30 PM");
    EXPECT_EQ(clockTimeText(23, 59), "11:59 PM");
    EXPECT_EQ(dayName(0x20), "Saturday");
    EXPECT_EQ(dayName(0x01), "Monday");
    EXPECT_EQ(dayName(0x03), "         ");
    EXPECT_EQ(dayName(0x80), "         ");

    const uint8_t reply[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 7, 0, 0x20, 0xA0, 0xC7};
    const ClockReply c = decodeClockReply(reply);
    EXPECT_EQ(c.minute, 7);
    EXPECT_EQ(c.hour, 0);
    EXPECT_EQ(c.dayBit, 0x20);
    EXPECT_EQ(houseIndexFromCode(c.houseCode, 0), 4);
}

TEST(Upload, EmptyAndUsedSlotsInOrder)
{
    UploadDecoder d;
    std::vector<std::pair<int, std::optional<EventImage>>> slots;
    auto feed = [&](uint8_t b) {
        if (d.feed(b))
            slots.emplace_back(d.lastSlot(), d.lastImage());
    };
    feed(0xFF);  // slot 1 empty
    EXPECT_EQ(d.needed(), 1);
    for (uint8_t b : kSixThirty) feed(b);  // slot 2
    for (int i = 3; i <= 128; ++i) feed(0xFF);
    ASSERT_TRUE(d.done());
    EXPECT_EQ(d.needed(), 0);
    ASSERT_EQ(slots.size(), 128u);
    EXPECT_EQ(slots[0].first, 1);
    EXPECT_FALSE(slots[0].second);
    EXPECT_EQ(slots[1].first, 2);
    EXPECT_EQ(slots[1].second, kSixThirty);
    // A 0xFF inside an event's bytes is data, not an empty marker.
    UploadDecoder d2;
    d2.feed(0x08);
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(d2.feed(0xFF));
    EXPECT_TRUE(d2.feed(0xFF));
    EXPECT_EQ(d2.lastSlot(), 1);
    EXPECT_EQ((*d2.lastImage())[7], 0xFF);
    // Bytes after the last slot (the device's checksum) are not taken.
    EXPECT_FALSE(d.feed(0x12));
}

TEST(Frames, DirectCommandsByteForByte)
{
    // The X10 house codes A..P and the two unit bytes (units 9-16, units 1-8)
    // as the device's documentation gives them.
    const uint8_t house[16] = {0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                               0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
    struct Unit { int unit; uint8_t hi, lo; };
    struct Fn { uint8_t function; int level; uint8_t byte; };
    for (int h = 1; h <= 16; ++h)
        for (const Unit u : {Unit{1, 0x00, 0x80}, {8, 0x00, 0x01}, {9, 0x80, 0x00}, {16, 0x01, 0x00}})
            for (const Fn fn : {Fn{FnOn, 0, 0x02}, {FnOff, 0, 0x03}, {FnDim, 7, 0x75}, {FnDim, 15, 0xF5}}) {
                const uint8_t sum = static_cast<uint8_t>(fn.byte + house[h - 1] + u.hi + u.lo);
                const Frame f = directCommandFrame({h, static_cast<UnitMask>(1u << (u.unit - 1)), fn.function, fn.level});
                EXPECT_EQ(f, withSync({0x01, fn.byte, house[h - 1], u.hi, u.lo, sum}))
                    << HLetters[h - 1] << u.unit << " byte " << int(fn.byte);
            }
}

TEST(Reports, DecodedOnlyWhenWholeAndSound)
{
    // House B (0xE0) dim, units 2 and 9, base A: four bytes and their sum.
    const uint8_t sound[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0xE5, 0x80, 0x40, 0x60, 0x05};
    const auto r = decodeReport(sound);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (Report{1, 2, static_cast<UnitMask>(0x0102), FnDim, 0x60}));
    EXPECT_EQ(encodeReport(*r), std::to_array(sound));
    uint8_t badSum[12];
    std::copy(sound, sound + 12, badSum);
    badSum[11] = 0x06;
    EXPECT_FALSE(decodeReport(badSum));
    // In a stream: noise, a cut-off message and a bad sum give nothing; the
    // sound report is found wherever it starts.
    ReportScanner scanner;
    std::vector<uint8_t> stream = {0x12, 0xFF, 0xFF, 0xFF, 0x00};
    stream.insert(stream.end(), badSum, badSum + 12);
    stream.insert(stream.end(), {0xFF, 0xFF});
    stream.insert(stream.end(), sound, sound + 12);
    std::vector<Report> found;
    for (uint8_t b : stream)
        if (auto got = scanner.feed(b))
            found.push_back(*got);
    EXPECT_EQ(found, std::vector<Report>{*r});
    EXPECT_EQ(parseUnitList("1-3,16"), UnitMask(0x8007));
    EXPECT_EQ(unitsText(0x8007), "1-3,16");
    for (const char* bad : {"", "0", "17", "3-1", "1,", "a", "1;2"})
        EXPECT_FALSE(parseUnitList(bad)) << bad;
}
