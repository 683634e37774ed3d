#include "state/crontab_plans.h"

#include <cstdio>

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

TimingPlanning::TimingPlanning(PairKind kind, Program who, std::string appFolder)
    : m_kind(kind), m_work(who, std::move(appFolder))
{
}

void TimingPlanning::takeRead(const CrontabRead& r)
{
    m_scount = r.scount;
    m_gotSched = r.gotSched != 0;
}

bool TimingPlanning::open()
{
    m_work.copyCrontab();
    m_work.getUserPath();
    const CrontabRead r = m_work.readTimingPair(m_kind, m_timingRec);
    takeRead(r);
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
    // Written unless no day is given; the record takes what is installed.
    TimingRecord rec;
    rec.cronHour = std::to_string(hour);
    rec.cronMinute = std::to_string(minute);
    rec.cronDays = cronDays;
    rec.cronDaysText = weekdayList(cronDays);
    const bool written = rec.cronDaysText.empty() || m_work.writeTimingPair(m_kind, rec);
    const InstallResult result = written ? m_work.installWorkFile() : InstallResult::Refused;
    if (result == InstallResult::Installed)
        notePlanMade(m_kind == PairKind::ClockSync ? "tamsel" : "veskarn");
    m_refusal = written ? m_work.refusalMessage() : kPairRefusedMessage;
    TimingRecord fresh;
    const CrontabRead r = m_work.readTimingPair(m_kind, fresh);
    if (result == InstallResult::Installed) {
        m_timingRec = fresh;
        takeRead(r);
    }
    return result;
}

void TimingPlanning::close()
{
    m_work.removeFiles();
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

SchedulePlanning::SchedulePlanning(Program who, std::string appFolder) : m_work(who, std::move(appFolder)) {}

bool SchedulePlanning::open()
{
    m_work.copyCrontab();
    m_work.getUserPath();
    const bool read = m_work.readCrontabS(m_table);
    dropIncomplete(m_table);
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
    bool written = true;
    if (m_table.sch_count > 0) {
        m_table.schedRec[1].schHour = std::to_string(hour);
        m_table.schedRec[1].schMinute = std::to_string(minute);
        written = m_work.modCrontabS(m_table);
    }
    const InstallResult result = written ? m_work.installWorkFile() : InstallResult::Refused;
    if (result == InstallResult::Installed)
        notePlanMade("brondile");
    m_refusal = written ? m_work.refusalMessage() : kPairRefusedMessage;
    ScheduleTable readBack;
    m_work.readCrontabS(readBack);
    dropIncomplete(readBack);
    if (result == InstallResult::Installed)
        m_table = readBack;
    return result;
}

void SchedulePlanning::close()
{
    m_work.removeFiles();
}

}  // namespace state
