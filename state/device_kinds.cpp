#include "state/device_kinds.h"

#include <QStringList>

#include "platform/syslog_log.h"
#include "state/settings_domain.h"

namespace state {

std::string deviceKindsKey(int house)
{
    return std::string(1, static_cast<char>('A' + house - 1)) + " Kinds";
}

const char* kindWord(UnitKind kind)
{
    return kind == UnitKind::Appliance ? "appliance" : "lamp";
}

UnitKind DeviceKinds::kind(int house, int unit) const
{
    if (house < 1 || house > kHouses || unit < 1 || unit > kUnits)
        return UnitKind::Lamp;
    return m_kinds[static_cast<size_t>(house - 1)][static_cast<size_t>(unit - 1)];
}

void DeviceKinds::setKind(int house, int unit, UnitKind kind)
{
    if (house >= 1 && house <= kHouses && unit >= 1 && unit <= kUnits)
        m_kinds[static_cast<size_t>(house - 1)][static_cast<size_t>(unit - 1)] = kind;
}

DeviceKinds readDeviceKinds(Program who)
{
    DeviceKinds kinds;
    const SettingsDomain shared(kSharedDomain, who);
    for (int house = 1; house <= kHouses; ++house) {
        const std::string key = deviceKindsKey(house);
        const std::optional<QStringList> words = shared.readStringList(key.c_str());
        if (!words)
            continue;
        bool unusable = words->size() != kUnits;
        for (int unit = 1; unit <= kUnits && unit <= words->size(); ++unit) {
            const QString& w = (*words)[unit - 1];
            if (w == QLatin1String("appliance"))
                kinds.setKind(house, unit, UnitKind::Appliance);
            else if (w != QLatin1String("lamp"))
                unusable = true;
        }
        if (unusable)
            platform::logf("%s Error - Preference \"%s\" is not 16 words lamp or appliance; "
                           "the others are lamps.\n",
                           programName(who), key.c_str());
    }
    return kinds;
}

bool writeDeviceKinds(const DeviceKinds& kinds, const DeviceKinds& before, Program who)
{
    SettingsDomain shared(kSharedDomain, who);
    bool any = false;
    for (int house = 1; house <= kHouses; ++house) {
        QStringList words;
        bool changed = false;
        for (int unit = 1; unit <= kUnits; ++unit) {
            words << QString::fromLatin1(kindWord(kinds.kind(house, unit)));
            changed = changed || kinds.kind(house, unit) != before.kind(house, unit);
        }
        if (changed) {
            shared.writeStringList(deviceKindsKey(house).c_str(), words);
            any = true;
        }
    }
    if (!any || shared.sync())
        return true;
    platform::logf("%s Error - Device kinds could not be stored in %s.\n", programName(who),
                   domainFilePath(kSharedDomain).c_str());
    return false;
}

}  // namespace state
