#include "link/serial_link.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/device_lock.h"
#include "platform/line_handover.h"
#include "platform/process_name.h"
#include "platform/signals.h"
#include "platform/syslog_log.h"

namespace cp290 {

namespace {

// The controller words its line errors "<Program> Error opening ...", the
// tools "<Program> Error - Error opening ...".
std::string errorPrefix(Program p)
{
    return std::string(programName(p)) + (p == Program::Quorvel ? " Error " : " Error - Error ");
}

// "brondile (process 4711)"; a holder that has not written its name yet is
// still a program of the suite.
std::string holderText(const platform::LockHolder& h)
{
    if (h.pid <= 0)
        return "another program of the suite";
    return (h.program.empty() ? std::string("a program") : h.program) + " (process " + std::to_string(h.pid) + ")";
}

void logLineError(Program p, const char* body, const std::string& path, int err)
{
    const std::string text = errorPrefix(p) + body;
    if (path.empty())
        platform::logLine(platform::format(text.c_str(), std::strerror(err), err));
    else
        platform::logLine(platform::format(text.c_str(), path.c_str(), std::strerror(err), err));
}

using Clock = LinkClock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for the descriptor to become ready; 1 ready, 0 timeout, -1 error (errno set).
int waitReady(int fd, short events, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, msLeft(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r;
        if (p.revents & events)
            return 1;
        // Hang-up or error without data: the line is gone.
        errno = (p.revents & POLLNVAL) ? EBADF : EIO;
        return -1;
    }
}

// tcdrain() alone waits without a bound: on a line whose flow control holds
// the output back (no device, CTS low) the program - and its lock on the
// line - would stay for ever. The longest frame needs under half a second at
// 600 baud; what is still queued after this is given up.
constexpr int kDrainMs = 2000;

bool drainBounded(int fd)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kDrainMs);
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) == -1 || queued <= 0)
            return tcdrain(fd) == 0;
        if (msLeft(deadline) == 0) {
            tcflush(fd, TCOFLUSH);
            errno = ETIMEDOUT;
            return false;
        }
        poll(nullptr, 0, 10);
    }
}

// A line still talking when a program takes it - the rest of an upload a
// stopped program left, a report - would be read as the reply to the first
// command. It is let go quiet first (no byte for kQuietMs), what arrives
// thrown away; a line that talks on past the longest reply's wire time is no
// CP290 finishing one. 0 when quiet, else ETIMEDOUT or the read's errno.
constexpr int kQuietMs = 60;
constexpr int kLongestReplyBytes = kReplySyncLength + 1 + kMaxEvents * 8 + 1;
constexpr int kQuietBoundMs = static_cast<int>((kLongestReplyBytes * 10 * 1000 + kLineBaud - 1) / kLineBaud);

// Whole reports among what arrives are handed on; the rest is thrown away.
template <typename OnReport>
int letLineGoQuiet(int fd, OnReport onReport)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kQuietBoundMs);
    uint8_t buf[256];
    ReportScanner scanner;
    for (;;) {
        const int w = waitReady(fd, POLLIN, kQuietMs);
        if (w == 0)
            return 0;
        if (w < 0)
            return errno;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        if (n == 0)
            return EIO;
        for (ssize_t i = 0; i < n; ++i)
            if (const auto r = scanner.feed(buf[i]))
                onReport(*r);
        if (msLeft(deadline) == 0)
            return ETIMEDOUT;
    }
}

// The process whose flock holds the file open on fd, from /proc/locks; 0
// when it cannot be told.
int lockHolder(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return 0;
    FILE* f = std::fopen("/proc/locks", "re");
    if (!f)
        return 0;
    int holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, f)) {
        char kind[16];
        int pid = 0;
        unsigned maj = 0, min = 0;
        unsigned long ino = 0;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF"
        if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", kind, &pid, &maj, &min, &ino) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && ino == st.st_ino && maj == major(st.st_dev) &&
            min == minor(st.st_dev))
            holder = pid;
    }
    std::fclose(f);
    return holder;
}

}  // namespace

void logNotResponding(Program p)
{
    platform::logLine(std::string(programName(p)) + " Error - CP290 not responding\n");
}

// ----------------------------------------------------------------- SerialLine

