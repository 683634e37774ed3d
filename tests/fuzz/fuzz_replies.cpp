// The CP290's reply streams, through the same readers the programs use. The
// first byte picks the command whose reply the rest stands for: download
// (acknowledgement), clock request, upload, self test, or the bare clock and
// upload decoders. The stream is fed through one end of a socket pair, the
// other end adopted by a SerialLine; the end of the input is a hang-up, so
// every wait ends at once.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "link/cp290_protocol.h"
#include "link/device_commands.h"
#include "link/serial_link.h"

namespace {

void decoders(const uint8_t* data, size_t size)
{
    if (size >= cp290::kClockReplyLength) {
        uint8_t reply[cp290::kClockReplyLength];
        std::memcpy(reply, data, sizeof reply);
        const cp290::ClockReply c = cp290::decodeClockReply(reply);
        // A reply in range is shown; its texts are never empty.
        if (cp290::clockRangeProblem(c).empty() &&
            (cp290::clockTimeText(c.hour, c.minute).empty() || cp290::dayName(c.dayBit).size() < 6))
            std::abort();
    }
    cp290::UploadDecoder d;
    for (size_t i = 0; i < size && !d.done(); ++i) {
        const int wanted = d.needed();
        if (wanted < 1 || wanted > 8)
            std::abort();
        if (d.feed(data[i]) && (d.lastSlot() < 1 || d.lastSlot() > cp290::kMaxEvents))
            std::abort();
    }
}

void throughTheReaders(int which, const uint8_t* data, size_t size)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(sv[1], data + done, size - done);
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    ::shutdown(sv[1], SHUT_WR);  // the device hangs up after the last byte

    cp290::SerialLine line(cp290::Program::Quorvel);
    line.adoptStream(sv[0]);
    switch (which) {
    case 0: {
        const cp290::EventImage img{0x08, 0x7F, 6, 30, 0x80, 0x00, 0x60, 0x02};
        (void)cp290::sendEvent(line, 5, img);
        break;
    }
    case 1: {
        cp290::ClockReply c{};
        if (cp290::requestClock(line, c).ok() && !cp290::clockRangeProblem(c).empty())
            std::abort();  // a clock shown to the user is always a clock
        break;
    }
    case 2: {
        int next = 1;
        const bool ok = cp290::uploadEvents(line, [&](int n, const std::optional<cp290::EventImage>&) {
                            if (n != next++)
                                std::abort();  // slots arrive in order, each once
                            return true;
                        }).ok();
        if (ok && next != cp290::kMaxEvents + 1)
            std::abort();  // a good upload holds all 128 slots
        break;
    }
    default: {
        const cp290::SelfTestOutcome t = cp290::runSelfTest(line, 200);
        if (t.passed && (!t.replied || t.statusBit != 0))
            std::abort();
        break;
    }
    }
    line.close();
    ::close(sv[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int which = data[0] % 5;
    if (which == 4)
        decoders(data + 1, size - 1);
    else
        throughTheReaders(which, data + 1, size - 1);
    return 0;
}
