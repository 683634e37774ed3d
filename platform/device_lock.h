#pragma once
// The suite's own lock on a serial device, taken before the device is opened.
//
// Principles of operation: the lock is a file named after the device's
// resolved path (so /dev/serial/by-id/... and /dev/ttyUSB0 are one line) in
// /run/lock, where serial programs keep theirs, or in $XDG_RUNTIME_DIR when
// /run/lock cannot be written. Holding the lock means holding flock(LOCK_EX)
// on that file; the kernel drops it when the holder ends, however it ends, so
// a lock is never stale. The file's text ("<pid> <program>\n") only names the
// holder for people, and tells a later taker whether the line's exclusive-use
// flag was left behind by a program of the suite that died: the text names a
// process that no longer runs. A clean release empties the text.
//
// Waiting blocks in flock() and is woken by a timer signal aimed at the
// waiting thread, so it never spins; a signal that asks the program to end
// wakes it too.
#include <string>

namespace platform {

struct LockHolder {
    int pid = 0;          // 0: the file names nobody
    std::string program;  // as the holder wrote it ("brondile")
    bool running() const;
};

// The lock file of a device ("" when neither folder can hold it).
std::string deviceLockPath(const std::string& device);

// The holder the lock file of a device names (pid 0 when none or unreadable).
LockHolder lockFileHolder(const std::string& lockPath);

// The holder the device's lock file names when that holder no longer runs
// and nobody holds the lock: a program of the suite ended without putting
// the line back (killed). pid 0 otherwise.
LockHolder abandonedHolder(const std::string& device);

class DeviceLock {
public:
    DeviceLock() = default;
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    enum class Result { Taken, TimedOut, Interrupted, Failed };

    // Takes the lock of `device` for `program`, waiting at most waitMs while
    // another process holds it. onWait runs once, with the holder, when a
    // wait begins. Failed: errno() tells why (the lock file could not be
    // made; EDEADLK when this process already holds the device's lock).
    template <typename OnWait>
    Result take(const std::string& device, const std::string& program, int waitMs, OnWait onWait)
    {
        return takeWith(device, program, waitMs, [](void* f, const LockHolder& h) { (*static_cast<OnWait*>(f))(h); },
                        &onWait);
    }
    Result take(const std::string& device, const std::string& program, int waitMs)
    {
        return take(device, program, waitMs, [](const LockHolder&) {});
    }

    // The same lock on a lock file of the user's own (the crontab's, in the
    // suite's state folder): `lockPath` itself, made with mode 0600 when new.
    template <typename OnWait>
    Result takeFile(const std::string& lockPath, const std::string& program, int waitMs, OnWait onWait)
    {
        return takePath(lockPath, 0600, program, waitMs,
                        [](void* f, const LockHolder& h) { (*static_cast<OnWait*>(f))(h); }, &onWait);
    }
    Result takeFile(const std::string& lockPath, const std::string& program, int waitMs)
    {
        return takeFile(lockPath, program, waitMs, [](const LockHolder&) {});
    }

    void release();
    bool held() const { return m_fd >= 0; }
    int error() const { return m_error; }
    // Who held the lock when the wait began or when it timed out.
    const LockHolder& holder() const { return m_holder; }
    // What the file named when the lock was taken: a holder that is not
    // running means a program of the suite ended without releasing the line.
    const LockHolder& previous() const { return m_previous; }

private:
    Result takeWith(const std::string& device, const std::string& program, int waitMs,
                    void (*call)(void*, const LockHolder&), void* context);
    Result takePath(const std::string& path, unsigned mode, const std::string& program, int waitMs,
                    void (*call)(void*, const LockHolder&), void* context);

    int m_fd = -1;
    int m_error = 0;
    std::string m_path;
    LockHolder m_holder;
    LockHolder m_previous;
};

}  // namespace platform
