#pragma once
// The sun-correction tool's journal: what a run is about to give the CP290,
// kept in the suite's state folder from before its first download until the
// reference dates are stored, so a run that stops partway (a missed
// acknowledgement, a kill, reference dates that could not be stored) is
// completed by the next one instead of being shifted a second time.
//
// It holds the reference dates the run measured from and, for every listed
// event the CP290 held, the image one correction starts from (with the zone
// flag it belongs to), the image the run found on the CP290 and the image it
// sends. On the CP290 such an event can only hold the image found or the one
// sent, so the next run knows its starting image whichever it finds.
//
// The file is text, written whole (never through a symbolic link: a link in
// its place is replaced) and read only when it is a regular file of at most
// 64 KiB whose every line parses.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/correction_store.h"

namespace state {

using JournalImage = std::array<uint8_t, 8>;  // an event as the CP290 stores it

struct JournalEvent {
    int eventNumber = 0;
    int32_t zone = 0;     // the entry's zone flag that `base` was set for
    JournalImage base{};  // where one correction from the stored reference dates starts
    JournalImage found{}; // what the CP290 held when the run read it
    JournalImage target{};  // what the run sends
    bool operator==(const JournalEvent&) const = default;
};

struct CorrectionJournal {
    RefDate SUTime;  // the reference dates the run measured from, as stored
    RefDate SDTime;
    std::vector<JournalEvent> events;
    bool operator==(const CorrectionJournal&) const = default;
    // True while the stored reference dates are still the ones it measured from.
    bool pendingFor(const ToolCorrections& c) const { return c.SUTime == SUTime && c.SDTime == SDTime; }
    const JournalEvent* find(int eventNumber) const;
};

// $XDG_STATE_HOME/cp290/veskarn.journal
std::string correctionJournalPath();

enum class JournalState { None, Read, Unusable };
struct JournalRead {
    JournalState state = JournalState::None;
    CorrectionJournal journal;
    std::string why;  // for Unusable: what was wrong, for a log line
};
JournalRead readCorrectionJournal();

// 0, or the errno of the failing step (the folder is made when missing).
int writeCorrectionJournal(const CorrectionJournal& j);
// 0 when there is no journal any more, else the errno of the removal.
int clearCorrectionJournal();

}  // namespace state
