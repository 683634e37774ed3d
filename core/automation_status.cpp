#include "core/automation_status.h"

#include <algorithm>
#include <array>
#include <memory>
#include <chrono>
#include <cstdio>

#include "core/event_table.h"
#include "core/schedule_file.h"
#include "core/schedule_loader.h"
#include "core/snapshot.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/crontab_lines.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "state/run_plan.h"

namespace core {

namespace {

constexpr const char* kWho = "Quorvel";
const char* const kDayNames[] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::optional<state::WeeklyPlan> weeklyPlan(const state::CronEntryFields& f)
{
    const auto minute = state::fieldNumber(f.minute, 0, 59);
    const auto hour = state::fieldNumber(f.hour, 0, 23);
    if (!minute || !hour)
        return std::nullopt;
    std::array<int32_t, 8> days{};
    state::readWeekdays(f.weekdays, days);
    state::WeeklyPlan p;
    p.minute = *minute;
    p.hour = *hour;
    for (size_t d = 1; d <= 7; ++d)
        p.weekdays[d] = days[d] != 0;
    p.weekdays[7] = p.weekdays[7] || days[0] != 0;  // cron's 0 is Sunday too
    return p;
}

std::string weeklyTextOf(const state::WeeklyPlan& p)
{
    std::string days;
    for (size_t d = 1; d <= 7; ++d)
        if (p.weekdays[d])
            days += (days.empty() ? "" : ", ") + std::string(kDayNames[d]);
    return platform::format("%s at %02d:%02d", days.empty() ? "no day" : days.c_str(), p.hour, p.minute);
}

std::string whenText(std::time_t t)
{
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    const std::tm tm = platform::localTime(t);
    return platform::format("%02d:%02d on %s %02d/%02d", tm.tm_hour, tm.tm_min, kDays[tm.tm_wday % 7], tm.tm_mon + 1,
                            tm.tm_mday);
}

// A load missed at `planned` that a catch-up run made later.
std::optional<std::string> caughtUpText(std::time_t planned, const std::string& tool,
                                        const std::vector<state::RunRecord>& runs)
{
    const std::string prefix = loader::catchUpSummaryPrefix(planned);
    for (const state::RunRecord& r : runs)
        if (r.tool == tool && r.outcome == state::RunOutcome::Ok && r.summary.rfind(prefix, 0) == 0)
            return "caught up at " + runTimeText(r.when) + " the load planned for " + runTimeText(planned);
    return std::nullopt;
}

// The last run of the tool, and the warnings of its row: planned runs
// missing, then every failed or interrupted run of the look-back period.
void addHistory(AutomationRow& row, const std::vector<std::time_t>& planned, const std::vector<state::RunRecord>& runs,
                std::time_t now)
{
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (it->tool == row.tool) {
            row.lastRun = *it;
            break;
        }
    }
    std::vector<std::time_t> caught;
    for (const std::time_t t : planned)
        if (const auto text = caughtUpText(t, row.tool, runs)) {
            row.warnings.push_back(*text);
            caught.push_back(t);
        }
    for (const std::time_t t : state::missedRuns(planned, runs, row.tool, now, state::planMadeAt(row.tool)))
        if (std::find(caught.begin(), caught.end(), t) == caught.end())
            row.warnings.push_back(state::missedRunText(t));
    for (const state::RunRecord& r : runs) {
        const bool last = row.lastRun && r.when == row.lastRun->when && r.outcome == row.lastRun->outcome;
        if (r.tool != row.tool || (r.when < now - kMissedLookBack && !last))
            continue;
        if (r.outcome == state::RunOutcome::Interrupted)
            row.warnings.push_back(interruptedRunWarning(r));
        else if (r.outcome == state::RunOutcome::Failed)
            row.warnings.push_back(last ? failedRunWarning(r) : "the run at " + whenText(r.when) + " failed: " + r.summary);
    }
}

AutomationRow weeklyRow(const char* title, const char* tool, state::PairKind kind, const std::string& crontab,
                        const std::vector<state::RunRecord>& runs, std::time_t now)
{
    AutomationRow row;
    row.title = title;
    row.tool = tool;
    std::vector<std::time_t> planned;
    if (const auto plan = plannedWeekly(crontab, kind)) {
        row.planned = true;
        row.plan = weeklyTextOf(*plan);
        row.nextRun = state::nextRun(*plan, now);
        planned = state::plannedTimes(*plan, now - kMissedLookBack, now);
    }
    addHistory(row, planned, runs, now);
    return row;
}

AutomationRow scheduleRow(const std::string& crontab, const std::vector<state::RunRecord>& runs, std::time_t now)
{
    AutomationRow row;
    row.title = "Virtual schedules";
    row.tool = "brondile";
    std::vector<std::time_t> planned;
    std::string time;
    for (const PlannedLoad& load : plannedLoads(crontab)) {
        const state::DatedPlan& plan = load.when;
        row.planned = true;
        row.plan += platform::format("%s%02d/%02d %s (%s)", row.plan.empty() ? "" : ", ", plan.month, plan.day,
                                     load.name.c_str(), load.load == 1 ? "replace all events" : "only the file's events");
        time = platform::format(" at %02d:%02d", plan.hour, plan.minute);
        if (const auto next = state::nextRun(plan, now); next && (!row.nextRun || *next < *row.nextRun))
            row.nextRun = next;
        for (const std::time_t t : state::plannedTimes(plan, now - kMissedLookBack, now))
            planned.push_back(t);
    }
    row.plan += time;  // every pair carries the shared load time
    std::sort(planned.begin(), planned.end());
    addHistory(row, planned, runs, now);
    return row;
}

std::string jsonTime(const std::optional<std::time_t>& t)
{
    return t ? jsonString(runTimeText(*t)) : "null";
}

}  // namespace

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (u < 0x20)
            out += platform::format("\\u%04x", u);
        else
            out += c;
    }
    return out + "\"";
}


