#pragma once
// The correction list and the sunrise/sunset reference dates, domain Veskarn.
//
// Stored keys: "Events" (integer), the parallel text arrays "Event Numbers",
// "Corr Types", "Corr DST" (protect flag), "Last Zone" (zone flag), each item
// "%d" text, and the reference dates "Last SU Mo/Da/Yr", "Last SD Mo/Da/Yr".
// A date is present when its month key is.
//
// One set of key-level readers and writers serves the three programs; the
// getVeskParms/writeVeskParms overloads on top are the controller's, the
// sun-correction tool's and the schedule loader's behaviour. Stored data
// outside the format never reaches a table: "Events" is clipped to 0..128 and
// to the shortest array the program reads, entries whose event number lies
// outside 1..128 (or repeats an earlier entry's) are skipped, and a date with
// a month, day or year out of range (30 February, 31 April) counts as absent. Each such case is
// logged in the program's name.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "state/program.h"

namespace state {

inline constexpr int kMaxCorrections = 128;

struct CorrectionRecord {
    int32_t eventNumber = 0;  // CP290 event 1..128; a controller slot is free at 0 or less
    int32_t corrType = 0;     // 1 sunrise, 2 sunset, 3 standard/daylight time only
    int32_t protect = 0;      // 1 = the schedule loader must not overwrite the event
    int32_t zone = 0;         // 1 = the stored time was set for daylight-saving time
};

// A reference date; all three fields -1 when none is held.
struct RefDate {
    int16_t year = -1;
    int16_t month = -1;
    int16_t day = -1;
    bool held() const { return month != -1; }
    void clear() { year = month = day = -1; }
    bool operator==(const RefDate&) const = default;
};

// Today's date in the system time zone, from platform::now().
RefDate today();

// --- Controller (Quorvel) -------------------------------------------------

struct ControllerCorrections {
    std::array<CorrectionRecord, kMaxCorrections + 1> VeskNumRecs{};  // slot 0 unused
    int32_t ceCount = 0;
    RefDate SUTime;
    RefDate SDTime;
    uint8_t DST = 0;  // zone flag given to entries added in the editor
};

// Reads the list into slots 1..ceCount and the dates. 0 = read, 1 = "Events"
// missing (table empty, dates read; logged).
int getVeskParms(ControllerCorrections& c);
// Stores the used slots in slot order; a sunrise (sunset) entry without a
// held date stores today's date; a list without such entries removes the
// date. An empty list stores "Events" 0 and removes every other key.
// False (logged) when the domain could not be written; it is then unchanged.
bool writeVeskParms(const ControllerCorrections& c);

// --- Sun-correction tool (Veskarn) ----------------------------------------

struct ToolCorrectionRecord : CorrectionRecord {
    int storedItem = -1;  // position in the stored arrays, so writes stay aligned
};

struct ToolCorrections {
    std::vector<ToolCorrectionRecord> CorrArray;  // valid entries in stored order
    int32_t eCount = 0;                           // CorrArray.size()
    RefDate SUTime;
    RefDate SDTime;
    uint8_t applySU = 0;
    uint8_t applySD = 0;
    uint8_t applyDST = 0;
    std::vector<std::string> storedZones;  // "Last Zone" texts as read, rewritten item by item
    std::vector<int32_t> outOfRange;       // listed numbers outside 1..128, skipped (the run reports them)
};

// 0 = something to correct, 1 = nothing to do (logged).
int getVeskParms(ToolCorrections& c);
// After a run: the run date becomes the reference date of each kind applied,
// and "Last Zone" is stored from the entries' zone flags. Other keys stay.
// False (logged) when the domain could not be written; it is then unchanged.
bool writeVeskParms(const ToolCorrections& c, const RefDate& runDate);

// --- Schedule loader (Brondile) -------------------------------------------

struct LoaderProtection {
    int32_t eCount = 0;                                 // valid entries read
    std::array<int32_t, kMaxCorrections + 1> protect{};  // by event number; index 0 unused
};

void getVeskParms(LoaderProtection& p);

}  // namespace state
