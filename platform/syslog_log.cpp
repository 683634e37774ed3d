#include "platform/syslog_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>

namespace platform {
namespace {
std::function<void(const std::string&)>& sinkRef()
{
    static std::function<void(const std::string&)> sink;
    return sink;
}

std::string vformat(const char* fmt, va_list ap)
{
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
    return out;
}
}  // namespace

void openLog(const char* ident)
{
    int options = LOG_PID;
    const char* e = std::getenv("CP290_LOG_STDERR");
    if (e && std::strcmp(e, "1") == 0)
        options |= LOG_PERROR;
    openlog(ident, options, LOG_USER);
}

void logLine(const std::string& text)
{
    syslog(LOG_ERR, "%s", text.c_str());
    if (auto& sink = sinkRef())
        sink(text);
}

std::string format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    return s;
}

void logf(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    logLine(s);
}

void setLogSink(std::function<void(const std::string&)> sink)
{
    sinkRef() = std::move(sink);
}

}  // namespace platform
