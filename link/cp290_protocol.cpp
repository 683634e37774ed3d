#include "link/cp290_protocol.h"

#include <algorithm>
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

std::string functionName(uint8_t function)
{
    switch (function) {
    case FnOn: return "on";
    case FnOff: return "off";
    case FnDim: return "dim";
    default: return "function " + std::to_string(function);
    }
}

uint8_t units1to8Byte(UnitMask units)
{
    uint8_t b = 0;
    for (int u = 1; u <= 8; ++u)
        if (units & (1u << (u - 1)))
            b = static_cast<uint8_t>(b | (0x80u >> (u - 1)));
    return b;
}

uint8_t units9to16Byte(UnitMask units)
{
    return units1to8Byte(static_cast<UnitMask>(units >> 8));
}

UnitMask unitMask(uint8_t units9to16, uint8_t units1to8)
{
    UnitMask m = 0;
    for (int i = 0; i < 8; ++i) {
        if (units1to8 & (0x80u >> i))
            m = static_cast<UnitMask>(m | (1u << i));
        if (units9to16 & (0x80u >> i))
            m = static_cast<UnitMask>(m | (1u << (i + 8)));
    }
    return m;
}

std::string unitsText(UnitMask units)
{
    std::string s;
    for (int u = 1; u <= 16; ++u) {
        if (!(units & (1u << (u - 1))))
            continue;
        int last = u;
        while (last < 16 && (units & (1u << last)))
            ++last;
        s += (s.empty() ? "" : ",") + std::to_string(u);
        if (last > u)
            s += (last == u + 1 ? "," : "-") + std::to_string(last);
        u = last;
    }
    return s;
}

std::optional<UnitMask> parseUnitList(const std::string& text)
{
    UnitMask m = 0;
    size_t i = 0;
    const auto number = [&](int& out) {
        out = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
            out = out * 10 + (text[i++] - '0');
            ++digits;
        }
        return digits > 0 && out >= 1 && out <= 16;
    };
    while (i <= text.size()) {
        int from = 0, to = 0;
        if (!number(from))
            return std::nullopt;
        to = from;
        if (i < text.size() && text[i] == '-') {
            ++i;
            if (!number(to) || to < from)
                return std::nullopt;
        }
        for (int u = from; u <= to; ++u)
            m = static_cast<UnitMask>(m | (1u << (u - 1)));
        if (i == text.size())
            return m;
        if (text[i++] != ',')
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<uint8_t> functionFromName(const std::string& name)
{
    for (uint8_t f : {FnOn, FnOff, FnDim})
        if (name == functionName(f))
            return f;
    return std::nullopt;
}

Frame directCommandFrame(const DirectCommand& c)
{
    Frame f = header(CmdDirect);
    f.push_back(static_cast<uint8_t>(((c.level & 0x0F) << 4) | (c.function & 0x0F)));
    f.push_back(static_cast<uint8_t>(HC[static_cast<size_t>(c.house >= 1 && c.house <= 16 ? c.house : 0)]));
    f.push_back(units9to16Byte(c.units));
    f.push_back(units1to8Byte(c.units));
    f.push_back(checksum(f.data() + 17, 4));
    return f;
}

std::optional<Report> decodeReport(const uint8_t (&m)[kReportLength])
{
    for (int i = 0; i < kReplySyncLength; ++i)
        if (m[i] != 0xFF)
            return std::nullopt;
    if (!bodySumValid(m + 7))
        return std::nullopt;
    Report r;
    r.status = m[6];
    r.house = houseIndexFromCode(m[7] & 0xF0, 0);
    r.function = static_cast<uint8_t>(m[7] & 0x0F);
    r.units = unitMask(m[8], m[9]);
    r.baseCode = m[10];
    return r;
}

std::array<uint8_t, kReportLength> encodeReport(const Report& r)
{
    std::array<uint8_t, kReportLength> m{};
    std::fill(m.begin(), m.begin() + kReplySyncLength, 0xFF);
    m[6] = r.status;
    m[7] = static_cast<uint8_t>(HC[static_cast<size_t>(r.house >= 1 && r.house <= 16 ? r.house : 0)] | (r.function & 0x0F));
    m[8] = units9to16Byte(r.units);
    m[9] = units1to8Byte(r.units);
    m[10] = r.baseCode;
    m[11] = checksum(m.data() + 7, 4);
    return m;
}

bool reportMatches(const Report& r, const DirectCommand& c)
{
    return r.house == c.house && r.units == c.units && r.function == c.function;
}

std::optional<Report> ReportScanner::feed(uint8_t b)
{
    if (m_have < kReplySyncLength) {
        if (b == 0xFF) {
            m_msg[m_have++] = b;
            return std::nullopt;
        }
        m_stray += static_cast<size_t>(m_have) + 1;
        m_have = 0;
        return std::nullopt;
    }
    if (m_have == kReplySyncLength && b == 0xFF) {
        ++m_stray;  // a longer sync: the first of its bytes was not ours
        return std::nullopt;
    }
    m_msg[m_have++] = b;
    if (m_have < kReportLength)
        return std::nullopt;
    m_have = 0;
    if (auto r = decodeReport(m_msg))
        return r;
    m_stray += kReportLength;
    return std::nullopt;
}

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
