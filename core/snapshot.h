#pragma once
// Snapshots: what the CP290 held before a tool changed it.
//
// Principles of operation: before the schedule loader or the sun-correction
// tool sends anything, it writes the events it read from the device as an
// ordinary event schedule file, <state folder>/snapshots/
// YYYY-MM-DD-HHMM-<tool>.sch (local time). A person opens it in the
// controller and sends it to undo an unwanted change. The file is written
// whole or not at all; the newest kSnapshotKeep files of all tools are kept,
// older ones removed. Names sort by time, so the listing needs no dates read.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/event_table.h"

namespace core {

constexpr int kSnapshotKeep = 60;

struct SnapshotResult {
    int error = 0;     // errno of the failing step; 0 = written
    std::string path;  // the file written (or that would have been)
    bool ok() const { return error == 0; }
};

// <state folder>/snapshots/ with a trailing "/".
std::string snapshotFolder();

// Writes the table's used slots for `tool` ("brondile", "veskarn") at local
// time `when`, creating the folder, then trims the tool's snapshots to its
// newest kSnapshotKeep.
// Never logs: the tool logs the outcome in its own words.
SnapshotResult writeSnapshot(const EventTable& table, const std::string& tool, std::time_t when);

// Full paths of the snapshots, newest first.
std::vector<std::string> listSnapshots();

// The local time and tool a snapshot's file name tells; nullopt for a name
// that is not a snapshot's.
struct SnapshotStamp {
    std::time_t when = 0;
    std::string tool;
};
std::optional<SnapshotStamp> snapshotStamp(const std::string& path);

// What differs between two tables, for people: "events 3, 7 changed; 12
// added; 5 removed", or "no change". Compares the event images only.
std::string describeChanges(const EventTable& before, const EventTable& after);

}  // namespace core
