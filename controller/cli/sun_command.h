#pragma once
// cp290ctl's sun-correction commands:
//   sun [YYYY-MM-DD]               sunrise and sunset at the stored location
//   plan corrections DAYS HH:MM    plan the correction tool (DAYS: 1,3,7; 1 = Monday)
//   plan corrections off           plan it no more
// Each prints its outcome on stdout and returns the exit status (0 done,
// 1 failed, 64 wrong usage, with a line on stderr).
#include <string>
#include <vector>

namespace cli {

// True when the command line names one of these commands.
bool isSunCommand(const std::string& command, const std::vector<std::string>& operands);
int runSunCommand(const std::string& command, const std::vector<std::string>& operands);

}  // namespace cli
