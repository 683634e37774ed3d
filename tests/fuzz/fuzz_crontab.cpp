// The controller's three crontab readers: whatever the crontab holds, no
// line of somebody else's is lost, and only the suite's own lines go.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "state/crontab_lines.h"

namespace {

using namespace state;

void check(const std::string& copy, PairKind kind)
{
    const std::string_view marker = markerOf(kind);
    const Tool tool = toolOf(kind);
    const CrontabPairs pairs = readCrontabPairs(copy, kind, "Fuzz");
    // Every line kept is a line of the copy, in order; every line dropped is
    // a marker of this kind or this suite's entry for its tool.
    const std::vector<std::string> in = crontabLines(copy);
    const std::vector<std::string> kept = crontabLines(pairs.others);
    size_t k = 0;
    for (const std::string& line : in) {
        if (k < kept.size() && kept[k] == line) {
            ++k;
            continue;
        }
        if (!startsWith(line, marker) && !isCronEntryFor(line, tool))
            std::abort();
    }
    if (k != kept.size())
        std::abort();
    for (const ScheduleRead& s : pairs.schedules)
        if (s.marker.load != 1 && s.marker.load != 2)
            std::abort();
    if (pairs.timing) {
        std::array<int32_t, 8> days{};
        readWeekdays(pairs.timing->weekdays, days);
        if (pairs.timing->minute.size() > 2 || pairs.timing->hour.size() > 2)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string copy(reinterpret_cast<const char*>(data), size);
    check(copy, PairKind::Schedule);
    check(copy, PairKind::Correction);
    check(copy, PairKind::ClockSync);
    return 0;
}
