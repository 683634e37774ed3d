#include "state/run_history.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"
#include "state/state_files.h"

namespace state {

namespace {

constexpr int kLockWaitMs = 2000;

std::string oneLine(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

std::vector<std::string> fields(const std::string& line)
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

// The file's last `limit` bytes from the first line that starts in them;
// *cut tells whether anything before was left out.
std::optional<std::string> readTail(const std::string& path, size_t limit, int* err, bool* cut = nullptr)
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

// Keeps the newest kRunsKeep lines (of the last kRunsTrimBytes). Runs under
// the appenders' lock.
int trim(const std::string& path)
{
    int err = 0;
    bool cut = false;
    const std::optional<std::string> text = readTail(path, kRunsTrimBytes, &err, &cut);
    if (!text)
        return err;
    size_t lines = 0;
    for (char c : *text)
        lines += c == '\n';
    if (lines <= kRunsKeep && !cut)
        return 0;
    size_t drop = lines > kRunsKeep ? lines - kRunsKeep : 0;
    size_t pos = 0;
    while (drop > 0) {
        pos = text->find('\n', pos) + 1;
        --drop;
    }
    return platform::writeOwnFileWhole(path, std::string_view(*text).substr(pos), 0600);
}

std::string startedFolder()
{
    return platform::suiteStateFolder() + "started/";
}

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks
// since boot; 0 when unknown.
unsigned long long processStart(long pid)
{
    int err = 0;
    const auto text = platform::readWholeFile("/proc/" + std::to_string(pid) + "/stat", &err);
    const size_t paren = text ? text->rfind(')') : std::string::npos;
    if (paren == std::string::npos)
        return 0;
    const std::vector<std::string> f = [&] {
        std::vector<std::string> out;
        size_t i = paren + 1;
        while (i < text->size()) {
            while (i < text->size() && (*text)[i] == ' ')
                ++i;
            const size_t end = text->find(' ', i);
            out.push_back(text->substr(i, end == std::string::npos ? std::string::npos : end - i));
            i = end == std::string::npos ? text->size() : end;
        }
        return out;
    }();
    // After the name: state is field 3, start time field 22.
    return f.size() > 19 ? std::strtoull(f[19].c_str(), nullptr, 10) : 0;
}

struct Started {
    RunRecord run;
    long pid = 0;
    unsigned long long start = 0;
    std::string path;
};

std::string startedLine(const Started& s)
{
    return isoLocal(s.run.when) + '\t' + oneLine(s.run.tool) + '\t' + std::to_string(s.pid) + '\t' +
           std::to_string(s.start) + '\t' + oneLine(s.run.snapshot) + '\n';
}

std::optional<Started> readStarted(const std::string& path)
{
    int err = 0;
    const auto text = readTail(path, 4096, &err);
    if (!text || text->empty() || text->back() != '\n')
        return std::nullopt;
    const std::vector<std::string> f = fields(text->substr(0, text->size() - 1));
    const std::optional<std::time_t> when = f.size() == 5 ? parseIso(f[0]) : std::nullopt;
    if (!when || f[1].empty())
        return std::nullopt;
    Started s{{*when, f[1], RunOutcome::Interrupted, "stopped before it finished", f[4]}, 0, 0, path};
    s.pid = std::strtol(f[2].c_str(), nullptr, 10);
    s.start = std::strtoull(f[3].c_str(), nullptr, 10);
    return s;
}

bool stillRunning(const Started& s)
{
    if (s.pid <= 0)
        return false;
    if (::kill(static_cast<pid_t>(s.pid), 0) != 0 && errno != EPERM)
        return false;
    const unsigned long long now = processStart(s.pid);
    return now == 0 || s.start == 0 || now == s.start;  // without /proc, a live process ID counts
}

// Every readable started record, oldest first.
std::vector<Started> startedRecords()
{
    std::vector<Started> out;
    const std::string folder = startedFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.')
            if (auto s = readStarted(folder + e->d_name))
                out.push_back(std::move(*s));
    ::closedir(dir);
    std::sort(out.begin(), out.end(), [](const Started& a, const Started& b) { return a.run.when < b.run.when; });
    return out;
}

std::string ownStartedPath(const std::string& tool)
{
    return startedFolder() + tool + "-" + std::to_string(::getpid());
}

}  // namespace

std::string runsLogPath()
{
    return platform::suiteStateFolder() + "runs.log";
}

const char* outcomeText(RunOutcome o)
{
    switch (o) {
    case RunOutcome::Ok: return "ok";
    case RunOutcome::NothingToDo: return "nothing-to-do";
    case RunOutcome::Failed: return "failed";
    case RunOutcome::Interrupted: return "interrupted";
    }
    return "failed";
}

std::optional<RunOutcome> outcomeFromText(const std::string& text)
{
    for (RunOutcome o : {RunOutcome::Ok, RunOutcome::NothingToDo, RunOutcome::Failed, RunOutcome::Interrupted})
        if (text == outcomeText(o))
            return o;
    return std::nullopt;
}

std::string runLine(const RunRecord& r)
{
    return isoLocal(r.when) + '\t' + oneLine(r.tool) + '\t' + outcomeText(r.outcome) + '\t' + oneLine(r.summary) +
           '\t' + oneLine(r.snapshot) + '\n';
}

std::optional<RunRecord> parseRunLine(const std::string& line)
{
    const std::vector<std::string> f = fields(line);
    if (f.size() != 5 || f[1].empty())
        return std::nullopt;
    const std::optional<std::time_t> when = parseIso(f[0]);
    const std::optional<RunOutcome> outcome = outcomeFromText(f[2]);
    if (!when || !outcome)
        return std::nullopt;
    return RunRecord{*when, f[1], *outcome, f[3], f[4]};
}

int appendRun(const RunRecord& r)
{
    const std::string folder = platform::suiteStateFolder();
    if (const int err = platform::makeFolders(folder))
        return err;
    const std::string path = runsLogPath();
    const std::string lockPath = folder + "runs.lock";
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
        const std::string line = runLine(r);
        const ssize_t n = ::write(fd, line.data(), line.size());
        if (n < 0)
            err = errno;
        else if (static_cast<size_t>(n) != line.size())
            err = ENOSPC;
        if (::close(fd) != 0 && err == 0)
            err = errno;
        if (err == 0 && locked)
            err = trim(path);
    }
    ::close(lock);
    return err;
}

void RunRecorder::operator()(RunOutcome outcome, const std::string& summary, const std::string& snapshot) const
{
    if (const int err = appendRun({platform::now(), tool, outcome, summary, snapshot}))
        platform::logf("%s Error - writing the run history - %s(%d).\n", programName(who), std::strerror(err), err);
    else
        ::unlink(ownStartedPath(tool).c_str());
}

RunStart RunRecorder::start() const
{
    return RunStart(who, tool);
}

RunStart::RunStart(Program who, const char* tool)
{
    // The tool's runs that never finished go into the log first; removing
    // the record before appending keeps two starting runs from both moving it.
    for (const Started& s : startedRecords())
        if (s.run.tool == tool && !stillRunning(s) && ::unlink(s.path.c_str()) == 0)
            if (const int err = appendRun(s.run))
                platform::logf("%s Error - writing the run history - %s(%d).\n", programName(who),
                               std::strerror(err), err);
    const Started me{{platform::now(), tool, RunOutcome::Interrupted, "", ""}, static_cast<long>(::getpid()),
                     processStart(::getpid()), ownStartedPath(tool)};
    int err = platform::makeFolders(startedFolder());
    if (err == 0)
        err = platform::writeOwnFileWhole(me.path, startedLine(me), 0600);
    if (err != 0)
        platform::logf("%s Error - recording the run's start - %s(%d).\n", programName(who), std::strerror(err), err);
    else
        m_path = me.path;
}

RunStart::~RunStart()
{
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

void noteRunSnapshot(const std::string& tool, const std::string& snapshot)
{
    std::optional<Started> s = readStarted(ownStartedPath(tool));
    if (!s)
        return;
    s->run.snapshot = snapshot;
    platform::writeOwnFileWhole(s->path, startedLine(*s), 0600);
}

std::vector<RunRecord> interruptedRuns()
{
    std::vector<RunRecord> out;
    for (const Started& s : startedRecords())
        if (!stillRunning(s))
            out.push_back(s.run);
    return out;
}

void notePlanMade(const std::string& tool)
{
    const std::string folder = platform::suiteStateFolder();
    if (platform::makeFolders(folder) == 0)
        platform::writeOwnFileWhole(folder + "planned-" + tool, isoLocal(platform::now()) + "\n", 0600);
}

std::optional<std::time_t> planMadeAt(const std::string& tool)
{
    int err = 0;
    const auto text = readTail(platform::suiteStateFolder() + "planned-" + tool, 256, &err);
    if (!text || text->empty() || text->back() != '\n')
        return std::nullopt;
    return parseIso(text->substr(0, text->size() - 1));
}

std::vector<RunRecord> readRuns()
{
    std::vector<RunRecord> out;
    int err = 0;
    const std::optional<std::string> text = readTail(runsLogPath(), kRunsReadBytes, &err);
    if (!text)
        return out;
    size_t start = 0;
    while (start < text->size()) {
        const size_t lf = text->find('\n', start);
        if (lf == std::string::npos)
            break;  // a line still being written
        if (auto rec = parseRunLine(text->substr(start, lf - start)))
            out.push_back(std::move(*rec));
        start = lf + 1;
    }
    return out;
}

}  // namespace state
