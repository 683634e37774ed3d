// pindrel: writes the user's crontab ("crontab -l") to "tempCrontab" in the
// user folder. The copy is written to a temporary file and renamed into
// place, so a reader sees the old copy or the whole new one, never part of
// it; a symbolic link named tempCrontab is replaced, its target untouched. A user without a crontab gets an empty copy; any other failure of the
// crontab command leaves no copy at all and exits non-zero, since an empty
// copy would later be installed as the user's whole crontab.
#include <cstring>
#include <string>

#include "platform/program_start.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"

namespace {
const char* const kUsage =
    "Usage: pindrel\n"
    "Copies your crontab (\"crontab -l\") to tempCrontab in your home folder for the\n"
    "CP290 controller. Not meant to be run by hand.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 done, 1 failed.\n"
    "Log: journalctl -t Pindrel\n";
}  // namespace

int main(int argc, char** argv)
{
    if (const auto status = platform::startProgram(argc, argv, {"pindrel", "Pindrel", kUsage}))
        return *status;
    const std::optional<std::string> folder = state::knownUserFolder();
    if (!folder) {
        platform::logLine("Pindrel Error - NULL User.\n");
        return 1;
    }
    const std::string target = *folder + state::kCrontabCopyName;

    std::string listing;
    if (!state::listCrontab("Pindrel", state::kCrontabBound, listing))
        return 1;
    if (const int e = platform::writeOwnFileWhole(target, listing)) {
        platform::logf("Pindrel Error - Writing %s - %s(%d).\n", target.c_str(), std::strerror(e), e);
        return 1;
    }
    return 0;
}
