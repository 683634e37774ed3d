#include "state/run_plan.h"

#include <algorithm>
#include <tuple>

#include "platform/clock.h"
#include "platform/syslog_log.h"

namespace state {

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

// Local midnight of the day holding t.
std::tm dayOf(std::time_t t)
{
    std::tm d = platform::localTime(t);
    d.tm_hour = d.tm_min = d.tm_sec = 0;
    d.tm_isdst = -1;
    return d;
}

// Whether local time at t is at or past hour:minute of the day `d` names.
bool reached(std::time_t t, const std::tm& d, int hour, int minute)
{
    const std::tm l = platform::localTime(t);
    return std::tie(l.tm_year, l.tm_mon, l.tm_mday, l.tm_hour, l.tm_min) >=
           std::make_tuple(d.tm_year, d.tm_mon, d.tm_mday, hour, minute);
}

// The local time hour:minute on day d (d's date fields), as cron reads it:
// a time the clocks repeat counts once, at its first occurrence; a time the
// clocks skip runs right after the change, when the clock first passes it.
std::optional<std::time_t> at(std::tm d, int hour, int minute)
{
    std::optional<std::time_t> best;
    for (const int dst : {0, 1}) {
        std::tm c = d;
        c.tm_hour = hour;
        c.tm_min = minute;
        c.tm_sec = 0;
        c.tm_isdst = dst;
        const std::time_t t = std::mktime(&c);
        // Kept only when the offset tried is the one in force at that time.
        if (t != static_cast<std::time_t>(-1) && c.tm_mday == d.tm_mday && c.tm_mon == d.tm_mon &&
            c.tm_hour == hour && c.tm_min == minute && (!best || t < *best))
            best = t;
    }
    if (best)
        return best;
    // Skipped: the clock first passes the time at the change, found within a
    // few hours of what mktime makes of it.
    std::tm c = d;
    c.tm_hour = hour;
    c.tm_min = minute;
    c.tm_sec = 0;
    c.tm_isdst = -1;
    const std::time_t late = std::mktime(&c);
    if (late == static_cast<std::time_t>(-1) || c.tm_mday != d.tm_mday || c.tm_mon != d.tm_mon)
        return std::nullopt;
    std::time_t lo = late - 4 * 3600, hi = late + 4 * 3600;  // !reached(lo), reached(hi)
    if (reached(lo, d, hour, minute) || !reached(hi, d, hour, minute))
        return std::nullopt;
    while (hi - lo > 1) {
        const std::time_t mid = lo + (hi - lo) / 2;
        (reached(mid, d, hour, minute) ? hi : lo) = mid;
    }
    return hi;
}

template <typename Wanted>
std::vector<std::time_t> walkDays(std::time_t from, std::time_t to, int hour, int minute, Wanted wanted)
{
    std::vector<std::time_t> out;
    std::tm d = dayOf(from);
    const std::time_t days = (to - from) / kDay + 3;
    for (std::time_t guard = 0; guard < days; ++guard) {
        const std::optional<std::time_t> t = at(d, hour, minute);
        if (std::mktime(&d) > to)  // normalises d too
            break;
        if (t && *t >= from && *t <= to && wanted(d))
            out.push_back(*t);
        d.tm_mday += 1;
        d.tm_hour = 0;
        d.tm_isdst = -1;
        std::mktime(&d);
    }
    return out;
}

int isoDay(const std::tm& d)
{
    return d.tm_wday == 0 ? 7 : d.tm_wday;
}

}  // namespace

std::vector<std::time_t> plannedTimes(const WeeklyPlan& plan, std::time_t from, std::time_t to)
{
    return walkDays(from, to, plan.hour, plan.minute, [&](const std::tm& d) {
        return plan.weekdays[static_cast<size_t>(isoDay(d))];
    });
}

std::vector<std::time_t> plannedTimes(const DatedPlan& plan, std::time_t from, std::time_t to)
{
    return walkDays(from, to, plan.hour, plan.minute, [&](const std::tm& d) {
        return d.tm_mon + 1 == plan.month && d.tm_mday == plan.day;
    });
}

std::optional<std::time_t> nextRun(const WeeklyPlan& plan, std::time_t after)
{
    const auto times = plannedTimes(plan, after + 1, after + 8 * kDay);
    return times.empty() ? std::nullopt : std::optional<std::time_t>(times.front());
}

std::optional<std::time_t> nextRun(const DatedPlan& plan, std::time_t after)
{
    // Four years and a day reach a 29 February.
    const auto times = plannedTimes(plan, after + 1, after + (4 * 366 + 1) * kDay);
    return times.empty() ? std::nullopt : std::optional<std::time_t>(times.front());
}

std::vector<std::time_t> missedRuns(const std::vector<std::time_t>& planned, const std::vector<RunRecord>& runs,
                                    const std::string& tool, std::time_t now)
{
    return missedRuns(planned, runs, tool, now, std::nullopt);
}

std::vector<std::time_t> missedRuns(const std::vector<std::time_t>& planned, const std::vector<RunRecord>& runs,
                                    const std::string& tool, std::time_t now, std::optional<std::time_t> planMade)
{
    std::vector<std::time_t> mine;
    for (const RunRecord& r : runs)
        if (r.tool == tool)
            mine.push_back(r.when);
    std::vector<std::time_t> missed;
    if (mine.empty() && !planMade)
        return missed;
    std::sort(mine.begin(), mine.end());
    std::time_t from = mine.empty() ? *planMade : mine.front() - 60;
    if (planMade)
        from = std::min(from, *planMade);
    for (const std::time_t t : planned) {
        if (t < from || t + kRunWindow > now)
            continue;
        const auto it = std::lower_bound(mine.begin(), mine.end(), t - 60);
        if (it == mine.end() || *it > t + kRunWindow)
            missed.push_back(t);
    }
    return missed;
}

std::string missedRunText(std::time_t planned)
{
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    const std::tm t = platform::localTime(planned);
    return platform::format("no run at %02d:%02d on %s %02d/%02d: was the computer off?", t.tm_hour, t.tm_min,
                            kDays[t.tm_wday % 7], t.tm_mon + 1, t.tm_mday);
}

}  // namespace state