namespace {

// What the signal path needs to put a line back: kept outside the class so a
// handler can reach it, and termios stays out of the header.
struct OpenLine {
    volatile std::sig_atomic_t fd = -1;
    volatile std::sig_atomic_t ownExclusive = 0;  // TIOCEXCL was set by us
    termios original{};
};
constexpr int kMaxOpenLines = 4;
OpenLine g_lines[kMaxOpenLines];

void restoreLine(OpenLine& l)
{
    const int fd = l.fd;
    if (fd < 0)
        return;
    l.fd = -1;
    tcsetattr(fd, TCSANOW, &l.original);
    if (l.ownExclusive)
        ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    ::close(fd);
}

// Undoes a half-done open: exclusive use only when we set it, lock, descriptor.
class OpenGuard {
public:
    explicit OpenGuard(int fd) : m_fd(fd) {}
    ~OpenGuard()
    {
        if (m_fd < 0)
            return;
        if (m_haveAttrs)
            tcsetattr(m_fd, TCSANOW, &m_attrs);
        if (m_ownExclusive)
            ioctl(m_fd, TIOCNXCL);
        if (m_locked)
            flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
    void locked() { m_locked = true; }
    void ownExclusive() { m_ownExclusive = true; }
    void attrs(const termios& a)
    {
        m_attrs = a;
        m_haveAttrs = true;
    }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
    bool m_locked = false;
    bool m_ownExclusive = false;
    bool m_haveAttrs = false;
    termios m_attrs{};
};

}  // namespace

void restoreOpenLines()
{
    for (auto& l : g_lines)
        restoreLine(l);
}

std::optional<int> startLineProgram(int argc, char** argv, platform::ProgramStart start)
{
    start.cleanup = restoreOpenLines;
    return platform::startProgram(argc, argv, start);
}

int wireMs(size_t bytes)
{
    return static_cast<int>((bytes * 10 * 1000 + kLineBaud - 1) / kLineBaud);
}

SerialLine::SerialLine(Program program) : m_program(program) {}

SerialLine::~SerialLine()
{
    close();
}

int lineWaitMs(Program p)
{
    if (const char* env = std::getenv("CP290_LINE_WAIT_MS")) {
        char* end = nullptr;
        const long ms = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && ms >= 0 && ms <= kCronLineWaitMs)
            return static_cast<int>(ms);
    }
    return p == Program::Quorvel ? kPersonLineWaitMs : kCronLineWaitMs;
}

LinkResult SerialLine::takeLineLock(const std::string& path)
{
    const int waitMs = m_waitMs >= 0 ? m_waitMs : lineWaitMs(m_program);
    const std::string self = platform::processName(getpid());
    const platform::DeviceLock::Result r =
        m_lock.take(path, self.empty() ? programName(m_program) : self, waitMs, [&](const platform::LockHolder& h) {
            // A watcher holding the line lets go when asked; nobody else is.
            if (platform::askWatcherToLetGo(path) || m_waitMs >= 0)
                return;
            platform::logLine(std::string(programName(m_program)) + " - waiting for the CP290 line held by " +
                              holderText(h) + "\n");
        });
    switch (r) {
    case platform::DeviceLock::Result::Taken:
        return {};
    case platform::DeviceLock::Result::Interrupted:
        return {LinkStatus::Cancelled, EINTR};
    case platform::DeviceLock::Result::TimedOut: {
        logLineError(m_program,
                     platform::format("opening serial port %%s - in use by %s; gave up after %d s of waiting.\n",
                                      holderText(m_lock.holder()).c_str(), (waitMs + 999) / 1000)
                         .c_str(),
                     path, EBUSY);
        return {LinkStatus::OpenFailed, EBUSY, m_lock.holder().pid};
    }
    case platform::DeviceLock::Result::Failed:
        break;
    }
    // This process holds the line already: the second open fails at once, as
    // the line's own lock would make it.
    if (m_lock.error() == EDEADLK) {
        logLineError(m_program, "setting TIOCEXCL on %s - %s(%d).\n", path, EBUSY);
        return {LinkStatus::OpenFailed, EBUSY, static_cast<int>(getpid())};
    }
    // No lock folder to be had: the line's own lock and exclusive use still
    // keep two programs apart; only the waiting turn is lost.
    return {};
}

bool SerialLine::clearAbandonedExclusive(int fd, const std::string& path)
{
    const platform::LockHolder& left = m_lock.previous();
    if (!m_lock.held() || geteuid() != 0 || left.pid <= 0 || left.pid == getpid() || left.running())
        return false;
    if (ioctl(fd, TIOCNXCL) != 0)
        return false;
    platform::logf("%s - exclusive use of %s was left set by %s, which no longer runs; cleared.\n",
                   programName(m_program), path.c_str(), holderText(left).c_str());
    return true;
}

