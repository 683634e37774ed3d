#include "core/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <unistd.h>

#include "core/schedule_file.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/whole_file.h"

namespace core {

namespace {

bool isSnapshotName(const std::string& name)
{
    // YYYY-MM-DD-HHMM-<tool>.sch
    return name.size() > 20 && name.compare(name.size() - 4, 4, ".sch") == 0 && name[4] == '-' &&
           name[7] == '-' && name[10] == '-' && name[15] == '-';
}

std::vector<std::string> snapshotNames()
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(snapshotFolder().c_str());
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (isSnapshotName(name))
            names.push_back(name);
    }
    ::closedir(dir);
    // Same minute: the later write sorts by tool name, which is good enough.
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
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
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d%02d-", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min);
    const std::string folder = snapshotFolder();
    r.path = folder + stamp + tool + ".sch";
    if ((r.error = platform::makeFolders(folder)) != 0)
        return r;
    if ((r.error = platform::writeFileWhole(r.path, scheduleBytes(table), 0600)) != 0)
        return r;

    const std::vector<std::string> names = snapshotNames();
    for (size_t i = kSnapshotKeep; i < names.size(); ++i)
        ::unlink((folder + names[i]).c_str());
    return r;
}

std::vector<std::string> listSnapshots()
{
    std::vector<std::string> paths;
    for (const std::string& name : snapshotNames())
        paths.push_back(snapshotFolder() + name);
    return paths;
}

std::optional<SnapshotStamp> snapshotStamp(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!isSnapshotName(name))
        return std::nullopt;
    std::tm t{};
    int consumed = 0;
    if (std::sscanf(name.c_str(), "%4d-%2d-%2d-%2d%2d-%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &consumed) != 5 ||
        consumed != 16)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;  // the name holds local time, whichever offset applied then
    const std::time_t when = std::mktime(&t);
    if (when == -1)
        return std::nullopt;
    return SnapshotStamp{when, name.substr(16, name.size() - 16 - 4)};
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
