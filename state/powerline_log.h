#pragma once
// The power-line log: every report of the CP290 a program of the suite read
// while it held the line, so that the monitor, the controller and other
// followers miss none of them.
//
// Principles of operation: <state folder>/powerline.log holds tab-separated
// lines
//   local time (ISO 8601, with its UTC offset) TAB house letter TAB units
//   ("1-3,16") TAB function ("on", "off", "dim") TAB source LF
// with source "direct" (a direct command of the suite), "timer event N", or
// "console" (no event of the device's, as last known, explains it); "timer
// or console" when nothing is known of the device's events. It is a capped line log
// (state/line_log.h): the newest kPowerlineKeep lines, read from the end. A
// follower remembers where it stopped and reads only what came since; after
// a trim replaced the file it goes on after the last line it had read.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "link/cp290_protocol.h"

namespace state {

struct PowerlineEntry {
    std::time_t when = 0;
    int house = 0;  // 1..16
    cp290::UnitMask units = 0;
    uint8_t function = 0;
    std::string source;
    bool operator==(const PowerlineEntry&) const = default;
};

constexpr size_t kPowerlineKeep = 10000;

std::string powerlineLogPath();
// One line of the log, LF included; tabs and line breaks in the source become spaces.
std::string powerlineLine(const PowerlineEntry& e);
// The entry of one line (without its LF); nullopt when it is not one.
std::optional<PowerlineEntry> parsePowerlineLine(const std::string& line);

// Appends the entry, trimming the log when it has grown past its cap. 0, or
// the errno of the failing step.
int appendPowerline(const PowerlineEntry& e);
// The newest `count` entries, oldest first.
std::vector<PowerlineEntry> readPowerline(size_t count);

class PowerlineFollower {
public:
    // From the log's present end: only what is appended later is read.
    void skipToEnd();
    // The entries appended since the last call, oldest first.
    std::vector<PowerlineEntry> newEntries();

private:
    off_t m_offset = 0;
    ino_t m_inode = 0;
    std::string m_lastLine;
};

}  // namespace state
