#include "state/state_files.h"

#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace state {

std::string eventImageHex(const std::array<uint8_t, 8>& img)
{
    std::string out;
    char b[3];
    for (const uint8_t v : img) {
        std::snprintf(b, sizeof b, "%02x", v);
        out += b;
    }
    return out;
}

bool parseEventImageHex(const std::string& text, std::array<uint8_t, 8>& img)
{
    if (text.size() != 16)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    for (size_t i = 0; i < img.size(); ++i)
        img[i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return true;
}

int lockStateFile(const std::string& path, int waitMs, bool& locked)
{
    constexpr int kPollMs = 20;
    locked = false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    for (int waited = 0; !(locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0) && waited < waitMs; waited += kPollMs)
        ::poll(nullptr, 0, kPollMs);
    return fd;
}

}  // namespace state
