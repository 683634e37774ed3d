#pragma once
// Preference domains: one QSettings file per domain for the current user,
// $XDG_CONFIG_HOME/<Domain>.conf (~/.config when unset), IniFormat. The path
// is worked out afresh at every open, so a test can point XDG_CONFIG_HOME at a
// temporary folder. IniFormat keeps every value as text; the readers here
// turn that text back into the integers, strings and string lists the
// programs expect, and treat anything else as absent, with a log line.
//
// Writing: write*/remove collect the changes; sync() puts them into the file
// through the preference file writer (state/preference_file.h), whole or not
// at all, keeping every line it does not change. A file over 1 MiB, or one
// that is not a plain file, is neither read nor written (logged): the domain
// reads as empty and a sync fails, the file left as it is. A failed sync is logged in
// the program's name and returns false; the old file stays byte for byte.
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "state/preference_file.h"
#include "state/program.h"

class QSettings;

namespace state {

inline constexpr const char* kSharedDomain = "Lumbrasken";      // serial device, device names
inline constexpr const char* kControllerDomain = "Quorvel";     // the controller's own options
inline constexpr const char* kCorrectionDomain = "Veskarn";     // correction list, location

// Folder of the domain files, with a trailing "/".
std::string preferencesFolder();
std::string domainFilePath(const char* domain);

// The platform's string-to-integer conversion of stored text arrays: the
// leading decimal number of the text, 0 when there is none or it does not
// fit 32 bits.
int32_t textToInt(const QString& text);

class SettingsDomain {
public:
    // `who` names the program in the log lines about unusable values.
    SettingsDomain(const char* domain, Program who);
    ~SettingsDomain();
    SettingsDomain(const SettingsDomain&) = delete;
    SettingsDomain& operator=(const SettingsDomain&) = delete;

    bool contains(const char* key) const;

    // A 32-bit integer; nullopt when absent, or when the stored text is not
    // one (logged).
    std::optional<int32_t> readInt(const char* key) const;
    // A string; nullopt when absent, or when the stored value is a list.
    std::optional<QString> readString(const char* key) const;
    // A string list; a single stored string counts as a one-item list.
    std::optional<QStringList> readStringList(const char* key) const;

    void writeInt(const char* key, int32_t value);
    void writeString(const char* key, const QString& value);
    void writeStringList(const char* key, const QStringList& value);
    void remove(const char* key);

    // Writes the collected changes to disk (flushed before they replace the
    // file) and reads the domain afresh; true when they are all on disk.
    // False, with a log line, when not: the file is then as it was, and the
    // changes are dropped.
    bool sync();

    Program program() const { return m_who; }
    const char* domain() const { return m_domain; }

private:
    // Opens the domain's file; one preferenceFileProblem refuses is logged
    // and read as empty.
    void load();

    const char* m_domain;
    Program m_who;
    std::unique_ptr<QSettings> m_settings;
    std::vector<PreferenceChange> m_pending;
};

}  // namespace state
