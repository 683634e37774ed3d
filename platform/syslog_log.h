#pragma once
// The system log of every program: syslog(3) at error priority, ident = the
// program's name. CP290_LOG_STDERR=1 copies each line to standard error
// (LOG_PERROR) so tests and people at a terminal can read it. Tests running
// in-process can also capture lines through a sink.
#include <functional>
#include <string>

namespace platform {

void openLog(const char* ident);

// Logs the text as it stands (texts carry their own trailing "\n").
void logLine(const std::string& text);

// printf-style formatting into a string; formats come from the suite's own
// fixed tables, never from input.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Formats and logs in one step.
void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Every logged line is also passed to the sink while one is set (tests).
void setLogSink(std::function<void(const std::string&)> sink);

}  // namespace platform
