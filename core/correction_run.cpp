#include "core/correction_run.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "core/device_memory.h"
#include "core/snapshot.h"
#include "link/device_commands.h"
#include "link/serial_link.h"
#include "link/stored_device.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"
#include "state/run_history.h"
#include "core/solar_time.h"

namespace core::suncorrection {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

constexpr state::RunRecorder recordRun{state::Program::Veskarn, "veskarn"};

// Turns the seven weekday bits by `days` (positive = later); bit 7 stays.
uint8_t turnDays(uint8_t bits, int days)
{
    const int d = ((days % 7) + 7) % 7;
    const unsigned week = bits & 0x7Fu;
    const unsigned turned = ((week << d) | (week >> (7 - d))) & 0x7Fu;
    return static_cast<uint8_t>((bits & 0x80u) | turned);
}

// Sun times of one kind on the reference date and today; the difference, or
// nullopt (logged) when the sun does not rise or set on either date.
std::optional<int32_t> sunDelta(const sun::SolarPlace& place, const state::RefDate& ref, const std::tm& today,
                                bool rising, Logging logging)
{
    auto compute = rising ? sun::SunUp : sun::SunDown;
    const std::optional<int32_t> before = compute(place, sun::CalcDay(ref.year, ref.month, ref.day));
    const std::optional<int32_t> now =
        compute(place, sun::CalcDay(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday));
    // The short way round: a sun time that crossed midnight between the two
    // dates (23:48, then 00:02) moved by minutes, not by almost a day.
    if (before && now) {
        int32_t change = *now - *before;
        if (change > kMinutesPerDay / 2)
            change -= kMinutesPerDay;
        else if (change <= -kMinutesPerDay / 2)
            change += kMinutesPerDay;
        return change;
    }
    if (logging == Logging::On)
            platform::logf("Veskarn - No %s at this location on %d/%d/%d or %d/%d/%d; %s events not shifted, "
                       "reference date kept.\n",
                       rising ? "sunrise" : "sunset", ref.month, ref.day, ref.year, today.tm_mon + 1, today.tm_mday,
                       today.tm_year + 1900, rising ? "sunrise" : "sunset");
    return std::nullopt;
}

bool zoneChangeDue(const state::ToolCorrections& c, uint8_t dst)
{
    for (const state::ToolCorrectionRecord& e : c.CorrArray)
        if ((e.zone == 0 && dst == 1) || (e.zone == 1 && dst == 0))
            return true;
    return false;
}

// ReadEventList: all 128 slots, or false (logged) when the upload was not
// complete and checked.
bool ReadEventList(const std::string& serPath, ToolEventTable& table, RunUi& ui, std::string& why,
                   std::optional<uint8_t>& status)
{
    ui.phase("Reading Events from CP290");
    ui.progress(0);
    bool ok = false;
    cp290::SerialLine line(cp290::Program::Veskarn);
    if (!line.open(serPath)) {
        platform::logLine("Veskarn Error - CP290 Bad File Descriptor\n");
        why = "could not open " + serPath;
    } else {
        const cp290::LinkResult r =
            cp290::uploadEvents(line, [&](int n, const std::optional<cp290::EventImage>& img) {
                ToolEvent& e = table[static_cast<size_t>(n)];
                e.eventNumber = img ? n : 0;
                e.changed = false;
                if (img)
                    e.image = *img;
                ui.progress(n);
                return true;
            });
        status = line.lastReplyStatus();
        line.close();
        ok = r.ok();
        if (!ok) {
            platform::logLine("Veskarn Error - Events could not be read from the CP290; nothing corrected.\n");
            why = "reading the events: " + cp290::failureText(r);
        }
    }
    ui.hide();
    ui.progress(0);
    return ok;
}

// The events read, as an event schedule file the controller can send back.
bool writeBeforeCopy(const ToolEventTable& table, std::string& path)
{
    core::EventTable copy;
    for (int n = 1; n <= cp290::kMaxEvents; ++n)
        if (table[static_cast<size_t>(n)].eventNumber == n)
            copy.record(n)->setImage(table[static_cast<size_t>(n)].image);
    const core::SnapshotResult r = core::writeSnapshot(copy, "veskarn", platform::now());
    path = r.path;
    if (!r.ok())
        platform::logf("Veskarn Error - Snapshot %s not written - %s(%d); nothing sent.\n", r.path.c_str(),
                       std::strerror(r.error), r.error);
    return r.ok();
}

// SendEventList (the tool's own): the changed listed events in list order.
// Stops at the first event not acknowledged; true when every one was.
bool SendEventList(const std::string& serPath, const state::ToolCorrections& c, ToolEventTable& table, RunUi& ui,
                   std::string& sentList, std::string& why)
{
    cp290::SerialLine line(cp290::Program::Veskarn);
    if (!line.open(serPath)) {
        platform::logLine("Veskarn Error - Bad File Descriptor CP290\n");
        why = "could not open " + serPath;
        return false;
    }
    ui.phase("Sending Events to CP290");
    ui.progress(0);
    bool ok = true;
    std::vector<std::pair<int, cp290::EventImage>> acknowledged;
    for (const state::ToolCorrectionRecord& k : c.CorrArray) {
        ToolEvent& e = table[static_cast<size_t>(k.eventNumber)];
        if (!e.changed)
            continue;
        if (const cp290::LinkResult r = cp290::sendEvent(line, e.eventNumber, e.image); !r.ok()) {
            platform::logf("Veskarn Error - Event %d not acknowledged by the CP290; corrections stopped, "
                           "reference dates kept.\n",
                           e.eventNumber);
            why = "sending event " + std::to_string(e.eventNumber) + ": " + cp290::failureText(r);
            ok = false;
            break;
        }
        e.changed = false;
        acknowledged.emplace_back(e.eventNumber, e.image);
        sentList += (sentList.empty() ? "" : ", ") + std::to_string(e.eventNumber);
        ui.progress(e.eventNumber);
    }
    line.close();
    core::memory::noteSent(state::Program::Veskarn, acknowledged);
    ui.hide();
    ui.progress(0);
    return ok;
}

// What the journal holds before the downloads: the reference dates as
// stored and, per listed event the CP290 holds, the zone flag as stored and
// the images the run starts from, found and sends.
state::CorrectionJournal journalOf(const state::ToolCorrections& stored, const ToolEventTable& base,
                                   const ToolEventTable& found, const ToolEventTable& target)
{
    state::CorrectionJournal j{stored.SUTime, stored.SDTime, {}};
    for (const state::ToolCorrectionRecord& k : stored.CorrArray) {
        const size_t n = static_cast<size_t>(k.eventNumber);
        if (found[n].eventNumber == k.eventNumber)
            j.events.push_back({k.eventNumber, k.zone, base[n].image, found[n].image, target[n].image});
    }
    return j;
}

}  // namespace

