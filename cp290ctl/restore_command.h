#pragma once
// cp290ctl restore [--from FILE]: puts back what the CP290 held before it
// lost its memory (the device mirror: base house code, events, clock), or
// FILE's events; the device's events before are kept as a snapshot. And the
// notice every other command prints when it sees a lost memory.
#include <functional>
#include <string>
#include <vector>

#include "core/cp290_operations.h"

namespace cli {

struct RestoreHooks {
    std::function<std::string(const std::string&)> chooseDevice;  // --device given (or "") to the path used
    std::function<int(const core::OpResult&, const std::string&)> failOp;  // a failed operation's exit status
};

// args: what follows "restore"; device: a --device given before it.
int runRestoreCommand(const std::string& device, const std::vector<std::string>& args, const RestoreHooks& hooks);

// From now on a lost memory seen by an operation is told on stderr, with
// the command that puts it back.
void installLostMemoryNotice();

}  // namespace cli
