#include "state/crontab_work.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <thread>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/process_name.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"
#include "state/helper_process.h"

namespace state {
namespace {

using Clock = std::chrono::steady_clock;

const char* pairErrorText(PairError e)
{
    switch (e) {
    case PairError::None:
        return "";
    case PairError::LoadMode:
        return "load mode not 1 or 2";
    case PairError::SchedulePath:
        return "file path holds a control character";
    case PairError::AppFolder:
        return "application folder holds a character a cron command cannot carry";
    case PairError::Time:
        return "time not valid";
    case PairError::Date:
        return "date not valid";
    case PairError::Weekdays:
        return "weekday list not valid";
    case PairError::TooLong:
        return "line longer than 498 characters";
    }
    return "";
}

}  // namespace

std::string getMyPath()
{
    return platform::applicationFolder();
}

std::optional<std::string> knownUserFolder()
{
    const char* home = std::getenv("HOME");
    if ((home && *home) || getpwuid(getuid()) != nullptr)
        return platform::userFolder();
    return std::nullopt;
}

std::string getUserPath(Program who)
{
    std::optional<std::string> folder = knownUserFolder();
    if (!folder) {
        platform::logf(who == Program::Quorvel ? "%s Error - NULL User \n" : "%s Error - NULL User.\n",
                       programName(who));
        return {};
    }
    return *folder;
}

std::optional<std::string> readCrontabCopy(const std::string& path, std::chrono::milliseconds wait,
                                           int* err)
{
    const auto giveUp = Clock::now() + wait;
    for (;;) {
        int e = 0;
        std::optional<std::string> bytes = platform::readOwnFile(path, &e);
        // Only a copy not there yet is worth waiting for; a read error is final.
        if (bytes || e != ENOENT || Clock::now() >= giveUp) {
            if (!bytes && err)
                *err = e;
            return bytes;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool runHelper(Program who, const std::string& appFolder, const char* helper)
{
    // Without a folder the name alone would be looked up in PATH.
    if (appFolder.empty()) {
        platform::logf("%s Error - No application folder; %s not started.\n", programName(who), helper);
        return false;
    }
    const std::string path = appFolder + helper;
    const ProcessResult r = runAndWait({path}, kHelperBound);
    if (!r.started) {
        platform::logf("%s Error - Starting %s - %s(%d).\n", programName(who), path.c_str(),
                       std::strerror(r.error), r.error);
        return false;
    }
    if (r.timedOut) {
        platform::logf("%s Error - %s did not finish within %d seconds; stopped.\n", programName(who),
                       helper, static_cast<int>(kHelperBound.count() / 1000));
        return false;
    }
    if (r.exitStatus != 0) {
        platform::logf("%s Error - %s failed with status %d.\n", programName(who), helper, r.exitStatus);
        return false;
    }
    return true;
}

std::string crontabLockPath()
{
    const std::string folder = platform::suiteStateFolder();
    if (platform::makeFolders(folder) == 0)
        return folder + "crontab.lock";
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/')
        return std::string(run) + "/cp290-crontab.lock";
    return {};
}

CrontabWork::CrontabWork(Program who, std::string appFolder)
    : m_who(who), m_appFolder(std::move(appFolder))
{
}

CrontabWork::~CrontabWork() = default;
CrontabWork::CrontabWork(CrontabWork&&) noexcept = default;
CrontabWork& CrontabWork::operator=(CrontabWork&&) noexcept = default;

bool CrontabWork::lockCrontab()
{
    if (crontabLocked())
        return true;
    m_lockProblem.clear();
    if (!m_lock)
        m_lock = std::make_unique<platform::DeviceLock>();
    int waitMs = static_cast<int>(kCrontabLockWait.count());
    if (const char* text = std::getenv("CP290_CRONTAB_WAIT_MS"); text && *text) {
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        if (*end == '\0' && v >= 0 && v < waitMs)
            waitMs = static_cast<int>(v);
    }
    const char* who = programName(m_who);
    const std::string path = crontabLockPath();
    std::string me = platform::processName(static_cast<int>(getpid()));
    if (me.empty())
        me = who;
    const auto holderText = [](const platform::LockHolder& h) {
        return h.pid > 0 ? h.program + " (process " + std::to_string(h.pid) + ")" : std::string("another program");
    };
    using R = platform::DeviceLock::Result;
    const R r = path.empty() ? R::Failed : m_lock->takeFile(path, me, waitMs, [&](const platform::LockHolder& h) {
        platform::logf("%s waiting for the crontab, being changed by %s.\n", who, holderText(h).c_str());
    });
    if (r == R::Taken)
        return true;
    const int e = path.empty() ? ENOENT : m_lock->error();
    switch (r) {
    case R::TimedOut:
        m_lockProblem = "the crontab is being changed by " + holderText(m_lock->holder()) +
                        "; try again when it is done";
        break;
    case R::Interrupted:
        m_lockProblem = "stopped while waiting for the crontab";
        break;
    default:
        m_lockProblem = "the crontab's lock file " + (path.empty() ? std::string("(no folder)") : path) +
                        " could not be used: " + std::strerror(e);
        break;
    }
    platform::logf("%s Error - Crontab not changed: %s.\n", who, m_lockProblem.c_str());
    return false;
}

void CrontabWork::unlockCrontab()
{
    if (m_lock)
        m_lock->release();
}

bool CrontabWork::crontabLocked() const
{
    return m_lock && m_lock->held();
}

const std::string& CrontabWork::getUserPath()
{
    m_cronPath = state::getUserPath(m_who);
    return *m_cronPath;
}

std::string CrontabWork::copyPath() const
{
    return m_cronPath.value_or(std::string()) + kCrontabCopyName;
}

std::string CrontabWork::workPath() const
{
    return m_cronPath.value_or(std::string()) + kWorkFileName;
}

bool CrontabWork::copyCrontab()
{
    if (const std::optional<std::string> folder = knownUserFolder())
        unlink((*folder + kCrontabCopyName).c_str());
    m_filesMade = true;
    m_copyHelperFailed = !runHelper(m_who, m_appFolder, kCopyHelperName);
    return !m_copyHelperFailed;
}

bool CrontabWork::readAndRebuild(PairKind kind, ScheduleTable* table, TimingRecord* timing,
                                 CrontabRead& result)
{
    m_readOk = false;
    if (!m_cronPath)
        getUserPath();
    const char* who = programName(m_who);
    int err = ENOENT;
    std::optional<std::string> copy;
    if (!m_cronPath->empty())
        copy = readCrontabCopy(copyPath(), m_copyHelperFailed ? std::chrono::milliseconds(0) : m_copyWait, &err);
    if (!copy) {
        platform::logf("%s Error  - Opening Crontab file - %s(%d).\n", who, std::strerror(err), err);
        if (!m_cronPath->empty())
            platform::writeOwnFileWhole(workPath(), std::string());
        return false;
    }

    const CrontabPairs pairs = readCrontabPairs(*copy, kind, who);
    if (kind == PairKind::Schedule) {
        int numberRead = 0;
        for (const ScheduleRead& r : pairs.schedules) {
            // Past the table's end, later markers reuse its last entry.
            if (numberRead < kMaxSchedules)
                ++numberRead;
            ScheduleEntry& e = table->schedRec[static_cast<size_t>(numberRead)];
            e = ScheduleEntry{};
            e.schLoad = r.marker.load;
            e.schPath = r.marker.path;
            e.schName = r.marker.name;
            if (r.entry) {
                e.schMinute = r.entry->minute;
                e.schHour = r.entry->hour;
                e.schDay = r.entry->day;
                e.schMonth = r.entry->month;
                e.schDate = r.entry->month + "/" + r.entry->day;
            }
        }
        table->sch_count = numberRead;
    } else {
        result.scount = pairs.markerMet ? 1 : 0;
        if (kind == PairKind::Correction)
            result.gotSched = pairs.gotSched ? 1 : 0;
        if (pairs.timing) {
            timing->cronMinute = pairs.timing->minute;
            timing->cronHour = pairs.timing->hour;
            readWeekdays(pairs.timing->weekdays, timing->cronDays);
        }
    }
    std::string work = pairs.others;
    if (kind == PairKind::Schedule) {
        // The catch-up pair comes and goes with the schedules: their writer
        // puts it back while any is planned.
        const CrontabPairs catchUp = readCrontabPairs(work, PairKind::CatchUp, who);
        m_catchUpMinute = catchUp.markerMet && catchUp.timing ? catchUp.timing->minute : std::string();
        work = catchUp.others;
    }

    if (const int e = platform::writeOwnFileWhole(workPath(), work)) {
        platform::logf("%s Error writing Crontab file - %s(%d).\n", who, std::strerror(e), e);
        return false;
    }
    m_readOk = true;
    m_workFileOk = true;
    m_pairRefused = false;
    result.copyRead = true;
    return true;
}

bool CrontabWork::readCrontabS(ScheduleTable& table)
{
    table = ScheduleTable{};
    CrontabRead result;
    return readAndRebuild(PairKind::Schedule, &table, nullptr, result);
}

CrontabRead CrontabWork::readTimingPair(PairKind kind, TimingRecord& record)
{
    CrontabRead result;
    if (kind == PairKind::Schedule)
        return result;
    record.cronDays.fill(0);
    readAndRebuild(kind, nullptr, &record, result);
    return result;
}

void CrontabWork::logPairError(PairError e, int entry)
{
    // A save that leaves out one of its pairs would install a crontab
    // without it (and without the pair it replaces): nothing is installed.
    m_pairRefused = true;
    const std::string what = entry > 0 ? "Schedule " + std::to_string(entry)
                                       : std::string(entry == 0 ? "Time Correction" : "Clock Sync");
    platform::logf("%s Error - %s: %s; not written to Crontab.\n", programName(m_who), what.c_str(),
                   pairErrorText(e));
}

bool CrontabWork::appendToWorkFile(const std::string& bytes, const char* failureText)
{
    if (!m_cronPath)
        getUserPath();
    int err = ENOENT;
    std::optional<std::string> existing;
    // A missing work file is not created afresh: installed, it would hold
    // only these pairs and replace the whole of the user's crontab.
    if (!m_cronPath->empty())
        existing = platform::readOwnFile(workPath(), &err);
    if (existing)
        err = platform::writeOwnFileWhole(workPath(), *existing + bytes);
    if (!existing || err) {
        platform::logf("%s Error writing %s file - %s(%d).\n", programName(m_who), failureText,
                       std::strerror(err), err);
        m_workFileOk = false;
        return false;
    }
    return true;
}

bool CrontabWork::modCrontabS(const ScheduleTable& table)
{
    if (!cronCommand(m_appFolder, Tool::Brondile)) {
        logPairError(PairError::AppFolder, 1);
        return false;
    }
    // Every pair carries entry 1's time: the window keeps its one load time there.
    const ScheduleEntry& first = table.schedRec[1];
    std::string bytes;
    bool all = true;
    for (int i = 1; i <= kMaxSchedules; ++i) {
        const ScheduleEntry& e = table.schedRec[static_cast<size_t>(i)];
        if (e.schLoad <= 0)
            continue;
        const PairBytes p = schedulePair(e.schLoad, e.schPath, first.schMinute, first.schHour, e.schDay,
                                         e.schMonth, m_appFolder);
        if (p.error != PairError::None) {
            logPairError(p.error, i);
            all = false;
            continue;
        }
        bytes += p.bytes;
    }
    if (!bytes.empty()) {
        const PairBytes p = catchUpPair(m_appFolder);
        if (p.error != PairError::None) {
            logPairError(p.error, 1);
            all = false;
        }
        bytes += p.bytes;
    }
    return appendToWorkFile(bytes, "Schedule") && all;
}

bool CrontabWork::writeTimingPair(PairKind kind, const TimingRecord& record)
{
    if (kind == PairKind::Schedule)
        return false;
    const PairBytes p = timingPair(toolOf(kind), record.cronMinute, record.cronHour, record.cronDaysText, m_appFolder);
    if (p.error != PairError::None) {
        logPairError(p.error, kind == PairKind::Correction ? 0 : -1);
        return false;
    }
    return appendToWorkFile(p.bytes, "Crontab");
}

InstallResult CrontabWork::updateCrontab()
{
    const char* who = programName(m_who);
    if (!m_readOk) {
        platform::logf("%s Error - Crontab copy not read; changes not installed.\n", who);
        return InstallResult::Refused;
    }
    if (!m_workFileOk) {
        platform::logf("%s Error - Crontab work file incomplete; changes not installed.\n", who);
        return InstallResult::Refused;
    }
    if (m_pairRefused) {
        platform::logf("%s Error - A planned job could not be written; changes not installed.\n", who);
        return InstallResult::Refused;
    }
    if (runHelper(m_who, m_appFolder, kInstallHelperName))
        return InstallResult::Installed;
    // The work file may have been appended to already; a second save must
    // start again from the copy, not append the pairs twice.
    m_readOk = false;
    return InstallResult::Failed;
}

bool CrontabWork::replaceCopyWithWorkFile()
{
    // The work file is gone after this; only a fresh read may build another.
    m_readOk = false;
    if (rename(workPath().c_str(), copyPath().c_str()) != 0) {
        const int e = errno;
        platform::logf("%s Error - Renaming Crontab work file - %s(%d).\n", programName(m_who),
                       std::strerror(e), e);
        // An old copy no longer matches the installed crontab; never read it.
        unlink(copyPath().c_str());
        m_copyHelperFailed = true;
        return false;
    }
    m_copyHelperFailed = false;
    return true;
}

const char* CrontabWork::refusalMessage() const
{
    return m_readOk && m_workFileOk && m_pairRefused ? kPairRefusedMessage : kSaveRefusedMessage;
}

InstallResult CrontabWork::installWorkFile()
{
    const InstallResult r = updateCrontab();
    if (r == InstallResult::Installed)
        replaceCopyWithWorkFile();
    return r;
}

void CrontabWork::removeFiles()
{
    if (!m_cronPath)
        getUserPath();
    if (m_cronPath->empty())
        return;
    unlink(copyPath().c_str());
    unlink(workPath().c_str());
    m_readOk = false;
    m_filesMade = false;
}

}  // namespace state