bool resumeFromJournal(const state::CorrectionJournal& j, const state::ToolCorrections& c, ToolEventTable& table,
                       Logging logging)
{
    if (!j.pendingFor(c))
        return false;
    for (const state::ToolCorrectionRecord& k : c.CorrArray) {
        const state::JournalEvent* r = j.find(k.eventNumber);
        ToolEvent& e = table[static_cast<size_t>(k.eventNumber)];
        if (!r || e.eventNumber != k.eventNumber)
            continue;
        if (r->zone == k.zone && (e.image == r->found || e.image == r->target || e.image == r->base))
            e.image = r->base;
        else if (logging == Logging::On)
            platform::logf("Veskarn - Event %d was changed after the stopped correction; corrected from its "
                           "present time.\n",
                           k.eventNumber);
    }
    return true;
}

void markSends(const state::ToolCorrections& c, const ToolEventTable& held, ToolEventTable& table)
{
    for (const state::ToolCorrectionRecord& k : c.CorrArray) {
        ToolEvent& e = table[static_cast<size_t>(k.eventNumber)];
        if (e.eventNumber == k.eventNumber)
            e.changed = e.image != held[static_cast<size_t>(k.eventNumber)].image;
    }
}

RunDecision decideRun(const state::ToolCorrections& c, const sun::SolarPlace& place, Logging logging)
{
    RunDecision d;
    Shifts& s = d.shifts;
    s.DST = place.DST;
    s.sunrise = c.applySU;
    s.sunset = c.applySD;
    // A kind without a time on either date keeps its reference date: it is
    // not written back, so a later run measures from the last real shift.
    d.written = c;
    if (c.applySU) {
        const std::optional<int32_t> delta = sunDelta(place, c.SUTime, place.GregDate, true, logging);
        s.deltaSU = delta.value_or(0);
        d.written.applySU = delta.has_value();
    }
    if (c.applySD) {
        const std::optional<int32_t> delta = sunDelta(place, c.SDTime, place.GregDate, false, logging);
        s.deltaSD = delta.value_or(0);
        d.written.applySD = delta.has_value();
    }
    d.needed = (s.sunrise && s.deltaSU != 0) || (s.sunset && s.deltaSD != 0) || zoneChangeDue(c, s.DST);
    return d;
}

