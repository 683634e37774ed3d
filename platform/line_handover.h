#pragma once
// A long-running holder of a serial line (a watcher) that gives the line to
// any program of the suite that asks for it.
//
// Principles of operation: the watcher of a device takes a seat: a FIFO
// beside the device's lock file ("<lock file>.watch"), which it keeps open
// for reading and holds an flock on. One seat per device, so one watcher at
// a time; the kernel frees the seat when the watcher ends, however it ends.
// A program that finds the line held writes one byte into the FIFO when its
// wait begins ("wants the line"); with no watcher the FIFO has no reader and
// the open fails at once, so asking costs nothing. The watcher sees the
// FIFO readable in the same poll() that waits for the line's bytes, lets the
// line go, waits until the asker holds the lock, and takes the line back
// through the lock's ordinary wait.
#include <string>

namespace platform {

class WatcherSeat {
public:
    WatcherSeat() = default;
    ~WatcherSeat();
    WatcherSeat(const WatcherSeat&) = delete;
    WatcherSeat& operator=(const WatcherSeat&) = delete;

    // Takes the seat of `device`; false when another watcher has it or the
    // FIFO cannot be made (errno kept in error()).
    bool take(const std::string& device);
    void release();
    bool held() const { return m_fd >= 0; }
    int error() const { return m_error; }
    // Readable when a program wants the line.
    int fd() const { return m_fd; }
    // Reads every waiting request; true when there was one.
    bool takeRequests();

private:
    int m_fd = -1;
    int m_error = 0;
    std::string m_path;
};

// The FIFO of a device's seat ("" when the device has no lock file).
std::string watcherSeatPath(const std::string& device);
// True when a watcher (of another process) has the device's seat.
bool watcherRunning(const std::string& device);
// Asks the watcher of `device`, if one runs, to let the line go. True when
// one was asked. Never asks a seat this process holds.
bool askWatcherToLetGo(const std::string& device);

}  // namespace platform
