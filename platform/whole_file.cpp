#include "platform/whole_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"

namespace platform {
namespace {

int writeAll(int fd, std::string_view bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string targetOf(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A fresh file beside the target, created with the mode a new file gets
// (the umask applies as for any new file).
int createTemp(const std::string& target, mode_t mode, std::string& tempPath)
{
    static std::atomic<unsigned> counter{0};
    const std::string stem = folderOf(target) + "/" + fileNameOf(target) + "." + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(++counter) + ".tmp";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int writeStream(const std::string& path, std::string_view bytes)
{
    // Non-blocking open: a pipe without a reader fails instead of hanging.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    int err = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ? errno : writeAll(fd, bytes);
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err;
}

// `target` is the name replaced; a link there (only when links are not
// followed) counts as no file: the rename puts a regular file in its place.
int replaceWhole(const std::string& target, std::string_view bytes, mode_t newFileMode)
{
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0 && !S_ISLNK(old.st_mode);
    if (exists && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode))
        return writeStream(target, bytes);

    // Renaming needs only the folder's permission; a file its owner made
    // read-only (no write bit at all, as rm(1) asks about) or that this user
    // may not write is left alone, also for root.
    if (exists && S_ISREG(old.st_mode) && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
        return EACCES;

    std::string temp;
    const int fd = createTemp(target, newFileMode, temp);
    if (fd < 0)
        return errno;
    int err = 0;
    if (exists && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) != 0)
        err = errno;
    if (err == 0)
        err = writeAll(fd, bytes);
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return err;
    }
    // Make the rename itself durable; the data is already safe either way.
    const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return 0;
}

std::optional<std::string> readFrom(const std::string& path, int flags, int* err)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    std::string out;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (err)
                *err = errno;
            ::close(fd);
            return std::nullopt;
        }
        break;
    }
    ::close(fd);
    return out;
}

}  // namespace

int writeFileWhole(const std::string& path, std::string_view bytes, mode_t newFileMode)
{
    return replaceWhole(targetOf(path), bytes, newFileMode);
}

int writeOwnFileWhole(const std::string& path, std::string_view bytes, mode_t newFileMode)
{
    return replaceWhole(path, bytes, newFileMode);
}

std::optional<std::string> readWholeFile(const std::string& path, int* err)
{
    return readFrom(path, 0, err);
}

std::optional<std::string> readOwnFile(const std::string& path, int* err)
{
    return readFrom(path, O_NOFOLLOW, err);
}

}  // namespace platform
