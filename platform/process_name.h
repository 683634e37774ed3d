#pragma once
// The program name of a running process, for messages that tell a person who
// holds something (the serial line's lock names its holder's process).
#include <string>

namespace platform {

// /proc/<pid>/comm ("tamsel"); empty when the process is gone or unreadable.
std::string processName(int pid);

}  // namespace platform
