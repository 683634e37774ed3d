#include "state/line_log.h"

#include "state/state_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/whole_file.h"

namespace state {

namespace {

constexpr int kLockWaitMs = 2000;

// Keeps the newest cap.keepLines lines (of the last cap.trimBytes). Runs
// under the appenders' lock.
int trim(const std::string& path, const LogCap& cap)
{
    int err = 0;
    bool cut = false;
    const std::optional<std::string> text = readLogTail(path, cap.trimBytes, &err, &cut);
    if (!text)
        return err;
    size_t lines = 0;
    for (char c : *text)
        lines += c == '\n';
    if (lines <= cap.keepLines && !cut)
        return 0;
    size_t drop = lines > cap.keepLines ? lines - cap.keepLines : 0;
    size_t pos = 0;
    while (drop > 0) {
        pos = text->find('\n', pos) + 1;
        --drop;
    }
    return platform::writeOwnFileWhole(path, std::string_view(*text).substr(pos), 0600);
}

}  // namespace

std::string isoLocal(std::time_t t)
{
    const std::tm tm = platform::localTime(t);
    const long off = tm.tm_gmtoff / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, off < 0 ? '-' : '+', std::labs(off) / 60,
                  std::labs(off) % 60);
    return buf;
}

std::optional<std::time_t> parseIso(const std::string& s)
{
    std::tm tm{};
    char sign = 0;
    int offH = 0, offM = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &sign, &offH, &offM) != 9 ||
        (sign != '+' && sign != '-') || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60 || offH > 23 || offM > 59)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    // The offset written with the time makes it exact whatever TZ is now.
    const long offset = (offH * 60L + offM) * 60L * (sign == '-' ? -1 : 1);
    return static_cast<std::time_t>(timegm(&tm) - offset);
}


std::vector<std::string> tabFields(const std::string& line)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

std::optional<std::string> readLogTail(const std::string& path, size_t limit, int* err, bool* cut)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *err = errno;
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::string> out;
    if (::fstat(fd, &st) != 0) {
        *err = errno;
    } else {
        const off_t size = st.st_size;
        const off_t from = size > static_cast<off_t>(limit) ? size - static_cast<off_t>(limit) : 0;
        std::string text(static_cast<size_t>(size - from), '\0');
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, from + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
        size_t start = 0;
        if (from > 0) {
            // Unless the byte before is a line end, the first line is a part.
            char before = 0;
            if (::pread(fd, &before, 1, from - 1) != 1 || before != '\n')
                start = std::min(text.size(), text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1);
        }
        if (cut)
            *cut = from > 0;
        out = text.substr(start);
    }
    ::close(fd);
    return out;
}

int appendLogLine(const std::string& path, const std::string& lockName, const std::string& line, const LogCap& cap)
{
    const std::string folder = platform::suiteStateFolder();
    if (const int err = platform::makeFolders(folder))
        return err;
    const std::string lockPath = folder + lockName;
    // Holders only append and trim, which takes milliseconds; a holder stuck
    // longer (stopped, hung disk) must not hold up a cron run. Without the
    // lock the line is still appended whole, only the trim waits for a later run.
    bool locked = false;
    const int lock = lockStateFile(lockPath, kLockWaitMs, locked);
    if (lock < 0)
        return errno;
    int err = 0;
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == ELOOP && ::unlink(path.c_str()) == 0)  // a link in its place is replaced, never written through
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        err = errno;
    } else {
        const ssize_t n = ::write(fd, line.data(), line.size());
        if (n < 0)
            err = errno;
        else if (static_cast<size_t>(n) != line.size())
            err = ENOSPC;
        struct stat st {};
        const bool large = cap.trimAbove == 0 || (::fstat(fd, &st) == 0 && st.st_size > cap.trimAbove);
        if (::close(fd) != 0 && err == 0)
            err = errno;
        if (err == 0 && locked && large)
            err = trim(path, cap);
    }
    ::close(lock);
    return err;
}

}  // namespace state
