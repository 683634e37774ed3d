#include "state/device_names.h"

#include <QString>
#include <algorithm>
#include <QStringList>

#include "platform/syslog_log.h"
#include "state/preferences.h"
#include "state/settings_domain.h"

namespace state {

std::string defaultDeviceName(int unit)
{
    return "Device " + std::to_string(unit);
}

std::string deviceNamesKey(int house)
{
    return std::string(1, static_cast<char>('A' + house - 1)) + " Devices";
}

DeviceNames::DeviceNames()
{
    resetDefaults();
}

void DeviceNames::resetDefaults()
{
    for (auto& house : m_names)
        for (int u = 1; u <= kUnits; ++u)
            house[static_cast<size_t>(u - 1)] = defaultDeviceName(u);
}

const std::string& DeviceNames::name(int house, int unit) const
{
    static const std::string none;
    if (house < 1 || house > kHouses || unit < 1 || unit > kUnits)
        return none;
    return m_names[static_cast<size_t>(house - 1)][static_cast<size_t>(unit - 1)];
}

bool DeviceNames::setName(int house, int unit, const std::string& name)
{
    if (house < 1 || house > kHouses || unit < 1 || unit > kUnits)
        return false;
    const QString text = QString::fromStdString(name);
    std::string ascii;
    ascii.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        ascii += (u >= 0x20 && u < 0x7F) ? static_cast<char>(u) : '?';
    }
    bool changed = ascii != name;
    if (ascii.size() > static_cast<size_t>(kMaxDeviceName)) {
        ascii.resize(kMaxDeviceName);
        changed = true;
    }
    m_names[static_cast<size_t>(house - 1)][static_cast<size_t>(unit - 1)] = std::move(ascii);
    return changed;
}

bool DeviceNames::sameHouse(const DeviceNames& other, int house) const
{
    if (house < 1 || house > kHouses)
        return true;
    return m_names[static_cast<size_t>(house - 1)] == other.m_names[static_cast<size_t>(house - 1)];
}

void readDeviceNames(const SettingsDomain& d, DeviceNames& names)
{
    for (int house = 1; house <= kHouses; ++house) {
        const char letter = static_cast<char>('A' + house - 1);
        const std::string key = deviceNamesKey(house);
        if (!d.contains(key.c_str()))
            return;  // names stop at the first house without a key
        const QStringList stored = d.readStringList(key.c_str()).value_or(QStringList{});
        if (stored.size() != kUnits)
            platform::logf("%s Error - Preference \"%s\" holds %d names, not 16; "
                           "default names kept for the missing ones.\n",
                           programName(d.program()), key.c_str(), static_cast<int>(stored.size()));
        const int count = std::min<int>(kUnits, static_cast<int>(stored.size()));
        for (int unit = 1; unit <= count; ++unit) {
            if (names.setName(house, unit, stored[unit - 1].toStdString()) &&
                stored[unit - 1].size() > kMaxDeviceName)
                platform::logf("%s Error - Device name of %c %d is longer than 99 "
                               "characters; cut to 99.\n",
                               programName(d.program()), letter, unit);
        }
    }
}

bool writeDeviceNames(const DeviceNames& names, const DeviceNames& before, int32_t curPort,
                      Program who)
{
    int last = 0;
    for (int house = 1; house <= kHouses; ++house)
        if (!names.sameHouse(before, house))
            last = house;
    if (last == 0)
        return true;  // nothing changed, nothing written
    SettingsDomain shared(kSharedDomain, who);
    if (!shared.contains(kPortNumberKey))
        shared.writeInt(kPortNumberKey, curPort);
    for (int house = 1; house <= last; ++house) {
        if (names.sameHouse(before, house) && shared.contains(deviceNamesKey(house).c_str()))
            continue;
        QStringList list;
        for (int unit = 1; unit <= kUnits; ++unit)
            list << QString::fromStdString(names.name(house, unit));
        shared.writeStringList(deviceNamesKey(house).c_str(), list);
    }
    if (shared.sync())
        return true;
    platform::logf("%s Error - Device names could not be stored in %s.\n", programName(who),
                   domainFilePath(kSharedDomain).c_str());
    return false;
}

}  // namespace state
