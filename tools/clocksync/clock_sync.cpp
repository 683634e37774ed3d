#include "tools/clocksync/clock_sync.h"

#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"

namespace clocksync {

std::string ReadPortParms()
{
    return state::storedSerialPath(state::Program::Tamsel);
}

int checkDevice(const std::string& serPath)
{
    if (serPath.empty()) {
        platform::logLine("Tamsel - Serial port path not in plist.\n");
        return kExitNoDevice;
    }
    cp290::DeviceTable devices;
    devices.search();
    if (devices.findPrefix(serPath) == 0) {
        platform::logLine("Tamsel - CP290 Serial port not found.\n");
        return kExitNoDevice;
    }
    return 0;
}

int myTimerproc(const std::string& serPath)
{
    const std::tm now = platform::localTime(platform::now());
    cp290::SerialLine line(cp290::Program::Tamsel);
    if (!line.open(serPath)) {
        platform::logLine("Tamsel Error - SetClock Bad File Descriptor\n");
        return 1;
    }
    // Write failures and a silent device are logged by the line; only a clock
    // the CP290 acknowledged counts as updated.
    const cp290::LinkResult r = cp290::sendClock(line, now);
    line.close();
    if (!r.ok())
        return 1;
    platform::logf("Tamsel CP290 Clock updated on %d/%d \n", now.tm_mon + 1, now.tm_mday);
    return 0;
}

}  // namespace clocksync
