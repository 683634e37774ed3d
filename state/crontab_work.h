#pragma once
// The crontab work of a planning window: the crontab copy "tempCrontab" and
// the work file "Wrellish" in the user folder, and the helpers pindrel (copy
// the user's crontab) and mavrone (install the work file) in the application
// folder.
//
// Principles of operation. Open: copyCrontab runs pindrel and waits for it;
// a reader (S schedules, T corrections, C clock sync) rebuilds the work file
// from the copy without its own kind's pairs, in crontab order, and loads
// those pairs into the window's records (readCrontabPairs of crontab_lines.h:
// a marker's entry is taken only when it is this suite's entry for the
// marker's tool; anyone else's job after a marker stays where it is). Save: the writer appends the
// window's pairs; installWorkFile runs mavrone, waits, and makes the work
// file the new copy; the reader runs again. Close: removeFiles.
//
// Every planning step that copies, writes, installs or removes these files
// holds the user's crontab lock (lockCrontab), so two writers (two windows,
// a window and cp290ctl, two cp290ctl) never interleave: one copies,
// installs and reads back before the other copies. The copy and the work
// file are the suite's own: a symbolic link in their place is replaced by a
// regular file, never written through.
//
// A save installs a whole crontab built from the copy, so it is refused when
// the last reader did not read the copy completely (the user's other lines
// would be lost) or when a writer could not write the work file. Every helper
// run is bounded (10 s); files are replaced whole through a temporary file.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/device_lock.h"
#include "state/crontab_lines.h"
#include "state/program.h"

namespace state {

inline constexpr int kMaxSchedules = 50;
inline constexpr const char* kCrontabCopyName = "tempCrontab";
inline constexpr const char* kWorkFileName = "Wrellish";
inline constexpr const char* kCopyHelperName = "pindrel";
inline constexpr const char* kInstallHelperName = "mavrone";
inline constexpr std::chrono::milliseconds kHelperBound{10000};
// The helpers' own wait for the crontab command. Shorter than the callers'
// wait for a helper, so a helper always stops a hung crontab command (and
// removes its half-written copy) before its caller gives up on it: a helper
// killed first would leave the command running, free to install the work
// file after the caller has reported the save as failed.
inline constexpr std::chrono::milliseconds kCrontabBound{8000};
inline constexpr std::chrono::milliseconds kCopyWait{10000};  // 600 ticks
// The longest wait for the crontab lock: longer than another writer's save
// (a copy, an install and a read-back, each bounded by kHelperBound).
// CP290_CRONTAB_WAIT_MS shortens it.
inline constexpr std::chrono::milliseconds kCrontabLockWait{35000};

// What the window tells the user when a save is refused.
inline constexpr const char* kSaveRefusedMessage =
    "The crontab could not be read, so the changes were not saved. "
    "Close the window and open it again to retry.";
inline constexpr const char* kCrontabBusyMessage =
    "The crontab is being changed by another program (see the log), so the changes were not "
    "saved. Try Save again in a moment.";
inline constexpr const char* kChangeNotConfirmedMessage =
    "The crontab could not be read back after the install, so it is not known whether your "
    "changes were saved. Close the window and open it again to see what the crontab holds.";
inline constexpr const char* kTableFullMessage =
    "Schedules planned meanwhile leave no free entry for your changes (50 dates), so they were "
    "not saved. Close the window and open it again to see them.";
inline constexpr const char* kPairRefusedMessage =
    "A planned job could not be written to the crontab (a path or folder holds a character "
    "cron cannot carry, or a time is not valid), so the changes were not saved.";

struct ScheduleEntry {
    std::string schMinute;  // load time, "%d" texts; only entry 1's are written
    std::string schHour;
    std::string schMonth;   // "01".."12"
    std::string schDay;     // "01".."31"
    std::string schDate;    // schMonth "/" schDay
    std::string schName;    // file name without folder
    std::string schPath;    // full path of the event schedule file
    int32_t schLoad = 0;    // 0 free, 1 load all events, 2 load the file's events
};

struct ScheduleTable {
    std::array<ScheduleEntry, kMaxSchedules + 1> schedRec{};  // entry 0 unused
    int32_t sch_count = 0;
};

struct TimingRecord {
    std::string cronMinute;
    std::string cronHour;
    std::array<int32_t, 8> cronDays{};  // by weekday digit, 1 Monday .. 7 Sunday
    std::string cronDaysText;           // "1,3,5" as written; the windows build it
};

struct CrontabRead {
    bool copyRead = false;  // the copy was read and the work file rebuilt
    int32_t scount = 0;     // T, C: 1 when this kind's marker was met
    uint8_t gotSched = 0;   // T: 1 when the copy holds a schedule marker
};

enum class InstallResult {
    Installed,  // mavrone installed the work file, which is now the copy
    Refused,    // nothing done: the copy was not read, or the work file is incomplete
    Failed,     // mavrone failed; the copy still holds the crontab as it was
};

// The application folder, trailing "/".
std::string getMyPath();

// The user folder of the user running the program, trailing "/"; nullopt
// when there is no such user (no HOME and no password entry). Logs nothing.
std::optional<std::string> knownUserFolder();

// The same, empty with the program's "NULL User" line logged when there is
// no user.
std::string getUserPath(Program who);

// Opens the crontab copy at `path`, trying again every 50 ms until `wait`
// has passed, and reads it whole. nullopt with *err (errno of the last
// attempt) when it cannot be opened or read. Shared with the schedule loader.
std::optional<std::string> readCrontabCopy(const std::string& path, std::chrono::milliseconds wait,
                                           int* err);

// Runs a helper of the application folder and waits for it (bounded), with
// a log line in the program's name when it cannot start, overruns or fails.
bool runHelper(Program who, const std::string& appFolder, const char* helper);

// The crontab lock's file: "crontab.lock" in the suite's state folder (made
// when missing), else "cp290-crontab.lock" in $XDG_RUNTIME_DIR; "" when
// neither can hold it.
std::string crontabLockPath();

class CrontabWork {
public:
    CrontabWork(Program who, std::string appFolder);
    ~CrontabWork();
    CrontabWork(CrontabWork&&) noexcept;
    CrontabWork& operator=(CrontabWork&&) noexcept;

