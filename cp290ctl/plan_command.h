#pragma once
// Program folder cp290ctl/: the command line over the same core/ and state/
// routines as the windows. No other program folder.
//
// cp290ctl plan: the crontab plans of the planning windows from a shell.
//
//   plan                                  print every plan
//   plan schedule add MM/DD FILE [--mode 1|2]
//   plan schedule remove MM/DD
//   plan schedule time HH:MM
//   plan clocksync DAYS HH:MM | off
//
// Each subcommand is one open, edit, save, close through the same planning
// steps as the windows (state/crontab_plans.h). Arguments are checked before
// the crontab is opened, so a refusal leaves it byte-identical.
#include <string>
#include <vector>

namespace cli {

// args: what follows "plan" on the command line. Returns the exit status:
// 0 done, 1 refused or failed (message on stderr), 64 usage error.
int runPlanCommand(const std::vector<std::string>& args);

// The lines of the usage text that describe plan.
extern const char* const kPlanUsage;

}  // namespace cli
