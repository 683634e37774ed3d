#include "core/clock_sync.h"

#include <ctime>

#include "core/device_memory.h"
#include "link/device_commands.h"
#include "link/serial_link.h"
#include "link/stored_device.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"
#include "state/run_history.h"

namespace core::clocksync {

namespace {
constexpr state::RunRecorder recordRun{state::Program::Tamsel, "tamsel"};
}  // namespace

std::string ReadPortParms()
{
    return state::storedSerialPath(state::Program::Tamsel);
}

int checkDevice(const std::string& serPath)
{
    switch (cp290::checkStoredDevice(cp290::Program::Tamsel, serPath)) {
    case cp290::StoredDevice::Found:
        return 0;
    case cp290::StoredDevice::NoPath:
        recordRun(state::RunOutcome::Failed, "no serial device stored: quit the controller once to store it");
        break;
    case cp290::StoredDevice::NotFound:
        recordRun(state::RunOutcome::Failed, "serial device " + serPath + " not found: is the adapter plugged in?");
        break;
    }
    return kExitNoDevice;
}

int myTimerproc(const std::string& serPath)
{
    namespace memory = core::memory;
    cp290::SerialLine line(cp290::Program::Tamsel);
    if (!line.open(serPath)) {
        platform::logLine("Tamsel Error - SetClock Bad File Descriptor\n");
        recordRun(state::RunOutcome::Failed, "could not open " + serPath);
        return 1;
    }
    // With events mirrored (or a restore pending) the clock is asked first:
    // its status byte tells whether the CP290 still holds them. Otherwise the
    // run sends its one frame.
    const std::optional<state::DeviceMirror> mirror = memory::loadMirror(state::Program::Tamsel);
    std::optional<uint8_t> status;
    if ((mirror && mirror->holdsEvents()) || state::readRestoreMark()) {
        cp290::ClockReply reply;
        if (const cp290::LinkResult r = cp290::requestClock(line, reply); !r.ok()) {
            recordRun(state::RunOutcome::Failed, cp290::failureText(r));
            return 1;
        }
        status = line.lastReplyStatus();
        if (status)
            memory::noteClockReply(state::Program::Tamsel, *status, reply.houseCode);
    }
    const memory::RestoreResult restored =
        memory::guardRun(state::Program::Tamsel, "tamsel", line, serPath, status, nullptr);
    if (restored.attempted && !restored.ok) {
        recordRun(state::RunOutcome::Failed, restored.summary, restored.snapshot);
        return 1;
    }
    // A restore ends with the clock; else it is set now. Write failures and a
    // silent device are logged by the line; only a clock the CP290
    // acknowledged counts as updated.
    const std::tm now = platform::localTime(platform::now());
    const cp290::LinkResult r = restored.ok ? cp290::LinkResult{} : cp290::sendClock(line, now);
    line.close();
    if (!r.ok()) {
        recordRun(state::RunOutcome::Failed, cp290::failureText(r));
        return 1;
    }
    platform::logf("Tamsel CP290 Clock updated on %d/%d \n", now.tm_mon + 1, now.tm_mday);
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    const std::string clock = platform::format("clock set to %s %02d:%02d", kDays[platform::isoWeekday(now) - 1],
                                               now.tm_hour, now.tm_min);
    recordRun(state::RunOutcome::Ok, restored.ok ? restored.summary + "; " + clock : clock, restored.snapshot);
    return 0;
}

}  // namespace core::clocksync