LinkResult SerialLine::open(const std::string& path)
{
    close();
    m_loggedOnce = false;
    m_lastStatus.reset();
    auto failed = [&](const char* body, int err) {
        logLineError(m_program, body, path, err);
        m_lock.release();
        return LinkResult{LinkStatus::OpenFailed, err};
    };
    int slot = 0;
    while (slot < kMaxOpenLines && g_lines[slot].fd >= 0)
        ++slot;
    if (slot == kMaxOpenLines)
        return failed("opening serial port %s - %s(%d).\n", EMFILE);
    if (const LinkResult taken = takeLineLock(path); !taken.ok())
        return taken;
    // Non-blocking: a line without carrier must not hang the open, and every
    // later wait is bounded by poll() instead of a blocking call. O_NOCTTY keeps
    // the device from becoming a cron tool's controlling terminal.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed("opening serial port %s - %s(%d).\n", errno);
    OpenGuard g(fd);
    // TIOCEXCL does not stop root; the lock keeps every other program off the
    // line. It is taken first: exclusive use is a flag of the line, not of our
    // descriptor, so an open that loses the race must not touch it.
    if (flock(fd, LOCK_EX | LOCK_NB) == -1) {
        if (errno != EWOULDBLOCK)
            return failed("setting TIOCEXCL on %s - %s(%d).\n", errno);
        LinkResult r = failed("setting TIOCEXCL on %s - %s(%d).\n", EBUSY);
        r.holderPid = lockHolder(fd);
        return r;
    }
    g.locked();
    // Root passes TIOCEXCL: ask first, so a holder that set it without a
    // lock (a terminal program) keeps its line - and its flag.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive && !clearAbandonedExclusive(fd, path))
        return failed("setting TIOCEXCL on %s - %s(%d).\n", EBUSY);
    if (ioctl(fd, TIOCEXCL) == -1)
        return failed("setting TIOCEXCL on %s - %s(%d).\n", errno);
    g.ownExclusive();
    termios attrs{};
    if (tcgetattr(fd, &attrs) == -1)
        return failed("getting tty attributes %s - %s(%d).\n", errno);
    g.attrs(attrs);
    termios raw = attrs;
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 10;
    cfsetspeed(&raw, B600);
    if (tcsetattr(fd, TCSANOW, &raw) == -1)
        return failed("setting tty attributes %s - %s(%d).\n", errno);
    // Stale input (the checksum that ends an upload, unsolicited reports) would
    // otherwise be taken for the next command's reply.
    tcflush(fd, TCIFLUSH);
    if (const int err = letLineGoQuiet(fd, [this](const Report& r) { handReport(r); })) {
        platform::logf("%s Error - the line %s is still talking after %d s: no CP290 finishing a reply; "
                       "nothing sent.\n",
                       programName(m_program), path.c_str(), (kQuietBoundMs + 999) / 1000);
        m_lock.release();
        return {LinkStatus::BadReply, err};
    }
    OpenLine& l = g_lines[slot];
    l.original = attrs;
    l.ownExclusive = 1;
    l.fd = g.release();
    m_fd = fd;
    m_slot = slot;
    m_path = path;
    return {};
}

void SerialLine::adoptStream(int fd)
{
    close();
    m_fd = fd;
    m_stream = true;
    m_loggedOnce = false;
    m_lastStatus.reset();
}

namespace {
ReportSink g_programSink;
}  // namespace

void setProgramReportSink(ReportSink sink)
{
    g_programSink = std::move(sink);
}

void SerialLine::handReport(const Report& r, bool direct, std::optional<ClockReply> deviceClock)
{
    const SeenReport seen{r, std::time(nullptr), direct, deviceClock};
    if (m_sink)
        m_sink(seen);
    else if (g_programSink)
        g_programSink(seen);
}

size_t SerialLine::collectReports()
{
    if (m_fd < 0)
        return 0;
    ReportScanner scanner;
    size_t got = 0;
    uint8_t b = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(wireMs(kReportLength));
    for (;;) {
        if (readWaiting(&b, 1) == 0) {
            if (!scanner.inMessage() || msLeft(deadline) == 0 || waitReady(m_fd, POLLIN, msLeft(deadline)) <= 0)
                return got;
            continue;
        }
        ++got;
        if (const auto r = scanner.feed(b))
            handReport(*r);
    }
}

