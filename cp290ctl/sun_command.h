#pragma once
// cp290ctl sun [YYYY-MM-DD]: sunrise and sunset at the stored location (or
// the time zone's place) as the correction tool computes them, with the
// location and time zone used. Returns the exit status (0 done, 1 no
// location known, 64 wrong usage, with a line on stderr). The correction
// plan itself is `plan corrections` (plan_command.h).
#include <string>
#include <vector>

namespace cli {

// operands: what follows "sun".
int runSunCommand(const std::vector<std::string>& operands);

}  // namespace cli
