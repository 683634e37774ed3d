#include "link/device_commands.h"

#include "platform/syslog_log.h"

namespace cp290 {

namespace {
LinkResult writeThenAck(SerialLine& line, const Frame& frame)
{
    LinkResult r = line.writeFrame(frame);
    if (!r.ok())
        return r;
    uint8_t ack[kAckLength];
    return line.readExact(ack, sizeof ack);
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
    LinkResult r = line.writeFrame(clockRequestFrame());
    if (!r.ok())
        return r;
    uint8_t buf[kClockReplyLength];
    r = line.readExact(buf, sizeof buf);
    if (r.ok())
        reply = decodeClockReply(buf);
    return r;
}

LinkResult uploadEvents(SerialLine& line,
                        const std::function<bool(int, const std::optional<EventImage>&)>& onSlot)
{
    LinkResult r = line.writeFrame(uploadFrame());
    if (!r.ok())
        return r;
    uint8_t ack[kAckLength];
    r = line.readExact(ack, sizeof ack);
    if (!r.ok())
        return r;
    UploadDecoder decoder;
    uint8_t buf[8];
    while (!decoder.done()) {
        const size_t want = static_cast<size_t>(decoder.needed());
        r = line.readExact(buf, want);
        if (!r.ok())
            return r;
        for (size_t i = 0; i < want; ++i) {
            if (decoder.feed(buf[i]) && onSlot && !onSlot(decoder.lastSlot(), decoder.lastImage()))
                return {LinkStatus::Cancelled, 0};
        }
    }
    // The device ends the stream with a checksum byte. Take it now: left
    // waiting, it could arrive after the next open's flush and shift that
    // command's reply by one byte. A device that sends none costs a short wait.
    uint8_t sum = 0;
    line.readExact(&sum, 1, kTrailingByteMs, true);
    return r;
}

SelfTestOutcome runSelfTest(SerialLine& line, int totalMs)
{
    SelfTestOutcome out;
    // A failed write is logged by the line; the wait still follows and ends as failed.
    line.writeFrame(selfTestFrame());
    uint8_t reply[kAckLength];
    const size_t got = line.readUpTo(reply, sizeof reply, totalMs);
    if (got == 0) {
        platform::logLine("Quorvel - *** CP290 NOT Responding *** \n");
        return out;
    }
    if (got < sizeof reply)
        return out;
    out.replied = true;
    out.statusBit = reply[kAckLength - 1] & 0x01;
    out.passed = out.statusBit == 0;
    platform::logf("Quorvel - CP290 Status = %d \n", out.statusBit);
    return out;
}

}  // namespace cp290
