#pragma once
// The bytes of the controller's crontab line pairs, with no file or process
// work, so the formats can be checked on their own.
//
// Every planned piece of work is a marker comment line followed by its cron
// entry; fields are separated by one TAB and every line ends in LF:
//   schedule:    "# Quorvel" <load byte 0x01|0x02> <schedule file path> LF
//                min TAB hour TAB day TAB month TAB "*" TAB command LF
//   correction:  "#a Quorvel" LF, then min TAB hour TAB "*" TAB "*" TAB days TAB command LF
//   clock sync:  "#s Quorvel" LF, then the same with the clock-sync tool
//   catch-up:    "#c Quorvel" LF, then "17" TAB "*" TAB "*" TAB "*" TAB "*" TAB
//                the schedule loader's command, a blank, "--catch-up" LF
//                (kept while any schedule is planned: every hour the loader
//                makes a load that was missed)
// The command is the tool's executable in the application folder, in double
// quotes, with "%" written "\%" (cron turns a bare "%" into a newline).
//
// A line is at most 498 characters before its LF. The builders refuse what
// could not be read back as written: a path holding a control character (a
// line feed would start a line of its own in the user's crontab), a command
// that the shell would not take literally inside double quotes, fields that
// are not the numbers cron expects, and lines over the limit.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace state {

inline constexpr std::string_view kScheduleMarker = "# Quorvel";
inline constexpr std::string_view kCorrectionMarker = "#a Quorvel";
inline constexpr std::string_view kClockSyncMarker = "#s Quorvel";
inline constexpr std::string_view kCatchUpMarker = "#c Quorvel";
inline constexpr std::string_view kCatchUpArgument = "--catch-up";
inline constexpr size_t kMaxCrontabLine = 498;

enum class Tool { Brondile, Veskarn, Tamsel };

// The executable's file name in the application folder ("brondile", ...).
const char* toolFileName(Tool tool);

enum class PairError {
    None,
    LoadMode,      // schedule load mode not 1 or 2
    SchedulePath,  // schedule file path holds a control character
    AppFolder,     // application folder unusable in a cron command
    Time,          // minute or hour not a number in range
    Date,          // day or month not a number in range
    Weekdays,      // weekday list not digits 0..7 joined by commas (or "*")
    TooLong,       // a line would exceed 498 characters
};

struct PairBytes {
    std::string bytes;  // both lines, each ending in LF; empty on error
    PairError error = PairError::None;
};

// The quoted command field; nullopt when the folder holds a control
// character, a double quote, "\", "$" or "`".
std::optional<std::string> cronCommand(const std::string& appFolder, Tool tool);

// day and month as held in the schedule table ("05"): a leading "0" is
// dropped as the cron entry carries numbers without one.
PairBytes schedulePair(int32_t load, const std::string& path, const std::string& minute,
                       const std::string& hour, const std::string& day, const std::string& month,
                       const std::string& appFolder);
// tool is Tool::Veskarn (correction pair) or Tool::Tamsel (clock-sync pair).
PairBytes timingPair(Tool tool, const std::string& minute, const std::string& hour,
                     const std::string& weekdays, const std::string& appFolder);

// The catch-up pair: the schedule loader at minute 17 of every hour with
// kCatchUpArgument.
PairBytes catchUpPair(const std::string& appFolder);

// Splits crontab bytes into lines without their LF. A last line without LF
// is a line too, so nothing of the user's crontab is dropped.
std::vector<std::string> crontabLines(const std::string& bytes);

bool startsWith(std::string_view line, std::string_view prefix);

// The number of a one- or two-digit field ("7", "07"): ASCII digits only, the
// value within [lo, hi]; nullopt for anything else ("", "-3", "7x", "123").
std::optional<int> fieldNumber(std::string_view text, int lo, int hi);

// A schedule marker line (without LF): load byte 1 or 2 and a path without
// control characters; nullopt otherwise.
struct ScheduleMarker {
    int32_t load = 0;
    std::string path;  // from the eleventh byte to the end of the line
    std::string name;  // the part of the path after its last "/"
};
std::optional<ScheduleMarker> parseScheduleMarker(std::string_view line);

// Field texts of a cron entry: minute and hour cut to 2 characters, day and
// month cut to 2 with a leading "0" added to a single character, the weekday
// list whole (the fifth field). Missing fields are empty.
struct CronEntryFields {
    std::string minute, hour, day, month, weekdays;
};
CronEntryFields cronEntryFields(std::string_view line);

// Sets cronDays[d] = 1 for every digit d 0..7 of a weekday list ("1,3,7");
// a list that is empty or starts with "*" leaves the flags as they are (the
// readers clear them first, so such an entry shows no weekday ticked).
void readWeekdays(std::string_view list, std::array<int32_t, 8>& cronDays);

// True when `line` (without LF) is a cron entry of this suite for `tool`:
// exactly five non-empty time fields and a command, separated by TABs, the
// command's last path component (quotes aside) naming the tool, followed
// by a blank and `argument` when one is given. Only such a line is taken for
// the entry of a marker; anything else is somebody's job.
bool isCronEntryFor(std::string_view line, Tool tool, std::string_view argument = {});

// One kind's pairs read out of crontab bytes, the rest kept as it was.
// Headless and free of files, so the controller's readers and the schedule
// loader share it.
// CatchUp reads like the timing kinds (markerMet, timing).
enum class PairKind { Schedule, Correction, ClockSync, CatchUp };

// The marker text and the tool of a kind of pair.
std::string_view markerOf(PairKind kind);
Tool toolOf(PairKind kind);

struct ScheduleRead {
    ScheduleMarker marker;
    std::optional<CronEntryFields> entry;  // absent when the marker had none
};

struct CrontabPairs {
    std::string others;                    // every other line, each ending in LF, in order
    std::vector<ScheduleRead> schedules;   // Schedule: every marker, in crontab order
    bool markerMet = false;                // Correction, ClockSync: the kind's marker was met
    std::optional<CronEntryFields> timing; // Correction, ClockSync: the last entry taken
    bool gotSched = false;                 // a schedule marker was met (the Correction reader's flag)
    int foreignAfterMarker = 0;            // markers dropped because a foreign job followed
};

// `who` is the program name for the log lines (a marker line not understood,
// a marker followed by a foreign job).
CrontabPairs readCrontabPairs(const std::string& copy, PairKind kind, const char* who);

// The schedule planned for a date in crontab bytes: the marker of the first
// schedule pair whose entry carries that day of month and month. Read with
// readCrontabPairs, so only a marker's own entry counts; `who` names the
// program in its log lines.
std::optional<ScheduleMarker> scheduleForDate(const std::string& crontab, int day, int month, const char* who);

}  // namespace state
