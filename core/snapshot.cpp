#include "core/snapshot.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <tuple>
#include <unistd.h>

#include "core/schedule_file.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/whole_file.h"
#include "state/run_history.h"

namespace core {

namespace {

// A snapshot's name: YYYY-MM-DD-HHMMSS-<tool>[-N].sch, or the older
// YYYY-MM-DD-HHMM-<tool>.sch (still listed and trimmed).
struct SnapshotName {
    std::string name;
    std::string stamp;  // the time part, as written
    std::string tool;
    int copy = 1;       // N of the suffix; 1 without one
};

std::optional<SnapshotName> parseName(const std::string& name)
{
    if (name.size() < 21 || name.compare(name.size() - 4, 4, ".sch") != 0 || name[4] != '-' || name[7] != '-' ||
        name[10] != '-')
        return std::nullopt;
    const size_t timeEnd = name.find('-', 11);
    if (timeEnd != 15 && timeEnd != 17)
        return std::nullopt;
    for (size_t i = 0; i < timeEnd; ++i)
        if ((i == 4 || i == 7 || i == 10) ? name[i] != '-' : !std::isdigit(static_cast<unsigned char>(name[i])))
            return std::nullopt;
    SnapshotName n{name, name.substr(0, timeEnd), name.substr(timeEnd + 1, name.size() - timeEnd - 5), 1};
    const size_t dash = n.tool.rfind('-');
    if (dash != std::string::npos) {
        const std::string number = n.tool.substr(dash + 1);
        if (number.empty() || number.size() > 6 ||
            !std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        n.copy = std::stoi(number);
        n.tool.resize(dash);
    }
    if (n.tool.empty())
        return std::nullopt;
    return n;
}

// Newest first: by time, then the later copy of the same second.
std::vector<SnapshotName> snapshotNames()
{
    std::vector<SnapshotName> names;
    DIR* dir = ::opendir(snapshotFolder().c_str());
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir))
        if (auto n = parseName(e->d_name))
            names.push_back(std::move(*n));
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const SnapshotName& a, const SnapshotName& b) {
        return std::tie(b.stamp, b.copy, b.tool) < std::tie(a.stamp, a.copy, a.tool);
    });
    return names;
}

// Takes a name nobody holds (O_EXCL: never an existing file or link), adding
// "-2", "-3" ... when the second already has a snapshot of the tool.
int claimName(const std::string& base, std::string& path)
{
    for (int copy = 1; copy < 1000; ++copy) {
        path = base + (copy == 1 ? "" : "-" + std::to_string(copy)) + ".sch";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

}  // namespace

std::string snapshotFolder()
{
    return platform::suiteStateFolder() + "snapshots/";
}

SnapshotResult writeSnapshot(const EventTable& table, const std::string& tool, std::time_t when)
{
    SnapshotResult r;
    const std::tm t = platform::localTime(when);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d%02d%02d-", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    const std::string folder = snapshotFolder();
    r.path = folder + stamp + tool + ".sch";
    if ((r.error = platform::makeFolders(folder)) != 0)
        return r;
    if ((r.error = claimName(folder + stamp + tool, r.path)) != 0)
        return r;
    if ((r.error = platform::writeOwnFileWhole(r.path, scheduleBytes(table), 0600)) != 0) {
        ::unlink(r.path.c_str());
        return r;
    }
    state::noteRunSnapshot(tool, r.path);

    // Each tool keeps its own newest: a load's snapshot outlives daily corrections.
    int kept = 0;
    for (const SnapshotName& n : snapshotNames())
        if (n.tool == tool && ++kept > kSnapshotKeep)
            ::unlink((folder + n.name).c_str());
    return r;
}

std::vector<std::string> listSnapshots()
{
    std::vector<std::string> paths;
    for (const SnapshotName& n : snapshotNames())
        paths.push_back(snapshotFolder() + n.name);
    return paths;
}

std::optional<SnapshotStamp> snapshotStamp(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::optional<SnapshotName> n = parseName(slash == std::string::npos ? path : path.substr(slash + 1));
    if (!n)
        return std::nullopt;
    std::tm t{};
    if (std::sscanf(n->stamp.c_str(), "%4d-%2d-%2d-%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                    &t.tm_min) != 5)
        return std::nullopt;
    if (n->stamp.size() == 17)
        t.tm_sec = std::stoi(n->stamp.substr(15));
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;  // the name holds local time, whichever offset applied then
    const std::time_t when = std::mktime(&t);
    if (when == -1)
        return std::nullopt;
    return SnapshotStamp{when, n->tool};
}

std::string describeChanges(const EventTable& before, const EventTable& after)
{
    std::vector<int> changed, added, removed;
    for (int n = 1; n <= kEventCount; ++n) {
        const EventRecord& a = *before.record(n);
        const EventRecord& b = *after.record(n);
        if (!a.used() && !b.used())
            continue;
        if (!a.used())
            added.push_back(n);
        else if (!b.used())
            removed.push_back(n);
        else if (a.image() != b.image())
            changed.push_back(n);
    }
    std::string out;
    auto part = [&out](const std::vector<int>& numbers, const char* what) {
        if (numbers.empty())
            return;
        if (!out.empty())
            out += "; ";
        out += numbers.size() == 1 ? "event " : "events ";
        for (size_t i = 0; i < numbers.size(); ++i)
            out += (i ? ", " : "") + std::to_string(numbers[i]);
        out += std::string(" ") + what;
    };
    part(changed, "changed");
    part(added, "added");
    part(removed, "removed");
    return out.empty() ? "no change" : out;
}

}  // namespace core
