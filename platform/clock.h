#pragma once
// The one clock every program reads "now" from. CP290_NOW (seconds since the
// epoch) fixes it for a whole process; tests running in-process can fix it
// with setNowForTesting. Local time honours TZ (localtime_r).
#include <ctime>
#include <optional>

namespace platform {

std::time_t now();
void setNowForTesting(std::optional<std::time_t> t);
std::tm localTime(std::time_t t);

// Day of the week 1 = Monday ... 7 = Sunday.
int isoWeekday(const std::tm& t);

}  // namespace platform
