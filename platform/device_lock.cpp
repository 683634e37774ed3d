#include "platform/device_lock.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/process_name.h"
#include "platform/signals.h"

namespace platform {

namespace {

// Paths of the lock files this process holds: flock() conflicts between two
// descriptors of one process too, so a second take here would wait for itself.
std::mutex g_heldMutex;
std::set<std::string> g_held;
pid_t g_heldBy = 0;  // a forked child holds none of its parent's locks

std::set<std::string>& heldHere()
{
    if (g_heldBy != getpid()) {
        g_held.clear();
        g_heldBy = getpid();
    }
    return g_held;
}

// After the deadline the timer keeps firing at this pace, so a wake-up that
// came just before flock() was entered again cannot leave the wait unbounded.
constexpr long kRepeatNs = 200L * 1000 * 1000;

int wakeSignal()
{
    return SIGRTMIN + 5;
}

void onWake(int) {}

std::string escapedName(const std::string& resolved)
{
    std::string name = "cp290-";
    for (size_t i = resolved.front() == '/' ? 1 : 0; i < resolved.size(); ++i) {
        const char c = resolved[i];
        if (c == '/')
            name += '_';
        else if (c == '_')
            name += "__";
        else
            name += c;
    }
    return name + ".lock";
}

bool writableFolder(const std::string& folder)
{
    struct stat st {};
    return !folder.empty() && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(folder.c_str(), W_OK | X_OK) == 0;
}

LockHolder parseHolder(const char* text, size_t n)
{
    LockHolder h;
    std::string s(text, n);
    const size_t space = s.find(' ');
    const size_t end = s.find('\n');
    if (space == std::string::npos || end == std::string::npos || space == 0 || end < space)
        return h;
    char* stop = nullptr;
    const long pid = std::strtol(s.c_str(), &stop, 10);
    if (stop != s.c_str() + space || pid <= 0 || pid > INT_MAX)
        return h;
    h.pid = static_cast<int>(pid);
    h.program = s.substr(space + 1, end - space - 1);
    return h;
}

// The file's text, bounded: a holder line is short, anything longer is not ours.
LockHolder readHolder(int fd)
{
    char buf[128];
    const ssize_t n = pread(fd, buf, sizeof buf, 0);
    return n > 0 ? parseHolder(buf, static_cast<size_t>(n)) : LockHolder{};
}

// flock(LOCK_EX) that gives up at the deadline or when the program is asked to end.
DeviceLock::Result waitForLock(int fd, int waitMs)
{
    struct sigaction wake {}, old {};
    wake.sa_handler = onWake;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0;  // no SA_RESTART: the signal must end flock()
    sigaction(wakeSignal(), &wake, &old);
    sigset_t unblock, oldMask;
    sigemptyset(&unblock);
    sigaddset(&unblock, wakeSignal());
    pthread_sigmask(SIG_UNBLOCK, &unblock, &oldMask);

    sigevent ev {};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = wakeSignal();
    ev._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
    timer_t timer {};
    DeviceLock::Result result = DeviceLock::Result::Failed;
    if (timer_create(CLOCK_MONOTONIC, &ev, &timer) == 0) {
        itimerspec when {};
        when.it_value.tv_sec = waitMs / 1000;
        when.it_value.tv_nsec = static_cast<long>(waitMs % 1000) * 1000000L;
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
            when.it_value.tv_nsec = 1;
        when.it_interval.tv_nsec = kRepeatNs;
        timespec deadline {};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += when.it_value.tv_sec;
        deadline.tv_nsec += when.it_value.tv_nsec;
        if (deadline.tv_nsec >= 1000000000L) {
            ++deadline.tv_sec;
            deadline.tv_nsec -= 1000000000L;
        }
        timer_settime(timer, 0, &when, nullptr);
        for (;;) {
            if (flock(fd, LOCK_EX) == 0) {
                result = DeviceLock::Result::Taken;
                break;
            }
            if (errno != EINTR) {
                result = DeviceLock::Result::Failed;
                break;
            }
            if (stopRequested()) {
                result = DeviceLock::Result::Interrupted;
                break;
            }
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
                result = DeviceLock::Result::TimedOut;
                break;
            }
        }
        timer_delete(timer);
    }
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(wakeSignal(), &old, nullptr);
    return result;
}

}  // namespace

