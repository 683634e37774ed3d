#pragma once
// The CP290's byte protocol. Every command is one frame: sixteen 0xFF sync
// bytes, a command code and its data, written in one piece. The device answers
// with six 0xFF bytes and a status byte (the acknowledgement), followed by the
// command's own data for the clock request and the upload. Checksums are
// 8-bit sums. This file holds only pure encodings and checks: one builder per
// command and one reader per reply, shared by every program. (The emulator
// keeps its own model of the device, so a fault here cannot hide itself.)
#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace cp290 {

using Frame = std::vector<uint8_t>;
using EventImage = std::array<uint8_t, 8>;  // mode, days, hour, minute, units1-8, units9-16, house, level|function

constexpr int kSyncLength = 16;
constexpr int kReplySyncLength = 6;  // a reply's sync: six 0xFF
constexpr int kAckLength = 7;
constexpr int kReportLength = 12;  // unsolicited: sync, status, house|function, units 9-16, units 1-8, base, sum
constexpr int kClockReplyLength = 12;
constexpr int kMaxEvents = 128;
constexpr uint8_t kEmptySlot = 0xFF;

enum Command : uint8_t {
    CmdSetBaseCode = 0x00,
    CmdDirect = 0x01,
    CmdSetClock = 0x02,
    CmdDownload = 0x03,
    CmdRequestClock = 0x04,
    CmdUpload = 0x05,
    CmdUploadGraphics = 0x06,
    CmdSelfTest = 0x07,
};

// House index 1..16 (A..P) to X10 code in the high nibble; index 0 = no house.
extern const std::array<int, 17> HC;
extern const char HLetters[17];  // "ABCDEFGHIJKLMNOP"

// Reverse lookup over entries 1..16; `previous` is kept when nothing matches.
int houseIndexFromCode(int code, int previous);

// Weekday 1 = Monday ... 7 = Sunday to the CP290's day bit; 0 otherwise.
uint8_t dayBit(int isoWeekday);

// Event n (1..128) lives at (n - 1) * 8 in the CP290.
int eventAddress(int eventNumber);

uint8_t checksum(const uint8_t* bytes, size_t n);

// The empty event every reset slot holds: all bytes 0 but house A.
EventImage emptyEventImage();

Frame baseCodeFrame(uint8_t houseCode);                            // 18 bytes
Frame setClockFrame(int minute, int hour, uint8_t dayBitValue);    // 21 bytes
Frame setClockFrame(const std::tm& localTime);                     // 21 bytes
Frame downloadEventFrame(int eventNumber, const EventImage& img);  // 28 bytes
Frame clockRequestFrame();                                         // 17 bytes
Frame uploadFrame();                                               // 17 bytes
Frame selfTestFrame();                                             // 17 bytes

// The functions a direct command or a report carries (the low nibble).
enum Function : uint8_t { FnOn = 2, FnOff = 3, FnDim = 5 };
// "on", "off", "dim"; "function N" for any other value.
std::string functionName(uint8_t function);

// Units as one mask: bit u-1 stands for unit u (1..16). The frames carry it
// as two bytes, units 9-16 then units 1-8, bit 7 the lowest unit of each.
using UnitMask = uint16_t;
uint8_t units1to8Byte(UnitMask units);
uint8_t units9to16Byte(UnitMask units);
UnitMask unitMask(uint8_t units9to16, uint8_t units1to8);
// "1-3,16"; "" for no unit.
std::string unitsText(UnitMask units);
// "1", "1-3,16", "2,5": numbers 1..16 and ranges, comma-separated, in any
// order; nullopt for anything else or no unit.
std::optional<UnitMask> parseUnitList(const std::string& text);
// "on", "off", "dim" back to the function; nullopt for any other text.
std::optional<uint8_t> functionFromName(const std::string& name);

