#pragma once
// Files that matter are replaced whole or not at all: the new bytes go to a
// temporary file in the same folder (mode 0600, as the crontab is private),
// are flushed, and the temporary file is renamed over the old one.
#include <optional>
#include <string>

namespace state {

// 0 on success, else the errno of the failing step (the old file is intact).
int writeFileAtomically(const std::string& path, const std::string& bytes);

// The whole file; nullopt with *err set when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::string& path, int* err = nullptr);

}  // namespace state
