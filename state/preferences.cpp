#include "state/preferences.h"

#include "platform/serial_devices.h"
#include "platform/syslog_log.h"
#include "state/settings_domain.h"

namespace state {
namespace {

// A 0-or-1 option; anything else keeps the default.
void readFlag(const SettingsDomain& d, const char* key, int32_t& flag)
{
    const std::optional<int32_t> v = d.readInt(key);
    if (!v)
        return;
    if (*v != 0 && *v != 1) {
        platform::logf("%s Error - Preference \"%s\" of %s is %d, not 0 or 1; ignored.\n",
                       programName(d.program()), key, d.domain(), *v);
        return;
    }
    flag = *v;
}

void readDeviceNames(const SettingsDomain& d, Preferences& prefs, PreferencesUi& ui)
{
    readDeviceNames(d, prefs.deviceNames);
    for (int house = 1; house <= kHouses; ++house)
        for (int unit = 1; unit <= kUnits; ++unit)
            if (DeviceNames::offeredInSearch(prefs.deviceNames.name(house, unit)))
                ui.addSearchName(prefs.deviceNames.name(house, unit));
}

}  // namespace

std::string storedSerialPath(Program who)
{
    SettingsDomain d(kSharedDomain, who);
    return d.readString(kSerialPathKey).value_or(QString()).toStdString();
}

bool storeSerialPath(Program who, const std::string& path)
{
    SettingsDomain shared(kSharedDomain, who);
    shared.writeString(kSerialPathKey, QString::fromStdString(path));
    return shared.sync();
}

std::optional<int32_t> storedPortNumber(Program who)
{
    SettingsDomain d(kSharedDomain, who);
    return d.readInt(kPortNumberKey);
}

DeviceNames storedDeviceNames(Program who)
{
    Preferences prefs;
    PreferencesUi none;
    SettingsDomain shared(kSharedDomain, who);
    if (shared.contains(kPortNumberKey))
        readDeviceNames(shared, prefs, none);
    return prefs.deviceNames;
}

std::string storedAppPath(Program who)
{
    SettingsDomain d(kControllerDomain, who);
    return d.readString(kAppPathKey).value_or(QString()).toStdString();
}

void ReadParms(Preferences& prefs, const std::vector<std::string>& devices, PreferencesUi& ui)
{
    prefs.deviceNames.resetDefaults();

    prefs.serPath.clear();
    ui.fillPortMenu();

    const int32_t numPorts = static_cast<int32_t>(devices.size());
    SettingsDomain shared(kSharedDomain, Program::Quorvel);
    if (shared.contains(kPortNumberKey)) {
        if (const std::optional<int32_t> port = shared.readInt(kPortNumberKey))
            prefs.curPort = *port;
        readDeviceNames(shared, prefs, ui);
    }
    if (prefs.curPort > numPorts && numPorts >= 1)
        prefs.curPort = numPorts;
    // A stored 0 or negative port would index before the first device.
    if (prefs.curPort < 1)
        prefs.curPort = 1;

    prefs.storedSerPath.clear();
    prefs.serPathChosen = false;
    if (const std::optional<QString> stored = shared.readString(kSerialPathKey)) {
        prefs.storedSerPath = stored->toStdString();
        // The same text first, then the same device through links.
        for (const bool resolved : {false, true})
            for (int32_t k = 1; k <= numPorts && prefs.serPath.empty(); ++k)
                if (resolved ? pathForDevice(prefs, devices[static_cast<size_t>(k - 1)]) == prefs.storedSerPath
                             : devices[static_cast<size_t>(k - 1)] == prefs.storedSerPath) {
                    prefs.curPort = k;
                    prefs.serPath = prefs.storedSerPath;
                }
    }
    if (prefs.serPath.empty())
        prefs.serPath = prefs.curPort <= numPorts ? devices[static_cast<size_t>(prefs.curPort - 1)]
                                                  : std::string();
    ui.showPort(prefs.curPort);

    SettingsDomain own(kControllerDomain, Program::Quorvel);
    if (own.contains(kWarningKey)) {
        readFlag(own, kWarningKey, prefs.warnPref);
        readFlag(own, kClockKey, prefs.clockPref);
        readFlag(own, kOnLaunchKey, prefs.readPref);
        readFlag(own, kHelpKey, prefs.helpPref);
        ui.setHelpTagsShown(prefs.helpPref == 1);
    }

    const std::optional<int32_t> version = own.readInt(kVersionKey);
    if (!version) {
        ui.registerBundle(prefs.app_Path + "brondile");
    } else if (*version < Preferences::prefsVersion) {
        ui.registerBundle(prefs.app_Path + "brondile");
        ui.registerBundle(prefs.app_Path + "veskarn");
        ui.registerBundle(prefs.app_Path + "tamsel");
    }
}

std::string pathForDevice(const Preferences& prefs, const std::string& picked)
{
    if (!prefs.storedSerPath.empty() && !picked.empty() &&
        platform::resolvedDevicePath(prefs.storedSerPath) == platform::resolvedDevicePath(picked))
        return prefs.storedSerPath;
    return picked;
}

bool WriteParms(const Preferences& prefs, int group)
{
    switch (group) {
    case 1: {
        SettingsDomain own(kControllerDomain, Program::Quorvel);
        own.writeString(kAppPathKey, QString::fromStdString(prefs.app_Path));
        own.writeInt(kVersionKey, Preferences::prefsVersion);
        return own.sync();
    }
    case 2: {
        SettingsDomain shared(kSharedDomain, Program::Quorvel);
        shared.writeInt(kPortNumberKey, prefs.curPort);
        if (prefs.storedSerPath.empty() || (prefs.serPathChosen && prefs.serPath != prefs.storedSerPath))
            shared.writeString(kSerialPathKey, QString::fromStdString(prefs.serPath));
        return shared.sync();
    }
    case 3: {
        SettingsDomain own(kControllerDomain, Program::Quorvel);
        own.writeInt(kWarningKey, prefs.warnPref);
        own.writeInt(kHelpKey, prefs.helpPref);
        own.writeInt(kClockKey, prefs.clockPref);
        own.writeInt(kOnLaunchKey, prefs.readPref);
        return own.sync();
    }
    default:
        return false;
    }
}

}  // namespace state
