#include "link/device_commands.h"

#include <algorithm>
#include <deque>

#include "platform/syslog_log.h"

namespace cp290 {

namespace {

// One reply being read: bounded per byte and by a deadline for the whole
// reply, so a noisy line cannot keep the wait alive. It finds the reply's
// sync (six 0xFF) and skips what comes before it; failures are logged here,
// once, in the program's wording.
class ReplyReader {
public:
    // expectedBytes: what the reply holds at most; with totalMs 0 the deadline
    // is their wire time (and the frame's) plus the usual grace.
    ReplyReader(SerialLine& line, const Frame& sent, size_t expectedBytes, int totalMs = 0,
                int idleMs = kReplyIdleMs)
        : m_line(line), m_sent(sent), m_idleMs(idleMs)
    {
        const int ms = totalMs > 0 ? totalMs : wireMs(sent.size() + expectedBytes) + kReplyIdleMs;
        m_deadline = LinkClock::now() + std::chrono::milliseconds(ms);
    }
    ~ReplyReader()
    {
        if (m_stray > 0 || m_reports > 0)
            m_line.logOncePerOpen(platform::format("%s - stray input on the CP290 line: skipped %zu bytes and %d reports\n",
                                                   programName(m_line.program()), m_stray, m_reports));
    }

    size_t got() const { return m_got; }

    LinkResult byte(uint8_t& b)
    {
        if (!m_back.empty()) {
            b = m_back.front();
            m_back.pop_front();
            return {};
        }
        const LinkResult r = m_line.readByte(b, m_idleMs, m_deadline);
        if (r.ok())
            ++m_got;
        return r;
    }
    void pushBack(const uint8_t* b, size_t n) { m_back.insert(m_back.begin(), b, b + n); }

    LinkResult read(uint8_t* buf, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            if (LinkResult r = byte(buf[i]); !r.ok())
                return failed(r, "reply cut short");
        return {};
    }

    // Finds the next reply's sync and returns the status byte after it.
    LinkResult findStatus(uint8_t& status)
    {
        int run = 0;
        for (;;) {
            uint8_t b = 0;
            if (LinkResult r = byte(b); !r.ok()) {
                m_stray += static_cast<size_t>(run);
                return failed(r, run >= kReplySyncLength ? "reply cut short" : "no reply");
            }
            if (b == 0xFF) {
                ++run;
                continue;
            }
            if (run < kReplySyncLength) {
                m_stray += static_cast<size_t>(run) + 1;
                run = 0;
                continue;
            }
            // The device sends six; a frame's sixteen followed by its command
            // byte is our own frame coming back (a loop, a modem echoing).
            if (run >= kSyncLength && m_sent.size() > kSyncLength && b == m_sent[kSyncLength])
                return bad("echo of the command just sent");
            m_stray += static_cast<size_t>(run - kReplySyncLength);
            status = b;
            m_line.noteReplyStatus(b);
            return {};
        }
    }

    // After an acknowledgement's status nothing follows; a report's body
    // does, at once. Only what is already there is looked at, so a reply
    // costs no extra wait.
    bool reportFollows(uint8_t status)
    {
        uint8_t body[5];
        if (m_line.readWaiting(body, 1) == 0)
            return false;
        ++m_got;
        if (body[0] == 0xFF) {
            pushBack(body, 1);  // the start of the next message: ours was the reply
            return false;
        }
        const auto bound = std::min(m_deadline, LinkClock::now() + std::chrono::milliseconds(wireMs(8)));
        for (int i = 1; i < 5; ++i) {
            if (!m_line.readByte(body[i], wireMs(4), bound).ok()) {
                m_stray += static_cast<size_t>(i);
                return false;
            }
            ++m_got;
        }
        if (bodySumValid(body)) {
            noteReport(status, body);
            return true;
        }
        m_stray += 5;
        return false;
    }

    // A report read in place of the reply goes to the line's report sink.
    void noteReport(uint8_t status, const uint8_t* body5)
    {
        ++m_reports;
        uint8_t msg[kReportLength] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, status};
        std::copy(body5, body5 + 5, msg + 7);
        if (const auto r = decodeReport(msg))
            m_line.handReport(*r);
    }
    // From now the reply may take totalMs, each byte as long.
    void extend(int totalMs)
    {
        m_idleMs = totalMs;
        m_deadline = LinkClock::now() + std::chrono::milliseconds(totalMs);
    }
    void quietWhenSilent() { m_quietWhenSilent = true; }
    void setProblem(std::string p) { m_problem = std::move(p); }

