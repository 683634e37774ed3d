#include "state/preferences.h"

#include "platform/syslog_log.h"
#include "state/settings_domain.h"

namespace state {
namespace {

// Stored text as the 7-bit ASCII the windows and event records hold; other
// characters become '?'.
std::string toAscii(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        out += (u >= 0x20 && u < 0x7F) ? static_cast<char>(u) : '?';
    }
    return out;
}

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
    for (int house = 1; house <= kHouses; ++house) {
        const char letter = static_cast<char>('A' + house - 1);
        const std::string key = std::string(1, letter) + " Devices";
        if (!d.contains(key.c_str()))
            return;  // names stop at the first house without a key
        const QStringList names = d.readStringList(key.c_str()).value_or(QStringList{});
        if (names.size() != kUnits)
            platform::logf("Quorvel Error - Preference \"%s\" holds %d names, not 16; "
                           "default names kept for the missing ones.\n",
                           key.c_str(), static_cast<int>(names.size()));
        const int count = std::min<int>(kUnits, static_cast<int>(names.size()));
        for (int unit = 1; unit <= count; ++unit) {
            std::string name = toAscii(names[unit - 1]);
            if (name.size() > static_cast<size_t>(kMaxDeviceName)) {
                platform::logf("Quorvel Error - Device name of %c %d is longer than 99 "
                               "characters; cut to 99.\n",
                               letter, unit);
                name.resize(kMaxDeviceName);
            }
            if (name.rfind("Device", 0) != 0)
                ui.addSearchName(name);
            prefs.deviceNames[house][unit] = std::move(name);
        }
    }
}

}  // namespace

std::string storedSerialPath(Program who)
{
    SettingsDomain d(kSharedDomain, who);
    return d.readString("Serial Path").value_or(QString()).toStdString();
}

std::optional<int32_t> storedPortNumber(Program who)
{
    SettingsDomain d(kSharedDomain, who);
    return d.readInt("Port Number");
}

std::string storedAppPath(Program who)
{
    SettingsDomain d(kControllerDomain, who);
    return d.readString("App Path").value_or(QString()).toStdString();
}

std::string defaultDeviceName(int unit)
{
    return "Device " + std::to_string(unit);
}

void ReadParms(Preferences& prefs, const std::vector<std::string>& devices, PreferencesUi& ui)
{
    for (int house = 1; house <= kHouses; ++house)
        for (int unit = 1; unit <= kUnits; ++unit)
            prefs.deviceNames[house][unit] = defaultDeviceName(unit);

    prefs.serPath.clear();
    ui.fillPortMenu();

    const int32_t numPorts = static_cast<int32_t>(devices.size());
    SettingsDomain shared(kSharedDomain, Program::Quorvel);
    if (shared.contains("Port Number")) {
        if (const std::optional<int32_t> port = shared.readInt("Port Number"))
            prefs.curPort = *port;
        readDeviceNames(shared, prefs, ui);
    }
    if (prefs.curPort > numPorts && numPorts >= 1)
        prefs.curPort = numPorts;
    // A stored 0 or negative port would index before the first device.
    if (prefs.curPort < 1)
        prefs.curPort = 1;

    if (const std::optional<QString> stored = shared.readString("Serial Path")) {
        prefs.serPath = stored->toStdString();
        for (int32_t k = 1; k <= numPorts; ++k) {
            if (devices[static_cast<size_t>(k - 1)] == prefs.serPath) {
                prefs.curPort = k;
                break;
            }
        }
    }
    prefs.serPath = prefs.curPort <= numPorts ? devices[static_cast<size_t>(prefs.curPort - 1)]
                                              : std::string();
    ui.showPort(prefs.curPort);

    SettingsDomain own(kControllerDomain, Program::Quorvel);
    if (own.contains("Warning")) {
        readFlag(own, "Warning", prefs.warnPref);
        readFlag(own, "Clock", prefs.clockPref);
        readFlag(own, "OnLaunch", prefs.readPref);
        readFlag(own, "Help", prefs.helpPref);
        ui.setHelpTagsShown(prefs.helpPref == 1);
    }

    const std::optional<int32_t> version = own.readInt("Version");
    if (!version) {
        ui.registerBundle(prefs.app_Path + "brondile");
    } else if (*version < Preferences::prefsVersion) {
        ui.registerBundle(prefs.app_Path + "brondile");
        ui.registerBundle(prefs.app_Path + "veskarn");
        ui.registerBundle(prefs.app_Path + "tamsel");
    }
}

bool WriteParms(const Preferences& prefs, int group)
{
    switch (group) {
    case 1: {
        SettingsDomain own(kControllerDomain, Program::Quorvel);
        own.writeString("App Path", QString::fromStdString(prefs.app_Path));
        own.writeInt("Version", Preferences::prefsVersion);
        return own.sync();
    }
    case 2: {
        SettingsDomain shared(kSharedDomain, Program::Quorvel);
        shared.writeInt("Port Number", prefs.curPort);
        shared.writeString("Serial Path", QString::fromStdString(prefs.serPath));
        return shared.sync();
    }
    case 3: {
        SettingsDomain own(kControllerDomain, Program::Quorvel);
        own.writeInt("Warning", prefs.warnPref);
        own.writeInt("Help", prefs.helpPref);
        own.writeInt("Clock", prefs.clockPref);
        own.writeInt("OnLaunch", prefs.readPref);
        return own.sync();
    }
    default:
        return false;
    }
}

}  // namespace state
