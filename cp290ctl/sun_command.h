#pragma once
// cp290ctl sun: the sun's times and the events that follow them.
//
//   sun [YYYY-MM-DD]                 sunrise and sunset at the stored location
//                                    (or the time zone's place), as the
//                                    correction tool computes them
//   sun list                         the listed events with time, devices,
//                                    kind, offset and protection
//   sun follow EVENT KIND [--offset MIN] [--protect on|off]
//   sun unfollow EVENT
//   sun protect EVENT on|off
//   sun location [LAT LON | --zone]
//
// Every subcommand is a call on core/sun_following.h, the routines the Time
// Correction window uses. The correction plan itself is `plan corrections`
// (plan_command.h). Exit statuses as cp290ctl's (exit_status.h).
#include <string>
#include <vector>

namespace cli {

// args: what follows "sun"; device: --device as given (may be empty).
int runSunCommand(const std::vector<std::string>& args, const std::string& device = {});

// The lines of the usage text that describe sun.
extern const char* const kSunUsage;

}  // namespace cli