bool LockHolder::running() const
{
    if (pid <= 0)
        return false;
    if (kill(pid, 0) != 0 && errno != EPERM)
        return false;
    // A process ID is reused: the process must still be the program named.
    const std::string name = processName(pid);
    return !name.empty() && name == program.substr(0, name.size());
}

std::string deviceLockPath(const std::string& device)
{
    if (device.empty())
        return {};
    char resolved[PATH_MAX];
    const std::string key = realpath(device.c_str(), resolved) ? std::string(resolved) : device;
    const char* const folders[] = {"/run/lock", std::getenv("XDG_RUNTIME_DIR")};
    for (const char* folder : folders) {
        if (folder && writableFolder(folder))
            return std::string(folder) + "/" + escapedName(key);
    }
    return {};
}

LockHolder lockFileHolder(const std::string& lockPath)
{
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    const LockHolder h = readHolder(fd);
    ::close(fd);
    return h;
}

LockHolder abandonedHolder(const std::string& device)
{
    const std::string path = deviceLockPath(device);
    if (path.empty())
        return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    LockHolder h = readHolder(fd);
    if (h.pid <= 0 || h.running() || flock(fd, LOCK_SH | LOCK_NB) != 0)
        h = {};
    ::close(fd);  // drops the probe's shared lock
    return h;
}

DeviceLock::~DeviceLock()
{
    release();
}

DeviceLock::Result DeviceLock::takeWith(const std::string& device, const std::string& program, int waitMs,
                                        void (*call)(void*, const LockHolder&), void* context)
{
    const std::string path = deviceLockPath(device);
    if (path.empty()) {
        release();
        m_error = ENOENT;
        m_holder = m_previous = {};
        return Result::Failed;
    }
    // Every user of the suite takes the same lock of a device, whoever made it.
    return takePath(path, 0666, program, waitMs, call, context);
}

DeviceLock::Result DeviceLock::takePath(const std::string& path, unsigned mode, const std::string& program,
                                        int waitMs, void (*call)(void*, const LockHolder&), void* context)
{
    release();
    m_error = 0;
    m_holder = m_previous = {};
    m_path = path;
    {
        std::lock_guard<std::mutex> g(g_heldMutex);
        if (heldHere().count(m_path)) {
            m_error = EDEADLK;
            m_holder = {static_cast<int>(getpid()), program};
            return Result::Failed;
        }
    }
    // Never through a link, never a FIFO someone left in the lock folder.
    int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0 && errno == EACCES)
        fd = ::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return Result::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        m_error = EINVAL;
        return Result::Failed;
    }
    if (st.st_uid == geteuid() && (st.st_mode & 0777) != mode)
        fchmod(fd, mode);

    Result r = Result::Taken;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            m_error = errno;
            ::close(fd);
            return Result::Failed;
        }
        m_holder = readHolder(fd);
        call(context, m_holder);
        r = waitForLock(fd, waitMs);
        if (r != Result::Taken) {
            m_error = r == Result::TimedOut ? EBUSY : r == Result::Interrupted ? EINTR : errno;
            // The holder may have changed during the wait: name the one now.
            if (const LockHolder now = readHolder(fd); now.pid > 0)
                m_holder = now;
            ::close(fd);
            return r;
        }
    }
    m_previous = readHolder(fd);
    const std::string text = std::to_string(getpid()) + " " + program + "\n";
    if (ftruncate(fd, 0) == 0)
        [[maybe_unused]] ssize_t n = pwrite(fd, text.data(), text.size(), 0);
    m_fd = fd;
    std::lock_guard<std::mutex> g(g_heldMutex);
    heldHere().insert(m_path);
    return Result::Taken;
}

void DeviceLock::release()
{
    if (m_fd < 0)
        return;
    // Empty: nobody holds the line, and nothing was left behind by a holder.
    [[maybe_unused]] int t = ftruncate(m_fd, 0);
    flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    std::lock_guard<std::mutex> g(g_heldMutex);
    heldHere().erase(m_path);
}

}  // namespace platform