std::optional<state::WeeklyPlan> plannedWeekly(const std::string& crontab, state::PairKind kind)
{
    const state::CrontabPairs pairs = state::readCrontabPairs(crontab, kind, kWho);
    if (!pairs.markerMet || !pairs.timing)
        return std::nullopt;
    return weeklyPlan(*pairs.timing);
}

std::vector<PlannedLoad> plannedLoads(const std::string& crontab, const char* who)
{
    std::vector<PlannedLoad> out;
    const state::CrontabPairs pairs = state::readCrontabPairs(crontab, state::PairKind::Schedule, who);
    for (const state::ScheduleRead& s : pairs.schedules) {
        if (!s.entry)
            continue;
        const auto minute = state::fieldNumber(s.entry->minute, 0, 59);
        const auto hour = state::fieldNumber(s.entry->hour, 0, 23);
        const auto day = state::fieldNumber(s.entry->day, 1, 31);
        const auto month = state::fieldNumber(s.entry->month, 1, 12);
        if (!minute || !hour || !day || !month)
            continue;
        out.push_back({state::DatedPlan{*month, *day, *minute, *hour}, s.marker.name, s.marker.load, s.marker.path});
    }
    return out;
}

std::string failedRunWarning(const state::RunRecord& run)
{
    return "the last run failed: " + run.summary;
}

std::string interruptedRunWarning(const state::RunRecord& run)
{
    std::string out = "interrupted at " + whenText(run.when) + ": ";
    if (run.tool == "tamsel")
        return out + "the CP290's clock may not be set";
    out += "the CP290 may be partly loaded";
    if (!run.snapshot.empty())
        out += "; snapshot " + run.snapshot;
    return out;
}

std::string weeklyText(const state::WeeklyPlan& p)
{
    return weeklyTextOf(p);
}

