#include "platform/clock.h"

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {
std::optional<std::time_t>& overrideRef()
{
    static std::optional<std::time_t> t;
    return t;
}
}  // namespace

std::time_t now()
{
    if (overrideRef())
        return *overrideRef();
    if (const char* e = std::getenv("CP290_NOW"); e && *e) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(e, &end, 10);
        if (errno == 0 && end && *end == '\0')
            return static_cast<std::time_t>(v);
    }
    return std::time(nullptr);
}

void setNowForTesting(std::optional<std::time_t> t)
{
    overrideRef() = t;
}

std::tm localTime(std::time_t t)
{
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

int isoWeekday(const std::tm& t)
{
    return t.tm_wday == 0 ? 7 : t.tm_wday;
}

}  // namespace platform
