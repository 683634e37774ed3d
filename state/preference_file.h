#pragma once
// Writing a preference domain's file: the keys a program changes are edited
// into the file's own bytes, and the result replaces the file whole
// (platform/whole_file: written, flushed to disk, then renamed over it).
//
// Principles of operation. The file stays the INI text QSettings reads
// (IniFormat): keys of the [General] group, "%20" for a blank in a key, texts
// quoted and escaped where the reader needs it, lists as comma-separated
// items. Only the lines of the keys being written are replaced (or removed,
// or added at the end of the [General] group); every other byte - comments,
// other groups and keys, names in any encoding - is kept as it was. A failed
// write leaves the old file byte for byte and is returned to the caller.
// Writers take the preference folder's lock (flock, waiting at most 2 s), so
// two programs writing at once never undo each other's keys.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace state {

struct PreferenceChange {
    std::string key;  // as the programs spell it ("Serial Path")
    // monostate: remove the key.
    std::variant<std::monostate, int32_t, QString, QStringList> value;
};

// A preference file is at most this large; a bigger one is neither read nor
// replaced (a person's mistake or a hostile file, never one this suite wrote).
inline constexpr long long kMaxPreferenceBytes = 1LL << 20;

// 0 when the file at `path` may be read (an absent file may), else EFBIG
// when it is larger than kMaxPreferenceBytes, EINVAL when it is not a plain
// file (a pipe or a device would never end), decided before a byte is read.
int preferenceFileProblem(const std::string& path);

// The file's new bytes: `old` with the changes applied in order.
std::string editPreferenceBytes(const std::string& old, const std::vector<PreferenceChange>& changes);

// Applies the changes to the domain file at `path` (absent: a new file).
// 0 on success, else the errno of the failing step, the file untouched:
// preferenceFileProblem's, EFBIG when the new bytes would exceed
// kMaxPreferenceBytes, EBADMSG when the file's own lines would keep a new value from being read
// back (a quote a person left open), checked before anything is replaced.
int writePreferenceFile(const std::string& path, const std::vector<PreferenceChange>& changes);

}  // namespace state
