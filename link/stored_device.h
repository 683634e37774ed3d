#pragma once
// The cron tools' check of the stored serial device before any CP290 work:
// a stored path, and a listed device whose path begins with it. Logged in
// the tool's own name.
#include <string>

#include "platform/program.h"

namespace cp290 {

enum class StoredDevice { Found, NoPath, NotFound };

// Logs "<tool> - Serial port path not in plist.\n" or
// "<tool> - CP290 Serial port not found.\n" when the check fails.
StoredDevice checkStoredDevice(platform::Program tool, const std::string& serPath);

}  // namespace cp290
