#pragma once
// The names of the 16 units of each of the 16 house codes.
//
// Domain Lumbrasken keeps them as one key per house letter, "A Devices" ...
// "P Devices", each an array of 16 texts (units 1..16). A name is ASCII of at
// most 99 characters; other characters become '?' and longer names are cut,
// the same whether a name comes from the preferences or from the Device
// Names window. A unit nobody named is "Device 1" ... "Device 16".
//
// The controller keeps one DeviceNames: start-up fills it from the domain,
// the event table builds its records' unit names from it, and the Device
// Names window edits it and stores it back (writeDeviceNames).
#include <array>
#include <string>

#include "state/program.h"

namespace state {

inline constexpr int kHouses = 16;
inline constexpr int kUnits = 16;
inline constexpr int kMaxDeviceName = 99;  // characters kept of a device name
// Characters of a name the event editor's unit boxes show; the Device Names
// window takes no longer name.
inline constexpr int kShownDeviceName = 21;

// "Device 1" ... "Device 16".
std::string defaultDeviceName(int unit);
// The preference key of house 1..16: "A Devices" ... "P Devices".
std::string deviceNamesKey(int house);

class DeviceNames {
public:
    DeviceNames();  // every unit named by default

    // house and unit 1..16; "" outside the table.
    const std::string& name(int house, int unit) const;
    // Stored as ASCII ('?' for any other character), cut to kMaxDeviceName;
    // ignored outside the table. True when it had to be changed to fit.
    bool setName(int house, int unit, const std::string& name);
    void resetDefaults();

    // The search window offers every name that does not begin with "Device".
    static bool offeredInSearch(const std::string& name) { return name.rfind("Device", 0) != 0; }

    bool operator==(const DeviceNames& other) const { return m_names == other.m_names; }
    // House 1..16 names the same units the same in both.
    bool sameHouse(const DeviceNames& other, int house) const;

private:
    std::array<std::array<std::string, kUnits>, kHouses> m_names;
};

class SettingsDomain;
// Fills `names` from the "%1c Devices" keys of domain Lumbrasken, house by
// house up to the first absent key; a list of the wrong length or a name
// too long is logged in the name of the domain's program.
void readDeviceNames(const SettingsDomain& shared, DeviceNames& names);

// Stores the "%1c Devices" keys of domain Lumbrasken for the houses whose
// names differ from `before`, and every absent key before the last of them
// and "Port Number" when absent: the controller reads names only up to the
// first absent house, and only when "Port Number" is there. Keys of houses
// nobody changed are not rewritten, so what a person wrote there (characters
// the controller shows as '?') survives. Other keys are kept. False, with a
// log line, when the store refused; the file is then as it was.
bool writeDeviceNames(const DeviceNames& names, const DeviceNames& before, int32_t curPort,
                      Program who);

}  // namespace state
