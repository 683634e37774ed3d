#include "cp290ctl/plan_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/schedule_file.h"
#include "core/schedule_plan_edit.h"
#include "cp290ctl/exit_status.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "state/crontab_plans.h"

namespace cli {

const char* const kPlanUsage =
    "  plan                print what the crontab plans: schedules, load time, clock sync\n"
    "  plan schedule add MM/DD FILE [--mode 1|2]\n"
    "                      load FILE on that date (mode 1: replace all events, the\n"
    "                      default; mode 2: only the file's events); a planned date\n"
    "                      is updated\n"
    "  plan schedule remove MM/DD\n"
    "  plan schedule time HH:MM\n"
    "                      the one load time of every schedule\n"
    "  plan clocksync DAYS HH:MM\n"
    "                      set the CP290's clock on DAYS (1 = Monday ... 7 = Sunday,\n"
    "                      as 1,3,7) at HH:MM\n"
    "  plan clocksync off  stop the clock sync\n"
    "  plan corrections DAYS HH:MM\n"
    "                      shift the sun-corrected events on DAYS at HH:MM\n"
    "  plan corrections off\n"
    "                      stop the sun corrections\n";

namespace {

int usage(const std::string& message)
{
    return usageError(message);
}

// The crontab held by another writer past the wait: try again later.
template <class Planning>
int crontabStatus(const Planning& plan, int otherwise)
{
    return plan.reason().rfind("the crontab is being changed by", 0) == 0 ? kExitTempFail : otherwise;
}

bool parseTime(const std::string& s, int& hour, int& minute)
{
    char extra = 0;
    return std::sscanf(s.c_str(), "%2d:%2d%c", &hour, &minute, &extra) == 2 && s.find(':') + 3 == s.size() &&
           hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

bool parseDate(const std::string& s, int& month, int& day)
{
    char extra = 0;
    return s.size() >= 3 && s.size() <= 5 && std::sscanf(s.c_str(), "%2d/%2d%c", &month, &day, &extra) == 2;
}

bool parseDays(const std::string& s, std::array<int32_t, 8>& days)
{
    days.fill(0);
    if (s.empty() || s.size() % 2 == 0)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (i % 2 == 0 ? (c < '1' || c > '7') : c != ',')
            return false;
        if (i % 2 == 0)
            days[static_cast<size_t>(c - '0')] = 1;
    }
    return true;
}

std::string clockText(int hour, int minute)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", hour, minute);
    return buf;
}

const char* const kDayNames[] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string appFolder()
{
    return platform::applicationFolder();
}

// The outcome of a save, in words: success only when the crontab read back
// after the install holds the change.
template <class Planning>
int saved(state::InstallResult r, const Planning& plan, const std::string& what)
{
    if (r == state::InstallResult::Installed) {
        std::printf("%s\n", what.c_str());
        return 0;
    }
    const std::string why = plan.reason().empty() ? "the crontab could not be read or written whole" : plan.reason();
    const int status = crontabStatus(plan, kExitCantCreate);
    if (r == state::InstallResult::Refused)
        return failWith(status, "the crontab was not changed: " + why + " (see the log)");
    return failWith(status, "not saved: " + why + " (see the log)");
}

// Why an open failed, for the user.
template <class Planning>
int notRead(const Planning& plan)
{
    const std::string why = plan.reason().empty() ? "the crontab could not be read" : plan.reason();
    return failWith(crontabStatus(plan, kExitNoInput), why + ", so nothing was changed (see the log)");
}

template <class Planning>
void printTimedPlan(const char* title, const Planning& plan)
{
    if (!plan.planned()) {
        std::printf("%s none\n", title);
        return;
    }
    std::string days;
    for (int d = 1; d <= 7; ++d)
        if (plan.cronDays()[static_cast<size_t>(d)] == 1)
            days += std::string(days.empty() ? "" : " ") + kDayNames[d];
    std::printf("%s %s on %s\n", title, clockText(plan.hour(), plan.minute()).c_str(),
                days.empty() ? "no day" : days.c_str());
}

int printPlans()
{
    state::SchedulePlanning schedules(state::Program::Quorvel, appFolder());
    const bool readS = schedules.open();
    state::ClockSyncPlanning sync(state::Program::Quorvel, appFolder());
    const bool readC = sync.open();
    sync.close();
    state::CorrectionPlanning corrections(state::Program::Quorvel, appFolder());
    const bool readT = corrections.open();
    corrections.close();
    if (!readS || !readC || !readT)
        return failWith(kExitNoInput, "the crontab could not be read (see the log)");

    const state::ScheduleTable& t = schedules.table();
    std::vector<const state::ScheduleEntry*> entries;
    for (int i = 1; i <= state::kMaxSchedules; ++i)
        if (t.schedRec[static_cast<size_t>(i)].schLoad > 0)
            entries.push_back(&t.schedRec[static_cast<size_t>(i)]);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto* a, const auto* b) { return a->schDate < b->schDate; });
    if (entries.empty()) {
        std::printf("Schedules:  none\n");
    } else {
        std::printf("Schedules:  loaded at %s\n", clockText(schedules.hour(), schedules.minute()).c_str());
        for (const auto* e : entries)
            std::printf("  %s  mode %d (%s)  %s\n", e->schDate.c_str(), e->schLoad,
                        e->schLoad == 1 ? "replace all events" : "only the file's events", e->schPath.c_str());
    }
    if (!schedules.catchUpMinute().empty())
        std::printf("Catch-up:   every hour at minute %s, a missed load is made (brondile --catch-up)\n",
                    schedules.catchUpMinute().c_str());
    printTimedPlan("Clock sync:", sync);
    printTimedPlan("Sun corrections:", corrections);
    schedules.close();
    return 0;
}

