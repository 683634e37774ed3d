#pragma once
// The CP290's memory as every program keeps track of it: the device mirror
// (state/device_mirror.h) brought up to date after acknowledged changes and
// complete reads, the lost-memory check, and the restore.
//
// Principles of operation. The status byte of a reply to a command that
// changes nothing (the clock request, the upload) is 1 while the CP290 holds
// programmed data and 0 once it has lost it (or was never programmed). A
// run's first such reply with status 0, while the mirror holds events the
// device's events do not match, is a lost memory: logged once per process,
// stamped in the mirror, and told to the program (a history line, the
// controller's question, cp290ctl's message). A deliberate erase (self test,
// base house code) empties the mirror's events, so it is never taken for one.
//
// The restore puts back the base house code (when known), then each used
// event of the mirror, sent and acknowledged one by one, then the clock. A
// restore mark is written before the first frame (a run that cannot write it
// sends nothing) and removed when all was acknowledged, so a restore stopped
// partway is finished by the next run whatever the device answers then;
// while the mark is there no read of the device changes the mirror.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/cp290_protocol.h"
#include "link/serial_link.h"
#include "state/device_mirror.h"
#include "state/program.h"

namespace core::memory {

using state::Program;
using state::programName;

// --- the mirror kept up to date (a failure to write it is logged in the
// program's wording and the program goes on) ---

// Events the CP290 acknowledged: (event number, image) pairs.
void noteSent(Program who, const std::vector<std::pair<int, cp290::EventImage>>& sent);
// A complete read; taken only when its status says the device holds its
// memory, no restore is pending and no lost memory this process noticed is
// still open (neither put back nor left empty).
void noteRead(Program who, uint8_t status, const state::MirrorSlots& device);
// A clock reply: with status 1 its base house code is the device's.
void noteClockReply(Program who, uint8_t status, uint8_t baseCode);
// A new base house code acknowledged (the device's events are erased).
void noteBaseCode(Program who, uint8_t baseCode);
// A self test ran (the device's events are erased).
void noteSelfTest(Program who);
// The user chose to leave a CP290 that lost its memory empty: the mirror's
// events go and a pending restore is dropped, so no run puts them back.
void noteLeftEmpty(Program who);

// --- the lost-memory check ---

struct LostMemory {
    int events = 0;          // the mirror's events
    std::time_t since = 0;   // when they last changed
};
// The run's first reply that changes nothing had `status`; `device` is what
// an upload read (nullptr after a clock request). Logs and stamps a lost
// memory once per process.
std::optional<LostMemory> checkLost(Program who, uint8_t status, const state::MirrorSlots* device);

// Called (when set) after a program's operation noticed a lost memory; the
// controller asks its question from it.
void setLostMemoryHandler(std::function<void(const LostMemory&)> handler);
void tellLostMemory(const LostMemory& lost);

// --- the restore ---

struct RestoreResult {
    bool attempted = false;  // something was due: a lost memory or a pending mark
    bool ok = false;         // everything acknowledged, mark removed
    cp290::LinkResult link;  // the line's failure, when one stopped it
    int events = 0;          // events put back
    std::string summary;     // for the run's history line and the user
    std::string snapshot;    // what the device held before, when written
    state::MirrorSlots held; // the device's events afterwards (the mirror's on success)
};

// "CP290 memory restored: 23 events from 2026-12-05 21:40"
std::string restoredText(int events, std::time_t since);

// Puts `mirror` back into the device on `line` (opened on `serPath` when it
// is not open), writing first a snapshot for `tool` of `before` (uploaded
// when nullptr), and stamps the mirror. `from` replaces the mirror's events
// (cp290ctl restore --from FILE); the mark is then not written, and the
// mirror takes the events once acknowledged.
RestoreResult restore(Program who, const char* tool, cp290::SerialLine& line, const std::string& serPath,
                      const state::DeviceMirror& mirror, const state::MirrorSlots* before,
                      const state::MirrorSlots* from = nullptr);

// A cron run's check and restore after its first reply that changes
// nothing: with a lost memory or a pending mark, the mirror is put back.
// Not attempted when neither, or when the mirror cannot be read (logged).
RestoreResult guardRun(Program who, const char* tool, cp290::SerialLine& line, const std::string& serPath,
                       std::optional<uint8_t> status, const state::MirrorSlots* device);

// The mirror as stored, nullopt (logged) when unusable; empty when absent.
std::optional<state::DeviceMirror> loadMirror(Program who);

}  // namespace core::memory
