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
