// The CP290's reply streams, through today's decoders. The first byte picks
// the stream: acknowledgement, clock reply, upload, self test.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/cp290_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t which = data[0] % 4;
    ++data;
    --size;
    switch (which) {
    case 0:    // acknowledgement: six sync bytes and a status byte
    case 3: {  // self test: the acknowledgement's status carries the result
        if (size < cp290::kAckLength)
            return 0;
        (void)cp290::selfTestPassed(data[cp290::kAckLength - 1]);
        return 0;
    }
    case 1: {
        uint8_t reply[cp290::kClockReplyLength];
        if (size < sizeof reply)
            return 0;
        std::memcpy(reply, data, sizeof reply);
        const cp290::ClockReply c = cp290::decodeClockReply(reply);
        if (cp290::clockTimeText(c.hour, c.minute).empty() || cp290::dayName(c.dayBit).empty())
            std::abort();
        return 0;
    }
    case 2: {
        cp290::UploadDecoder d;
        for (size_t i = 0; i < size && !d.done(); ++i) {
            const int wanted = d.needed();
            if (wanted < 1 || wanted > 8)
                std::abort();
            if (d.feed(data[i]) && (d.lastSlot() < 1 || d.lastSlot() > cp290::kMaxEvents))
                std::abort();
        }
        return 0;
    }
    }
    return 0;
}
