#pragma once
// The machine's serial callout devices, in the system's order. An entry is
// empty when the system lists a device without a usable path.
// CP290_SERIAL_DEVICES (colon-separated paths) replaces the system listing.
#include <string>
#include <vector>

namespace platform {

std::vector<std::string> listSerialDevices();

// The device a path names, links resolved (/dev/serial/by-id/... gives
// /dev/ttyUSB0); the path itself when it cannot be resolved.
std::string resolvedDevicePath(const std::string& path);

}  // namespace platform
