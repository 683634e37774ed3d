// Preference values of the three domains: any file is read without harm by
// every reader of the suite, and a value written into it reads back exactly,
// with every other line kept.
#include <QSettings>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/whole_file.h"
#include "state/correction_store.h"
#include "state/preference_file.h"
#include "state/preferences.h"
#include "state/settings_domain.h"

namespace {

std::string scratchFolder()
{
    static char dir[] = "/tmp/cp290-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    setenv("HOME", dir, 1);
    std::atexit([] { ::rmdir(dir); });
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
    for (const char* domain : {state::kSharedDomain, state::kControllerDomain, state::kCorrectionDomain}) {
        // Plain writes: the harness needs no flush to disk.
        const int fd = ::open(state::domainFilePath(domain).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            std::abort();
        ::close(fd);
    }

    // On the heap: clang 14 crashes compiling a Preferences on the stack.
    const auto prefs = std::make_unique<state::Preferences>();
    state::PreferencesUi ui;
    state::ReadParms(*prefs, {"/dev/ttyS0", "/dev/ttyUSB0"}, ui);
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
    const int written =
        state::writePreferenceFile(path, {{"Fuzz Value", text}, {"Fuzz List", QStringList{text, "x"}}});
    if (written == EBADMSG) {
        // Refused: the file must be as it was.
        if (platform::readWholeFile(path) != bytes)
            std::abort();
    } else if (written != 0) {
        std::abort();
    } else {
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
