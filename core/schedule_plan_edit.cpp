#include "core/schedule_plan_edit.h"

#include "platform/syslog_log.h"
#include "state/crontab_plans.h"

namespace core {

ScheduleEdit storeSchedule(state::ScheduleTable& table, const ScheduleRequest& request, platform::Program who)
{
    if (!state::dateExists(request.month, request.day))
        return {};
    int id = state::findDate(table, request.month, request.day);
    ScheduleEditOutcome outcome = ScheduleEditOutcome::Changed;
    if (!id && request.adding) {
        // A count at the limit or an inconsistent one (no free entry) both
        // refuse, so entry 0 and the count never take a date that has no place.
        id = table.sch_count < state::kMaxSchedules ? state::firstFree(table) : 0;
        if (!id) {
            platform::logf("%s Error - Schedule array exceeded\n", platform::programName(who));
            return {ScheduleEditOutcome::Full, 0};
        }
        ++table.sch_count;
        outcome = ScheduleEditOutcome::Added;
    } else if (!id) {
        if (request.changeId < 1 || request.changeId > state::kMaxSchedules ||
            table.schedRec[static_cast<size_t>(request.changeId)].schLoad <= 0)
            return {};
        id = request.changeId;
    }
    state::fillEntry(table.schedRec[static_cast<size_t>(id)], request.month, request.day, request.path,
                     request.load);
    return {outcome, id};
}

int removeSchedules(state::ScheduleTable& table, const std::vector<int>& ids)
{
    int freed = 0;
    for (const int id : ids) {
        if (id < 1 || id > state::kMaxSchedules)
            continue;
        state::ScheduleEntry& e = table.schedRec[static_cast<size_t>(id)];
        if (e.schLoad <= 0)
            continue;
        e.schLoad = 0;
        --table.sch_count;
        ++freed;
    }
    return freed;
}

bool canAddSchedule(const state::ScheduleTable& table)
{
    return table.sch_count < state::kMaxSchedules;
}

}  // namespace core
