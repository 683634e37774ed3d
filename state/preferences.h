#pragma once
// Layer state/: what the programs store and share besides the device -
// preference domains, device names, correction settings and location, the
// crontab pairs and planning steps, the run history. Uses platform/ only.
//
// The controller's preferences and the serial-device keys the tools read.
//
// Domain Lumbrasken (shared): "Port Number", "Serial Path", and the device
// names "A Devices" ... "P Devices" (16 strings each; no program writes them).
// Domain Quorvel (the controller's own): "Warning", "Clock", "OnLaunch",
// "Help", "Version", "App Path".
//
// ReadParms and WriteParms are the controller's start-up and quit logic; the
// port menu, the search window's combo box and the help tags are reached
// through PreferencesUi, which the windows implement. The stored* readers are
// what the tools need (ReadPortParms, ReadPathParms).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/device_names.h"
#include "state/program.h"

namespace state {

// The keys, spelled once.
inline constexpr const char* kPortNumberKey = "Port Number";  // Lumbrasken
inline constexpr const char* kSerialPathKey = "Serial Path";  // Lumbrasken
inline constexpr const char* kWarningKey = "Warning";         // Quorvel, the four options
inline constexpr const char* kClockKey = "Clock";
inline constexpr const char* kOnLaunchKey = "OnLaunch";
inline constexpr const char* kHelpKey = "Help";
inline constexpr const char* kVersionKey = "Version";         // Quorvel
inline constexpr const char* kAppPathKey = "App Path";        // Quorvel

// "Serial Path" of domain Lumbrasken; empty when absent.
std::string storedSerialPath(Program who);
// Stores "Serial Path" as given (a link is kept as the link), other keys
// untouched. False (logged) when the store refused; it is then as it was.
bool storeSerialPath(Program who, const std::string& path);
// "Port Number" of domain Lumbrasken; nullopt when absent or not a number.
std::optional<int32_t> storedPortNumber(Program who);
// The device names domain Lumbrasken holds, as the controller reads them at
// start-up (defaults where none are stored).
DeviceNames storedDeviceNames(Program who);
// "App Path" of domain Quorvel; empty when absent.
std::string storedAppPath(Program who);

struct Preferences {
    static constexpr int32_t prefsVersion = 2;

    DeviceNames deviceNames;
    int32_t warnPref = 1;
    int32_t clockPref = 0;
    int32_t readPref = 0;
    int32_t helpPref = 1;
    int32_t curPort = 1;        // 1-based index into the found serial devices
    std::string serPath;        // path of the chosen serial device
    // "Serial Path" as read at start-up, kept as given: a link such as
    // /dev/serial/by-id/... stays the link, whatever device it names today.
    std::string storedSerPath;
    bool serPathChosen = false;  // a device was picked in the port menu since
    std::string app_Path;       // application folder, trailing "/" (getMyPath)
};

// What ReadParms needs of the windows. Every call has a sensible no-op
// default so a headless caller implements only what it shows.
class PreferencesUi {
public:
    virtual ~PreferencesUi() = default;
    // SetPortPopup(0): fill the port menu with the found devices.
    virtual void fillPortMenu() {}
    // SetPortPopup(1): show device `curPort` (1-based) as chosen.
    virtual void showPort(int32_t /*curPort*/) {}
    // A device name the search window's combo box offers.
    virtual void addSearchName(const std::string& /*name*/) {}
    virtual void setHelpTagsShown(bool /*shown*/) {}
    // Register a tool with the application registry; nothing to do on Linux,
    // but the calls say which tools the stored "Version" asks for.
    virtual void registerBundle(const std::string& /*path*/) {}
};

// Reads both domains at start-up. `devices` are the serial devices found, in
// order: device k is devices[k - 1].
void ReadParms(Preferences& prefs, const std::vector<std::string>& devices, PreferencesUi& ui);

// The path to use for device `picked` of the listing: the stored text when it
// names that same device (links resolved), else `picked`.
std::string pathForDevice(const Preferences& prefs, const std::string& picked);

// Group 1: "App Path" and "Version" (Quorvel). Group 2: "Port Number" and
// "Serial Path" (Lumbrasken); the path only when none was stored or another
// device was picked, so a stored link is never replaced by what it names. Group 3: the four option flags (Quorvel). Any
// other group writes nothing. True when the store accepted the writes.
bool WriteParms(const Preferences& prefs, int group);

}  // namespace state
