// pindrel: writes the user's crontab ("crontab -l") to "tempCrontab" in the
// user folder. The copy is written to a temporary file and renamed into
// place, so a reader sees the old copy or the whole new one, never part of
// it. A user without a crontab gets an empty copy; any other failure of the
// crontab command leaves no copy at all and exits non-zero, since an empty
// copy would later be installed as the user's whole crontab.
#include <csignal>
#include <cstring>

#include "platform/program_info.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"

namespace {

// crontab(1) says this, and exits 1, when the user has no crontab.
constexpr const char* kNoCrontab = "no crontab for ";

// The crontab command's complaint, fit for one log line.
std::string oneLine(const std::string& text)
{
    std::string out;
    for (const char c : text.substr(0, 200))
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

}  // namespace

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
    if (platform::answerInfoOption(argc, argv, "pindrel", kUsage))
        return 0;
    platform::openLog("Pindrel");
    // Inherited from whoever started us, an ignored SIGCHLD would have the
    // crontab command reaped unseen, and its outcome lost.
    std::signal(SIGCHLD, SIG_DFL);
    const std::optional<std::string> folder = state::knownUserFolder();
    if (!folder) {
        platform::logLine("Pindrel Error - NULL User.\n");
        return 1;
    }
    const std::string target = *folder + state::kCrontabCopyName;

    // The listing comes through a pipe and is written here, where every
    // write is checked: the crontab command exits 0 even when its own output
    // could not be written (a full disk), which would leave part of the
    // crontab passing for all of it.
    std::string listing, complaint;
    const state::ProcessResult r = state::runAndWait({state::crontabProgram(), "-l"}, state::kCrontabBound,
                                                     -1, &complaint, &listing);
    bool ok = r.ok();
    if (!ok && r.started && !r.timedOut && complaint.rfind(kNoCrontab, 0) == 0) {
        listing.clear();
        ok = true;
    }
    if (!ok) {
        if (!r.started)
            platform::logf("Pindrel Error - Starting %s - %s(%d).\n", state::crontabProgram().c_str(),
                           std::strerror(r.error), r.error);
        else if (r.timedOut)
            platform::logf("Pindrel Error - crontab -l did not finish within %d seconds; stopped.\n",
                           static_cast<int>(state::kCrontabBound.count() / 1000));
        else
            platform::logf("Pindrel Error - crontab -l failed with status %d: %s\n", r.exitStatus,
                           oneLine(complaint).c_str());
        return 1;
    }
    if (const int e = platform::writeFileWhole(target, listing)) {
        platform::logf("Pindrel Error - Writing %s - %s(%d).\n", target.c_str(), std::strerror(e), e);
        return 1;
    }
    return 0;
}
