#pragma once
// The watcher: one long-running holder of the CP290's line that reads every
// report as it comes and gives the line to any other program of the suite
// that needs it.
//
// Principles of operation: takeSeat() claims the device's watcher seat
// (platform/line_handover.h); a program that finds the seat taken follows
// the power-line log instead of taking the line (state/powerline_log.h).
// run() opens the line, listening from that moment, and sleeps in one
// poll() on the line, the seat (a program wants the line) and a wake pipe
// (stop()). Whole reports go to the line's report sink - the program's, set
// by core::recordReports(), so they reach the power-line log. When a program
// asks, a report begun is read to its end and the line is let go at once;
// the watcher waits until the asker holds the line, then takes it back
// through the lock's ordinary wait. Meanwhile the asker records what its
// line reads, so no report is lost; afterLineTaken tells the owner to read
// the log's new lines. A line that goes away (adapter unplugged) is opened
// again with a back-off of 1 s doubling to 30 s, and the watcher says so; a
// report with status 0 (memory lost) is said once, the restore left to the
// cron tools and the controller. A killed watcher leaves the line as any
// program of the suite does (the signal path restores it).
#include <atomic>
#include <functional>
#include <string>

#include "platform/line_handover.h"
#include "platform/program.h"

namespace core {

class LineWatcher {
public:
    struct Hooks {
        std::function<void(const std::string&)> say;  // a sentence for people
        std::function<void()> afterLineTaken;         // each time the line is (re)opened
    };
    LineWatcher(platform::Program who, std::string device, Hooks hooks);
    ~LineWatcher();
    LineWatcher(const LineWatcher&) = delete;
    LineWatcher& operator=(const LineWatcher&) = delete;

    // False when another watcher has the device's seat.
    bool takeSeat();
    // Watches until stop() or a signal asks the program to end.
    void run();
    // From any thread.
    void stop();

private:
    // Waits up to ms for a stop; true when one came.
    bool stopWithin(int ms);

    platform::Program m_who;
    std::string m_device;
    Hooks m_hooks;
    platform::WatcherSeat m_seat;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
};

}  // namespace core