    LinkResult bad(const std::string& why)
    {
        if (!m_logged)
            platform::logf("%s Error - CP290 reply not valid (%s)\n", programName(m_line.program()), why.c_str());
        m_logged = true;
        return {LinkStatus::BadReply, 0};
    }

    // A wait that ended: nothing at all is the device not answering; bytes
    // that never made a reply are a reply not valid.
    LinkResult failed(const LinkResult& r, const char* what)
    {
        if (r.status == LinkStatus::Cancelled || m_logged)
            return r;
        if (m_got == 0) {
            if (!m_quietWhenSilent)
                logNotResponding(m_line.program());
            m_logged = true;
            return r;
        }
        if (!m_problem.empty())
            return bad(m_problem);
        return bad(std::string(what) + " in " + std::to_string(m_got) + " bytes");
    }

private:
    SerialLine& m_line;
    const Frame& m_sent;
    int m_idleMs;
    LinkClock::time_point m_deadline;
    std::deque<uint8_t> m_back;
    size_t m_got = 0;
    size_t m_stray = 0;
    int m_reports = 0;
    bool m_logged = false;
    bool m_quietWhenSilent = false;
    std::string m_problem;
};

LinkResult readAck(ReplyReader& reader)
{
    for (;;) {
        uint8_t status = 0;
        if (LinkResult r = reader.findStatus(status); !r.ok())
            return r;
        if (!reader.reportFollows(status))
            return {};
    }
}

LinkResult writeThenAck(SerialLine& line, const Frame& frame)
{
    LinkResult r = line.writeFrame(frame);
    if (!r.ok())
        return r;
    ReplyReader reader(line, frame, kAckLength);
    return readAck(reader);
}

}  // namespace

LinkResult sendEvent(SerialLine& line, int eventNumber, const EventImage& img)
{
    return writeThenAck(line, downloadEventFrame(eventNumber, img));
}

LinkResult sendClock(SerialLine& line, const std::tm& localTime)
{
    return writeThenAck(line, setClockFrame(localTime));
}

LinkResult sendBaseCode(SerialLine& line, uint8_t houseCode)
{
    return writeThenAck(line, baseCodeFrame(houseCode));
}

LinkResult requestClock(SerialLine& line, ClockReply& reply)
{
    const Frame frame = clockRequestFrame();
    LinkResult r = line.writeFrame(frame);
    if (!r.ok())
        return r;
    // Room for one report ahead of the reply.
    ReplyReader reader(line, frame, kClockReplyLength + kReportLength);
    for (;;) {
        uint8_t msg[kClockReplyLength] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        if (r = reader.findStatus(msg[6]); !r.ok())
            return r;
        if (r = reader.read(msg + 7, 5); !r.ok())
            return r;
        if (!bodySumValid(msg + 7)) {
            return reader.bad(platform::format("clock reply checksum 0x%02X, its bytes sum to 0x%02X", msg[11],
                                               checksum(msg + 7, 4)));
        }
        const ClockReply c = decodeClockReply(msg);
        const std::string problem = clockRangeProblem(c);
        if (problem.empty()) {
            reply = c;
            return {};
        }
        // A sound sum around values no clock has: an unsolicited report
        // (house and function where the minute would be). The reply follows.
        reader.noteReport(msg[6], msg + 7);
        reader.setProblem("clock reply " + problem);
    }
}

LinkResult sendDirect(SerialLine& line, const DirectCommand& command, int reportWaitMs, Report& confirmed)
{
    const Frame frame = directCommandFrame(command);
    LinkResult r = line.writeFrame(frame);
    if (!r.ok())
        return r;
    ReplyReader reader(line, frame, kAckLength);
    if (r = readAck(reader); !r.ok())
        return r;
    // The power line is slow: the report comes when the CP290 has sent the
    // command there. Reports of other commands before it go to the sink.
    reader.extend(std::max(1, reportWaitMs));
    for (;;) {
        uint8_t msg[kReportLength] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        if (r = reader.findStatus(msg[6]); !r.ok())
            return r.status == LinkStatus::Cancelled ? r : LinkResult{LinkStatus::NoReport, r.error};
        if (r = reader.read(msg + 7, 5); !r.ok())
            return r.status == LinkStatus::Cancelled ? r : LinkResult{LinkStatus::NoReport, r.error};
        const auto report = decodeReport(msg);
        if (!report)
            continue;
        const bool ours = reportMatches(*report, command);
        line.handReport(*report, ours);
        if (ours) {
            confirmed = *report;
            return {};
        }
    }
}