void shiftEventTime(cp290::EventImage& img, int minutes)
{
    // Hour and minute are read as the signed bytes the device's table holds.
    int t = static_cast<int8_t>(img[2]) * 60 + static_cast<int8_t>(img[3]) + minutes;
    int days = 0;
    while (t < 0) {
        t += kMinutesPerDay;
        --days;
    }
    while (t >= kMinutesPerDay) {
        t -= kMinutesPerDay;
        ++days;
    }
    img[2] = static_cast<uint8_t>(t / 60);
    img[3] = static_cast<uint8_t>(t % 60);
    img[1] = turnDays(img[1], days);
}

void ApplySunCorr(state::ToolCorrections& c, ToolEventTable& table, const Shifts& s, Logging logging)
{
    const bool log = logging == Logging::On;
    for (const int32_t n : c.outOfRange)
        if (log)
            platform::logf("Veskarn Error - Event %d not stored in CP290 memory\n", n);
    for (state::ToolCorrectionRecord& k : c.CorrArray) {
        const int n = k.eventNumber;
        ToolEvent& e = table[static_cast<size_t>(n)];
        if (e.eventNumber != n) {
            if (log)
                platform::logf("Veskarn Error - Event %d not stored in CP290 memory\n", n);
            continue;
        }
        int shift = 0;
        bool hourStep = false;
        if (k.corrType == 1 && s.sunrise) {
            shift = s.deltaSU;
            hourStep = true;
        } else if (k.corrType == 2 && s.sunset) {
            shift = s.deltaSD;
            hourStep = true;
        } else if (k.corrType == 3) {
            hourStep = true;
        }
        if (shift != 0)
            e.changed = true;
        if (hourStep) {
            if (k.zone == 0 && s.DST == 1) {
                shift += 60;
                k.zone = 1;
                e.changed = true;
            } else if (k.zone == 1 && s.DST == 0) {
                shift -= 60;
                k.zone = 0;
                e.changed = true;
            }
        }
        if (shift != 0)
            shiftEventTime(e.image, shift);
    }
}

