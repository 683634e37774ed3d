#include "cp290-mqtt/watched_line.h"

#include <cerrno>

#include "core/direct_command.h"
#include "platform/signals.h"
#include "core/line_watcher.h"
#include "platform/syslog_log.h"

namespace bridge {
namespace {

constexpr int kFollowMs = 200;     // how often the log is looked at besides the hooks
constexpr int kSeatRetryMs = 2000; // another watcher's seat is tried again this often

std::optional<UnitFunction> unitFunction(uint8_t f)
{
    switch (f) {
    case cp290::FnOn: return UnitFunction::On;
    case cp290::FnOff: return UnitFunction::Off;
    case cp290::FnDim: return UnitFunction::Dim;
    }
    return std::nullopt;
}

}  // namespace

WatchedLine::WatchedLine(std::string device, QObject* parent) : UnitLine(parent), m_device(std::move(device))
{
    m_follower.skipToEnd();
    // Whatever thread a report is read on, the log is read here.
    core::recordReports(platform::Program::Bridge, [this](const state::PowerlineEntry&) {
        QMetaObject::invokeMethod(this, &WatchedLine::readLog, Qt::QueuedConnection);
    });
    m_hooks.say = [this](const std::string& s) {
        platform::logf("cp290-mqtt: %s.\n", s.c_str());
        // "... cannot be opened (...); trying again", "... went away; trying again"
        if (s.find("trying again") != std::string::npos)
            QMetaObject::invokeMethod(this, [this] { setAnswering(false); }, Qt::QueuedConnection);
    };
    m_hooks.afterLineTaken = [this] {
        QMetaObject::invokeMethod(this, [this] { setAnswering(true); readLog(); }, Qt::QueuedConnection);
    };
    connect(&m_follow, &QTimer::timeout, this, &WatchedLine::readLog);
    m_follow.start(kFollowMs);
    m_worker = std::thread([this] { work(); });
}

WatchedLine::~WatchedLine()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
        if (m_watcher)
            m_watcher->stop();
    }
    m_wake.notify_all();
    m_worker.join();
    core::recordReports(platform::Program::Bridge);
}

void WatchedLine::work()
{
    bool told = false;
    while (!platform::stopRequested()) {
        std::deque<cp290::DirectCommand> batch;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return;
            batch.swap(m_queue);
        }
        for (const cp290::DirectCommand& c : batch)
            send(c);
        auto watcher = std::make_shared<core::LineWatcher>(platform::Program::Bridge, m_device, m_hooks);
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return;
            if (!m_queue.empty())
                continue;
            m_watcher = watcher;
        }
        if (watcher->takeSeat()) {
            watcher->run();  // until a command or the end stops it
        } else {
            if (!told)
                platform::logf("cp290-mqtt: another program watches %s; following its reports in the power-line log.\n",
                               m_device.c_str());
            told = true;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(kSeatRetryMs),
                            [this] { return m_stop || !m_queue.empty(); });
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_watcher.reset();
    }
}

void WatchedLine::switchUnits(int house, uint16_t units, UnitFunction function, int level)
{
    cp290::DirectCommand c;
    c.house = house;
    c.units = units;
    c.function = function == UnitFunction::Off ? cp290::FnOff : function == UnitFunction::Dim ? cp290::FnDim : cp290::FnOn;
    c.level = function == UnitFunction::Dim ? level : 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kMaxQueued) {
            platform::logf("cp290-mqtt Error - Direct command for %s dropped: %zu commands are waiting.\n",
                           core::unitsLabel(house, units).c_str(), m_queue.size());
            return;
        }
        m_queue.push_back(c);
        if (m_watcher)
            m_watcher->stop();
    }
    m_wake.notify_all();
}

void WatchedLine::send(const cp290::DirectCommand& c)
{
    cp290::Report confirmed;
    const core::OpResult r = core::sendDirectCommand(m_device, c, confirmed, platform::Program::Bridge);
    if (!r.ok())
        platform::logf("cp290-mqtt Error - Direct command for %s failed: %s.\n", core::unitsLabel(c.house, c.units).c_str(),
                       core::describe(r, m_device).c_str());
    // A line another program holds is no sign of a silent CP290.
    const bool answered = !(r.status == core::OpStatus::Timeout || r.status == core::OpStatus::WriteFailed ||
                            r.status == core::OpStatus::BadReply ||
                            (r.status == core::OpStatus::OpenFailed && r.error != EBUSY));
    QMetaObject::invokeMethod(this, [this, answered] { setAnswering(answered); }, Qt::QueuedConnection);
}

void WatchedLine::setAnswering(bool answering)
{
    if (answering == m_answering)
        return;
    m_answering = answering;
    emit answeringChanged(answering);
}

void WatchedLine::readLog()
{
    for (const state::PowerlineEntry& e : m_follower.newEntries()) {
        const std::optional<UnitFunction> f = unitFunction(e.function);
        if (!f || e.house < 1 || e.house > 16)
            continue;
        setAnswering(true);
        emit reported(UnitReport{e.house, e.units, *f, e.source, e.when});
    }
}

}  // namespace bridge
