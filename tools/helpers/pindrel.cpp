// pindrel: writes the user's crontab ("crontab -l") to "tempCrontab" in the
// user folder. The copy is written to a temporary file and renamed into
// place, so a reader sees the old copy or the whole new one, never part of
// it. A user without a crontab gets an empty copy; any other failure of the
// crontab command leaves no copy at all and exits non-zero, since an empty
// copy would later be installed as the user's whole crontab.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/syslog_log.h"
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

int main()
{
    platform::openLog("Pindrel");
    const std::optional<std::string> folder = state::knownUserFolder();
    if (!folder) {
        platform::logLine("Pindrel Error - NULL User.\n");
        return 1;
    }
    const std::string target = *folder + state::kCrontabCopyName;
    std::string tmp = target + ".XXXXXX";
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        platform::logf("Pindrel Error - Creating %s - %s(%d).\n", tmp.c_str(), std::strerror(e), e);
        return 1;
    }

    std::string complaint;
    const state::ProcessResult r =
        state::runAndWait({state::crontabProgram(), "-l"}, state::kHelperBound, fd, &complaint);
    bool ok = r.ok();
    if (!ok && r.started && !r.timedOut && complaint.rfind(kNoCrontab, 0) == 0)
        ok = ftruncate(fd, 0) == 0;
    int e = 0;
    if (ok && fsync(fd) != 0)
        e = errno;
    close(fd);
    if (!ok || e) {
        unlink(tmp.c_str());
        if (e)
            platform::logf("Pindrel Error - Writing %s - %s(%d).\n", tmp.c_str(), std::strerror(e), e);
        else if (!r.started)
            platform::logf("Pindrel Error - Starting %s - %s(%d).\n", state::crontabProgram().c_str(),
                           std::strerror(r.error), r.error);
        else
            platform::logf("Pindrel Error - crontab -l failed with status %d: %s\n", r.exitStatus,
                           oneLine(complaint).c_str());
        return 1;
    }
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        e = errno;
        unlink(tmp.c_str());
        platform::logf("Pindrel Error - Renaming to %s - %s(%d).\n", target.c_str(), std::strerror(e), e);
        return 1;
    }
    return 0;
}
