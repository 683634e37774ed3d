#pragma once
// The machine's serial callout devices, in the system's order. An entry is
// empty when the system lists a device without a usable path.
// CP290_SERIAL_DEVICES (colon-separated paths) replaces the system listing.
#include <string>
#include <vector>

namespace platform {

std::vector<std::string> listSerialDevices();

}  // namespace platform
