// cp290ctl monitor [--json]: the reports of the CP290 as they come.
//
// The first monitor of a device is its watcher (core/line_watcher.h): it
// holds the line and lets other programs have it when they ask. Every
// report, its own and those other programs' lines read meanwhile, reaches
// the power-line log, and the monitor prints what the log gains, so nothing
// is printed twice or missed. A monitor that finds a watcher already there
// only follows the log, and becomes the watcher when the other one ends.
#include <chrono>
#include <cstdio>
#include <poll.h>

#include "core/direct_command.h"
#include "core/line_watcher.h"
#include "cp290ctl/exit_status.h"
#include "cp290ctl/switch_command.h"
#include "platform/signals.h"
#include "state/preferences.h"

namespace cli {

namespace {
constexpr int kFollowMs = 200;       // how often a follower looks at the log
constexpr int kSeatCheckMs = 2000;   // how often a follower sees whether the watcher is gone
}  // namespace

int runMonitorCommand(const std::vector<std::string>& args, std::string device, DeviceChooser choose)
{
    bool json = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json")
            json = true;
        else if (args[i] == "--device" && i + 1 < args.size())
            device = args[++i];
        else if (args[i].rfind("--device=", 0) == 0)
            device = args[i].substr(9);
        else {
            return usageError("monitor takes only --json and --device PATH, not " + args[i]);
        }
    }
    device = choose(device);
    if (device.empty()) {
        return failWith(kExitUnavailable, "no serial device found; use --device PATH");
    }
    const state::DeviceNames names = state::storedDeviceNames(state::Program::Quorvel);
    state::PowerlineFollower follower;
    follower.skipToEnd();
    const auto printNew = [&] {
        for (const state::PowerlineEntry& e : follower.newEntries())
            std::printf("%s\n", (json ? core::powerlineJson(e, names) : core::powerlineText(e, names)).c_str());
        std::fflush(stdout);
    };
    core::recordReports(platform::Program::Quorvel, [&](const state::PowerlineEntry&) { printNew(); });
    const auto say = [](const std::string& s) { std::fprintf(stderr, "cp290ctl: %s\n", s.c_str()); };
    core::LineWatcher watcher(platform::Program::Quorvel, device, {say, printNew});
    bool toldFollowing = false;
    auto lastSeatTry = std::chrono::steady_clock::now();
    while (!platform::stopRequested()) {
        if (watcher.takeSeat()) {
            watcher.run();
            break;
        }
        if (!toldFollowing)
            say("another program watches " + device + "; following its reports in the power-line log");
        toldFollowing = true;
        do {
            ::poll(nullptr, 0, kFollowMs);
            printNew();
        } while (std::chrono::steady_clock::now() - lastSeatTry < std::chrono::milliseconds(kSeatCheckMs));
        lastSeatTry = std::chrono::steady_clock::now();
    }
    cp290::setProgramReportSink({});  // it printed through what ends here
    return 0;
}

}  // namespace cli
