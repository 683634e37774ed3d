#include "link/cp290_protocol.h"

#include <cstdio>

#include "platform/clock.h"

namespace cp290 {

const std::array<int, 17> HC = {0x10, 0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                                0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
const char HLetters[17] = "ABCDEFGHIJKLMNOP";

int houseIndexFromCode(int code, int previous)
{
    for (int i = 1; i <= 16; ++i)
        if (HC[i] == code)
            return i;
    return previous;
}

uint8_t dayBit(int isoWeekday)
{
    if (isoWeekday < 1 || isoWeekday > 7)
        return 0;
    return static_cast<uint8_t>(1u << (isoWeekday - 1));
}

int eventAddress(int eventNumber)
{
    return (eventNumber - 1) * 8;
}

uint8_t checksum(const uint8_t* bytes, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

EventImage emptyEventImage()
{
    EventImage img{};
    img[6] = 0x60;
    return img;
}

namespace {
Frame header(uint8_t command)
{
    Frame f(kSyncLength, 0xFF);
    f.push_back(command);
    return f;
}
}  // namespace

Frame baseCodeFrame(uint8_t houseCode)
{
    Frame f = header(CmdSetBaseCode);
    f.push_back(houseCode);
    return f;
}

Frame setClockFrame(int minute, int hour, uint8_t dayBitValue)
{
    Frame f = header(CmdSetClock);
    f.push_back(static_cast<uint8_t>(minute));
    f.push_back(static_cast<uint8_t>(hour));
    f.push_back(dayBitValue);
    f.push_back(checksum(f.data() + 17, 3));
    return f;
}

Frame setClockFrame(const std::tm& t)
{
    return setClockFrame(t.tm_min, t.tm_hour, dayBit(platform::isoWeekday(t)));
}

Frame downloadEventFrame(int eventNumber, const EventImage& img)
{
    const int a = eventAddress(eventNumber);
    Frame f = header(CmdDownload);
    f.push_back(static_cast<uint8_t>(a & 0xFF));
    f.push_back(static_cast<uint8_t>((a >> 8) & 0xFF));
    f.insert(f.end(), img.begin(), img.end());
    f.push_back(checksum(img.data(), img.size()));
    return f;
}

Frame clockRequestFrame() { return header(CmdRequestClock); }
Frame uploadFrame() { return header(CmdUpload); }
Frame selfTestFrame() { return header(CmdSelfTest); }

ClockReply decodeClockReply(const uint8_t (&r)[kClockReplyLength])
{
    ClockReply c;
    c.minute = r[7];
    c.hour = r[8];
    c.dayBit = r[9];
    c.houseCode = r[10];
    return c;
}

std::string clockTimeText(int hour, int minute)
{
    int h12 = hour;
    if (hour == 0)
        h12 = 12;
    else if (hour >= 13 && hour <= 23)
        h12 = hour - 12;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d %s", h12, minute & 0xFF, hour < 12 ? "AM" : "PM");
    return buf;
}

std::string dayName(uint8_t bit)
{
    static const char* const names[] = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                        "Friday", "Saturday", "Sunday"};
    for (int i = 0; i < 7; ++i)
        if (bit == (1u << i))
            return names[i];
    return std::string(9, ' ');
}

bool bodySumValid(const uint8_t* body5)
{
    return checksum(body5, 4) == body5[4];
}

std::string clockRangeProblem(const ClockReply& c)
{
    char buf[64];
    if (c.minute > 59) {
        std::snprintf(buf, sizeof buf, "minute %d", c.minute);
        return buf;
    }
    if (c.hour > 23) {
        std::snprintf(buf, sizeof buf, "hour %d", c.hour);
        return buf;
    }
    if (c.dayBit == 0 || c.dayBit > 0x40 || (c.dayBit & (c.dayBit - 1)) != 0) {
        std::snprintf(buf, sizeof buf, "day 0x%02X", c.dayBit);
        return buf;
    }
    return {};
}

int UploadDecoder::needed() const
{
    if (done())
        return 0;
    return m_have == 0 ? 1 : 8 - m_have;
}

bool UploadDecoder::feed(uint8_t b)
{
    if (done())
        return false;
    m_sumAll = static_cast<uint8_t>(m_sumAll + b);
    if (m_have == 0 && b == kEmptySlot) {
        m_last.reset();
        ++m_slot;
        return true;
    }
    m_sumEvents = static_cast<uint8_t>(m_sumEvents + b);
    m_buf[static_cast<size_t>(m_have++)] = b;
    if (m_have < 8)
        return false;
    m_last = m_buf;
    m_have = 0;
    ++m_slot;
    return true;
}

}  // namespace cp290
