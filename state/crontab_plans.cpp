#include "state/crontab_plans.h"

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

#include "state/run_history.h"

namespace state {
namespace {

// The number of a field, or `fallback` when it is not one within [lo, hi].
int numberOr(const std::string& text, int lo, int hi, int fallback)
{
    return fieldNumber(text, lo, hi).value_or(fallback);
}

std::string twoDigits(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// A marker whose cron entry never came holds no date: it is no schedule,
// and a save would refuse to write it.
void dropIncomplete(ScheduleTable& table)
{
    for (int i = 1; i <= kMaxSchedules; ++i) {
        ScheduleEntry& e = table.schedRec[static_cast<size_t>(i)];
        if (e.schLoad > 0 && !dateExists(numberOr(e.schMonth, 1, 12, 0), numberOr(e.schDay, 1, 31, 0))) {
            e.schLoad = 0;
            --table.sch_count;
        }
    }
}

// The outcome of a save whose install ran: what the crontab copied again
// afterwards holds decides, not what the install helper said.
InstallResult verdict(InstallResult installed, bool readBack, bool changeThere, std::string& reason,
                      const char*& refusal)
{
    if (readBack && changeThere) {
        reason.clear();
        return InstallResult::Installed;
    }
    if (!readBack) {
        reason = "the crontab could not be read back, so the change is not confirmed";
        refusal = kChangeNotConfirmedMessage;
    }
    else if (installed == InstallResult::Failed)
        reason = "installing the crontab failed; it does not hold the change";
    else
        reason = "the crontab read back does not hold the change";
    return InstallResult::Failed;
}

// Takes the crontab lock for a step; on failure the reason is kept for the
// caller and the window.
bool lockFor(CrontabWork& work, std::string& reason, const char*& refusal)
{
    if (work.lockCrontab())
        return true;
    reason = work.lockProblem();
    refusal = kCrontabBusyMessage;
    return false;
}

// Removing the files under the lock, so another writer's files are never
// taken away in the middle of its save; without the lock they stay. A
// planning that never copied the crontab has nothing to remove or wait for.
void closeWork(CrontabWork& work)
{
    if ((work.filesMade() || work.crontabLocked()) && work.lockCrontab())
        work.removeFiles();
    work.unlockCrontab();
}

using Dated = std::tuple<int, int, std::string, int32_t>;

std::vector<Dated> datedEntries(const ScheduleTable& t)
{
    std::vector<Dated> out;
    for (int i = 1; i <= kMaxSchedules; ++i) {
        const ScheduleEntry& e = t.schedRec[static_cast<size_t>(i)];
        if (e.schLoad > 0)
            out.emplace_back(numberOr(e.schMonth, 1, 12, 0), numberOr(e.schDay, 1, 31, 0), e.schPath, e.schLoad);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::string weekdayList(const std::array<int32_t, 8>& cronDays)
{
    std::string text;
    for (int d = 1; d <= 7; ++d) {
        if (cronDays[static_cast<size_t>(d)] != 1)
            continue;
        if (!text.empty())
            text += ',';
        text += static_cast<char>('0' + d);
    }
    return text;
}

// --- Clock sync and sun corrections ----------------------------------------

TimingPlanning::TimingPlanning(PairKind kind, Program who, std::string appFolder, LockHold hold)
    : m_kind(kind), m_hold(hold), m_work(who, std::move(appFolder))
{
}

void TimingPlanning::takeRead(const CrontabRead& r)
{
    m_scount = r.scount;
    m_gotSched = r.gotSched != 0;
}

bool TimingPlanning::open()
{
    if (!lockFor(m_work, m_reason, m_refusal))
        return false;
    m_work.copyCrontab();
    m_work.getUserPath();
    const CrontabRead r = m_work.readTimingPair(m_kind, m_timingRec);
    takeRead(r);
    if (m_hold == LockHold::DuringSteps)
        m_work.unlockCrontab();
    m_reason = r.copyRead ? "" : "the crontab could not be read";
    return r.copyRead;
}

int TimingPlanning::hour() const
{
    return planned() ? numberOr(m_timingRec.cronHour, 0, 23, 1) : 1;
}

int TimingPlanning::minute() const
{
    return planned() ? numberOr(m_timingRec.cronMinute, 0, 59, 0) : 0;
}

InstallResult TimingPlanning::save(int hour, int minute, const std::array<int32_t, 8>& cronDays)
{
    if (!lockFor(m_work, m_reason, m_refusal))
        return InstallResult::Refused;
    // Copied while the window was open, the copy may miss another writer's
    // save since: read the crontab again; this pair replaces whatever it holds.
    if (m_hold == LockHold::DuringSteps) {
        m_work.copyCrontab();
        TimingRecord now;
        m_work.readTimingPair(m_kind, now);
    }
    // Written unless no day is given; the record takes what is installed.
    TimingRecord rec;
    rec.cronHour = std::to_string(hour);
    rec.cronMinute = std::to_string(minute);
    rec.cronDays = cronDays;
    rec.cronDaysText = weekdayList(cronDays);
    const bool written = rec.cronDaysText.empty() || m_work.writeTimingPair(m_kind, rec);
    InstallResult result = written ? m_work.updateCrontab() : InstallResult::Refused;
    m_refusal = written ? m_work.refusalMessage() : kPairRefusedMessage;
    m_reason = result == InstallResult::Refused ? "the crontab could not be read or written whole" : "";
    if (result != InstallResult::Refused)
        m_work.copyCrontab();
    TimingRecord fresh;
    const CrontabRead r = m_work.readTimingPair(m_kind, fresh);
    if (result != InstallResult::Refused) {
        const bool planned = r.scount == 1 && !fresh.cronHour.empty();
        const bool there = rec.cronDaysText.empty()
                               ? !planned
                               : planned && fieldNumber(fresh.cronHour, 0, 23) == hour &&
                                     fieldNumber(fresh.cronMinute, 0, 59) == minute &&
                                     weekdayList(fresh.cronDays) == rec.cronDaysText;
        result = verdict(result, r.copyRead, there, m_reason, m_refusal);
    }
    if (result == InstallResult::Installed) {
        notePlanMade(m_kind == PairKind::ClockSync ? "tamsel" : "veskarn");
        m_timingRec = fresh;
        takeRead(r);
    }
    if (m_hold == LockHold::DuringSteps)
        m_work.unlockCrontab();
    return result;
}

void TimingPlanning::close()
{
    closeWork(m_work);
}

// --- Virtual schedules ----------------------------------------------------

bool dateExists(int month, int day)
{
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1];
}

std::string schedulePathProblem(const std::string& path, const std::string& appFolder)
{
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (path.size() > 255)
        return "its path is longer than 255 characters";
    if (name.empty() || name.size() > 99)
        return "its name is empty or longer than 99 characters";
    // The writer's own rule decides what a crontab line can carry.
    switch (schedulePair(1, path, "0", "1", "01", "01", appFolder).error) {
    case PairError::None:
        return {};
    case PairError::SchedulePath:
        return "its path holds a control character, which a crontab line cannot carry";
    case PairError::TooLong:
        return "its path is too long for a crontab line";
    case PairError::AppFolder:
        return "the application folder holds a character a crontab line cannot carry";
    default:
        return "the crontab cannot carry it";
    }
}

int findDate(const ScheduleTable& table, int month, int day)
{
    for (int i = 1; i <= kMaxSchedules; ++i) {
        const ScheduleEntry& e = table.schedRec[static_cast<size_t>(i)];
        if (e.schLoad > 0 && numberOr(e.schMonth, 1, 12, -1) == month && numberOr(e.schDay, 1, 31, -1) == day)
            return i;
    }
    return 0;
}

int firstFree(const ScheduleTable& table)
{
    for (int i = 1; i <= kMaxSchedules; ++i)
        if (table.schedRec[static_cast<size_t>(i)].schLoad == 0)
            return i;
    return 0;
}

void fillEntry(ScheduleEntry& e, int month, int day, const std::string& path, int32_t load)
{
    e.schMonth = twoDigits(month);
    e.schDay = twoDigits(day);
    e.schDate = e.schMonth + "/" + e.schDay;
    e.schPath = path;
    const size_t slash = path.rfind('/');
    e.schName = slash == std::string::npos ? path : path.substr(slash + 1);
    e.schLoad = load;
}

SchedulePlanning::SchedulePlanning(Program who, std::string appFolder, LockHold hold)
    : m_hold(hold), m_work(who, std::move(appFolder))
{
}

bool SchedulePlanning::open()
{
    if (!lockFor(m_work, m_reason, m_refusal))
        return false;
    m_work.copyCrontab();
    m_work.getUserPath();
    const bool read = m_work.readCrontabS(m_table);
    dropIncomplete(m_table);
    m_base = m_table;
    if (m_hold == LockHold::DuringSteps)
        m_work.unlockCrontab();
    m_reason = read ? "" : "the crontab could not be read";
    return read;
}

int SchedulePlanning::hour() const
{
    return m_table.sch_count > 0 ? numberOr(m_table.schedRec[1].schHour, 0, 23, 1) : 1;
}

int SchedulePlanning::minute() const
{
    return m_table.sch_count > 0 ? numberOr(m_table.schedRec[1].schMinute, 0, 59, 0) : 0;
}

InstallResult SchedulePlanning::save(int hour, int minute)
{
    if (!lockFor(m_work, m_reason, m_refusal))
        return InstallResult::Refused;
    ScheduleTable intended = m_table;
    bool room = true;
    if (m_hold == LockHold::DuringSteps) {
        // Another writer may have saved since this table was read: its
        // schedules stay, and this window's edit is applied to them.
        m_work.copyCrontab();
        ScheduleTable fresh;
        const bool read = m_work.readCrontabS(fresh);
        dropIncomplete(fresh);
        if (read && !sameSchedules(fresh, m_base)) {
            const ScheduleTable base = m_base;
            const bool timeKept = base.sch_count == 0 || (numberOr(base.schedRec[1].schHour, 0, 23, 1) == hour &&
                                                          numberOr(base.schedRec[1].schMinute, 0, 59, 0) == minute);
            if (timeKept && fresh.sch_count > 0) {
                hour = numberOr(fresh.schedRec[1].schHour, 0, 23, hour);
                minute = numberOr(fresh.schedRec[1].schMinute, 0, 59, minute);
            }
            room = applyScheduleEdit(fresh, base, m_table);
            intended = fresh;
        }
    }
    bool written = room;
    if (room && intended.sch_count > 0) {
        intended.schedRec[1].schHour = std::to_string(hour);
        intended.schedRec[1].schMinute = std::to_string(minute);
        written = m_work.modCrontabS(intended);
    }
    InstallResult result = written ? m_work.updateCrontab() : InstallResult::Refused;
    m_refusal = !room ? kTableFullMessage : written ? m_work.refusalMessage() : kPairRefusedMessage;
    m_reason = !room ? "the schedules planned meanwhile leave no free entry for this change"
               : result == InstallResult::Refused ? "the crontab could not be read or written whole"
                                                  : "";
    if (result != InstallResult::Refused)
        m_work.copyCrontab();
    ScheduleTable readBack;
    const bool readOk = m_work.readCrontabS(readBack);
    dropIncomplete(readBack);
    if (result != InstallResult::Refused) {
        const bool timeThere = intended.sch_count == 0 ||
                               (numberOr(readBack.schedRec[1].schHour, 0, 23, -1) == hour &&
                                numberOr(readBack.schedRec[1].schMinute, 0, 59, -1) == minute);
        result = verdict(result, readOk, sameSchedules(readBack, intended) && timeThere, m_reason, m_refusal);
    }
    if (result == InstallResult::Installed) {
        notePlanMade("brondile");
        m_table = m_base = readBack;
    }
    if (m_hold == LockHold::DuringSteps)
        m_work.unlockCrontab();
    return result;
}

bool applyScheduleEdit(ScheduleTable& fresh, const ScheduleTable& base, const ScheduleTable& edited)
{
    const auto dateOf = [](const ScheduleEntry& e) {
        return std::pair(numberOr(e.schMonth, 1, 12, 0), numberOr(e.schDay, 1, 31, 0));
    };
    for (int i = 1; i <= kMaxSchedules; ++i) {
        const ScheduleEntry& b = base.schedRec[static_cast<size_t>(i)];
        const auto [month, day] = dateOf(b);
        if (b.schLoad > 0 && findDate(edited, month, day) == 0)
            if (const int at = findDate(fresh, month, day))
                fresh.schedRec[static_cast<size_t>(at)].schLoad = 0;
    }
    bool room = true;
    for (int i = 1; i <= kMaxSchedules; ++i) {
        const ScheduleEntry& e = edited.schedRec[static_cast<size_t>(i)];
        const auto [month, day] = dateOf(e);
        if (e.schLoad <= 0)
            continue;
        const int was = findDate(base, month, day);
        if (was && base.schedRec[static_cast<size_t>(was)].schPath == e.schPath &&
            base.schedRec[static_cast<size_t>(was)].schLoad == e.schLoad)
            continue;
        int at = findDate(fresh, month, day);
        if (at == 0)
            at = firstFree(fresh);
        if (at == 0) {
            room = false;
            continue;
        }
        fillEntry(fresh.schedRec[static_cast<size_t>(at)], month, day, e.schPath, e.schLoad);
    }
    fresh.sch_count = static_cast<int32_t>(datedEntries(fresh).size());
    return room;
}

bool sameSchedules(const ScheduleTable& a, const ScheduleTable& b)
{
    return datedEntries(a) == datedEntries(b);
}

void SchedulePlanning::close()
{
    closeWork(m_work);
}

}  // namespace state
