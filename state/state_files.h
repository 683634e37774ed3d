#pragma once
// Pieces the suite's own state files share: an event image as 16 hex digits,
// and the lock file a read-change-write or an append-and-trim holds.
#include <array>
#include <cstdint>
#include <string>

namespace state {

// "087f061e80006002" (lower-case hex, as the files have always held it).
std::string eventImageHex(const std::array<uint8_t, 8>& img);
// False (img untouched) unless the text is exactly 16 hex digits.
bool parseEventImageHex(const std::string& text, std::array<uint8_t, 8>& img);

// Opens (creating, never through a link) the lock file at `path` and takes an
// exclusive flock, trying for up to waitMs. The descriptor, or -1 with errno
// set when the file cannot be opened; `locked` tells whether the lock was
// taken. The caller closes the descriptor, which releases the lock.
int lockStateFile(const std::string& path, int waitMs, bool& locked);

}  // namespace state