    // Takes the user's crontab lock unless this object holds it, waiting at
    // most kCrontabLockWait for another writer (logged once, with who holds
    // it). False, logged and with lockProblem() telling why, when it could not
    // be taken.
    bool lockCrontab();
    void unlockCrontab();
    bool crontabLocked() const;
    // Why the last lockCrontab failed, for the user ("" after a success).
    const std::string& lockProblem() const { return m_lockProblem; }

    // cron_path, set by getUserPath (called by the readers if not yet).
    const std::string& getUserPath();
    std::string copyPath() const;
    std::string workPath() const;

    // Runs pindrel and waits. A stale copy is removed first, so a failed
    // helper can never leave an old crontab to be read.
    bool copyCrontab();

    // Also takes the catch-up pair out of the work file (see catchUpMinute).
    bool readCrontabS(ScheduleTable& table);
    // The minute field of the catch-up pair the last readCrontabS met, ""
    // when it met none.
    const std::string& catchUpMinute() const { return m_catchUpMinute; }
    // A timing pair's reader: `kind` is PairKind::Correction (T, which also
    // notes a schedule marker) or PairKind::ClockSync (C); a schedule kind
    // reads nothing.
    CrontabRead readTimingPair(PairKind kind, TimingRecord& record);
    CrontabRead readCrontabT(TimingRecord& VeskRec) { return readTimingPair(PairKind::Correction, VeskRec); }
    CrontabRead readCrontabC(TimingRecord& SyncRec) { return readTimingPair(PairKind::ClockSync, SyncRec); }

    // Append this kind's pairs to the work file the reader built (the
    // schedules' writer adds the catch-up pair after them when it wrote any). A pair that
    // cannot be written safely is left out with a log line; false when
    // anything was left out or the work file could not be written (a work
    // file that has vanished since the read counts as unwritable).
    bool modCrontabS(const ScheduleTable& table);
    // A timing pair's writer, `kind` as for readTimingPair (a schedule kind
    // writes nothing and returns false).
    bool writeTimingPair(PairKind kind, const TimingRecord& record);
    bool modCrontabT(const TimingRecord& VeskRec) { return writeTimingPair(PairKind::Correction, VeskRec); }
    bool modCrontabC(const TimingRecord& SyncRec) { return writeTimingPair(PairKind::ClockSync, SyncRec); }

    // Runs mavrone on the work file and waits; refused (with a log line)
    // when the last reader failed, a writer could not write the work file or
    // left out a pair it could not write safely: the old crontab stays.
    // After any result but Refused the reader must run again before the next
    // save, as the window's save steps do anyway.
    InstallResult updateCrontab();
    // The work file becomes the crontab copy (the just-installed crontab).
    bool replaceCopyWithWorkFile();
    // updateCrontab, then replaceCopyWithWorkFile when installed. The caller
    // then runs its reader again.
    InstallResult installWorkFile();
    // Close or discard: remove the copy and the work file.
    void removeFiles();
    // A copy was made since the files were last removed.
    bool filesMade() const { return m_filesMade; }

    // What the window shows after InstallResult::Refused.
    const char* refusalMessage() const;

    // Bounds, shortened by tests.
    void setCopyWait(std::chrono::milliseconds wait) { m_copyWait = wait; }

private:
    bool readAndRebuild(PairKind kind, ScheduleTable* table, TimingRecord* timing, CrontabRead& result);
    bool appendToWorkFile(const std::string& bytes, const char* failureText);
    void logPairError(PairError e, int entry);

    Program m_who;
    std::string m_appFolder;
    std::optional<std::string> m_cronPath;
    bool m_readOk = false;
    bool m_workFileOk = true;
    bool m_pairRefused = false;
    bool m_copyHelperFailed = false;
    bool m_filesMade = false;
    std::string m_catchUpMinute;
    std::chrono::milliseconds m_copyWait = kCopyWait;
    std::unique_ptr<platform::DeviceLock> m_lock;
    std::string m_lockProblem;
};

}  // namespace state
