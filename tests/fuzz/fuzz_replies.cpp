// The CP290's reply streams, through the decoders of link/cp290_protocol.h.
// The first byte picks the stream: a clock reply or an upload. (The
// acknowledgement and the self test's status are read by the serial line's
// reply reader itself, which works on the open line, not on bytes.)
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/cp290_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t which = data[0] % 2;
    ++data;
    --size;
    if (which == 0) {
        uint8_t reply[cp290::kClockReplyLength];
        if (size < sizeof reply)
            return 0;
        std::memcpy(reply, data, sizeof reply);
        (void)cp290::bodySumValid(reply + cp290::kReplySyncLength + 1);
        const cp290::ClockReply c = cp290::decodeClockReply(reply);
        // A reply in range is shown; its texts are never empty.
        if (cp290::clockRangeProblem(c).empty() &&
            (cp290::clockTimeText(c.hour, c.minute).empty() || cp290::dayName(c.dayBit).size() < 6))
            std::abort();
        return 0;
    }
    cp290::UploadDecoder d;
    for (size_t i = 0; i < size && !d.done(); ++i) {
        const int wanted = d.needed();
        if (wanted < 1 || wanted > 8)
            std::abort();
        if (d.feed(data[i]) && (d.lastSlot() < 1 || d.lastSlot() > cp290::kMaxEvents))
            std::abort();
    }
    (void)d.sumAll();
    (void)d.sumEvents();
    return 0;
}
