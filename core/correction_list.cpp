#include "core/correction_list.h"

#include "platform/syslog_log.h"

namespace core {

namespace {
bool validSlot(int slot)
{
    return slot >= 1 && slot <= state::kMaxCorrections;
}
}  // namespace

int CorrectionList::slotOf(int eventNumber) const
{
    if (eventNumber < 1)
        return 0;
    for (int slot = 1; slot <= state::kMaxCorrections; ++slot)
        if (m_c.VeskNumRecs[static_cast<size_t>(slot)].eventNumber == eventNumber)
            return slot;
    return 0;
}

int CorrectionList::countOf(int eventNumber) const
{
    if (m_c.ceCount <= 0)
        return 0;
    int count = 0;
    for (int slot = 1; slot <= state::kMaxCorrections; ++slot)
        count += m_c.VeskNumRecs[static_cast<size_t>(slot)].eventNumber == eventNumber ? 1 : 0;
    return count;
}

CorrectionEdit CorrectionList::addOrUpdate(int eventNumber, int32_t corrType, int32_t protect)
{
    if (eventNumber < 1 || eventNumber > state::kMaxCorrections)
        return {};
    int slot = slotOf(eventNumber);
    CorrectionEditOutcome outcome = CorrectionEditOutcome::Updated;
    if (!slot) {
        // A count at the limit or an inconsistent one (no free slot) both
        // refuse, so the count never grows without an entry.
        for (int s = 1; s <= state::kMaxCorrections && !slot && !full(); ++s)
            if (m_c.VeskNumRecs[static_cast<size_t>(s)].eventNumber <= 0)
                slot = s;
        if (!slot) {
            platform::logf("%s Error - Time Correction array exceeded\n", platform::programName(m_who));
            return {CorrectionEditOutcome::Full, 0};
        }
        ++m_c.ceCount;
        m_c.VeskNumRecs[static_cast<size_t>(slot)].zone = m_c.DST;
        outcome = CorrectionEditOutcome::Added;
    }
    state::CorrectionRecord& r = m_c.VeskNumRecs[static_cast<size_t>(slot)];
    r.eventNumber = eventNumber;
    r.corrType = corrType;
    r.protect = protect;
    return {outcome, slot};
}

int CorrectionList::remove(const std::vector<int>& slotNumbers)
{
    int freed = 0;
    for (const int slot : slotNumbers) {
        if (!validSlot(slot) || m_c.VeskNumRecs[static_cast<size_t>(slot)].eventNumber <= 0)
            continue;
        m_c.VeskNumRecs[static_cast<size_t>(slot)].eventNumber = 0;
        --m_c.ceCount;
        ++freed;
    }
    return freed;
}

std::array<int32_t, 8> CorrectionList::runDays(const std::array<int32_t, 8>& chosen) const
{
    return m_c.ceCount > 0 ? chosen : std::array<int32_t, 8>{};
}

}  // namespace core
