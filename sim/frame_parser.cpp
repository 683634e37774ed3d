#include "sim/frame_parser.h"

namespace sim {

namespace {
constexpr int kSyncRun = 16;
constexpr uint8_t kLastCommand = 7;
constexpr unsigned kEventArea = 0x400;

// Bytes after the command byte; a memory write is first read up to its address.
size_t dataLength(uint8_t command)
{
    switch (command) {
    case 0: return 1;  // base house code
    case 1: return 5;  // level|function, house, units 9-16, units 1-8, checksum
    case 2: return 4;  // minute, hour, day bit, checksum
    case 3: return 2;  // address; the rest follows from it
    default: return 0;
    }
}
}  // namespace

void FrameParser::reset()
{
    m_syncRun = 0;
    m_want = 0;
    m_frame.clear();
}

bool FrameParser::complete()
{
    m_done = std::move(m_frame);
    reset();
    return true;
}

bool FrameParser::feed(uint8_t b)
{
    if (m_frame.empty()) {
        if (b == 0xFF) {
            if (m_syncRun < kSyncRun)
                ++m_syncRun;
            return false;
        }
        const bool command = m_syncRun >= kSyncRun && b <= kLastCommand;
        m_syncRun = 0;
        if (!command)
            return false;
        m_frame.push_back(b);
        m_want = 1 + dataLength(b);
        return m_want == 1 ? complete() : false;
    }
    m_frame.push_back(b);
    if (m_frame[0] == 3 && m_frame.size() == 3) {
        const unsigned address = m_frame[1] | (m_frame[2] << 8);
        m_want = 3 + (address < kEventArea ? 9 : 3);
    }
    return m_frame.size() == m_want ? complete() : false;
}

}  // namespace sim
