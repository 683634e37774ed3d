#include "core/cp290_operations.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/process_name.h"
#include "platform/syslog_log.h"

namespace core {

using cp290::LinkResult;
using cp290::LinkStatus;
using cp290::Program;
using cp290::SerialLine;

OpResult fromLink(const LinkResult& lr)
{
    OpResult r;
    r.error = lr.error;
    r.holderPid = lr.holderPid;
    switch (lr.status) {
    case LinkStatus::Ok: r.status = OpStatus::Ok; break;
    case LinkStatus::OpenFailed: r.status = OpStatus::OpenFailed; break;
    case LinkStatus::WriteFailed: r.status = OpStatus::WriteFailed; break;
    case LinkStatus::Timeout: r.status = OpStatus::Timeout; break;
    case LinkStatus::BadReply: r.status = OpStatus::BadReply; break;
    case LinkStatus::Cancelled: r.status = OpStatus::Cancelled; break;
    case LinkStatus::NoReport: r.status = OpStatus::NoReport; break;
    }
    return r;
}

namespace {

void reportFailure(OperationsUi& ui, const OpResult& r, const std::string& devicePath);

// Opens the line for an operation; on failure logs the operation's own
// line, tells the user why, and gives the result to return (errno kept).
std::optional<OpResult> openLine(SerialLine& line, const std::string& path, const char* failureLine,
                                 OperationsUi& ui)
{
    const LinkResult lr = line.open(path);
    if (lr.ok())
        return std::nullopt;
    platform::logLine(failureLine);
    const OpResult r = fromLink(lr);
    reportFailure(ui, r, path);
    return r;
}

void reportFailure(OperationsUi& ui, const OpResult& r, const std::string& devicePath)
{
    const std::string message = failureMessage(r, devicePath);
    if (!message.empty())
        ui.showError(message);
}

std::string plural(int count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string failureMessage(const OpResult& r, const std::string& devicePath)
{
    const std::string device = devicePath.empty() ? std::string("the serial device") : devicePath;
    switch (r.status) {
    case OpStatus::Ok:
    case OpStatus::Cancelled:
        return {};
    case OpStatus::OpenFailed:
        switch (r.error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "The serial device " + device +
                   " is not there: is the adapter plugged in? If it is, choose the CP290's "
                   "device in the Serial device menu.";
        case EACCES:
        case EPERM:
            return "You may not use " + device +
                   ": add your user to the dialout group (sudo usermod -aG dialout $USER), "
                   "then log in again.";
        case EBUSY:
        case EWOULDBLOCK: {
            // The lock tells who holds the line, when it does.
            std::string holder = "another program";
            if (r.holderPid > 0) {
                const std::string name = platform::processName(r.holderPid);
                holder = (name.empty() ? std::string("process ") : name + " (process ") +
                         std::to_string(r.holderPid) + (name.empty() ? "" : ")");
            }
            return device + " is in use by " + holder + ". Try again when it has finished.";
        }
        default:
            return "The serial device " + device + " could not be opened" +
                   (r.error ? std::string(": ") + std::strerror(r.error) : std::string()) + ".";
        }
    case OpStatus::WriteFailed:
        return "Writing to the CP290 on " + device + " failed" +
               (r.error ? std::string(" (") + std::strerror(r.error) + ")" : std::string()) +
               ": check the adapter and its cable.";
    case OpStatus::Timeout:
        return "The CP290 did not answer: check the CP290's power and cable, and that " + device +
               " is its port.";
    case OpStatus::BadReply:
        return "The CP290's reply was not valid: check that " + device +
               " is the CP290's port and nothing else answers on it, then try again.";
    case OpStatus::TestFailed:
        return "The CP290's self test failed.";
    case OpStatus::NoReport:
        return "The CP290 took the command but never reported sending it on the power line: check its power "
               "and that it is plugged into a mains socket.";
    case OpStatus::Refused:
        return "Nothing was done: the request had no meaning for the CP290.";
    }
    return {};
}

std::string describe(const OpResult& r, const std::string& devicePath)
{
    const std::string why = r.error ? std::string(": ") + std::strerror(r.error) : std::string();
    switch (r.status) {
    case OpStatus::Ok: return "done";
    case OpStatus::OpenFailed:
        return "cannot open " + devicePath + why +
               (r.holderPid > 0 ? " (held by process " + std::to_string(r.holderPid) + ")" : std::string());
    case OpStatus::WriteFailed: return "writing to the CP290 failed" + why;
    case OpStatus::Timeout: return "the CP290 did not answer";
    case OpStatus::TestFailed: return "the CP290's self test failed";
    case OpStatus::Refused: return "nothing done: invalid request";
    case OpStatus::BadReply: return "the CP290's reply was not valid";
    case OpStatus::Cancelled: return "cancelled";
    case OpStatus::NoReport: return "the CP290 acknowledged the command but never reported sending it";
    }
    return "failed";
}

namespace {
// Marks the events still pending changed; their count.
int markUnsent(EventTable& table, const std::array<bool, kEventCount + 1>& pending)
{
    int count = 0;
    for (int n = 1; n <= kEventCount; ++n)
        if (pending[static_cast<size_t>(n)]) {
            table.record(n)->changed = true;
            ++count;
        }
    return count;
}
}  // namespace

Cp290Operations::Cp290Operations(EventTable& table, OperationsUi& ui) : m_table(table), m_ui(ui) {}

OpResult Cp290Operations::SendEventList(int type, const std::vector<int>& selected)
{
    if (type != SendAll && type != SendSelected && type != SendChanged) {
        OpResult r;
        r.status = OpStatus::Refused;
        return r;
    }
    std::array<bool, kEventCount + 1> chosen{};
    for (int n : selected)
        if (EventTable::validNumber(n))
            chosen[static_cast<size_t>(n)] = true;

    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290\n", m_ui))
        return *failed;
    m_ui.progressShow("Sending Events to CP290");
    // A download frame and its acknowledgement, for the time left.
    constexpr long kBytesPerEvent = 28 + cp290::kAckLength;
    long toSend = 0;
    for (int n = 1; n <= kEventCount; ++n)
        toSend += type == SendAll || (type == SendSelected && chosen[static_cast<size_t>(n)]) ||
                  (type == SendChanged && m_table.record(n)->changed);
    m_ui.progressBytesLeft(toSend * kBytesPerEvent);

    OpResult result;
    std::array<bool, kEventCount + 1> pending{};  // to be sent, not yet acknowledged
    for (int n = 1; n <= kEventCount; ++n)
        pending[static_cast<size_t>(n)] = type == SendAll ||
                                          (type == SendSelected && chosen[static_cast<size_t>(n)]) ||
                                          (type == SendChanged && m_table.record(n)->changed);
    std::vector<std::pair<int, cp290::EventImage>> acknowledged;
    for (int n = 1; n <= kEventCount; ++n) {
        EventRecord& rec = *m_table.record(n);
        if (!pending[static_cast<size_t>(n)])
            continue;
        // Between frames only: a frame cut short would leave the CP290
        // waiting for the rest of it.
        if (m_ui.cancelRequested()) {
            const int sent = result.events;
            if (result.ok())
                result.status = OpStatus::Cancelled;
            result.events = sent;
            platform::logf("Quorvel - Sending cancelled after %d events.\n", sent);
            break;
        }
        const LinkResult lr = cp290::sendEvent(line, n, rec.image());
        m_ui.progressBytesLeft(--toSend * kBytesPerEvent);
        m_ui.progressValue(n);
        if (lr.ok()) {
            // Only a change the CP290 acknowledged counts as sent.
            rec.changed = false;
            pending[static_cast<size_t>(n)] = false;
            ++result.events;
            acknowledged.emplace_back(n, rec.image());
            continue;
        }
        if (result.ok()) {
            const int sent = result.events;
            result = fromLink(lr);
            result.events = sent;
        }
        // A failed write may be a passing glitch; a silent device will not
        // come back within this batch, and each further event would wait out
        // the bound again.
        if (lr.status == LinkStatus::Timeout) {
            result.status = OpStatus::Timeout;
            break;
        }
        // Asked to stop (the program is ending): no further frame goes out.
        if (lr.status == LinkStatus::Cancelled)
            break;
    }

    line.close();
    memory::noteSent(Program::Quorvel, acknowledged);
    m_ui.progressHide();
    // What the CP290 did not acknowledge may differ from the table, whichever
    // choice sent it: it stays marked, so Send Changed sends exactly that.
    const int unsent = markUnsent(m_table, pending);
    if (unsent > 0)
        m_ui.listChanged();
    if (result.ok())
        m_ui.showDone(plural(result.events, "event", "events") + " sent to the CP290");
    else if (result.status == OpStatus::Cancelled)
        m_ui.showDone("Sending cancelled: " + plural(result.events, "event", "events") + " sent; " +
                      plural(unsent, "event", "events") +
                      " not sent are marked changed (Send Changed sends them)");
    reportFailure(m_ui, result, m_serPath);
    return result;
}

OpResult Cp290Operations::GetEventList()
{
    m_ui.progressShow("Reading Events from CP290");
    // At most 8 bytes a slot come back after the command and its acknowledgement.
    constexpr long kSlotBytes = 8;
    m_ui.progressBytesLeft(17 + cp290::kAckLength + kEventCount * kSlotBytes);
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - CP290 Bad File Descriptor\n", m_ui)) {
        m_ui.progressHide();
        return *failed;
    }

    // The slots are collected first and stored only when all 128 arrived:
    // an upload cut short must not leave the table half old, half new.
    std::array<std::optional<cp290::EventImage>, kEventCount + 1> slots;
    int received = 0;
    const LinkResult lr =
        cp290::uploadEvents(line, [&](int n, const std::optional<cp290::EventImage>& img) {
            if (!EventTable::validNumber(n))
                return true;
            slots[static_cast<size_t>(n)] = img;
            ++received;
            m_ui.progressBytesLeft((kEventCount - n) * kSlotBytes);
            m_ui.progressValue(n);
            return !m_ui.cancelRequested();
        });
    const std::optional<uint8_t> status = line.lastReplyStatus();
    line.close();

    OpResult result = fromLink(lr);
    if (result.ok() && received != kEventCount)
        result.status = OpStatus::Timeout;

    std::optional<memory::LostMemory> lost;
    if (result.ok()) {
        for (int n = 1; n <= kEventCount; ++n) {
            m_table.storeUploaded(n, slots[static_cast<size_t>(n)]);
            if (m_table.isUsed(n))
                ++result.events;
        }
        if (status && !(lost = memory::checkLost(Program::Quorvel, *status, &slots)))
            memory::noteRead(Program::Quorvel, *status, slots);
    }

    m_ui.listChanged();
    m_ui.setSaveFindEnabled(m_table.getHighEvent() >= 1);
    if (result.ok())
        m_ui.setSourceText("Contents of CP290");
    m_ui.progressHide();
    if (result.ok())
        m_ui.showDone("Read " + plural(result.events, "event", "events") + " from the CP290");
    else if (result.status == OpStatus::Cancelled)
        m_ui.showDone("Reading cancelled; the list is as it was");
    reportFailure(m_ui, result, m_serPath);
    if (lost)
        memory::tellLostMemory(*lost);
    return result;
}

OpResult Cp290Operations::getTimeBase(int& houseIndexOut, std::string& timeTextOut, std::string& dayTextOut)
{
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290 \n", m_ui))
        return *failed;
    cp290::ClockReply reply;
    const LinkResult lr = cp290::requestClock(line, reply);
    const std::optional<uint8_t> status = line.lastReplyStatus();
    line.close();
    const OpResult result = fromLink(lr);
    if (!result.ok()) {
        reportFailure(m_ui, result, m_serPath);
        return result;
    }
    if (status) {
        memory::noteClockReply(Program::Quorvel, *status, reply.houseCode);
        if (const auto lost = memory::checkLost(Program::Quorvel, *status, nullptr))
            memory::tellLostMemory(*lost);
    }
    houseIndexOut = cp290::houseIndexFromCode(reply.houseCode, houseIndexOut);
    timeTextOut = cp290::clockTimeText(reply.hour, reply.minute);
    dayTextOut = cp290::dayName(reply.dayBit);
    return result;
}

OpResult Cp290Operations::SetClock()
{
    const std::tm local = platform::localTime(platform::now());
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - SetClock Bad File Descriptor\n", m_ui))
        return *failed;
    // With events on record the clock is asked first: once set, a CP290 that
    // lost its memory answers 1 and no later reply would tell.
    std::optional<memory::LostMemory> lost;
    if (const auto mirror = memory::loadMirror(Program::Quorvel); mirror && mirror->holdsEvents()) {
        cp290::ClockReply reply;
        if (cp290::requestClock(line, reply).ok() && line.lastReplyStatus()) {
            memory::noteClockReply(Program::Quorvel, *line.lastReplyStatus(), reply.houseCode);
            lost = memory::checkLost(Program::Quorvel, *line.lastReplyStatus(), nullptr);
        }
    }
    const OpResult result = fromLink(cp290::sendClock(line, local));
    line.close();
    if (lost)
        memory::tellLostMemory(*lost);
    if (result.ok()) {
        static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        m_ui.showDone(std::string("Clock set to ") + days[local.tm_wday % 7] + " " +
                      cp290::clockTimeText(local.tm_hour, local.tm_min));
    }
    reportFailure(m_ui, result, m_serPath);
    return result;
}

OpResult Cp290Operations::SetBaseCode(int houseIndex)
{
    if (houseIndex < 1 || houseIndex > kHouseCount) {
        platform::logf("Quorvel Error - Base House Code %d has no house code.\n", houseIndex);
        OpResult r;
        r.status = OpStatus::Refused;
        return r;
    }
    const auto code = static_cast<uint8_t>(cp290::HC[static_cast<size_t>(houseIndex)]);
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290 \n", m_ui))
        return *failed;
    const OpResult result = fromLink(cp290::sendBaseCode(line, code));
    line.close();
    if (result.ok())
        memory::noteBaseCode(Program::Quorvel, code);
    if (result.ok())
        m_ui.showDone(std::string("Base house code set to ") +
                      cp290::HLetters[static_cast<size_t>(houseIndex - 1)]);
    reportFailure(m_ui, result, m_serPath);
    return result;
}

OpResult Cp290Operations::SelfTest()
{
    m_ui.selfTestStarted();
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290 \n", m_ui))
        return *failed;
    const cp290::SelfTestOutcome outcome =
        cp290::runSelfTest(line, cp290::kSelfTestTotalMs, [this] { return !m_ui.cancelRequested(); });
    line.close();
    OpResult result;
    if (outcome.link == LinkStatus::Cancelled) {
        platform::logLine("Quorvel - Self test cancelled.\n");
        result.status = OpStatus::Cancelled;
        m_ui.showDone("Self test cancelled; the CP290 may still be testing for a few seconds");
        return result;
    }
    m_ui.selfTestResult(outcome.passed);
    if (outcome.replied)  // the test erased the device's events
        memory::noteSelfTest(Program::Quorvel);

    if (!outcome.replied)
        result.status = outcome.link == LinkStatus::Timeout ? OpStatus::Timeout : fromLink({outcome.link, 0}).status;
    else if (!outcome.passed)
        result.status = OpStatus::TestFailed;
    return result;
}

OpResult Cp290Operations::RestoreMemory(const EventTable* from)
{
    OpResult result;
    const std::optional<state::DeviceMirror> mirror = memory::loadMirror(Program::Quorvel);
    if (!mirror || (!from && !mirror->holdsEvents())) {
        result.status = OpStatus::Refused;
        m_ui.showError(mirror ? "Nothing to put back: no events of the CP290 are on record."
                              : "The record of the CP290's memory (" + state::deviceMirrorPath() +
                                    ") is damaged; nothing was put back.");
        return result;
    }
    state::MirrorSlots slots;
    if (from)
        for (int n = 1; n <= kEventCount; ++n)
            if (from->isUsed(n))
                slots[static_cast<size_t>(n)] = from->record(n)->image();
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290\n", m_ui))
        return *failed;
    m_ui.progressShow("Restoring the CP290's memory");
    const memory::RestoreResult r =
        memory::restore(Program::Quorvel, "quorvel", line, m_serPath, *mirror, nullptr, from ? &slots : nullptr);
    line.close();
    m_ui.progressHide();
    result.events = r.events;
    if (r.ok) {
        m_ui.showDone(r.summary);
        return result;
    }
    result = fromLink(r.link);
    if (result.ok())
        result.status = OpStatus::Refused;  // nothing went out: the mark could not be written
    result.events = r.events;
    m_ui.showError(r.summary);
    return result;
}

std::optional<memory::LostMemory> Cp290Operations::checkMemory()
{
    const std::optional<state::DeviceMirror> mirror = memory::loadMirror(Program::Quorvel);
    const bool pending = state::readRestoreMark().has_value();
    if (!mirror || (!mirror->holdsEvents() && !pending) || m_serPath.empty())
        return std::nullopt;
    SerialLine line(Program::Quorvel);
    cp290::ClockReply reply;
    if (!line.open(m_serPath).ok() || !cp290::requestClock(line, reply).ok() || !line.lastReplyStatus())
        return std::nullopt;
    const uint8_t status = *line.lastReplyStatus();
    line.close();
    memory::noteClockReply(Program::Quorvel, status, reply.houseCode);
    if (const auto lost = memory::checkLost(Program::Quorvel, status, nullptr))
        return lost;
    // A restore stopped partway: the device may hold only part of the events.
    if (pending)
        return memory::LostMemory{mirror->eventCount(), mirror->eventsSince()};
    return std::nullopt;
}

}  // namespace core
