#pragma once
// The planning steps the windows and cp290ctl share, over CrontabWork:
// open (copy the crontab, read this kind's pairs), edit in memory, save
// (write the pairs, install, make the work file the copy, read again),
// close (remove the copy and the work file). One class per kind of plan.
//
// A save installs only when the writer wrote every pair; otherwise, and
// when the install fails, the work file is rebuilt from the unchanged copy
// so a later save starts clean, and the caller's unsaved data is kept.
//
// Each step holds the user's crontab lock (see crontab_work.h). A window
// holds it only during a step (LockHold::DuringSteps), so its copy may be
// stale by the time it saves: the save then copies the crontab again under
// the lock and applies the window's edit to that copy. cp290ctl holds it
// from open to close (LockHold::UntilClose). A save's outcome is what the
// crontab holds when copied again after the install: Installed only when the
// change is there.
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "state/crontab_work.h"

namespace state {

enum class LockHold { DuringSteps, UntilClose };

// The weekday list of a timing record's flags 1..7: "1,3,7"; "" for none.
std::string weekdayList(const std::array<int32_t, 8>& cronDays);

// --- Clock sync and sun corrections ----------------------------------------

// A timing pair's plan: the weekdays and the time cron starts the clock-sync
// tool (PairKind::ClockSync) or the sun-correction tool (PairKind::Correction).
class TimingPlanning {
public:
    TimingPlanning(PairKind kind, Program who, std::string appFolder, LockHold hold = LockHold::DuringSteps);

    // copyCrontab, getUserPath, then the kind's reader (readCrontabC or
    // readCrontabT). False when the crontab could not be read (logged); a
    // save is then refused.
    bool open();
    // The crontab holds this kind's pair with its entry.
    bool planned() const { return m_scount == 1 && !m_timingRec.cronHour.empty(); }
    // The time shown: the pair's, or 1:00 when there is none (or its fields
    // are not plain numbers of a time).
    int hour() const;
    int minute() const;
    const std::array<int32_t, 8>& cronDays() const { return m_timingRec.cronDays; }

    // No day given removes the pair. The record is read back after an install.
    InstallResult save(int hour, int minute, const std::array<int32_t, 8>& cronDays);
    // Why the last save was refused, for the user.
    const char* refusalMessage() const { return m_refusal; }
    // Why the last open or save did not succeed, in a few words ("" when it did).
    const std::string& reason() const { return m_reason; }
    void close();

protected:
    // The last read met a schedule marker (read by the correction reader only).
    bool m_gotSched = false;

private:
    void takeRead(const CrontabRead& r);

    PairKind m_kind;
    LockHold m_hold;
    CrontabWork m_work;
    TimingRecord m_timingRec;
    int32_t m_scount = 0;
    const char* m_refusal = kSaveRefusedMessage;
    std::string m_reason;
};

// When cron starts the clock-sync tool.
class ClockSyncPlanning : public TimingPlanning {
public:
    ClockSyncPlanning(Program who, std::string appFolder, LockHold hold = LockHold::DuringSteps)
        : TimingPlanning(PairKind::ClockSync, who, std::move(appFolder), hold)
    {
    }
};

// When cron starts the sun-correction tool, and what the Time Correction
// window needs besides: whether a virtual schedule is planned (the protect
// flag then matters).
class CorrectionPlanning : public TimingPlanning {
public:
    CorrectionPlanning(Program who, std::string appFolder, LockHold hold = LockHold::DuringSteps)
        : TimingPlanning(PairKind::Correction, who, std::move(appFolder), hold)
    {
    }
    bool gotSched() const { return m_gotSched; }
};

// --- Virtual schedules ----------------------------------------------------

// The day exists in the month of some year (29 February does).
bool dateExists(int month, int day);

// Why a schedule file cannot be planned ("" when it can): the path must fit
// the table (255 characters, a name of at most 99) and a crontab line, with
// no control character in it.
std::string schedulePathProblem(const std::string& path, const std::string& appFolder);

// Index (1..50) of the entry in use for the date, 0 when none.
int findDate(const ScheduleTable& table, int month, int day);
// Lowest free index, 0 when all 50 are in use.
int firstFree(const ScheduleTable& table);
// Fills an entry as the editor does ("03", "03/05", ...).
void fillEntry(ScheduleEntry& e, int month, int day, const std::string& path, int32_t load);

class SchedulePlanning {
public:
    SchedulePlanning(Program who, std::string appFolder, LockHold hold = LockHold::DuringSteps);

    bool open();
    ScheduleTable& table() { return m_table; }
    const ScheduleTable& table() const { return m_table; }
    // The shared load time: entry 1's when a schedule is planned, else 1:00.
    int hour() const;
    int minute() const;
    // The minute of every hour the catch-up pair starts the loader; "" when
    // the crontab holds no such pair.
    const std::string& catchUpMinute() const { return m_work.catchUpMinute(); }

    // Entry 1 takes the load time when any entry is in use, and the catch-up
    // pair is written after the schedule pairs; with none in use every
    // schedule pair and the catch-up pair are removed. The table is read back
    // after an install. When the crontab changed since this table was read,
    // the dates added, changed or removed here are applied to the crontab's
    // schedules, and the load time when it was changed here.
    InstallResult save(int hour, int minute);
    const char* refusalMessage() const { return m_refusal; }
    const std::string& reason() const { return m_reason; }
    void close();

private:
    LockHold m_hold;
    CrontabWork m_work;
    ScheduleTable m_table;
    ScheduleTable m_base;  // the table as last read from the crontab
    const char* m_refusal = kSaveRefusedMessage;
    std::string m_reason;
};

// The edit that turned `base` into `edited` applied to `fresh`: dates removed
// from base are removed, dates added or changed are stored (in place when
// fresh plans the date, else in its first free entry). False when fresh has
// no room left for them.
bool applyScheduleEdit(ScheduleTable& fresh, const ScheduleTable& base, const ScheduleTable& edited);
// Both plan the same dates with the same files and load modes.
bool sameSchedules(const ScheduleTable& a, const ScheduleTable& b);

}  // namespace state
