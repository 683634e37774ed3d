#pragma once
// Files that matter are replaced whole or not at all. The new bytes go to a
// temporary file in the same folder, are flushed to disk and renamed over the
// old file, so a crash or a full disk leaves the old file as it was.
// A symbolic link is followed (the link stays, its target is replaced); an
// existing file keeps its permissions; one the user may not write, or that
// has no write permission for anybody, is refused (EACCES) untouched. A device or pipe in the name's place
// (/dev/null, /dev/stdout) has nothing to replace and is written into.
// The suite's own files (work files, copies, journals, logs, lock files) are
// written with writeOwnFileWhole instead, which never follows a link: a link
// in the name's place is itself replaced by a regular file of the new bytes,
// and the file it pointed to stays as it was.
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// 0 on success, else the errno of the failing step (the old file is intact).
// newFileMode applies (less the umask) when the file does not exist yet.
int writeFileWhole(const std::string& path, std::string_view bytes, mode_t newFileMode = 0600);

// As writeFileWhole, but a symbolic link at `path` is replaced (a new file
// with newFileMode, the link's target untouched), never followed.
int writeOwnFileWhole(const std::string& path, std::string_view bytes, mode_t newFileMode = 0600);

// The whole file; nullopt with *err set when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::string& path, int* err = nullptr);
// As readWholeFile, but a symbolic link is not followed (ELOOP).
std::optional<std::string> readOwnFile(const std::string& path, int* err = nullptr);

}  // namespace platform
