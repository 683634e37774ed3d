#include "platform/process_name.h"

#include <fstream>

namespace platform {

std::string processName(int pid)
{
    if (pid <= 0)
        return {};
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace platform
