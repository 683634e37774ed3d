#pragma once
// brondile's run, the schedule loader (namespace core::loader; its
// myTimerproc is brondile's timer callback): find today's virtual schedule
// in the user's crontab and load its event schedule file into the CP290.
//
// Principles of operation. The crontab is read with "crontab -l" (bounded),
// never through the controller's copy or work file, so a planning window
// left open is not disturbed. Only the line right after a schedule marker
// is taken for its entry, and only when it starts this tool. The file is
// read whole before the line is opened. On the line the device's events
// are read back first and saved as a snapshot (an event schedule file in
// the suite's state folder) so a wrong plan can be undone; without a
// snapshot nothing is sent. Then only the slots whose content differs from
// what the device holds are sent, protected events never: load mode 1
// leaves the device holding exactly the file's events in every unprotected
// slot, load mode 2 only writes the file's events.
//
// Catch-up (brondile --catch-up, started every hour by the catch-up pair):
// the most recent planned load whose time has come is made when it is at
// most kCatchUpWindow old and the history holds no "ok" line of the loader
// since that time (the computer was off, the adapter unplugged, the run
// failed or was killed). A later planned date that has come makes an older
// load moot. With nothing to make up the run ends at once: no line opened,
// no history line. Every history line of a catch-up run starts with
// catchUpSummaryPrefix, so the status can tell it apart.
//
// Exit statuses: 0 loaded or nothing planned today, 1 a failure (crontab,
// file, line, device), 69 no serial device or no stored device path.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/automation_status.h"
#include "state/run_history.h"

namespace core::loader {

constexpr std::time_t kCatchUpWindow = 7 * 24 * 60 * 60;

constexpr int kExitFailed = 1;
constexpr int kExitNoDevice = 69;

// What the progress window shows; every call may do nothing (no display).
class LoaderUi {
public:
    virtual ~LoaderUi() = default;
    virtual void showFile(const std::string& /*name*/) {}
    virtual void showStatus(const std::string& /*text*/) {}
    // Number of the event slot last read back, then last sent (0 at the
    // start of sending).
    virtual void progress(int /*slot*/) {}
};

// The whole job; returns the exit status.
int myTimerproc(LoaderUi& ui);
// The catch-up job; returns the exit status.
int catchUp(LoaderUi& ui);

// The load a catch-up run makes at `now`, nullopt when none is due.
struct MissedLoad {
    PlannedLoad load;
    std::time_t planned = 0;  // when cron should have started it
};
std::optional<MissedLoad> missedLoad(const std::string& crontab, const std::vector<state::RunRecord>& runs,
                                     std::time_t now);

// "catch-up of the load planned for Sun 2026-03-15 01:00: "
std::string catchUpSummaryPrefix(std::time_t planned);

}  // namespace core::loader