void SerialLine::close()
{
    if (m_fd >= 0 && m_stream) {
        ::close(m_fd);
        m_fd = -1;
        m_stream = false;
        return;
    }
    if (m_fd < 0)
        return;
    OpenLine& l = g_lines[m_slot];
    // A report that came after the last reply is kept, not left to the next open's flush.
    collectReports();
    if (!drainBounded(m_fd))
        logLineError(m_program, "waiting for drain - %s(%d).\n", {}, errno);
    if (tcsetattr(m_fd, TCSANOW, &l.original) == -1)
        logLineError(m_program, "resetting tty attributes - %s(%d).\n", {}, errno);
    // Exclusive use is a flag of the line: left set, it would keep every
    // non-root program out after we leave.
    if (l.ownExclusive)
        ioctl(m_fd, TIOCNXCL);
    flock(m_fd, LOCK_UN);
    l.fd = -1;  // a signal from here on finds nothing left to undo
    ::close(m_fd);
    m_fd = -1;
    m_slot = -1;
    m_lock.release();
}
LinkResult SerialLine::writeFrame(const Frame& frame)
{
    LinkResult r;
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(m_fd, frame.data() + done, frame.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            r = {LinkStatus::WriteFailed, errno};
            break;
        }
        // Output queue full (flow control holding us back): wait, bounded.
        const int w = waitReady(m_fd, POLLOUT, kReplyIdleMs);
        if (w <= 0) {
            r = {LinkStatus::WriteFailed, w == 0 ? ETIMEDOUT : errno};
            break;
        }
    }
    if (!r.ok()) {
        platform::logf("%s Error writing to CP290 - %s(%d).\n", programName(m_program),
                       std::strerror(r.error), r.error);
        // Whatever is stuck in the output queue would make the close wait for it.
        tcflush(m_fd, TCOFLUSH);
    }
    return r;
}

bool SerialLine::waitForInput(int ms)
{
    return m_fd >= 0 && waitReady(m_fd, POLLIN, ms) > 0;
}

LinkResult SerialLine::readByte(uint8_t& b, int idleMs, LinkClock::time_point deadline)
{
    for (;;) {
        if (platform::stopRequested())
            return {LinkStatus::Cancelled, EINTR};
        const int left = std::min(idleMs, msLeft(deadline));
        if (left <= 0)
            return {LinkStatus::Timeout, ETIMEDOUT};
        const int w = waitReady(m_fd, POLLIN, left);
        if (w < 0)
            return {LinkStatus::Timeout, errno};
        if (w == 0) {
            if (msLeft(deadline) > 0 && left < idleMs)
                continue;
            return {LinkStatus::Timeout, ETIMEDOUT};
        }
        const ssize_t r = ::read(m_fd, &b, 1);
        if (r == 1)
            return {};
        // Nothing to read although poll() said there was: the line was hung
        // up (adapter pulled out) and will stay so.
        if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            return {LinkStatus::Timeout, r == 0 ? EIO : errno};
    }
}

void SerialLine::logOncePerOpen(const std::string& line)
{
    if (m_loggedOnce)
        return;
    m_loggedOnce = true;
    platform::logLine(line);
}

size_t SerialLine::readWaiting(uint8_t* buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(m_fd, buf + got, n - got);
        if (r > 0)
            got += static_cast<size_t>(r);
        else if (!(r < 0 && errno == EINTR))
            break;
    }
    return got;
}

size_t SerialLine::readUpTo(uint8_t* buf, size_t n, int totalMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    size_t got = 0;
    while (got < n) {
        const int left = msLeft(deadline);
        if (left <= 0 || waitReady(m_fd, POLLIN, left) <= 0)
            break;
        const ssize_t r = ::read(m_fd, buf + got, n - got);
        if (r > 0)
            got += static_cast<size_t>(r);
        else if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            break;  // hung up (see readByte) or failed
    }
    return got;
}

std::string failureText(const LinkResult& r)
{
    switch (r.status) {
    case LinkStatus::OpenFailed: return "could not open the serial device";
    case LinkStatus::WriteFailed: return "writing to the CP290 failed";
    case LinkStatus::Timeout: return "the CP290 did not answer";
    case LinkStatus::BadReply: return "the CP290's reply was not valid";
    case LinkStatus::Cancelled: return "stopped before the end";
    case LinkStatus::NoReport: return "the CP290 acknowledged but never reported sending the command";
    case LinkStatus::Ok: break;
    }
    return "the CP290 failed";
}

}  // namespace cp290
