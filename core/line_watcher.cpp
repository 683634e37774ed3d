#include "core/line_watcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "core/direct_command.h"
#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/device_lock.h"
#include "platform/signals.h"

namespace core {

namespace {

constexpr int kFirstBackoffMs = 1000;
constexpr int kLastBackoffMs = 30000;
// Taking the line back waits as long as any operation of another program may take.
constexpr int kRetakeWaitMs = 10 * 60 * 1000;
// How long the asker may take to pick up the line let go.
constexpr int kHandOverMs = 1000;

}  // namespace

LineWatcher::LineWatcher(platform::Program who, std::string device, Hooks hooks)
    : m_who(who), m_device(std::move(device)), m_hooks(std::move(hooks))
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

LineWatcher::~LineWatcher()
{
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

bool LineWatcher::takeSeat()
{
    return m_seat.take(m_device);
}

void LineWatcher::stop()
{
    m_stop = true;
    const char b = 's';
    if (m_wake[1] >= 0)
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &b, 1);
}

bool LineWatcher::stopWithin(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop && !platform::stopRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{m_wake[0], POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 500)));
    }
    return true;
}

void LineWatcher::run()
{
    const auto say = [this](const std::string& s) {
        if (m_hooks.say)
            m_hooks.say(s);
    };
    int backoff = kFirstBackoffMs;
    bool away = false;
    bool memoryLost = false;
    while (!m_stop && !platform::stopRequested()) {
        cp290::SerialLine line(m_who);
        line.setLineWaitMs(kRetakeWaitMs);
        const cp290::LinkResult opened = line.open(m_device);
        if (opened.status == cp290::LinkStatus::Cancelled)
            return;
        if (!opened.ok()) {
            if (opened.error == EBUSY && !away) {
                if (stopWithin(kFirstBackoffMs))
                    return;
                continue;
            }
            say("the CP290 line " + m_device + " cannot be opened (" + std::strerror(opened.error) +
                "); trying again in " + std::to_string(backoff / 1000) + " s");
            away = true;
            if (stopWithin(backoff))
                return;
            backoff = std::min(backoff * 2, kLastBackoffMs);
            continue;
        }
        if (away)
            say("the CP290 line " + m_device + " is open again");
        away = false;
        backoff = kFirstBackoffMs;
        if (m_hooks.afterLineTaken)
            m_hooks.afterLineTaken();

        cp290::ReportScanner scanner;
        bool letGo = false;
        while (!letGo && !away && !m_stop && !platform::stopRequested()) {
            pollfd p[3] = {{line.fd(), POLLIN, 0}, {m_seat.fd(), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(p, 3, 1000) < 0 && errno != EINTR)
                break;
            if (p[0].revents & POLLIN) {
                uint8_t buf[64];
                const size_t n = line.readWaiting(buf, sizeof buf);
                for (size_t i = 0; i < n; ++i) {
                    const auto r = scanner.feed(buf[i]);
                    if (!r)
                        continue;
                    // Which event sent it depends on the device's own minute.
                    std::optional<cp290::ClockReply> clock;
                    if (knownEventsSet()) {
                        cp290::ClockReply c;
                        if (cp290::requestClock(line, c).ok())
                            clock = c;
                    }
                    line.handReport(*r, false, clock);
                    if (r->status == 0 && !memoryLost)
                        say("the CP290 reports its memory lost (status 0); the cron tools and the controller "
                            "restore its events");
                    memoryLost = r->status == 0;
                }
                // Readable yet nothing to read: the line was hung up.
                away = n == 0;
            } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                away = true;
            }
            if (p[1].revents & POLLIN) {
                m_seat.takeRequests();
                // A report begun is read to its end before the line goes.
                uint8_t b = 0;
                while (scanner.inMessage() && line.readUpTo(&b, 1, cp290::wireMs(cp290::kReportLength)) == 1)
                    if (const auto r = scanner.feed(b))
                        line.handReport(*r);
                letGo = true;
            }
        }
        line.close();
        if (away) {
            say("the CP290 line " + m_device + " went away; trying again in " + std::to_string(backoff / 1000) + " s");
            if (stopWithin(backoff))
                return;
            backoff = std::min(backoff * 2, kLastBackoffMs);
            continue;
        }
        if (!letGo)
            continue;
        // Until the asker holds the lock (its file names it), bounded.
        const std::string lockPath = platform::deviceLockPath(m_device);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandOverMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const platform::LockHolder h = platform::lockFileHolder(lockPath);
            if (h.pid > 0 && h.pid != ::getpid())
                break;
            if (stopWithin(10))
                return;
        }
    }
}

}  // namespace core
