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
#include "state/line_log.h"

namespace state {

namespace {

std::string oneLine(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
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
    const auto text = readLogTail(path, 4096, &err);
    if (!text || text->empty() || text->back() != '\n')
        return std::nullopt;
    const std::vector<std::string> f = tabFields(text->substr(0, text->size() - 1));
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
    const std::vector<std::string> f = tabFields(line);
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
    return appendLogLine(runsLogPath(), "runs.lock", runLine(r), {kRunsKeep, kRunsTrimBytes, 0});
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
    const auto text = readLogTail(platform::suiteStateFolder() + "planned-" + tool, 256, &err);
    if (!text || text->empty() || text->back() != '\n')
        return std::nullopt;
    return parseIso(text->substr(0, text->size() - 1));
}

std::vector<RunRecord> readRuns()
{
    std::vector<RunRecord> out;
    int err = 0;
    const std::optional<std::string> text = readLogTail(runsLogPath(), kRunsReadBytes, &err);
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
