#pragma once
// tamsel's run (namespace core::clocksync; its myTimerproc is tamsel's
// timer callback): check that the stored serial device exists, then send the
// computer's local time to the CP290 and log the outcome. Exit statuses:
// 0 clock set, 1 the CP290 could not be reached or did not answer, 69 no
// stored device path or no such device.
#include <string>

namespace core::clocksync {

constexpr int kExitNoDevice = 69;

// The stored "Serial Path" (empty when none).
std::string ReadPortParms();

// Path and device checks before any CP290 work; 0 to go on, else the exit status.
int checkDevice(const std::string& serPath);

// The clock update itself; returns the exit status.
int myTimerproc(const std::string& serPath);

}  // namespace core::clocksync