// A command sent on the power line at once: 16 sync bytes, 0x01, level (0-15,
// high nibble) and function, house code, units 9-16, units 1-8, and the sum
// of those four bytes. 22 bytes.
struct DirectCommand {
    int house = 1;  // 1..16 (A..P)
    UnitMask units = 0;
    uint8_t function = FnOn;
    int level = 0;  // 0..15; on and off send 0
};
Frame directCommandFrame(const DirectCommand& c);
constexpr size_t kDirectFrameLength = 22;

// What the CP290 sends each time it has put a command on the power line (a
// direct command, a timer event firing, a press on its own console): six
// 0xFF, the status, house and function, units 9-16, units 1-8, the base
// house code and the sum of the four bytes before it.
struct Report {
    uint8_t status = 0;  // 1 while the device holds programmed data
    int house = 0;       // 1..16; 0 when the code is none of HC's
    UnitMask units = 0;
    uint8_t function = 0;
    uint8_t baseCode = 0;
    bool operator==(const Report&) const = default;
};
// nullopt when the sync or the checksum is wrong.
std::optional<Report> decodeReport(const uint8_t (&msg)[kReportLength]);
// The twelve bytes of a report (the emulator's counterpart is its own).
std::array<uint8_t, kReportLength> encodeReport(const Report& r);
// Whether a report answers a direct command: the same house, units and function.
bool reportMatches(const Report& r, const DirectCommand& c);

// Finds whole reports in a byte stream that may hold anything else: feed
// bytes in order; a byte that completes a report with a sound sum returns it.
class ReportScanner {
public:
    std::optional<Report> feed(uint8_t b);
    // Bytes of a message begun (a sync byte seen) and not complete yet: the
    // wait for its rest is worth making.
    bool inMessage() const { return m_have > 0; }
    // Bytes that made no report.
    size_t stray() const { return m_stray; }

private:
    uint8_t m_msg[kReportLength] = {};
    int m_have = 0;
    size_t m_stray = 0;
};

struct ClockReply {
    int minute = 0;
    int hour = 0;
    uint8_t dayBit = 0;
    uint8_t houseCode = 0;
};
ClockReply decodeClockReply(const uint8_t (&reply)[kClockReplyLength]);

// The five bytes after a 12-byte message's status (clock reply or report):
// four data bytes and their sum.
bool bodySumValid(const uint8_t* body5);
// Why a clock reply cannot be one: "" when its minute (0-59), hour (0-23)
// and day (exactly one day bit) are in range.
std::string clockRangeProblem(const ClockReply& c);

// "7:05 AM", "12:07 AM", "1:30 PM".
std::string clockTimeText(int hour, int minute);
// "Monday" ... "Sunday"; nine spaces for anything but one day bit.
std::string dayName(uint8_t dayBitValue);

// Reads an upload stream slot by slot. Feed bytes in order; it tells when a
// slot is complete. The device's trailing checksum byte is not part of it;
// the two sums it may be compared with are kept as the bytes go by.
class UploadDecoder {
public:
    // Bytes still wanted before the next slot completes (1 or 7/8 at a slot's start).
    int needed() const;
    // Takes one byte; returns true when the byte completed a slot.
    bool feed(uint8_t b);
    bool done() const { return m_slot > kMaxEvents; }
    int lastSlot() const { return m_slot - 1; }  // event number of the slot just completed
    // The completed slot: nullopt for an empty slot.
    const std::optional<EventImage>& lastImage() const { return m_last; }
    // Sum of every byte fed, the empty slots' 0xFF included (as the device's
    // documentation has it), and of the events' bytes alone.
    uint8_t sumAll() const { return m_sumAll; }
    uint8_t sumEvents() const { return m_sumEvents; }

private:
    uint8_t m_sumAll = 0;
    uint8_t m_sumEvents = 0;
    int m_slot = 1;
    int m_have = 0;
    EventImage m_buf{};
    std::optional<EventImage> m_last;
};

}  // namespace cp290