std::string runTimeText(std::time_t t)
{
    const std::tm tm = platform::localTime(t);
    return platform::format("%s %04d-%02d-%02d %02d:%02d", kDayNames[platform::isoWeekday(tm)], tm.tm_year + 1900,
                            tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
}

std::vector<AutomationRow> automationRows(const std::string& crontab, const std::vector<state::RunRecord>& runs,
                                          std::time_t now)
{
    return {
        scheduleRow(crontab, runs, now),
        weeklyRow("Sun corrections", "veskarn", state::PairKind::Correction, crontab, runs, now),
        weeklyRow("Clock sync", "tamsel", state::PairKind::ClockSync, crontab, runs, now),
    };
}

std::vector<state::RunRecord> runsWithInterrupted()
{
    std::vector<state::RunRecord> runs = state::readRuns();
    for (state::RunRecord& r : state::interruptedRuns())
        runs.push_back(std::move(r));
    // Interrupted runs join the log when their tool next starts: by time.
    std::stable_sort(runs.begin(), runs.end(),
                     [](const state::RunRecord& a, const state::RunRecord& b) { return a.when < b.when; });
    return runs;
}

std::optional<AutomationRow> readAutomationRow(const std::string& tool, std::time_t now)
{
    std::string crontab;
    if (!state::listCrontab(kWho, state::kHelperBound, crontab))
        return std::nullopt;
    for (AutomationRow& r : automationRows(crontab, runsWithInterrupted(), now))
        if (r.tool == tool)
            return std::move(r);
    return std::nullopt;
}

AutomationStatus readAutomationStatus(std::time_t now, size_t maxSnapshots)
{
    AutomationStatus s;
    std::string crontab;
    s.crontabRead = state::listCrontab(kWho, state::kHelperBound, crontab);
    s.rows = automationRows(s.crontabRead ? crontab : std::string(), runsWithInterrupted(), now);

    // By tool (the rows' tools first), each newest first, each compared with
    // the tool's one before it.
    std::vector<std::string> tools;
    for (const AutomationRow& r : s.rows)
        tools.push_back(r.tool);
    std::vector<std::pair<std::string, std::vector<std::string>>> byTool;
    for (const std::string& p : listSnapshots()) {
        const auto stamp = snapshotStamp(p);
        const std::string tool = stamp ? stamp->tool : std::string();
        auto it = std::find_if(byTool.begin(), byTool.end(), [&](const auto& g) { return g.first == tool; });
        if (it == byTool.end())
            it = byTool.insert(byTool.end(), {tool, {}});
        if (it->second.size() <= maxSnapshots)  // one more, to compare the last shown with
            it->second.push_back(p);
    }
    const auto rank = [&](const std::string& tool) {
        return std::find(tools.begin(), tools.end(), tool) - tools.begin();
    };
    std::stable_sort(byTool.begin(), byTool.end(),
                     [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
    for (const auto& [tool, paths] : byTool) {
        std::vector<std::unique_ptr<EventTable>> tables;
        for (const std::string& p : paths) {
            auto t = std::make_unique<EventTable>();
            if (!readEventFile(*t, p).ok())
                t.reset();
            tables.push_back(std::move(t));
        }
        for (size_t i = 0; i < paths.size() && i < maxSnapshots; ++i) {
            SnapshotRow row{paths[i], "", tool};
            if (!tables[i])
                row.changes = "not readable";
            else if (i + 1 < tables.size() && tables[i + 1])
                row.changes = describeChanges(*tables[i + 1], *tables[i]);
            s.snapshots.push_back(row);
        }
    }
    // Read-only, as everything here: an unusable mirror simply tells nothing.
    const state::MirrorRead mirror = state::readDeviceMirror();
    if (mirror.state == state::MirrorState::Read)
        s.deviceMemory = deviceMemoryText(mirror.mirror);
    return s;
}

std::string deviceMemoryText(const state::DeviceMirror& m)
{
    if (m.lostAt == 0)
        return {};
    std::string text = "The CP290 lost its memory at " + runTimeText(m.lostAt) + " (seen by " + m.lostBy + ")";
    if (m.restoredAt >= m.lostAt)
        text += platform::format("; restored at %s (%d events, by %s)", runTimeText(m.restoredAt).c_str(),
                                 m.restoredEvents, m.restoredBy.c_str());
    else
        text += "; not put back yet (cp290ctl restore, or Put Back in the controller)";
    return text + ". Replace its backup battery: a power cut with a flat battery wipes it.";
}

std::string statusText(const AutomationStatus& s)
{
    std::string out;
    if (!s.crontabRead)
        out += "warning: the crontab could not be read; what it plans is not shown\n\n";
    if (!s.deviceMemory.empty())
        out += "warning: " + s.deviceMemory + "\n\n";
    for (const AutomationRow& r : s.rows) {
        out += r.title + " (" + r.tool + ")\n";
        out += "  planned:  " + (r.planned ? r.plan : std::string("nothing")) + "\n";
        if (r.nextRun)
            out += "  next run: " + runTimeText(*r.nextRun) + "\n";
        if (r.lastRun) {
            out += "  last run: " + runTimeText(r.lastRun->when) + " " + state::outcomeText(r.lastRun->outcome);
            if (!r.lastRun->summary.empty())
                out += ": " + r.lastRun->summary;
            out += "\n";
        } else {
            out += "  last run: none recorded\n";
        }
        for (const std::string& w : r.warnings)
            out += "  warning:  " + w + "\n";
        out += "\n";
    }
    out += "Snapshots (by tool, newest first; open one in the controller and send it to go back):\n";
    if (s.snapshots.empty())
        out += "  none\n";
    for (size_t i = 0; i < s.snapshots.size(); ++i) {
        const SnapshotRow& snap = s.snapshots[i];
        if (i == 0 || s.snapshots[i - 1].tool != snap.tool)
            out += "  " + (snap.tool.empty() ? std::string("other") : snap.tool) + ":\n";
        out += "    " + snap.path + (snap.changes.empty() ? "" : "  (" + snap.changes + ")") + "\n";
    }
    return out;
}

std::string statusJson(const AutomationStatus& s)
{
    std::string out = "{\"crontab_read\": " + std::string(s.crontabRead ? "true" : "false") +
                      ", \"device_memory\": " + jsonString(s.deviceMemory) + ", \"work\": [";
    for (size_t i = 0; i < s.rows.size(); ++i) {
        const AutomationRow& r = s.rows[i];
        out += i ? ", " : "";
        out += "{\"title\": " + jsonString(r.title) + ", \"tool\": " + jsonString(r.tool) +
               ", \"planned\": " + (r.planned ? "true" : "false") + ", \"plan\": " + jsonString(r.plan) +
               ", \"next_run\": " + jsonTime(r.nextRun) + ", \"last_run\": ";
        if (r.lastRun) {
            out += "{\"time\": " + jsonString(runTimeText(r.lastRun->when)) +
                   ", \"outcome\": " + jsonString(state::outcomeText(r.lastRun->outcome)) +
                   ", \"summary\": " + jsonString(r.lastRun->summary) +
                   ", \"snapshot\": " + jsonString(r.lastRun->snapshot) + "}";
        } else {
            out += "null";
        }
        out += ", \"warnings\": [";
        for (size_t w = 0; w < r.warnings.size(); ++w)
            out += (w ? ", " : "") + jsonString(r.warnings[w]);
        out += "]}";
    }
    out += "], \"snapshots\": [";
    for (size_t i = 0; i < s.snapshots.size(); ++i)
        out += (i ? ", " : "") + std::string("{\"path\": ") + jsonString(s.snapshots[i].path) +
               ", \"tool\": " + jsonString(s.snapshots[i].tool) +
               ", \"changes\": " + jsonString(s.snapshots[i].changes) + "}";
    return out + "]}\n";
}

}  // namespace core
