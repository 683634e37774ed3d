#include "cp290ctl/device_command.h"

#include <cstdio>

#include "cp290ctl/exit_status.h"
#include "link/device_table.h"
#include "platform/serial_devices.h"
#include "state/preferences.h"

namespace cli {

std::string chooseDevice(const std::string& given)
{
    if (!given.empty())
        return given;
    if (std::string stored = state::storedSerialPath(state::Program::Quorvel); !stored.empty())
        return stored;
    cp290::DeviceTable devices;
    devices.search();
    for (int i = 1; i <= devices.numPorts(); ++i)
        if (!devices.path(i).empty())
            return devices.path(i);
    return {};
}

int runDeviceCommand(const std::vector<std::string>& args)
{
    if (args.size() > 1)
        return usageError("device takes at most one path");
    cp290::DeviceTable devices;
    devices.search();
    if (args.empty()) {
        const std::string stored = state::storedSerialPath(state::Program::Quorvel);
        if (stored.empty())
            return failWith(kExitUnavailable, "no serial device stored; store one with cp290ctl device PATH");
        const int found = devices.find(stored);
        std::printf("%s\n", stored.c_str());
        if (!found)
            return failWith(kExitUnavailable, stored + " is not present now");
        if (devices.path(found) != stored)
            std::printf("  (%s)\n", platform::resolvedDevicePath(stored).c_str());
        return 0;
    }
    const std::string& path = args[0];
    if (path.empty() || path[0] != '/')
        return usageError("the device is a full path, as /dev/ttyUSB0 or /dev/serial/by-id/...");
    if (!devices.find(path)) {
        std::string listed;
        for (int i = 1; i <= devices.numPorts(); ++i)
            listed += (listed.empty() ? "" : ", ") + devices.path(i);
        return failWith(kExitUnavailable, path + " is not a serial device of this computer (found: " +
                                              (listed.empty() ? "none" : listed) + ")");
    }
    if (!state::storeSerialPath(state::Program::Quorvel, path))
        return failWith(kExitCantCreate, "the device could not be stored in Lumbrasken.conf");
    std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace cli
