#pragma once
// Cuts the byte stream arriving at the device into frames. A run of at least
// sixteen 0xFF is sync; the first other byte after it is the command when it
// is 0 to 7, and the command's data follow. Anything else is line noise and is
// dropped without a trace. A memory write's length depends on its address:
// below 0x400 it carries an event (8 bytes and a checksum), above it a pair of
// graphics bytes and a checksum.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class FrameParser {
public:
    // Takes one byte; true when it completed a frame, which frame() then holds.
    bool feed(uint8_t b);
    // True while a frame is begun but not complete.
    bool inFrame() const { return !m_frame.empty(); }
    void reset();
    const std::vector<uint8_t>& frame() const { return m_done; }

private:
    int m_syncRun = 0;
    size_t m_want = 0;
    std::vector<uint8_t> m_frame;  // command byte and data so far
    std::vector<uint8_t> m_done;
    bool complete();
};

}  // namespace sim
