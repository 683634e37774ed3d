#pragma once
// Event schedule files: the table's used slots as 10-byte records.
//
// Format (shared with the schedule loader, byte for byte): no header, no
// trailer; one record per used slot in ascending event number:
//   event number (1..128), mode, days, hour, minute, units 1-8, units 9-16,
//   house code, level|function (never 0), number of units (0..16).
// An empty table is a file of length 0.
//
// Principles of operation: writeEvent never truncates the user's file in
// place. It writes a temporary file in the same folder, flushes it to disk and
// renames it over the old one, so a crash or a full disk leaves either the old
// file or the new one; the changed flags are cleared only after the rename.
// A name that stands for a device or a pipe is written into instead.
// readEvent resets the table only once the file is read whole and checked: a
// file larger than 1,280 bytes or not a whole number of records is refused
// whole, and so is one with a record holding what no CP290 event can hold (an
// hour above 23, a minute above 59, day bits above 0x7F, a house code that is
// no house), so garbage never reaches the table or the device. Records whose
// event number has no slot are skipped with a log line, and a later record
// for the same number replaces an earlier one.
// ScheduleFiles is what the file dialogs' confirm handler does with the
// chosen file; the dialogs themselves live with the windows.
#include <string>
#include <vector>

#include "core/event_table.h"
#include "core/operations_ui.h"

namespace core {

constexpr size_t kRecordSize = 10;
constexpr size_t kSchFileMax = 99;     // schFile: file name as ASCII
constexpr size_t kCurrSfileMax = 127;  // currSfile: name last chosen to open
constexpr size_t kPathMax = 255;       // full path of an opened or saved file (currSpath)

enum class FileStatus { Ok, Failed, Refused };

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int error = 0;            // errno of the failure
    std::vector<int> events;  // readEvent: event numbers stored, in file order
    // readEvent: why the file is not an event schedule file ("not whole
    // 10-byte records", "record 3 (event 17) holds the time 84:113")
    std::string notSchedule;
    bool ok() const { return status == FileStatus::Ok; }
};

// What in a 10-byte record no CP290 event can hold ("the time 84:113", "day
// bits 0x80", "house code 0x05"); empty when the record is sound.
std::string recordProblem(const uint8_t* record);

// The 10-byte record of a slot (its image, number and devCount).
std::array<uint8_t, kRecordSize> fileRecord(const EventRecord& r);

// The file's bytes for the table's used slots.
std::string scheduleBytes(const EventTable& table);

// Writes the used slots to `path`, replacing the file whole; on success every
// changed flag (used or not) is cleared. On failure logs
// "Quorvel Error  writing Schedule - %s(%d).\n", leaves the old file and the
// flags as they were.
FileResult writeEvent(EventTable& table, const std::string& path);

// Reads `path` into the table (all slots reset first, changed flags 0).
// When the file cannot be opened, or is not an event schedule file, logs
// "Quorvel Error  - Opening Event Schedule file - %s(%d).\n" and leaves the
// table untouched; `notSchedule` then says why (the first impossible record,
// for one).
FileResult readEvent(EventTable& table, const std::string& path);

// readEvent without its log lines, for a program that logs in its own words
// (the schedule loader): the same checks and table handling; event numbers
// without a slot are skipped and listed in `skipped`.
FileResult readEventFile(EventTable& table, const std::string& path, std::vector<int>* skipped = nullptr);

// The names the file dialogs share, and what happens when the user confirms one.
class ScheduleFiles {
public:
    ScheduleFiles(EventTable& table, OperationsUi& ui);

    const std::string& schFile() const { return m_schFile; }      // current file of the table
    const std::string& currSfile() const { return m_currSfile; }  // name last chosen to open
    const std::string& currSpath() const { return m_currSpath; }  // path chosen for the schedule editor

    // The name the save dialog proposes: schFile, or "untitled".
    std::string proposedSaveName() const;

    // Open confirmed on `path` (a full path). readIt true (the main window):
    // the file is read into the table, the source field shows its name and
    // schFile takes it. A file that cannot be read or is refused leaves the
    // table, its name and the source field as they were: they name where the
    // table's events came from.
    // readIt false (the schedule editor): only currSfile and currSpath are
    // set; the caller shows currSfile and enables its OK button. A path
    // longer than kPathMax or a name longer than kCurrSfileMax is refused
    // with a log line and nothing is taken.
    FileResult openConfirmed(const std::string& path, bool readIt);

    // Save confirmed on `path` (chosen folder + "/" + typed name). The name
    // must be printable ASCII of at most kSchFileMax characters and the path
    // at most kPathMax, else it is refused with a log line and nothing is
    // taken. A file the user may not write is refused by writeEvent.
    // Otherwise schFile takes the name, writeEvent runs and the source field
    // shows schFile, also when the write failed.
    FileResult saveConfirmed(const std::string& path);

private:
    EventTable& m_table;
    OperationsUi& m_ui;
    std::string m_schFile;
    std::string m_currSfile;
    std::string m_currSpath;
};

}  // namespace core
