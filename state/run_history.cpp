#include "state/run_history.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"

namespace state {

namespace {

constexpr int kLockWaitMs = 2000;
constexpr int kLockPollMs = 20;

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

// Keeps the newest kRunsKeep lines. Runs under the appenders' lock.
int trim(const std::string& path)
{
    int err = 0;
    const std::optional<std::string> text = platform::readWholeFile(path, &err);
    if (!text)
        return err;
    size_t lines = 0;
    for (char c : *text)
        lines += c == '\n';
    if (lines <= kRunsKeep)
        return 0;
    size_t drop = lines - kRunsKeep;
    size_t pos = 0;
    while (drop > 0) {
        pos = text->find('\n', pos) + 1;
        --drop;
    }
    return platform::writeFileWhole(path, std::string_view(*text).substr(pos), 0600);
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
    }
    return "failed";
}

std::optional<RunOutcome> outcomeFromText(const std::string& text)
{
    for (RunOutcome o : {RunOutcome::Ok, RunOutcome::NothingToDo, RunOutcome::Failed})
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
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return errno;
    // Holders only append and trim, which takes milliseconds; a holder stuck
    // longer (stopped, hung disk) must not hold up a cron run. Without the
    // lock the line is still appended whole, only the trim waits for a later run.
    bool locked = false;
    for (int waited = 0; !(locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0) && waited < kLockWaitMs;
         waited += kLockPollMs)
        ::poll(nullptr, 0, kLockPollMs);
    int err = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
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
}

std::vector<RunRecord> readRuns()
{
    std::vector<RunRecord> out;
    const std::optional<std::string> text = platform::readWholeFile(runsLogPath());
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
