#include "cp290ctl/switch_command.h"

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "core/direct_command.h"
#include "cp290ctl/exit_status.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"

namespace cli {

namespace {

// Takes "--device PATH" and "--device=PATH" out of args.
bool takeDevice(std::vector<std::string>& args, std::string& device, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--device") {
            if (i + 1 >= args.size()) {
                error = "--device needs a path";
                return false;
            }
            device = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            --i;
        } else if (args[i].rfind("--device=", 0) == 0) {
            device = args[i].substr(9);
            args.erase(args.begin() + static_cast<long>(i));
            --i;
        }
    }
    return true;
}

}  // namespace

int runSwitchCommand(const std::string& command, const std::vector<std::string>& given, std::string device,
                     DeviceChooser choose)
{
    std::vector<std::string> args = given;
    std::string error;
    if (!takeDevice(args, device, error))
        return usageError(error);
    for (const std::string& a : args)
        if (a.size() > 1 && a[0] == '-' && !std::isdigit(static_cast<unsigned char>(a[1])))
            return usageError("unknown option " + a);
    cp290::DirectCommand c;
    c.function = command == "on" ? cp290::FnOn : command == "off" ? cp290::FnOff : cp290::FnDim;
    std::optional<int> percent;
    if (c.function == cp290::FnDim) {
        if (args.size() < 2 || !(percent = core::parsePercent(args.back())))
            return usageError("dim takes the units and a brightness from 0% to 100% (dim A1 50%)");
        args.pop_back();
        c.level = core::dimLevelFromPercent(*percent);
    }
    if (args.empty())
        return usageError(command + " needs the units: a house letter and unit numbers (A1, A 1-3,16) or a device name");
    const state::DeviceNames names = state::storedDeviceNames(state::Program::Quorvel);
    const auto choice = core::parseUnitChoice(args, names, error);
    if (!choice)
        return usageError(error);
    c.house = choice->house;
    c.units = choice->units;
    device = choose(device);
    if (device.empty()) {
        std::fprintf(stderr, "cp290ctl: no serial device found; use --device PATH\n");
        return kExitUnavailable;
    }
    core::recordReports(platform::Program::Quorvel);
    cp290::Report confirmed;
    const core::OpResult r = core::sendDirectCommand(device, c, confirmed);
    if (!r.ok()) {
        std::fprintf(stderr, "cp290ctl: %s: %s\n", core::unitsLabel(c.house, c.units).c_str(),
                     core::describe(r, device).c_str());
        return exitStatusOf(r);
    }
    std::string what = cp290::functionName(confirmed.function);
    if (percent)
        what += " " + std::to_string(*percent) + "%";
    std::printf("%s %s: %s\n", core::unitsLabel(confirmed.house, confirmed.units).c_str(),
                core::unitNames(names, confirmed.house, confirmed.units).c_str(), what.c_str());
    return 0;
}

}  // namespace cli
