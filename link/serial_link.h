#pragma once
// The serial line to the CP290, held for one operation at a time.
//
// Principles of operation: SerialLine::open() opens the device read/write,
// takes exclusive use (flock, so root is kept out too, then TIOCEXCL), saves
// the line's settings, applies raw 600 baud with VMIN 0 / VTIME 10 and throws
// away stale input. close() - also run by the destructor, so every path out of
// an operation restores the line - drains output, writes the saved settings
// back, releases the lock and closes. Every wait for reply bytes is bounded and
// sleeps in poll(); a reply wait ends after kReplyIdleMs without a new byte.
// Failures are logged in the wording of the program that owns the line.
#include <array>
#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

#include "link/cp290_protocol.h"
#include "platform/program.h"

namespace cp290 {

using platform::Program;
using platform::programName;

constexpr int kReplyIdleMs = 5000;      // no new byte for this long: the device is gone
constexpr int kSelfTestTotalMs = 20000; // the self test's own bound
constexpr int kTrailingByteMs = 250;    // an upload's closing checksum byte, 15 byte times

// BadReply: bytes came but were not the reply (sync, checksum, ranges, an
// echo). Cancelled: the caller's progress callback asked to stop.
enum class LinkStatus { Ok, OpenFailed, WriteFailed, Timeout, BadReply, Cancelled };

struct LinkResult {
    LinkStatus status = LinkStatus::Ok;
    int error = 0;  // errno where the system gave one
    bool ok() const { return status == LinkStatus::Ok; }
};

// The device search: entries 1..10 of allPath receive the listed devices in
// order (entry 0 is never used); numPorts counts every listed device, also one
// without a usable path; devices beyond the tenth are ignored.
class DeviceTable {
public:
    static constexpr int kMaxPorts = 10;
    static constexpr size_t kPathMax = 1024;  // room of one entry, terminator included

    void search();
    void setDevices(const std::vector<std::string>& devices);  // the search, from a given listing

    int numPorts() const { return m_numPorts; }
    const std::string& path(int index) const;  // "" outside 1..numPorts
    bool anyUsable() const;                    // at least one entry holds a path

    // Tools: index of the first device whose path begins with `stored`; 0 when none.
    int findPrefix(const std::string& stored) const;
    // Controller: clamp the stored port number to numPorts, then prefer the
    // entry equal (whole string) to the stored path. Returns the chosen index.
    int chooseControllerPort(int storedPort, const std::string& storedPath) const;

private:
    std::array<std::string, kMaxPorts + 1> m_allPath;
    int m_numPorts = 0;
};

class SerialLine {
public:
    explicit SerialLine(Program program);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Logs the program's own text on failure and returns false.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    Program program() const { return m_program; }

    // One write of the whole frame; logs "<P> Error writing to CP290 - ..." on failure.
    LinkResult writeFrame(const Frame& frame);
    // Reads exactly n bytes; fails when no new byte came for idleMs (logged as
    // "<P> Error - CP290 not responding" unless quiet).
    LinkResult readExact(uint8_t* buf, size_t n, int idleMs = kReplyIdleMs, bool quiet = false);
    // Reads up to n bytes within totalMs in all; returns how many came (never logs).
    size_t readUpTo(uint8_t* buf, size_t n, int totalMs);

    // Bytes written and read since open (benchmarks).
    size_t bytesWritten() const { return m_written; }
    size_t bytesRead() const { return m_read; }

private:
    Program m_program;
    int m_fd = -1;
    bool m_locked = false;
    bool m_haveAttrs = false;
    termios m_original{};
    std::string m_path;
    size_t m_written = 0;
    size_t m_read = 0;
};

void logNotResponding(Program p);

}  // namespace cp290
