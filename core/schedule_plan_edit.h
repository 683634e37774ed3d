#pragma once
// Edits of the virtual schedule table (state::ScheduleTable, entries 1..50
// with gaps) as a front end makes them (the Schedules window), before
// state::SchedulePlanning saves the table.
//
// The rules: a date is planned at most once, so storing a date already in
// the table changes that entry whatever was asked; a new date takes the
// lowest free entry; with all 50 in use a new date is refused and logged
// ("<program> Error - Schedule array exceeded").
#include <cstdint>
#include <string>
#include <vector>

#include "platform/program.h"
#include "state/crontab_work.h"

namespace core {

struct ScheduleRequest {
    int month = 1;
    int day = 1;
    std::string path;     // the event schedule file, already checked for the crontab
    int32_t load = 1;     // 1 all events, 2 the file's events
    bool adding = true;   // false: changing the entry changeId
    int changeId = 0;     // the entry being changed (1..50)
};

enum class ScheduleEditOutcome {
    Added,    // a new entry; count grew by one
    Changed,  // an entry in use took the request
    Full,     // a new date with every entry in use (logged); nothing changed
    Refused,  // no such date, or a change without a date planned or an entry chosen
};

struct ScheduleEdit {
    ScheduleEditOutcome outcome = ScheduleEditOutcome::Refused;
    int id = 0;  // the entry stored (Added, Changed)
};

ScheduleEdit storeSchedule(state::ScheduleTable& table, const ScheduleRequest& request,
                           platform::Program who = platform::Program::Quorvel);

// Frees the entries in use among `ids`; the others are left alone. How many
// were freed.
int removeSchedules(state::ScheduleTable& table, const std::vector<int>& ids);

// Room for another date.
bool canAddSchedule(const state::ScheduleTable& table);

}  // namespace core
