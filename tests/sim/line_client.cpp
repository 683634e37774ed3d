#include "tests/sim/line_client.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

Bytes frame(uint8_t command, Bytes data)
{
    Bytes f(16, 0xFF);
    f.push_back(command);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes withSum(Bytes data)
{
    unsigned sum = 0;
    for (uint8_t b : data)
        sum += b;
    data.push_back(static_cast<uint8_t>(sum));
    return data;
}

Bytes writeEventFrame(int n, const Bytes& img)
{
    const int address = (n - 1) * 8;
    Bytes data = {static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)};
    const Bytes image = withSum(img);
    data.insert(data.end(), image.begin(), image.end());
    return frame(3, data);
}

Bytes ack(uint8_t status)
{
    Bytes a(6, 0xFF);
    a.push_back(status);
    return a;
}

LineClient::LineClient(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (m_fd < 0 || tcgetattr(m_fd, &t) != 0 || ioctl(m_fd, TIOCEXCL) != 0 || flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    cfmakeraw(&t);
    cfsetspeed(&t, B600);
    tcsetattr(m_fd, TCSANOW, &t);
    tcflush(m_fd, TCIFLUSH);
}

LineClient::~LineClient()
{
    if (m_fd < 0)
        return;
    tcdrain(m_fd);
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
}

void LineClient::send(const Bytes& bytes)
{
    [[maybe_unused]] ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
}

Bytes LineClient::read(size_t n, int idleMs)
{
    Bytes got;
    while (got.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, idleMs) <= 0)
            break;
        uint8_t buf[2048];
        const ssize_t k = ::read(m_fd, buf, std::min(sizeof buf, n - got.size()));
        if (k > 0)
            got.insert(got.end(), buf, buf + k);
    }
    return got;
}

}  // namespace simtest
