#include "link/stored_device.h"

#include "link/serial_link.h"
#include "platform/syslog_log.h"

namespace cp290 {

StoredDevice checkStoredDevice(platform::Program tool, const std::string& serPath)
{
    if (serPath.empty()) {
        platform::logf("%s - Serial port path not in plist.\n", platform::programName(tool));
        return StoredDevice::NoPath;
    }
    DeviceTable devices;
    devices.search();
    if (devices.findPrefix(serPath) == 0) {
        platform::logf("%s - CP290 Serial port not found.\n", platform::programName(tool));
        return StoredDevice::NotFound;
    }
    return StoredDevice::Found;
}

}  // namespace cp290
