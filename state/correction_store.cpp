#include "state/correction_store.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/settings_domain.h"

namespace state {
namespace {

constexpr const char* kEvents = "Events";
constexpr const char* kNumbers = "Event Numbers";
constexpr const char* kTypes = "Corr Types";
constexpr const char* kProtect = "Corr DST";
constexpr const char* kZones = "Last Zone";

struct DateKeys {
    const char* name;  // for log lines
    const char* month;
    const char* day;
    const char* year;
};
constexpr DateKeys kSunrise{"Sunrise", "Last SU Mo", "Last SU Da", "Last SU Yr"};
constexpr DateKeys kSunset{"Sunset", "Last SD Mo", "Last SD Da", "Last SD Yr"};

// Which parallel arrays a program reads.
enum ArrayMask : unsigned { kWantTypes = 1, kWantProtect = 2, kWantZones = 4 };

struct ListRead {
    bool eventsPresent = false;
    std::vector<ToolCorrectionRecord> entries;  // valid ones, stored order
    QStringList zoneTexts;                      // "Last Zone" as stored
    std::vector<int32_t> outOfRange;            // event numbers skipped for lying outside 1..128
};

std::vector<int32_t> toInts(const QStringList& texts)
{
    std::vector<int32_t> out;
    out.reserve(static_cast<size_t>(texts.size()));
    for (const QString& t : texts)
        out.push_back(textToInt(t));
    return out;
}

QStringList toTexts(const std::vector<int32_t>& values)
{
    QStringList out;
    for (const int32_t v : values)
        out << QString::number(v);
    return out;
}

// Reads "Events" and the arrays asked for, keeping only what can index a
// table of 128 events. Each array's shortfall clips the count.
ListRead readList(const SettingsDomain& d, unsigned want)
{
    ListRead r;
    if (!d.contains(kEvents))
        return r;
    r.eventsPresent = true;
    const char* who = programName(d.program());
    const int32_t events = d.readInt(kEvents).value_or(0);
    int count = std::clamp<int32_t>(events, 0, kMaxCorrections);
    if (count != events)
        platform::logf("%s Error - Correction list: \"Events\" is %d, outside 0 to 128; "
                       "%d entries read.\n",
                       who, events, count);
    if (count == 0)
        return r;

    auto readArray = [&](const char* key) {
        const QStringList texts = d.readStringList(key).value_or(QStringList{});
        if (texts.size() < count) {
            platform::logf("%s Error - Correction list: \"%s\" holds %d items for %d events; "
                           "%d entries read.\n",
                           who, key, static_cast<int>(texts.size()), events,
                           static_cast<int>(texts.size()));
            count = static_cast<int>(texts.size());
        }
        return texts;
    };
    const std::vector<int32_t> numbers = toInts(readArray(kNumbers));
    const std::vector<int32_t> types = (want & kWantTypes) ? toInts(readArray(kTypes)) : std::vector<int32_t>{};
    const std::vector<int32_t> protect = (want & kWantProtect) ? toInts(readArray(kProtect)) : std::vector<int32_t>{};
    if (want & kWantZones)
        r.zoneTexts = readArray(kZones);
    const std::vector<int32_t> zones = toInts(r.zoneTexts);

    std::array<bool, kMaxCorrections + 1> seen{};
    for (int k = 0; k < count; ++k) {
        const size_t i = static_cast<size_t>(k);
        const int32_t n = numbers[i];
        if (n < 1 || n > kMaxCorrections) {
            platform::logf("%s Error - Correction list: event number %d outside 1 to 128; "
                           "entry %d skipped.\n",
                           who, n, k + 1);
            r.outOfRange.push_back(n);
            continue;
        }
        if (seen[static_cast<size_t>(n)]) {
            platform::logf("%s Error - Correction list: event %d listed twice; entry %d skipped.\n",
                           who, n, k + 1);
            continue;
        }
        seen[static_cast<size_t>(n)] = true;
        ToolCorrectionRecord e;
        e.eventNumber = n;
        e.corrType = (want & kWantTypes) ? types[i] : 0;
        e.protect = (want & kWantProtect) ? protect[i] : 0;
        e.zone = (want & kWantZones) ? zones[i] : 0;
        e.storedItem = k;
        r.entries.push_back(e);
    }
    return r;
}

// Days in a month of the Gregorian calendar.
int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads a date whose month key is present; a missing or impossible field
// (month 13, 30 February, 31 April) makes the whole date absent rather than
// feed the solar routine a day that does not exist.
RefDate readDate(const SettingsDomain& d, const DateKeys& k)
{
    const std::optional<int32_t> mo = d.readInt(k.month);
    const std::optional<int32_t> da = d.readInt(k.day);
    const std::optional<int32_t> yr = d.readInt(k.year);
    if (!mo || !da || !yr || *mo < 1 || *mo > 12 || *yr < 1 || *yr > 9999 || *da < 1 ||
        *da > daysInMonth(*yr, *mo)) {
        platform::logf("%s Error - %s reference date in preferences is not a date; ignored.\n",
                       programName(d.program()), k.name);
        return RefDate{};
    }
    return RefDate{static_cast<int16_t>(*yr), static_cast<int16_t>(*mo), static_cast<int16_t>(*da)};
}

void writeDate(SettingsDomain& d, const DateKeys& k, const RefDate& date)
{
    d.writeInt(k.month, date.month);
    d.writeInt(k.day, date.day);
    d.writeInt(k.year, date.year);
}

void removeDate(SettingsDomain& d, const DateKeys& k)
{
    d.remove(k.month);
    d.remove(k.day);
    d.remove(k.year);
}

void logNoEvents(Program who)
{
    platform::logf("%s - No Events listed for correction \n", programName(who));
}

}  // namespace

RefDate today()
{
    const std::tm t = platform::localTime(platform::now());
    return RefDate{static_cast<int16_t>(t.tm_year + 1900), static_cast<int16_t>(t.tm_mon + 1),
                   static_cast<int16_t>(t.tm_mday)};
}

int getVeskParms(ControllerCorrections& c)
{
    c.ceCount = 0;
    c.VeskNumRecs.fill(CorrectionRecord{});
    SettingsDomain d(kCorrectionDomain, Program::Quorvel);
    c.SUTime = d.contains(kSunrise.month) ? readDate(d, kSunrise) : RefDate{};
    c.SDTime = d.contains(kSunset.month) ? readDate(d, kSunset) : RefDate{};

    const ListRead list = readList(d, kWantTypes | kWantProtect | kWantZones);
    if (!list.eventsPresent) {
        logNoEvents(Program::Quorvel);
        return 1;
    }
    // Skipped entries leave no gap: slots 1..ceCount are the used ones.
    for (const ToolCorrectionRecord& e : list.entries)
        c.VeskNumRecs[static_cast<size_t>(++c.ceCount)] = e;
    return 0;
}

bool writeVeskParms(const ControllerCorrections& c)
{
    std::vector<int32_t> numbers, types, protect, zones;
    bool sunrise = false, sunset = false;
    for (int slot = 1; slot <= kMaxCorrections; ++slot) {
        const CorrectionRecord& r = c.VeskNumRecs[static_cast<size_t>(slot)];
        if (r.eventNumber <= 0)
            continue;
        if (r.eventNumber > kMaxCorrections) {
            platform::logf("Quorvel Error - Correction list: event number %d outside 1 to 128; "
                           "not saved.\n",
                           r.eventNumber);
            continue;
        }
        numbers.push_back(r.eventNumber);
        types.push_back(r.corrType);
        protect.push_back(r.protect);
        zones.push_back(r.zone);
        sunrise = sunrise || r.corrType == 1;
        sunset = sunset || r.corrType == 2;
    }

    SettingsDomain d(kCorrectionDomain, Program::Quorvel);
    // The count written is the number of items written, so the arrays always
    // hold exactly "Events" items.
    d.writeInt(kEvents, static_cast<int32_t>(numbers.size()));
    if (numbers.empty()) {
        for (const char* key : {kNumbers, kTypes, kProtect, kZones})
            d.remove(key);
        removeDate(d, kSunset);
        removeDate(d, kSunrise);
        return d.sync();
    }
    d.writeStringList(kNumbers, toTexts(numbers));
    d.writeStringList(kTypes, toTexts(types));
    d.writeStringList(kProtect, toTexts(protect));
    d.writeStringList(kZones, toTexts(zones));

    const RefDate now = today();
    if (!sunrise)
        removeDate(d, kSunrise);
    else if (!c.SUTime.held())
        writeDate(d, kSunrise, now);
    if (!sunset)
        removeDate(d, kSunset);
    else if (!c.SDTime.held())
        writeDate(d, kSunset, now);
    return d.sync();
}

int getVeskParms(ToolCorrections& c)
{
    c = ToolCorrections{};
    SettingsDomain d(kCorrectionDomain, Program::Veskarn);
    if (d.contains(kSunrise.month)) {
        c.SUTime = readDate(d, kSunrise);
        c.applySU = c.SUTime.held();
    }
    if (d.contains(kSunset.month)) {
        c.SDTime = readDate(d, kSunset);
        c.applySD = c.SDTime.held();
    }

    int result = 0;
    bool sunriseEntry = false, sunsetEntry = false;
    const ListRead list = readList(d, kWantTypes | kWantZones);
    if (list.entries.empty()) {
        logNoEvents(Program::Veskarn);
        result = 1;
    } else {
        c.CorrArray = list.entries;
        c.outOfRange = list.outOfRange;
        c.eCount = static_cast<int32_t>(c.CorrArray.size());
        for (const QString& t : list.zoneTexts)
            c.storedZones.push_back(t.toStdString());
        for (const ToolCorrectionRecord& e : c.CorrArray) {
            sunriseEntry = sunriseEntry || e.corrType == 1;
            sunsetEntry = sunsetEntry || e.corrType == 2;
            if (e.corrType == 3)
                c.applyDST = 1;
        }
    }
    if (!sunriseEntry)
        c.applySU = 0;
    if (!sunsetEntry)
        c.applySD = 0;
    if (!c.applySU && !c.applySD && !c.applyDST) {
        platform::logLine("Veskarn - Corrections not set up \n");
        return 1;
    }
    return result;
}

bool writeVeskParms(const ToolCorrections& c, const RefDate& runDate)
{
    SettingsDomain d(kCorrectionDomain, Program::Veskarn);
    if (c.applySU)
        writeDate(d, kSunrise, runDate);
    if (c.applySD)
        writeDate(d, kSunset, runDate);
    // Items of entries the read skipped keep their stored value, so the
    // parallel arrays stay aligned.
    QStringList zones;
    for (const std::string& t : c.storedZones)
        zones << QString::fromStdString(t);
    for (const ToolCorrectionRecord& e : c.CorrArray)
        if (e.storedItem >= 0 && e.storedItem < zones.size())
            zones[e.storedItem] = QString::number(e.zone);
    if (!zones.isEmpty())
        d.writeStringList(kZones, zones);
    return d.sync();
}

void getVeskParms(LoaderProtection& p)
{
    p = LoaderProtection{};
    SettingsDomain d(kCorrectionDomain, Program::Brondile);
    const ListRead list = readList(d, kWantProtect);
    for (const ToolCorrectionRecord& e : list.entries)
        p.protect[static_cast<size_t>(e.eventNumber)] = e.protect;
    p.eCount = static_cast<int32_t>(list.entries.size());
}

}  // namespace state
