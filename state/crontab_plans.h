#pragma once
// The planning steps the windows and cp290ctl share, over CrontabWork:
// open (copy the crontab, read this kind's pairs), edit in memory, save
// (write the pairs, install, make the work file the copy, read again),
// close (remove the copy and the work file). One class per kind of plan.
//
// A save installs only when the writer wrote every pair; otherwise, and
// when the install fails, the work file is rebuilt from the unchanged copy
// so a later save starts clean, and the caller's unsaved data is kept.
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "state/crontab_work.h"

namespace state {

// The weekday list of a timing record's flags 1..7: "1,3,7"; "" for none.
std::string weekdayList(const std::array<int32_t, 8>& cronDays);

// --- Clock sync and sun corrections ----------------------------------------

// A timing pair's plan: the weekdays and the time cron starts the clock-sync
// tool (PairKind::ClockSync) or the sun-correction tool (PairKind::Correction).
class TimingPlanning {
public:
    TimingPlanning(PairKind kind, Program who, std::string appFolder);

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
    void close();

protected:
    // The last read met a schedule marker (read by the correction reader only).
    bool m_gotSched = false;

private:
    void takeRead(const CrontabRead& r);

    PairKind m_kind;
    CrontabWork m_work;
    TimingRecord m_timingRec;
    int32_t m_scount = 0;
    const char* m_refusal = kSaveRefusedMessage;
};

// When cron starts the clock-sync tool.
class ClockSyncPlanning : public TimingPlanning {
public:
    ClockSyncPlanning(Program who, std::string appFolder)
        : TimingPlanning(PairKind::ClockSync, who, std::move(appFolder))
    {
    }
};

// When cron starts the sun-correction tool, and what the Time Correction
// window needs besides: whether a virtual schedule is planned (the protect
// flag then matters).
class CorrectionPlanning : public TimingPlanning {
public:
    CorrectionPlanning(Program who, std::string appFolder)
        : TimingPlanning(PairKind::Correction, who, std::move(appFolder))
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
    SchedulePlanning(Program who, std::string appFolder);

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
    // schedule pair and the catch-up pair are removed. The table is read back after an install.
    InstallResult save(int hour, int minute);
    const char* refusalMessage() const { return m_refusal; }
    void close();

private:
    CrontabWork m_work;
    ScheduleTable m_table;
    const char* m_refusal = kSaveRefusedMessage;
};

}  // namespace state