int myTimerproc(RunUi& ui)
{
    state::ToolCorrections c;
    if (state::getVeskParms(c) != 0) {
        recordRun(state::RunOutcome::NothingToDo, "no corrections set up");
        return 0;
    }
    const std::optional<sun::SolarPlace> place = sun::getLocInfo(state::Program::Veskarn);
    if (!place) {
        platform::logLine("Veskarn Error - No location for the sun's times; nothing corrected.\n");
        recordRun(state::RunOutcome::Failed, "no location: enter latitude and longitude in the Time Correction window");
        return 1;
    }
    const std::tm& today = place->GregDate;

    RunDecision decision = decideRun(c, *place);
    const Shifts& s = decision.shifts;
    state::ToolCorrections& written = decision.written;
    const std::string journalPath = state::correctionJournalPath();
    const state::JournalRead journal = state::readCorrectionJournal();
    if (journal.state == state::JournalState::Unusable)
        platform::logf("Veskarn Error - Journal %s %s; ignored.\n", journalPath.c_str(), journal.why.c_str());
    // A journal measured from the stored reference dates is a run that stopped
    // partway: this run completes it, even where the sun has not moved.
    const bool resuming = journal.state == state::JournalState::Read && journal.journal.pendingFor(c);
    if (!decision.needed && !resuming) {
        platform::logLine("Veskarn - No Time Corrections Necessary\n");
        recordRun(state::RunOutcome::NothingToDo, "no correction needed");
        ui.nothingNeeded();
        return 0;
    }

    const std::string serPath = state::storedSerialPath(state::Program::Veskarn);
    switch (cp290::checkStoredDevice(cp290::Program::Veskarn, serPath)) {
    case cp290::StoredDevice::Found:
        break;
    case cp290::StoredDevice::NoPath:
        recordRun(state::RunOutcome::Failed, "no serial device stored: quit the controller once to store it");
        return kExitNoDevice;
    case cp290::StoredDevice::NotFound:
        recordRun(state::RunOutcome::Failed, "serial device " + serPath + " not found: is the adapter plugged in?");
        return kExitNoDevice;
    }

    ToolEventTable table{};
    std::string why;
    std::optional<uint8_t> status;
    if (!ReadEventList(serPath, table, ui, why, status)) {
        recordRun(state::RunOutcome::Failed, why + "; reference dates kept");
        return 1;
    }
    // A CP290 that lost its memory gets the mirror's events back first; the
    // correction then starts from them.
    state::MirrorSlots device;
    for (int n = 1; n <= cp290::kMaxEvents; ++n)
        if (table[size_t(n)].eventNumber == n)
            device[size_t(n)] = table[size_t(n)].image;
    cp290::SerialLine restoreLine(cp290::Program::Veskarn);
    const core::memory::RestoreResult restored =
        core::memory::guardRun(state::Program::Veskarn, "veskarn", restoreLine, serPath, status, &device);
    restoreLine.close();
    if (restored.attempted && !restored.ok) {
        recordRun(state::RunOutcome::Failed, restored.summary + "; reference dates kept", restored.snapshot);
        return 1;
    }
    if (restored.ok) {
        for (int n = 1; n <= cp290::kMaxEvents; ++n) {
            const auto& img = restored.held[size_t(n)];
            table[size_t(n)] = ToolEvent{img ? n : 0, img ? *img : cp290::EventImage{}, false};
        }
    } else if (status) {
        core::memory::noteRead(state::Program::Veskarn, *status, device);
    }
    const ToolEventTable asRead = table;
    const state::ToolCorrections stored = c;
    if (resuming) {
        platform::logLine("Veskarn - Completing the correction a stopped run began.\n");
        resumeFromJournal(journal.journal, c, table);
    }
    const ToolEventTable base = table;
    ApplySunCorr(c, table, s);
    markSends(c, asRead, table);

    bool anyChanged = false;
    for (const state::ToolCorrectionRecord& k : c.CorrArray)
        anyChanged = anyChanged || table[static_cast<size_t>(k.eventNumber)].changed;
    std::string snapshot;
    if (anyChanged && !writeBeforeCopy(asRead, snapshot)) {
        recordRun(state::RunOutcome::Failed, "snapshot not written; nothing sent");
        return 1;
    }
    // Stored before the first download, so a run stopped anywhere after it
    // is completed by the next one rather than shifted twice.
    if (anyChanged) {
        if (const int err = state::writeCorrectionJournal(journalOf(stored, base, asRead, table)); err != 0) {
            platform::logf("Veskarn Error - Journal %s not written - %s(%d); nothing sent.\n", journalPath.c_str(),
                           std::strerror(err), err);
            recordRun(state::RunOutcome::Failed, "journal not written; nothing sent", snapshot);
            return 1;
        }
    }
    std::string sent;
    if (anyChanged && !SendEventList(serPath, c, table, ui, sent, why)) {
        if (!sent.empty())
            platform::logf("Veskarn Error - Events already corrected on the CP290: %s; its events before this "
                           "run are in %s\n",
                           sent.c_str(), snapshot.c_str());
        recordRun(state::RunOutcome::Failed,
                  why + (sent.empty() ? "" : "; events " + sent + " already sent") + "; reference dates kept",
                  snapshot);
        return 1;
    }

    // Zone flags as the CP290 now holds them; dates only for the kinds shifted.
    for (size_t i = 0; i < c.CorrArray.size(); ++i)
        written.CorrArray[i].zone = c.CorrArray[i].zone;
    const state::RefDate runDate{static_cast<int16_t>(today.tm_year + 1900), static_cast<int16_t>(today.tm_mon + 1),
                                 static_cast<int16_t>(today.tm_mday)};
    if (!state::writeVeskParms(written, runDate)) {
        // The CP290 has the new times but the dates did not move: the journal
        // stays, and the next run completes this correction instead of
        // shifting the same events again.
        platform::logf("Veskarn Error - Reference dates not stored after correcting events %s; the next run "
                       "completes the correction from %s.\n",
                       sent.c_str(), journalPath.c_str());
        recordRun(state::RunOutcome::Failed, "events " + sent + " sent but the reference dates could not be stored",
                  snapshot);
        return 1;
    }
    if (const int err = state::clearCorrectionJournal(); err != 0)
        platform::logf("Veskarn Error - Journal %s not removed - %s(%d); the next run ignores it.\n",
                       journalPath.c_str(), std::strerror(err), err);
    platform::logf("Veskarn - Corrections Applied on %d/%d \n", today.tm_mon + 1, today.tm_mday);
    std::string summary;
    if (s.sunrise)
        summary += platform::format("sunrise %+d min, ", s.deltaSU);
    if (s.sunset)
        summary += platform::format("sunset %+d min, ", s.deltaSD);
    summary += sent.empty() ? std::string("no event sent") : "events " + sent + " sent";
    if (resuming)
        summary += ", a stopped run completed";
    if (restored.ok)
        summary = restored.summary + "; " + summary;
    recordRun(state::RunOutcome::Ok, summary, snapshot.empty() ? restored.snapshot : snapshot);
    return 0;
}

}  // namespace core::suncorrection
