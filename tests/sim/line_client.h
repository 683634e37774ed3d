#pragma once
// The client end of the emulator's line, opened as the suite's programs open
// a serial device: raw 600 baud, exclusive, stale input thrown away. Frames
// are built here by hand from the documented byte layout, so the emulator is
// checked against the layout and not against another piece of our code.
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

Bytes frame(uint8_t command, Bytes data = {});   // 16 x FF, command, data
Bytes withSum(Bytes data);                       // data and its 8-bit sum
Bytes writeEventFrame(int n, const Bytes& img);  // memory write of event n
Bytes ack(uint8_t status);                       // 6 x FF, status

class LineClient {
public:
    explicit LineClient(const std::string& path);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool ok() const { return m_fd >= 0; }
    void send(const Bytes& bytes);
    // Up to n bytes; fewer when no new byte came for idleMs.
    Bytes read(size_t n, int idleMs = 2000);
    // Sends a frame and reads a reply of n bytes.
    Bytes exchange(const Bytes& frame, size_t n) { send(frame); return read(n); }

private:
    int m_fd = -1;
};

}  // namespace simtest
