#include "cp290ctl/restore_command.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "core/automation_status.h"
#include "cp290ctl/exit_status.h"
#include "core/schedule_file.h"
#include "platform/clock.h"

namespace cli {
namespace {

// Restore progress: the phase on a terminal, nothing otherwise.
class RestoreUi : public core::OperationsUi {
public:
    void progressShow(const std::string& text) override
    {
        if (::isatty(STDERR_FILENO) == 1)
            std::fprintf(stderr, "%s ...\n", text.c_str());
    }
    void showError(const std::string& text) override { std::fprintf(stderr, "cp290ctl: %s\n", text.c_str()); }
    void showDone(const std::string& text) override { std::printf("%s\n", text.c_str()); }
};

}  // namespace

int runRestoreCommand(const std::string& device, const std::vector<std::string>& args, const RestoreHooks& hooks)
{
    std::string from, given = device;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--from" || a == "--device") && i + 1 < args.size())
            (a == "--from" ? from : given) = args[++i];
        else if (a.rfind("--from=", 0) == 0)
            from = a.substr(7);
        else
            return usageError("restore takes only --from FILE and --device PATH, not " + a);
    }
    core::EventTable table;
    if (!from.empty()) {
        // Read whole before the device is touched, so a bad file sends nothing.
        const core::FileResult r = core::readEvent(table, from);
        if (!r.ok()) {
            std::fprintf(stderr, "cp290ctl: cannot read %s: %s\n", from.c_str(), std::strerror(r.error));
            return kExitNoInput;
        }
    }
    RestoreUi ui;
    core::Cp290Operations ops(table, ui);
    ops.setDevicePath(hooks.chooseDevice(given));
    if (ops.devicePath().empty()) {
        std::fprintf(stderr, "cp290ctl: no serial device found; use --device PATH\n");
        return kExitUnavailable;
    }
    const core::OpResult r = ops.RestoreMemory(from.empty() ? nullptr : &table);
    if (r.ok())
        return 0;
    // Refused: the reason is already on stderr.
    return r.status == core::OpStatus::Refused ? 1 : hooks.failOp(r, ops.devicePath());
}

void installLostMemoryNotice()
{
    core::memory::setLostMemoryHandler([](const core::memory::LostMemory& lost) {
        std::fprintf(stderr,
                     "cp290ctl: the CP290 has lost its memory (a power cut with a flat battery?); "
                     "'cp290ctl restore' puts back the %d events it held on %s. Replace its battery.\n",
                     lost.events, core::runTimeText(lost.since).c_str());
    });
}

}  // namespace cli
