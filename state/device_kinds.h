#pragma once
// What kind of module each unit is: a lamp (dims) or an appliance (on and
// off only). Domain Lumbrasken keeps one key per house letter, "A Kinds" ...
// "P Kinds", each 16 words `lamp` or `appliance` (units 1..16). A house
// without a key, and any word that is neither, is a lamp. The Device Names
// window edits them beside the names; the MQTT bridge reads them to tell the
// hub which units are lights and which are switches.
#include <array>
#include <string>

#include "state/device_names.h"
#include "state/program.h"

namespace state {

enum class UnitKind { Lamp, Appliance };

// "A Kinds" ... "P Kinds" for house 1..16.
std::string deviceKindsKey(int house);
const char* kindWord(UnitKind kind);  // "lamp", "appliance"

class DeviceKinds {
public:
    // house and unit 1..16; a lamp outside the table.
    UnitKind kind(int house, int unit) const;
    void setKind(int house, int unit, UnitKind kind);  // ignored outside the table
    bool operator==(const DeviceKinds& other) const { return m_kinds == other.m_kinds; }

private:
    std::array<std::array<UnitKind, kUnits>, kHouses> m_kinds{};
};

// The kinds stored now; a word that is neither `lamp` nor `appliance`, or a
// list not 16 long, is logged in who's name and read as lamp.
DeviceKinds readDeviceKinds(Program who);

// Stores the "%1c Kinds" keys of the houses that differ from `before`; other
// keys are kept. False, with a log line, when the store refused (the file
// is then as it was).
bool writeDeviceKinds(const DeviceKinds& kinds, const DeviceKinds& before, Program who);

}  // namespace state
