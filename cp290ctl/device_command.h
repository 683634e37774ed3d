#pragma once
// cp290ctl device [PATH]: prints or stores the serial device the programs
// use ("Serial Path" of Lumbrasken.conf, which the controller and the cron
// tools read). A path is accepted when it names a device of the system's
// serial listing, directly or through links (/dev/serial/by-id/...), and is
// stored as given.
#include <string>
#include <vector>

namespace cli {

// args: what follows "device". Exit status: 0, 64 usage, 69 not a serial
// device of the listing (or, printing, none stored), 73 not stored.
int runDeviceCommand(const std::vector<std::string>& args);

// The device a command opens: `given` (--device), else the stored one,
// else the first serial device found; empty when there is none.
std::string chooseDevice(const std::string& given);

}  // namespace cli
