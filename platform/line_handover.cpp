#include "platform/line_handover.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/device_lock.h"

namespace platform {

namespace {
// The seat this process holds, so it never asks itself.
std::atomic<int> g_ownSeatFd{-1};
}  // namespace

std::string watcherSeatPath(const std::string& device)
{
    const std::string lock = deviceLockPath(device);
    return lock.empty() ? std::string() : lock + ".watch";
}

WatcherSeat::~WatcherSeat()
{
    release();
}

bool WatcherSeat::take(const std::string& device)
{
    release();
    m_path = watcherSeatPath(device);
    m_error = 0;
    if (m_path.empty()) {
        m_error = ENOENT;
        return false;
    }
    if (::mkfifo(m_path.c_str(), 0666) != 0 && errno != EEXIST) {
        m_error = errno;
        return false;
    }
    // Read and write: the open never waits for a writer, and the FIFO never
    // reads as ended when an asker closes it.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        m_error = fd < 0 ? errno : EINVAL;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (st.st_uid == geteuid())
        ::fchmod(fd, 0666);  // every user of the suite may ask, as every user takes the lock
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    takeRequests();  // asks left from before this watcher are nobody's now
    g_ownSeatFd = fd;
    return true;
}

void WatcherSeat::release()
{
    if (m_fd < 0)
        return;
    g_ownSeatFd = -1;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

bool WatcherSeat::takeRequests()
{
    bool any = false;
    char buf[64];
    ssize_t n = 0;
    while ((n = ::read(m_fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        any = any || n > 0;
    return any;
}

bool watcherRunning(const std::string& device)
{
    const std::string path = watcherSeatPath(device);
    if (path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool seated = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return seated;
}

bool askWatcherToLetGo(const std::string& device)
{
    if (g_ownSeatFd >= 0)
        return false;
    const std::string path = watcherSeatPath(device);
    if (path.empty())
        return false;
    // No reader (no watcher): ENXIO at once.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const char want = 'w';
    const bool asked = ::write(fd, &want, 1) == 1;
    ::close(fd);
    return asked;
}

}  // namespace platform
