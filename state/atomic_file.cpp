#include "state/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace state {

int writeFileAtomically(const std::string& path, const std::string& bytes)
{
    std::string tmp = path + ".XXXXXX";
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = 0;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!err && fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && rename(tmp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err)
        unlink(tmp.c_str());
    return err;
}

std::optional<std::string> readWholeFile(const std::string& path, int* err)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    std::string out;
    char buf[8192];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (err)
                *err = errno;
            close(fd);
            return std::nullopt;
        }
        break;
    }
    close(fd);
    return out;
}

}  // namespace state
