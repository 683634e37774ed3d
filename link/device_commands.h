#pragma once
// The CP290's commands over an open line, as every program uses them: build
// the frame, write it, read the reply within the link's bounds. A reply is
// recognised, never assumed: its sync is found (stray bytes and unsolicited
// reports before it are skipped and logged), an echo of the frame is refused,
// checksums and the clock's ranges are checked. Each reply has a deadline of
// its wire time plus 5 s, besides the 5 s bound between bytes. Write
// failures, silence and replies not valid are logged in the program's
// wording; callers add their own operation-level lines.
#include <functional>
#include <optional>

#include "link/cp290_protocol.h"
#include "link/serial_link.h"

namespace cp290 {

// Download one event and read its acknowledgement.
LinkResult sendEvent(SerialLine& line, int eventNumber, const EventImage& img);

// Set the clock from a local time; the acknowledgement is read.
LinkResult sendClock(SerialLine& line, const std::tm& localTime);

// Set the base house code (erases the device's events); the acknowledgement is read.
LinkResult sendBaseCode(SerialLine& line, uint8_t houseCode);

// Sends a direct command and reads its acknowledgement (within the usual
// bounds), then waits up to reportWaitMs for the report of it: the CP290's
// word that the command went out on the power line. Other reports before it
// go to the line's sink; the command's own goes there too, marked direct.
// NoReport: acknowledged, but the report never came.
LinkResult sendDirect(SerialLine& line, const DirectCommand& command, int reportWaitMs, Report& confirmed);

// Request the clock and base house code.
LinkResult requestClock(SerialLine& line, ClockReply& reply);

// Upload all 128 slots; the closing checksum must match (BadReply otherwise,
// after every slot was handed over: callers keep the slots until Ok). onSlot(n, image or nullopt for empty) runs after each
// slot; returning false stops the upload (LinkStatus::Cancelled).
LinkResult uploadEvents(SerialLine& line,
                        const std::function<bool(int, const std::optional<EventImage>&)>& onSlot);

struct SelfTestOutcome {
    bool passed = false;
    bool replied = false;  // a complete 7-byte reply came within the bound
    int statusBit = 1;
    LinkStatus link = LinkStatus::Ok;  // why no reply was taken: Timeout, BadReply, Cancelled
};
// Runs the self test: one bound of totalMs for the whole reply; bytes before
// the reply's sync are skipped. Logs, in the wording of the line's program,
// "<P> - *** CP290 NOT Responding *** \n" when not a byte came and
// "<P> - CP290 Status = %d \n" when a reply was read. keepWaiting, when
// given, is asked a few times a second while nothing has come; false ends the
// wait (link Cancelled).
SelfTestOutcome runSelfTest(SerialLine& line, int totalMs = kSelfTestTotalMs,
                            const std::function<bool()>& keepWaiting = {});

}  // namespace cp290
