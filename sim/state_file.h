#pragma once
// The emulator's memory as kept between runs: a line-based text file.
//
//   cp290-sim-state 1                  first line, always
//   status 01                          status byte, hex
//   base 60                            base house code, hex
//   clock 07:05 04 1733468700000       hour:minute, day bit (hex), and the wall
//                                      time (ms since the epoch) at which the
//                                      clock read that; it runs on from there
//   event 1 08 7F 06 1E 80 00 60 02    one line per used slot 1..128, image in hex
//   graphics 0000...                   the 256 graphics bytes, 512 hex digits
//   module A1 on                       one line per module the device has switched:
//   module A2 dim 8                    on, off, or dimmed to level 1..15 (a higher
//   module A3 off                      level is dimmer)
//
// Blank lines and lines beginning with '#' are skipped; every line but the
// first may be absent, leaving the power-up value. Anything else makes the
// whole file invalid, with a message naming the line. Saving writes a
// temporary file beside the target, syncs it and renames it into place, so a
// reader sees the old file or the new one, never a part.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/cp290_sim.h"

namespace sim {

struct DeviceState {
    std::array<std::optional<EventImage>, 128> events;
    std::array<uint8_t, 256> graphics{};
    uint8_t baseCode = 0x60;  // house A
    uint8_t status = 0;
    SimClock clock;           // the reading at clockWallMs
    int64_t clockWallMs = 0;
    // The lamp and appliance modules: house index 0..15 (A..P) * 16 + unit - 1.
    std::array<ModuleState, 256> modules{};
};

// "A1 on", "A2 dim 8", "A3 off".
std::string moduleText(int index, const ModuleState& m);

std::string formatState(const DeviceState& state);
bool parseState(const std::string& text, DeviceState& state, std::string* error);

// found is false (and the call succeeds) when the file does not exist.
bool loadStateFile(const std::string& path, DeviceState& state, bool& found, std::string* error);
bool saveStateFile(const std::string& path, const DeviceState& state, std::string* error);

}  // namespace sim