LinkResult uploadEvents(SerialLine& line,
                        const std::function<bool(int, const std::optional<EventImage>&)>& onSlot)
{
    const Frame frame = uploadFrame();
    LinkResult r = line.writeFrame(frame);
    if (!r.ok())
        return r;
    constexpr size_t kLongest = kAckLength + kMaxEvents * 8 + 1;
    ReplyReader reader(line, frame, kLongest + kReportLength);
    uint8_t status = 0;
    if (r = reader.findStatus(status); !r.ok())
        return r;
    // A report taken for the acknowledgement shows itself by what follows:
    // its four bytes and their sum, then the real sync and status. Slots
    // cannot look like that (a used slot's house byte is never 0xFF).
    uint8_t ahead[kReportLength];
    if (r = reader.read(ahead, sizeof ahead); !r.ok())
        return r;
    const bool reportFirst = bodySumValid(ahead) &&
                             std::all_of(ahead + 5, ahead + 11, [](uint8_t b) { return b == 0xFF; }) &&
                             ahead[11] != 0xFF;
    if (reportFirst) {
        reader.noteReport(status, ahead);
        line.noteReplyStatus(ahead[11]);
    }
    else
        reader.pushBack(ahead, sizeof ahead);

    UploadDecoder decoder;
    while (!decoder.done()) {
        uint8_t b = 0;
        if (r = reader.byte(b); !r.ok())
            return reader.failed(r, "the events read were cut short");
        if (decoder.feed(b) && onSlot && !onSlot(decoder.lastSlot(), decoder.lastImage()))
            return {LinkStatus::Cancelled, 0};
    }
    // The closing checksum covers what follows the status byte. The device's
    // documentation counts the empty slots' 0xFF too; until a device confirms
    // it, the sum of the events alone is taken as well.
    uint8_t sum = 0;
    if (r = reader.byte(sum); !r.ok())
        return reader.failed(r, "the events read lack their checksum");
    const char* matched = sum == decoder.sumAll()      ? "with the empty slots"
                          : sum == decoder.sumEvents() ? "without the empty slots"
                                                       : nullptr;
    if (!matched) {
        return reader.bad(platform::format("events read with checksum 0x%02X, the data sums to 0x%02X (0x%02X without the empty slots)",
                                           sum, decoder.sumAll(), decoder.sumEvents()));
    }
    // A stream that goes on was not read as sent (bytes slipped in): no table.
    uint8_t extra = 0;
    if (line.readUpTo(&extra, 1, wireMs(3)) == 1)
        return reader.bad("more bytes than 128 slots and their checksum");
    platform::logf("%s - CP290 events read, checksum matched %s\n", programName(line.program()), matched);
    return {};
}

SelfTestOutcome runSelfTest(SerialLine& line, int totalMs, const std::function<bool()>& keepWaiting)
{
    SelfTestOutcome out;
    const Frame frame = selfTestFrame();
    // A failed write is logged by the line; the wait still follows and ends as failed.
    line.writeFrame(frame);
    int left = totalMs;
    if (keepWaiting) {
        // The same bound, waited in slices short enough for a Cancel to be seen.
        constexpr int kSliceMs = 200;
        const auto deadline = LinkClock::now() + std::chrono::milliseconds(totalMs);
        const auto msTo = [&deadline] {
            return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - LinkClock::now())
                                        .count());
        };
        while (msTo() > 0 && !line.waitForInput(std::min(kSliceMs, msTo()))) {
            if (!keepWaiting()) {
                out.link = LinkStatus::Cancelled;
                return out;
            }
        }
        left = std::max(1, msTo());
    }
    // The device is silent while it tests: the whole bound is also the idle bound.
    ReplyReader reader(line, frame, kAckLength, left, left);
    reader.quietWhenSilent();  // the self test has its own line for that
    uint8_t status = 0;
    const LinkResult r = reader.findStatus(status);
    if (!r.ok()) {
        out.link = r.status;
        if (reader.got() == 0 && r.status != LinkStatus::Cancelled)
            platform::logf("%s - *** CP290 NOT Responding *** \n", programName(line.program()));
        return out;
    }
    out.replied = true;
    out.statusBit = status & 0x01;
    out.passed = out.statusBit == 0;
    platform::logf("%s - CP290 Status = %d \n", programName(line.program()), out.statusBit);
    return out;
}

}  // namespace cp290
