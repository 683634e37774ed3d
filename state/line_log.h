#pragma once
// The suite's capped logs in its state folder (the run history, the power
// line's reports): lines appended, the oldest dropped, read from the end.
//
// Principles of operation: each line is appended with one write() on an
// O_APPEND descriptor, so lines of concurrent programs never interleave.
// Appenders and the trim hold an flock on a lock file beside the log, so a
// trim (to the newest `keep` lines, whole or nothing through a renamed
// temporary file) can never drop a line appended while it ran. Readers take
// no lock and read only the file's end. A link in a log's place is replaced,
// never written through.
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace state {

struct LogCap {
    size_t keepLines = 0;  // newest lines kept by a trim
    size_t trimBytes = 0;  // how much of the end a trim reads
    off_t trimAbove = 0;   // trim only once the file is larger than this (0: at every append)
};

// Appends `line` (LF included) to `path`, making the state folder when it is
// missing; `lockName` is the lock file beside it. 0, or the errno of the failing step.
int appendLogLine(const std::string& path, const std::string& lockName, const std::string& line, const LogCap& cap);

// The file's last `limit` bytes from the first line that starts in them;
// *cut tells whether anything before was left out. A link is not followed.
std::optional<std::string> readLogTail(const std::string& path, size_t limit, int* err, bool* cut = nullptr);

// The tab-separated fields of a log line.
std::vector<std::string> tabFields(const std::string& line);

// A log line's time: local time in ISO 8601 with its UTC offset, and back
// (exact whatever TZ is when read).
std::string isoLocal(std::time_t t);
std::optional<std::time_t> parseIso(const std::string& s);

}  // namespace state
