// mavrone: installs the work file "Wrellish" of the user folder as the
// user's crontab ("crontab <file>"), and reports the crontab command's
// failure in its exit status and the log.
#include <cstring>

#include "platform/program_start.h"
#include "platform/syslog_log.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"

namespace {
const char* const kUsage =
    "Usage: mavrone\n"
    "Installs the CP290 controller's work file Wrellish in your home folder as your\n"
    "crontab. Not meant to be run by hand.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 done, 1 failed.\n"
    "Log: journalctl -t Mavrone\n";
}  // namespace

int main(int argc, char** argv)
{
    if (const auto status = platform::startProgram(argc, argv, {"mavrone", "Mavrone", kUsage}))
        return *status;
    const std::optional<std::string> folder = state::knownUserFolder();
    if (!folder) {
        platform::logLine("Mavrone Error - NULL User.\n");
        return 1;
    }
    const std::string work = *folder + state::kWorkFileName;
    std::string complaint;
    const state::ProcessResult r =
        state::runAndWait({state::crontabProgram(), work}, state::kCrontabBound, -1, &complaint);
    if (r.ok())
        return 0;
    if (!r.started)
        platform::logf("Mavrone Error - Starting %s - %s(%d).\n", state::crontabProgram().c_str(),
                       std::strerror(r.error), r.error);
    else if (r.timedOut)
        platform::logf("Mavrone Error - crontab did not finish within %d seconds; stopped.\n",
                       static_cast<int>(state::kCrontabBound.count() / 1000));
    else {
        for (char& c : complaint)
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        platform::logf("Mavrone Error - crontab %s failed with status %d: %.200s\n", work.c_str(),
                       r.exitStatus, complaint.c_str());
    }
    return 1;
}
