#pragma once
// cp290ctl on|off UNITS, cp290ctl dim UNITS PERCENT: switch units now
// through the CP290 and print what it confirmed on the power line
// ("A1 Porch lamp: on"). cp290ctl monitor [--json]: every report of the
// CP290 as it comes, one line each. Both return the exit status, with a
// line on stderr on failure.
#include <string>
#include <vector>

namespace cli {

// The device to use for a --device given (or ""); "" when there is none.
using DeviceChooser = std::string (*)(const std::string& given);

// command: "on", "off", "dim"; args: what follows it (--device PATH allowed);
// deviceGiven: a --device that came before the command.
int runSwitchCommand(const std::string& command, const std::vector<std::string>& args, std::string deviceGiven,
                     DeviceChooser choose);
int runMonitorCommand(const std::vector<std::string>& args, std::string deviceGiven, DeviceChooser choose);

}  // namespace cli
