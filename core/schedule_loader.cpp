#include "core/schedule_loader.h"

#include <array>
#include <cstring>
#include <optional>

#include "core/device_memory.h"
#include "core/event_table.h"
#include "core/schedule_file.h"
#include "core/snapshot.h"
#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/correction_store.h"
#include "state/crontab_lines.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "state/preferences.h"
#include "state/run_history.h"
#include "state/run_plan.h"

namespace core::loader {
namespace {

using core::EventTable;
using core::kEventCount;
using DeviceSlots = std::array<std::optional<cp290::EventImage>, kEventCount + 1>;

struct Today {
    std::string file;  // name of the schedule file
    std::string path;
    int eload = 0;
    std::string summaryPrefix;  // a catch-up run's, else ""
};

constexpr state::RunRecorder recordRun{state::Program::Brondile, "brondile"};

// The run's history line, marked as a catch-up's when it is one.
struct TodayRecorder {
    const Today& today;
    void operator()(state::RunOutcome outcome, const std::string& summary, const std::string& snapshot = {}) const
    {
        recordRun(outcome, today.summaryPrefix + summary, snapshot);
    }
};

// readCrontab: today's schedule, nullopt when none; false when the crontab
// could not be read (logged).
bool readCrontab(std::optional<Today>& today)
{
    std::string crontab;
    if (!state::listCrontab("Brondile", state::kCrontabBound, crontab))
        return false;
    // The time of day is cron's business; only the date is looked at.
    const std::tm now = platform::localTime(platform::now());
    if (const auto m = state::scheduleForDate(crontab, now.tm_mday, now.tm_mon + 1, "Brondile"))
        today = Today{m->name, m->path, m->load, {}};
    return true;
}

// ReadPortParms: "Serial Path", else entry "Port Number" of the devices found.
std::string ReadPortParms(const cp290::DeviceTable& devices)
{
    std::string serPath = state::storedSerialPath(state::Program::Brondile);
    if (serPath.empty())
        if (const std::optional<int32_t> port = state::storedPortNumber(state::Program::Brondile))
            serPath = devices.path(*port);
    return serPath;
}

bool sameContent(const std::optional<cp290::EventImage>& device, const core::EventRecord& target)
{
    // A slot without an event reads back as the empty mark or as any image
    // whose level and function are 0; either is what an empty slot means.
    const bool deviceUsed = device && (*device)[7] != 0;
    if (!deviceUsed || !target.used())
        return deviceUsed == target.used();
    return *device == target.image();
}

// Reads the device's events into `slots`; false when the upload failed.
bool readBack(cp290::SerialLine& line, DeviceSlots& slots, LoaderUi& ui)
{
    // A complete upload reports every slot once.
    const cp290::LinkResult r = cp290::uploadEvents(line, [&](int n, const std::optional<cp290::EventImage>& img) {
        if (EventTable::validNumber(n)) {
            slots[static_cast<size_t>(n)] = img;
            ui.progress(n);
        }
        return true;
    });
    return r.ok();
}

int LoadSched(const Today& today, LoaderUi& ui)
{
    const char* file = today.file.c_str();
    const TodayRecorder record{today};
    ui.showFile(today.file);

    // readEvent: the whole file before the line is touched.
    EventTable table;
    std::vector<int> skipped;
    const core::FileResult fr = core::readEventFile(table, today.path, &skipped);
    if (!fr.notSchedule.empty()) {
        platform::logf("Brondile Error - Opening Event Schedule File - not an event schedule file (%s).\n",
                       fr.notSchedule.c_str());
        record(state::RunOutcome::Failed, today.path + " is not an event schedule file");
        return kExitFailed;
    }
    if (!fr.ok()) {
        platform::logf("Brondile Error - Opening Event Schedule File - %s(%d).\n", std::strerror(fr.error),
                       fr.error);
        record(state::RunOutcome::Failed, "could not read " + today.path + ": " + std::strerror(fr.error));
        return kExitFailed;
    }
    for (const int n : skipped)
        platform::logf("Brondile - Event Schedule record with event number %d skipped.\n", n);
    if (fr.events.empty() && skipped.empty()) {
        // A file without records: nothing to send, nothing to log.
        record(state::RunOutcome::NothingToDo, today.file + " holds no events");
        return 0;
    }
    std::array<bool, kEventCount + 1> present{};
    for (const int n : fr.events)
        present[static_cast<size_t>(n)] = true;

    cp290::DeviceTable devices;
    devices.search();
    if (!devices.anyUsable()) {
        platform::logLine("Brondile - Serial ports not found.\n");
        record(state::RunOutcome::Failed, "no serial device found: is the adapter plugged in?");
        return kExitNoDevice;
    }
    const std::string serPath = ReadPortParms(devices);
    if (serPath.empty()) {
        platform::logLine("Brondile - Serial port path not in plist.\n");
        record(state::RunOutcome::Failed, "no serial device stored: quit the controller once to store it");
        return kExitNoDevice;
    }

    state::LoaderProtection protection;
    state::getVeskParms(protection);

    cp290::SerialLine line(cp290::Program::Brondile);
    if (!line.open(serPath)) {
        platform::logLine("Brondile Error - CP290 Bad File Descriptor\n");
        record(state::RunOutcome::Failed, "could not open " + serPath + "; " + today.file + " not loaded");
        return kExitFailed;
    }

    ui.showStatus("Reading Events from CP290");
    DeviceSlots device;
    if (!readBack(line, device, ui)) {
        platform::logf("Brondile Error - Reading the CP290's events failed; Schedule (%s) not loaded.\n", file);
        record(state::RunOutcome::Failed, "the CP290's events could not be read; " + today.file + " not loaded");
        return kExitFailed;
    }
    // A CP290 that lost its memory gets the mirror's events back first; the
    // load then works from them.
    const std::optional<uint8_t> status = line.lastReplyStatus();
    const core::memory::RestoreResult restored =
        core::memory::guardRun(state::Program::Brondile, "brondile", line, serPath, status, &device);
    if (restored.attempted && !restored.ok) {
        record(state::RunOutcome::Failed, restored.summary + "; " + today.file + " not loaded", restored.snapshot);
        return kExitFailed;
    }
    if (restored.ok)
        device = restored.held;
    else if (status)
        core::memory::noteRead(state::Program::Brondile, *status, device);
    EventTable before;
    for (int n = 1; n <= kEventCount; ++n)
        before.storeUploaded(n, device[static_cast<size_t>(n)]);
    const core::SnapshotResult snap = core::writeSnapshot(before, "brondile", platform::now());
    if (!snap.ok()) {
        platform::logf("Brondile Error - Saving the CP290's events to %s - %s(%d); Schedule (%s) not loaded.\n",
                       snap.path.c_str(), std::strerror(snap.error), snap.error, file);
        record(state::RunOutcome::Failed, "no snapshot could be written; " + today.file + " not loaded");
        return kExitFailed;
    }
    platform::logf("Brondile - CP290 events saved to %s.\n", snap.path.c_str());

    // SendEventList: only what differs from the device, protected slots never.
    ui.showStatus("Sending Events to CP290");
    ui.progress(0);
    bool allAcknowledged = true;
    int sent = 0;
    std::vector<std::pair<int, cp290::EventImage>> acknowledged;
    for (int n = 1; n <= kEventCount; ++n) {
        const size_t i = static_cast<size_t>(n);
        if (protection.protect[i] != 0)
            continue;
        if (!(today.eload == 1 || (today.eload == 2 && present[i])))
            continue;
        const core::EventRecord& target = *table.record(n);
        if (sameContent(device[i], target))
            continue;
        // A link failure is logged by the line in this program's wording.
        const cp290::LinkResult r = cp290::sendEvent(line, n, target.image());
        ui.progress(n);
        if (r.ok()) {
            ++sent;
            acknowledged.emplace_back(n, target.image());
            continue;
        }
        allAcknowledged = false;
        // A silent device will not answer the next frame either.
        if (r.status != cp290::LinkStatus::WriteFailed)
            break;
    }
    line.close();
    core::memory::noteSent(state::Program::Brondile, acknowledged);
    const std::string restoredFirst = restored.ok ? restored.summary + "; " : "";
    if (!allAcknowledged) {
        record(state::RunOutcome::Failed,
               restoredFirst + today.file + " not completely loaded: the CP290 did not acknowledge every event",
               snap.path);
        return kExitFailed;
    }
    platform::logf("Brondile - Schedule (%s) loaded to CP290.\n", file);
    record(state::RunOutcome::Ok,
           restoredFirst + platform::format("%s loaded (mode %d), %d events sent", file, today.eload, sent),
           snap.path);
    return 0;
}

}  // namespace

int myTimerproc(LoaderUi& ui)
{
    std::optional<Today> today;
    if (!readCrontab(today)) {
        recordRun(state::RunOutcome::Failed, "the crontab could not be read");
        return kExitFailed;
    }
    if (!today) {
        recordRun(state::RunOutcome::NothingToDo, "no schedule planned for today");
        return 0;
    }
    return LoadSched(*today, ui);
}

std::string catchUpSummaryPrefix(std::time_t planned)
{
    return "catch-up of the load planned for " + runTimeText(planned) + ": ";
}

std::optional<MissedLoad> missedLoad(const std::string& crontab, const std::vector<state::RunRecord>& runs,
                                     std::time_t now)
{
    // The latest planned time that has come; of two loads at one time the
    // first pair's, as a run at that time takes it.
    std::optional<MissedLoad> latest;
    for (const PlannedLoad& load : plannedLoads(crontab, "Brondile")) {
        const std::vector<std::time_t> times = state::plannedTimes(load.when, now - kCatchUpWindow, now);
        if (!times.empty() && (!latest || times.back() > latest->planned))
            latest = MissedLoad{load, times.back()};
    }
    if (!latest)
        return std::nullopt;
    for (const state::RunRecord& r : runs)
        if (r.tool == "brondile" && r.outcome == state::RunOutcome::Ok && r.when >= latest->planned)
            return std::nullopt;
    return latest;
}

int catchUp(LoaderUi& ui)
{
    // An hourly check with nothing to do leaves no trace; a crontab that
    // cannot be listed is logged by the lister.
    std::string crontab;
    if (!state::listCrontab("Brondile", state::kCrontabBound, crontab))
        return kExitFailed;
    const std::optional<MissedLoad> missed = missedLoad(crontab, state::readRuns(), platform::now());
    if (!missed)
        return 0;
    platform::logf("Brondile - Schedule (%s) planned for %s was not loaded; loading it now.\n",
                   missed->load.name.c_str(), runTimeText(missed->planned).c_str());
    const Today today{missed->load.name, missed->load.path, missed->load.load, catchUpSummaryPrefix(missed->planned)};
    return LoadSched(today, ui);
}

}  // namespace core::loader
