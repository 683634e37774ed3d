#pragma once
// Layer link/: the CP290's frames and replies and the serial line they travel
// on, for every program. Uses platform/ only.
//
// The serial line to the CP290, held for one operation at a time.
//
// Principles of operation: SerialLine::open() first takes the suite's lock
// of the device (platform/device_lock.h), waiting its turn while another
// program of the suite holds the line, then opens the device read/write,
// takes exclusive use (flock, so root is kept out too, then TIOCEXCL unless
// another holder already set it; set by a program of the suite that was
// killed - its lock file names a holder that no longer runs - a program
// running as root clears it, logged), saves the line's settings, applies raw 600
// baud with VMIN 0 / VTIME 10, throws away stale input and lets a line that
// is still talking (the rest of an upload a stopped program left) go quiet,
// bounded by the longest reply's wire time. close() - also run
// by the destructor, and by the signal path of restoreOpenLines(), so every
// way out of an operation restores the line - drains output, writes the saved
// settings back, clears exclusive use only when this program set it, releases
// the lock and closes. Every wait for reply bytes is bounded and sleeps in
// poll(): a wait ends after its idle bound without a new byte, and at the
// caller's deadline however many bytes keep coming. Failures are logged in
// the wording of the program that owns the line.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "link/cp290_protocol.h"
#include "link/device_table.h"
#include "platform/device_lock.h"
#include "platform/program.h"
#include "platform/program_start.h"

namespace cp290 {

using platform::Program;
using platform::programName;

constexpr int kReplyIdleMs = 5000;      // no new byte for this long: the device is gone
constexpr int kSelfTestTotalMs = 20000; // the self test's own bound
constexpr int kLineBaud = 600;
// How long a program waits for a line another program of the suite holds:
// a person at the controller or cp290ctl a few seconds, a cron tool up to
// five minutes (three jobs planned for one minute take turns).
// CP290_LINE_WAIT_MS shortens both (tests).
constexpr int kPersonLineWaitMs = 3000;
constexpr int kCronLineWaitMs = 5 * 60 * 1000;
int lineWaitMs(Program p);

// BadReply: bytes came but were not the reply (sync, checksum, ranges, an
// echo). Cancelled: the caller's progress callback asked to stop, or a signal
// asked the program to end.
// NoReport: a direct command was acknowledged but its report never came.
enum class LinkStatus { Ok, OpenFailed, WriteFailed, Timeout, BadReply, Cancelled, NoReport };

struct LinkResult {
    LinkStatus status = LinkStatus::Ok;
    int error = 0;  // errno where the system gave one (an open: ENOENT, EACCES, EBUSY ...)
    int holderPid = 0;  // an open that found the line locked: the holder's process, when known
    bool ok() const { return status == LinkStatus::Ok; }
    explicit operator bool() const { return ok(); }
};

using LinkClock = std::chrono::steady_clock;

// The wire time of n bytes at 600 baud (ten bits a byte), rounded up.
int wireMs(size_t bytes);

// A report the line read while a program held it: the readers skip the
// reports that are not their reply, the open finds them while it lets the
// line go quiet, the close finds them among the bytes left waiting. None is
// dropped: each goes to the line's report sink, else to the program's.
struct SeenReport {
    Report report;
    std::time_t when = 0;
    bool direct = false;  // the report of a direct command this line sent
    std::optional<ClockReply> deviceClock;  // the device's clock just after, when it was asked
};
using ReportSink = std::function<void(const SeenReport&)>;
// The program's sink, for every line without one of its own (the programs
// of the suite set it to the power-line log at start).
void setProgramReportSink(ReportSink sink);

class SerialLine {
public:
    explicit SerialLine(Program program);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Logs the program's own text on failure; the result carries the errno.
    // A line another program holds fails with EBUSY (lock or exclusive use).
    LinkResult open(const std::string& path);
    // Takes a descriptor that is not a terminal (one end of a socket pair):
    // the fuzz targets feed recorded reply streams through the same readers.
    // No lock, no settings; close() only closes it.
    void adoptStream(int fd);
    void close();
    int fd() const { return m_fd; }
    Program program() const { return m_program; }

    // One write of the whole frame; logs "<P> Error writing to CP290 - ..." on failure.
    LinkResult writeFrame(const Frame& frame);
    // Reads one byte: fails when none came for idleMs or the deadline passed
    // (Timeout, not logged: the caller knows what it was waiting for), or
    // when a signal asked the program to end (Cancelled).
    LinkResult readByte(uint8_t& b, int idleMs, LinkClock::time_point deadline);
    // True when a byte is waiting or comes within ms (nothing is read).
    bool waitForInput(int ms);
    // Reads up to n bytes that are already waiting, without waiting.
    size_t readWaiting(uint8_t* buf, size_t n);
    // Reads up to n bytes within totalMs in all; returns how many came (never logs).
    size_t readUpTo(uint8_t* buf, size_t n, int totalMs);

    // How long open() waits for a line another program holds, instead of
    // lineWaitMs(); the wait is then not logged (a watcher taking its line back).
    void setLineWaitMs(int ms) { m_waitMs = ms; }
    // Where this line's reports go instead of the program's sink.
    void setReportSink(ReportSink sink) { m_sink = std::move(sink); }
    void handReport(const Report& r, bool direct = false, std::optional<ClockReply> deviceClock = {});
    // Reads what is waiting and hands the whole reports among it; a report
    // begun is waited for, at most its wire time. Returns the bytes read.
    size_t collectReports();
    // The status byte of the last reply read since open: 1 while the CP290
    // holds programmed data, 0 once it has lost its memory (or was never
    // programmed); nullopt before the first reply. Only a reply to a command
    // that changes nothing (clock request, upload) tells the device's state
    // before this program's work; a self test's reply carries its result.
    std::optional<uint8_t> lastReplyStatus() const { return m_lastStatus; }
    void noteReplyStatus(uint8_t status) { m_lastStatus = status; }

    // Logs the line only the first time since open: stray input is worth
    // one line per operation, not one per reply.
    void logOncePerOpen(const std::string& line);

private:
    LinkResult takeLineLock(const std::string& path);
    bool clearAbandonedExclusive(int fd, const std::string& path);

    Program m_program;
    platform::DeviceLock m_lock;
    int m_fd = -1;
    int m_slot = -1;  // this line's entry in the table the signal path restores from
    std::string m_path;
    bool m_loggedOnce = false;
    bool m_stream = false;
    ReportSink m_sink;
    int m_waitMs = -1;
    std::optional<uint8_t> m_lastStatus;
};

void logNotResponding(Program p);

// A failure in a few words for people ("the CP290 did not answer"), for the
// tools' run history.
std::string failureText(const LinkResult& r);

// Restores every open line (settings, exclusive use, lock) and closes it.
// Async-signal-safe: for platform::endOnSignals().
void restoreOpenLines();

// platform::startProgram for a program that works the line from a shell or
// cron: killed by a timeout or a person, it puts every open line back as it
// was found before it ends.
std::optional<int> startLineProgram(int argc, char** argv, platform::ProgramStart start);

}  // namespace cp290
