#pragma once
// WatchedLine: the bridge's CP290, through the suite's shared line. The
// watcher (core/line_watcher.h) holds the line on a thread of its own and
// hands it to any other program that asks (the cron tools, cp290ctl, the
// controller); every report any program's line reads reaches the power-line
// log, and this class follows that log, so a report read while another
// program held the line is not lost either. When another watcher (cp290ctl
// monitor) holds the device's seat, the log is followed all the same and the
// seat is tried again every few seconds. One thread does the line's work:
// a direct command stops its watcher (the line is this process's own, so no
// hand-over is needed), the queued commands are sent one at a time (each
// ends within core::kDirectTotalMs), and a new watcher takes the line again.
// At most kMaxQueued commands wait; later ones are refused with a log line.
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "cp290-mqtt/unit_line.h"
#include "core/line_watcher.h"
#include "link/cp290_protocol.h"
#include "state/powerline_log.h"

namespace bridge {

class WatchedLine : public UnitLine {
    Q_OBJECT
public:
    static constexpr size_t kMaxQueued = 32;

    explicit WatchedLine(std::string device, QObject* parent = nullptr);
    ~WatchedLine() override;  // stops both threads (bounded by a command in flight)

    void switchUnits(int house, uint16_t units, UnitFunction function, int level) override;
    bool answering() const override { return m_answering; }

private:
    void readLog();
    void setAnswering(bool answering);
    void work();
    void send(const cp290::DirectCommand& c);

    std::string m_device;
    bool m_answering = true;
    state::PowerlineFollower m_follower;
    QTimer m_follow;
    core::LineWatcher::Hooks m_hooks;
    std::mutex m_mutex;  // guards what follows
    std::shared_ptr<core::LineWatcher> m_watcher;  // while one watches
    std::condition_variable m_wake;
    std::deque<cp290::DirectCommand> m_queue;
    bool m_stop = false;
    std::thread m_worker;
};

}  // namespace bridge
