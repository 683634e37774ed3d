#include "controller/core/cp290_operations.h"

#include <array>
#include <cstring>
#include <optional>

#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"

namespace controller {

using cp290::LinkResult;
using cp290::LinkStatus;
using cp290::Program;
using cp290::SerialLine;

namespace {

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
    }
    return r;
}

// Opens the line for an operation; on failure logs the operation's own
// line, tells the user, and gives the result to return (errno kept).
std::optional<OpResult> openLine(SerialLine& line, const std::string& path, const char* failureLine,
                                 OperationsUi& ui)
{
    const LinkResult lr = line.open(path);
    if (lr.ok())
        return std::nullopt;
    platform::logLine(failureLine);
    ui.showError(ui_text::kLineBusy);
    return fromLink(lr);
}

void reportFailure(OperationsUi& ui, const OpResult& r)
{
    switch (r.status) {
    case OpStatus::OpenFailed: ui.showError(ui_text::kLineBusy); break;
    case OpStatus::WriteFailed: ui.showError(ui_text::kWriteFailed); break;
    case OpStatus::Timeout: ui.showError(ui_text::kNoAnswer); break;
    case OpStatus::BadReply: ui.showError(ui_text::kBadReply); break;
    default: break;
    }
}

}  // namespace

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
    }
    return "failed";
}

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

    OpResult result;
    for (int n = 1; n <= kEventCount; ++n) {
        EventRecord& rec = *m_table.record(n);
        const bool send = type == SendAll || (type == SendSelected && chosen[static_cast<size_t>(n)]) ||
                          (type == SendChanged && rec.changed);
        if (!send)
            continue;
        const LinkResult lr = cp290::sendEvent(line, n, rec.image());
        m_ui.progressValue(n);
        if (lr.ok()) {
            // Only a change the CP290 acknowledged counts as sent.
            rec.changed = false;
            ++result.events;
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
    m_ui.progressHide();
    reportFailure(m_ui, result);
    return result;
}

OpResult Cp290Operations::GetEventList()
{
    m_ui.progressShow("Reading Events from CP290");
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
            m_ui.progressValue(n);
            return !m_ui.cancelRequested();
        });
    line.close();

    OpResult result = fromLink(lr);
    if (result.ok() && received != kEventCount)
        result.status = OpStatus::Timeout;

    if (result.ok()) {
        for (int n = 1; n <= kEventCount; ++n) {
            m_table.storeUploaded(n, slots[static_cast<size_t>(n)]);
            if (m_table.isUsed(n))
                ++result.events;
        }
    }

    m_ui.listChanged();
    m_ui.setSaveFindEnabled(m_table.getHighEvent() >= 1);
    if (result.ok())
        m_ui.setSourceText("Contents of CP290");
    m_ui.progressHide();
    reportFailure(m_ui, result);
    return result;
}

OpResult Cp290Operations::getTimeBase(int& houseIndexOut, std::string& timeTextOut, std::string& dayTextOut)
{
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290 \n", m_ui))
        return *failed;
    cp290::ClockReply reply;
    const LinkResult lr = cp290::requestClock(line, reply);
    line.close();
    const OpResult result = fromLink(lr);
    if (!result.ok()) {
        reportFailure(m_ui, result);
        return result;
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
    const OpResult result = fromLink(cp290::sendClock(line, local));
    line.close();
    reportFailure(m_ui, result);
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
    reportFailure(m_ui, result);
    return result;
}

OpResult Cp290Operations::SelfTest()
{
    m_ui.selfTestStarted();
    SerialLine line(Program::Quorvel);
    if (auto failed = openLine(line, m_serPath, "Quorvel Error - Bad File Descriptor CP290 \n", m_ui))
        return *failed;
    const cp290::SelfTestOutcome outcome = cp290::runSelfTest(line);
    line.close();
    m_ui.selfTestResult(outcome.passed);

    OpResult result;
    if (!outcome.replied)
        result.status = outcome.link == LinkStatus::Timeout ? OpStatus::Timeout : fromLink({outcome.link, 0}).status;
    else if (!outcome.passed)
        result.status = OpStatus::TestFailed;
    return result;
}

}  // namespace controller
