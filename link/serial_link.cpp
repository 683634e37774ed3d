#include "link/serial_link.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/serial_devices.h"
#include "platform/syslog_log.h"

namespace cp290 {

namespace {

// The controller words its line errors "Quorvel Error opening ...", the tools
// "Tamsel Error - Error opening ...".
std::string errorPrefix(Program p)
{
    if (p == Program::Quorvel)
        return "Quorvel Error ";
    return std::string(programName(p)) + " Error - Error ";
}

void logLineError(Program p, const char* body, const std::string& path, int err)
{
    const std::string text = errorPrefix(p) + body;
    if (path.empty())
        platform::logLine(platform::format(text.c_str(), std::strerror(err), err));
    else
        platform::logLine(platform::format(text.c_str(), path.c_str(), std::strerror(err), err));
}

using Clock = std::chrono::steady_clock;

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

}  // namespace

void logNotResponding(Program p)
{
    platform::logLine(std::string(programName(p)) + " Error - CP290 not responding\n");
}

// ---------------------------------------------------------------- DeviceTable

void DeviceTable::search()
{
    setDevices(platform::listSerialDevices());
}

void DeviceTable::setDevices(const std::vector<std::string>& devices)
{
    for (auto& e : m_allPath)
        e.clear();
    m_numPorts = 0;
    for (const auto& dev : devices) {
        if (m_numPorts >= kMaxPorts)
            break;
        ++m_numPorts;
        // A path that does not fit an entry counts as one that did not convert.
        if (dev.size() < kPathMax)
            m_allPath[static_cast<size_t>(m_numPorts)] = dev;
    }
}

const std::string& DeviceTable::path(int index) const
{
    static const std::string none;
    if (index < 1 || index > m_numPorts)
        return none;
    return m_allPath[static_cast<size_t>(index)];
}

bool DeviceTable::anyUsable() const
{
    for (int i = 1; i <= m_numPorts; ++i)
        if (!m_allPath[static_cast<size_t>(i)].empty())
            return true;
    return false;
}

int DeviceTable::findPrefix(const std::string& stored) const
{
    if (stored.empty())
        return 0;
    for (int i = 1; i <= m_numPorts; ++i) {
        const std::string& p = m_allPath[static_cast<size_t>(i)];
        if (!p.empty() && p.compare(0, stored.size(), stored) == 0)
            return i;
    }
    return 0;
}

int DeviceTable::chooseControllerPort(int storedPort, const std::string& storedPath) const
{
    int cur = storedPort;
    if (cur > m_numPorts && m_numPorts >= 1)
        cur = m_numPorts;
    if (cur < 1)
        cur = 1;  // a stored 0 or negative number would index outside the table
    if (!storedPath.empty()) {
        for (int i = 1; i <= m_numPorts; ++i) {
            if (m_allPath[static_cast<size_t>(i)] == storedPath) {
                cur = i;
                break;
            }
        }
    }
    return cur;
}

// ----------------------------------------------------------------- SerialLine

SerialLine::SerialLine(Program program) : m_program(program) {}

SerialLine::~SerialLine()
{
    close();
}

bool SerialLine::open(const std::string& path)
{
    close();
    m_written = m_read = 0;
    // Non-blocking: a line without carrier must not hang the open, and every
    // later wait is bounded by poll() instead of a blocking call. O_NOCTTY keeps
    // the device from becoming a cron tool's controlling terminal.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        logLineError(m_program, "opening serial port %s - %s(%d).\n", path, errno);
        return false;
    }
    // TIOCEXCL does not stop root; the lock keeps every other program off the
    // line. It is taken first: exclusive use is a flag of the line, not of our
    // descriptor, so an open that loses the race must not touch it (clearing
    // it would open the holder's line to everybody).
    if (flock(fd, LOCK_EX | LOCK_NB) == -1) {
        logLineError(m_program, "setting TIOCEXCL on %s - %s(%d).\n", path, errno);
        ::close(fd);
        return false;
    }
    if (ioctl(fd, TIOCEXCL) == -1) {
        logLineError(m_program, "setting TIOCEXCL on %s - %s(%d).\n", path, errno);
        flock(fd, LOCK_UN);
        ::close(fd);
        return false;
    }
    termios attrs{};
    if (tcgetattr(fd, &attrs) == -1) {
        logLineError(m_program, "getting tty attributes %s - %s(%d).\n", path, errno);
        flock(fd, LOCK_UN);
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    termios raw = attrs;
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 10;
    cfsetspeed(&raw, B600);
    if (tcsetattr(fd, TCSANOW, &raw) == -1) {
        logLineError(m_program, "setting tty attributes %s - %s(%d).\n", path, errno);
        tcsetattr(fd, TCSANOW, &attrs);
        flock(fd, LOCK_UN);
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    // Stale input (the checksum that ends an upload, unsolicited reports) would
    // otherwise be taken for the next command's reply.
    tcflush(fd, TCIFLUSH);
    m_fd = fd;
    m_locked = true;
    m_haveAttrs = true;
    m_original = attrs;
    m_path = path;
    return true;
}

void SerialLine::close()
{
    if (m_fd < 0)
        return;
    if (!drainBounded(m_fd))
        logLineError(m_program, "waiting for drain - %s(%d).\n", {}, errno);
    if (m_haveAttrs && tcsetattr(m_fd, TCSANOW, &m_original) == -1)
        logLineError(m_program, "resetting tty attributes - %s(%d).\n", {}, errno);
    // Clear exclusive use explicitly: another holder of the line (an emulator,
    // a terminal program) would otherwise keep everybody out after we leave.
    ioctl(m_fd, TIOCNXCL);
    if (m_locked)
        flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_locked = false;
    m_haveAttrs = false;
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
    m_written += done;
    if (!r.ok()) {
        platform::logf("%s Error writing to CP290 - %s(%d).\n", programName(m_program),
                       std::strerror(r.error), r.error);
        // Whatever is stuck in the output queue would make the close wait for it.
        tcflush(m_fd, TCOFLUSH);
    }
    return r;
}

LinkResult SerialLine::readExact(uint8_t* buf, size_t n, int idleMs, bool quiet)
{
    size_t got = 0;
    while (got < n) {
        const int w = waitReady(m_fd, POLLIN, idleMs);
        if (w <= 0) {
            const int err = w == 0 ? ETIMEDOUT : errno;
            if (!quiet)
                logNotResponding(m_program);
            m_read += got;
            return {LinkStatus::Timeout, err};
        }
        const ssize_t r = ::read(m_fd, buf + got, n - got);
        if (r > 0)
            got += static_cast<size_t>(r);
        else if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Nothing to read although poll() said there was: the line was
            // hung up (adapter pulled out) and will stay so.
            const int err = r == 0 ? EIO : errno;
            if (!quiet)
                logNotResponding(m_program);
            m_read += got;
            return {LinkStatus::Timeout, err};
        }
    }
    m_read += got;
    return {};
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
            break;  // hung up (see readExact) or failed
    }
    m_read += got;
    return got;
}

}  // namespace cp290