// The clock sync and the sun corrections: weekdays and a time, or off.
// `title` names the plan in the output, `command` in the usage errors.
template <class Planning>
int timedPlan(const std::vector<std::string>& a, const char* title, const char* command)
{
    std::array<int32_t, 8> days{};
    int hour = 1, minute = 0;
    const bool off = a.size() == 1 && a[0] == "off";
    if (!off) {
        if (a.size() != 2)
            return usage(std::string("plan ") + command + " needs DAYS HH:MM, or off");
        if (!parseDays(a[0], days))
            return usage("days must be digits 1 (Monday) to 7 (Sunday) joined by commas, as 1,3,7");
        if (!parseTime(a[1], hour, minute))
            return usage("time must be HH:MM, 0:00 to 23:59");
    }
    // One lock from the copy to the read-back: no other writer in between.
    Planning plan(state::Program::Quorvel, appFolder(), state::LockHold::UntilClose);
    if (!plan.open()) {
        plan.close();
        return notRead(plan);
    }
    if (off) {
        // Nothing to remove: the crontab stays as it is.
        if (!plan.planned()) {
            plan.close();
            std::printf("%s: none\n", title);
            return 0;
        }
        hour = plan.hour();
        minute = plan.minute();
    }
    const state::InstallResult r = plan.save(hour, minute, days);
    plan.close();
    return saved(r, plan, off ? std::string(title) + ": none"
                        : std::string(title) + ": " + clockText(hour, minute) + " on " + state::weekdayList(days));
}

int schedule(const std::vector<std::string>& a)
{
    if (a.empty())
        return usage("plan schedule needs add, remove or time");
    const std::string& what = a[0];
    int month = 0, day = 0, hour = 0, minute = 0;
    int32_t load = 1;
    std::string path;
    if (what == "add") {
        std::vector<std::string> ops;
        for (size_t i = 1; i < a.size(); ++i) {
            if (a[i] == "--mode" && i + 1 < a.size()) {
                const std::string& m = a[++i];
                if (m != "1" && m != "2")
                    return usage("--mode is 1 (replace all events) or 2 (only the file's events)");
                load = m[0] - '0';
            } else if (a[i].rfind("--", 0) == 0) {
                return usage("unknown option " + a[i]);
            } else {
                ops.push_back(a[i]);
            }
        }
        if (ops.size() != 2)
            return usage("plan schedule add needs MM/DD FILE");
        if (!parseDate(ops[0], month, day))
            return usage("date must be MM/DD");
        if (!state::dateExists(month, day))
            return usage("there is no date " + ops[0]);
        // The file as a load will read it: missing, unreadable or damaged is said now.
        core::EventTable probe;
        if (const core::FileResult f = core::readEventFile(probe, ops[1]); !f.ok())
            return failWith(kExitNoInput, ops[1] + (f.notSchedule.empty() ? ": " + std::string(std::strerror(f.error))
                                                                           : " is not an event schedule file: " +
                                                                                 f.notSchedule));
        char* real = ::realpath(ops[1].c_str(), nullptr);
        path = real ? real : ops[1];
        std::free(real);
        if (const std::string problem = state::schedulePathProblem(path, appFolder()); !problem.empty())
            return usage(path + " cannot be planned: " + problem);
    } else if (what == "remove") {
        if (a.size() != 2 || !parseDate(a[1], month, day))
            return usage("plan schedule remove needs MM/DD");
        if (!state::dateExists(month, day))
            return usage("there is no date " + a[1]);
    } else if (what == "time") {
        if (a.size() != 2 || !parseTime(a[1], hour, minute))
            return usage("plan schedule time needs HH:MM, 0:00 to 23:59");
    } else {
        return usage("plan schedule needs add, remove or time");
    }

    state::SchedulePlanning plan(state::Program::Quorvel, appFolder(), state::LockHold::UntilClose);
    if (!plan.open()) {
        plan.close();
        return notRead(plan);
    }
    state::ScheduleTable& t = plan.table();
    std::string done;
    if (what == "time") {
        if (t.sch_count == 0) {
            plan.close();
            return failWith(kExitNoInput, "no schedule is planned; the load time is kept with the schedules");
        }
        done = "Schedules: loaded at " + clockText(hour, minute);
    } else {
        hour = plan.hour();
        minute = plan.minute();
        const int found = state::findDate(t, month, day);
        if (what == "remove") {
            if (!found) {
                plan.close();
                return failWith(kExitNoInput, "no schedule is planned for " + a[1]);
            }
            core::removeSchedules(t, {found});
            done = "Schedule for " + a[1] + " removed";
        } else {
            const core::ScheduleEdit edit = core::storeSchedule(t, {month, day, path, load});
            if (edit.outcome == core::ScheduleEditOutcome::Full) {
                plan.close();
                return failWith(kExitCantCreate, "the schedule table is full (50 dates)");
            }
            done = "Schedule for " + t.schedRec[static_cast<size_t>(edit.id)].schDate +
                   (found ? " updated: " : " added: ") + path;
        }
    }
    const state::InstallResult r = plan.save(hour, minute);
    plan.close();
    return saved(r, plan, done);
}

}  // namespace

int runPlanCommand(const std::vector<std::string>& args)
{
    if (args.empty())
        return printPlans();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "clocksync")
        return timedPlan<state::ClockSyncPlanning>(rest, "Clock sync", "clocksync");
    if (args[0] == "corrections")
        return timedPlan<state::CorrectionPlanning>(rest, "Sun corrections", "corrections");
    if (args[0] == "schedule")
        return schedule(rest);
    return usage("unknown plan '" + args[0] + "'");
}

}  // namespace cli
