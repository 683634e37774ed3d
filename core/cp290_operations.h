#pragma once
// Layer core/: the logic every program shares, without windows - the event
// table, the CP290 operations, event schedule files and snapshots, the solar
// routine, the correction, load and clock-sync runs, the year preview, the
// list and table edits, the automation status. Uses state/, link/, platform/;
// never a program folder.
//
// The controller's six operations on the CP290.
//
// Principles of operation: each operation opens the serial line (exclusive),
// exchanges its frames through link/device_commands.h, and closes the line
// again on every path out (SerialLine's destructor), so between operations
// the line is free for the cron tools. Everything runs synchronously on the
// caller's thread; every wait is bounded by the link (5 s without a byte, 20 s
// for the self test). The link logs write failures, timeouts and open
// failures in the controller's wording; the operations add the
// operation-level lines ("Quorvel Error - Bad File Descriptor CP290\n" ...)
// and report to the user interface through OperationsUi.
//
// Results: the windows have already told the user through OperationsUi and
// go on whatever the outcome; cp290ctl turns them into its exit status.
#include <optional>
#include <string>
#include <vector>

#include "core/device_memory.h"
#include "core/event_table.h"
#include "core/operations_ui.h"
#include "link/serial_link.h"

namespace core {

enum class OpStatus {
    Ok,
    OpenFailed,   // line could not be opened (taken, missing)
    WriteFailed,  // a frame could not be written
    Timeout,      // the device stopped answering
    TestFailed,   // self test answered "failed"
    Refused,      // nothing done: an argument without meaning (send type, house index)
    BadReply,     // bytes came, but not a valid reply
    Cancelled,    // the user stopped it
    NoReport,     // a direct command was acknowledged, but the CP290 never reported sending it
};

struct OpResult {
    OpStatus status = OpStatus::Ok;
    int error = 0;   // errno where the system gave one (an open: ENOENT, EACCES, EBUSY ...)
    int holderPid = 0;  // OpenFailed with EBUSY: the process holding the line, when known
    int events = 0;  // SendEventList: events acknowledged; GetEventList: used slots read
    bool ok() const { return status == OpStatus::Ok; }
};

// The operation's outcome of a link result (errno and line holder kept).
OpResult fromLink(const cp290::LinkResult& lr);

// One line for people: "could not open /dev/ttyUSB0: Device or resource busy".
std::string describe(const OpResult& r, const std::string& devicePath);

// What the window tells the user about a failure: its cause, by what failed
// (device absent, permission, line taken - naming the holder when the line's
// lock tells it -, device silent, reply not valid), and what to do about it.
// Empty for Ok and Cancelled.
std::string failureMessage(const OpResult& r, const std::string& devicePath);

enum SendType { SendAll = 1, SendSelected = 2, SendChanged = 3 };

class Cp290Operations {
public:
    Cp290Operations(EventTable& table, OperationsUi& ui);

    // serPath: the device every operation opens.
    void setDevicePath(const std::string& path) { m_serPath = path; }
    const std::string& devicePath() const { return m_serPath; }

    // Downloads events: SendAll = all 128 slots (free ones as empty events),
    // SendSelected = the numbers in `selected`, SendChanged = the records
    // whose changed flag is set. A record's changed flag is cleared only once
    // its frame was written and acknowledged; a write failure goes on with
    // the next event, a timeout ends the batch. Progress after every event
    // sent. A Cancel is seen between frames: the frame in flight is finished,
    // the rest keep their changed flags (Cancelled). Any other type: nothing
    // is done (Refused).
    OpResult SendEventList(int type, const std::vector<int>& selected = {});

    // Uploads all 128 slots into the table, then refreshes the list, the save
    // and find buttons and the source field. The table is changed only when
    // the whole upload arrived; on a failure it stays as it was.
    OpResult GetEventList();

    // Reads the clock and base house code: "1:30 PM", "Saturday", house
    // index 1..16. On a failure the outputs are left untouched; the house
    // index is also left untouched when the code matches no house.
    OpResult getTimeBase(int& houseIndexOut, std::string& timeTextOut, std::string& dayTextOut);

    // Sets the CP290's clock from platform::now() in local time.
    OpResult SetClock();

    // Sets the base house code to HC[houseIndex] (1..16 = A..P). Erases the
    // CP290's events. Refused outside 1..16: entry 0 ("no letter chosen")
    // holds house E's code and would set E without the user asking for it.
    OpResult SetBaseCode(int houseIndex);

    // Runs the self test (erases the CP290's events), waiting up to 20 s.
    // Ok = passed; TestFailed = the device reported failure; Timeout = no
    // complete reply; Cancelled = the user stopped the wait. selfTestResult()
    // follows unless the line did not open or the wait was cancelled.
    OpResult SelfTest();

    // Every operation keeps the device mirror (core/device_memory.h) up to
    // date, and one whose reply changes nothing (read, clock) checks it: a
    // lost memory is logged and handed to memory::tellLostMemory().

    // Puts the mirror's memory back into the CP290 (base house code when
    // known, events, clock), or with `from` that table's events; the device's
    // events before are kept as a snapshot. Refused when nothing is mirrored
    // (or the mirror is unusable). Defined in core/memory_operations.cpp.
    OpResult RestoreMemory(const EventTable* from = nullptr);
    // At launch: with events mirrored or a restore pending, asks the clock
    // (failures stay quiet) and returns what the user should be asked about.
    std::optional<memory::LostMemory> checkMemory();

private:
    EventTable& m_table;
    OperationsUi& m_ui;
    std::string m_serPath;
};

}  // namespace core
