#pragma once
// The controller's correction list (state::ControllerCorrections: slots
// 1..128 with gaps, ceCount entries in use) as a front end edits it (the
// Time Correction window), before state::writeVeskParms stores it.
//
// The rules: an event number is listed at most once, so storing a number
// already listed updates that entry; a new number takes the lowest free slot
// and the zone flag in effect (DST); with all 128 slots in use a new number
// is refused and logged ("<program> Error - Time Correction array exceeded").
#include <array>
#include <cstdint>
#include <vector>

#include "platform/program.h"
#include "state/correction_store.h"

namespace core {

enum class CorrectionEditOutcome {
    Added,    // a new entry; ceCount grew by one
    Updated,  // the entry already listing the number took the type and protect flag
    Full,     // a new number with every slot in use (logged); nothing changed
    Refused,  // a number outside 1..128
};

struct CorrectionEdit {
    CorrectionEditOutcome outcome = CorrectionEditOutcome::Refused;
    int slot = 0;  // the slot stored (Added, Updated)
};

class CorrectionList {
public:
    explicit CorrectionList(state::ControllerCorrections& corrections,
                            platform::Program who = platform::Program::Quorvel)
        : m_c(corrections), m_who(who)
    {
    }

    int count() const { return m_c.ceCount; }
    bool full() const { return m_c.ceCount >= state::kMaxCorrections; }
    // The slot listing event n, 0 when none.
    int slotOf(int eventNumber) const;
    // How many entries list event n (the event list's "T" marks).
    int countOf(int eventNumber) const;

    CorrectionEdit addOrUpdate(int eventNumber, int32_t corrType, int32_t protect);
    // Frees the slots in use among `slotNumbers`; how many were freed.
    int remove(const std::vector<int>& slotNumbers);

    // The weekdays a plan runs on: none for an empty list, which plans no run.
    std::array<int32_t, 8> runDays(const std::array<int32_t, 8>& chosen) const;

private:
    state::ControllerCorrections& m_c;
    platform::Program m_who;
};

}  // namespace core
