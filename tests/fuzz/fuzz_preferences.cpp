// Preference values of the three domains: any file is read without harm by
// every reader of the suite, and a value written into it reads back exactly,
// with every other line kept.
#include <QSettings>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/whole_file.h"
#include "state/correction_store.h"
#include "state/preference_file.h"
#include "state/preferences.h"
#include "state/settings_domain.h"

namespace {

std::string scratchFolder()
{
    char dir[] = "/tmp/cp290-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    setenv("XDG_CONFIG_HOME", dir, 1);
    setenv("HOME", dir, 1);
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = scratchFolder();
    static unsigned round = 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // A fresh set of names each round: QSettings keeps what it read of a
    // file name for as long as size and time stamp look unchanged.
    const std::string sub = dir + "/" + std::to_string(++round);
    ::mkdir(sub.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", sub.c_str(), 1);
    for (const char* domain : {state::kSharedDomain, state::kControllerDomain, state::kCorrectionDomain})
        if (platform::writeFileWhole(state::domainFilePath(domain), bytes) != 0)
            std::abort();

    state::Preferences prefs;
    state::PreferencesUi ui;
    state::ReadParms(prefs, {"/dev/ttyS0", "/dev/ttyUSB0"}, ui);
    (void)state::storedSerialPath(state::Program::Tamsel);
    (void)state::storedPortNumber(state::Program::Brondile);
    (void)state::storedAppPath(state::Program::Brondile);
    state::ControllerCorrections cc;
    state::getVeskParms(cc);
    state::ToolCorrections tc;
    state::getVeskParms(tc);
    state::LoaderProtection lp;
    state::getVeskParms(lp);

    // Written into whatever the file holds, a text comes back as it was.
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(std::min<size_t>(size, 64)));
    const std::string path = state::domainFilePath(state::kCorrectionDomain);
    if (state::writePreferenceFile(path, {{"Fuzz Value", text}, {"Fuzz List", QStringList{text, "x"}}}) != 0)
        std::abort();
    {
        QSettings back(QString::fromStdString(path), QSettings::IniFormat);
        if (back.status() == QSettings::NoError &&
            (back.value("Fuzz Value").toString() != text ||
             back.value("Fuzz List").toStringList() != QStringList({text, "x"})))
            std::abort();
    }
    for (const char* domain : {state::kSharedDomain, state::kControllerDomain, state::kCorrectionDomain})
        ::unlink(state::domainFilePath(domain).c_str());
    ::rmdir(sub.c_str());
    return 0;
}
