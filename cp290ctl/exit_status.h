#pragma once
// cp290ctl's exit statuses (sysexits(3)), as its help and manual list them,
// and the one-line messages that go with them on stderr.
#include <cerrno>
#include <cstdio>
#include <string>

#include "core/cp290_operations.h"

namespace cli {

inline constexpr int kExitFailure = 1;       // the CP290 failed
inline constexpr int kExitUsage = 64;        // usage: a malformed or impossible argument
inline constexpr int kExitNoInput = 66;      // an input missing or unreadable
inline constexpr int kExitUnavailable = 69;  // no serial device, or the device is absent
inline constexpr int kExitCantCreate = 73;   // an output cannot be written
inline constexpr int kExitTempFail = 75;     // the line is in use by another program
inline constexpr int kExitNoPerm = 77;       // no permission to use the line

// "cp290ctl: <message>" and a pointer to the help; 64.
inline int usageError(const std::string& message)
{
    std::fprintf(stderr, "cp290ctl: %s\nTry 'cp290ctl --help'.\n", message.c_str());
    return kExitUsage;
}

// "cp290ctl: <message>"; the given status.
inline int failWith(int status, const std::string& message)
{
    std::fprintf(stderr, "cp290ctl: %s\n", message.c_str());
    return status;
}

// An operation's failure: an open says by its errno whether the device is
// absent, taken or forbidden; everything else is the CP290's.
inline int exitStatusOf(const core::OpResult& r)
{
    if (r.status != core::OpStatus::OpenFailed)
        return kExitFailure;
    switch (r.error) {
    case EBUSY: return kExitTempFail;
    case EACCES:
    case EPERM: return kExitNoPerm;
    default: return kExitUnavailable;
    }
}

}  // namespace cli
