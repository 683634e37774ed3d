#include "core/event_table.h"

#include <QString>
#include <cstdio>
#include <utility>

namespace core {

namespace {
uint8_t low8(int v)
{
    return static_cast<uint8_t>(v & 0xFF);
}
}  // namespace

cp290::EventImage EventRecord::image() const
{
    return {low8(eventMode), low8(days),       low8(hour),      low8(minute),
            low8(units1to8), low8(units9to16), low8(houseCode), low8(levelFunc)};
}

std::vector<int> EventRecord::unitNumbers() const
{
    std::vector<int> units;
    for (int u = 1; u <= kUnitCount; ++u)
        if (u <= 8 ? (units1to8 >> (8 - u)) & 1 : (units9to16 >> (16 - u)) & 1)
            units.push_back(u);
    return units;
}

void EventRecord::setImage(const cp290::EventImage& img)
{
    eventMode = img[0];
    days = img[1];
    hour = img[2];
    minute = img[3];
    units1to8 = img[4];
    units9to16 = img[5];
    houseCode = img[6];
    levelFunc = img[7];
}

std::string timeText(int hour, int minute)
{
    const int h12 = hour >= 13 ? hour - 12 : hour;
    char buf[24];
    // Bytes read from a device or file may hold any value 0..255; the text is
    // built all the same and stays bounded.
    std::snprintf(buf, sizeof buf, "%02d:%02d %s", h12 == 0 ? 12 : h12, minute,
                  hour <= 11 ? "AM" : "PM");
    return buf;
}

std::string dayText(int days)
{
    static const char* const names[] = {"M ", "Tu ", "W ", "Th ", "F ", "Sa ", "Su "};
    std::string s;
    for (int bit = 0; bit < 7; ++bit)
        if (days & (1 << bit))
            s += names[bit];
    return s;
}

std::string functionText(int levelFunc)
{
    if ((levelFunc & 0x0F) == 3)
        return "Off";
    return levelFunc > 0 ? "On" : "";
}

std::string levelText(int levelFunc)
{
    const int level = (levelFunc >> 4) & 0x0F;
    return level > 0 ? std::to_string(level) : std::string();
}

std::string securityText(int eventMode)
{
    return (eventMode & 0x0F) == 9 ? "S" : "";
}

std::string truncateUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

EventTable::EventTable()
    : m_ownNames(std::make_shared<state::DeviceNames>()), m_deviceNames(m_ownNames.get())
{
    initAll();
}

EventTable::EventTable(state::DeviceNames& names) : m_deviceNames(&names)
{
    initAll();
}

cp290::EventImage eventImage(const EventSettings& s)
{
    const int level = s.level & 0x0F;
    const int function = s.off ? 3 : (level > 0 ? 5 : 2);
    const int house = s.house >= 1 && s.house <= kHouseCount ? s.house : 1;
    int units1to8 = 0;
    int units9to16 = 0;
    for (int u = 1; u <= kUnitCount; ++u) {
        if (!((s.units >> (u - 1)) & 1))
            continue;
        if (u <= 8)
            units1to8 |= 0x80 >> (u - 1);
        else
            units9to16 |= 0x80 >> (u - 9);
    }
    return {
        static_cast<uint8_t>(s.security ? 9 : 8),
        static_cast<uint8_t>(s.days & 0x7F),
        static_cast<uint8_t>(s.hour),
        static_cast<uint8_t>(s.minute),
        static_cast<uint8_t>(units1to8),
        static_cast<uint8_t>(units9to16),
        static_cast<uint8_t>(cp290::HC[static_cast<size_t>(house)]),
        static_cast<uint8_t>(level * 16 + function),
    };
}

const EventRecord* EventTable::record(int n) const
{
    return validNumber(n) ? &m_eventRec[static_cast<size_t>(n)] : nullptr;
}

EventRecord* EventTable::record(int n)
{
    return validNumber(n) ? &m_eventRec[static_cast<size_t>(n)] : nullptr;
}

bool EventTable::isUsed(int n) const
{
    const EventRecord* r = record(n);
    return r && r->used();
}

void EventTable::InitEventRec(int n)
{
    if (EventRecord* r = record(n)) {
        *r = EventRecord{};
        r->eventNum = n;
    }
}

void EventTable::initAll()
{
    for (int n = 1; n <= kEventCount; ++n)
        InitEventRec(n);
}

int EventTable::EventListRec(int n)
{
    EventRecord* r = record(n);
    if (!r)
        return 0;
    m_curHC = cp290::houseIndexFromCode(r->houseCode, m_curHC);
    if (!r->used()) {
        // A free slot has no time, days or units to show, whatever bytes it
        // came with (sending all events writes free slots with mode 0).
        r->timeStr.clear();
        r->dayStr.clear();
        for (std::string& slot : r->devNames)
            slot.clear();
        return 0;
    }
    r->timeStr = timeText(r->hour, r->minute);
    r->dayStr = dayText(r->days);

    size_t k = 0;
    for (int u : r->unitNumbers())
        r->devNames[k++] = truncateUtf8(m_deviceNames->name(m_curHC, u), kDevNameMax);
    const int count = static_cast<int>(k);
    for (; k < r->devNames.size(); ++k)
        r->devNames[k].clear();
    return count;
}

bool EventTable::storeEvent(int n, const cp290::EventImage& img)
{
    EventRecord* r = record(n);
    if (!r)
        return false;
    r->eventNum = n;
    r->setImage(img);
    r->devCount = EventListRec(n);
    r->changed = true;
    return true;
}

void EventTable::storeUploaded(int n, const std::optional<cp290::EventImage>& img)
{
    EventRecord* rec = record(n);
    if (!rec)
        return;
    if (!img) {
        InitEventRec(n);
        return;
    }
    rec->eventNum = n;
    rec->setImage(*img);
    rec->devCount = EventListRec(n);
}

int EventTable::getNextNum(int n) const
{
    if (n >= kEventCount || n < 0)
        n = 0;
    for (int i = n + 1; i <= kEventCount; ++i)
        if (!isUsed(i))
            return i;
    for (int i = 1; i < n; ++i)
        if (!isUsed(i))
            return i;
    return 0;
}

int EventTable::getHighEvent() const
{
    for (int n = kEventCount; n >= 1; --n)
        if (isUsed(n))
            return n;
    return 0;
}

void EventTable::deleteEvents(const std::vector<int>& selected)
{
    for (int n : selected) {
        if (!validNumber(n))
            continue;
        InitEventRec(n);
        record(n)->changed = true;
    }
}

bool EventTable::matchesName(int n, const std::string& text) const
{
    const EventRecord* r = record(n);
    if (!r || text.empty())
        return false;
    const QString needle = QString::fromStdString(text);
    for (const std::string& slot : r->devNames)
        if (!slot.empty() && QString::fromStdString(slot).contains(needle, Qt::CaseInsensitive))
            return true;
    return false;
}

std::vector<int> EventTable::findByName(const std::string& text) const
{
    std::vector<int> found;
    for (int n = 1; n <= kEventCount; ++n)
        if (matchesName(n, text))
            found.push_back(n);
    return found;
}

void EventTable::refreshNames()
{
    const int house = m_curHC;
    for (int n = 1; n <= kEventCount; ++n)
        if (isUsed(n))
            EventListRec(n);
    m_curHC = house;
}

bool EventTable::hasUnsavedChanges() const
{
    for (int n = 1; n <= kEventCount; ++n)
        if (m_eventRec[static_cast<size_t>(n)].changed)
            return true;
    return false;
}

void EventTable::clearChanged()
{
    for (auto& r : m_eventRec)
        r.changed = false;
}

void EventTable::setCurHC(int house)
{
    if (house >= 1 && house <= kHouseCount)
        m_curHC = house;
}

std::string devicesText(const EventRecord& r, const state::DeviceNames& names)
{
    if (!r.used())
        return {};
    const int house = cp290::houseIndexFromCode(r.houseCode, 0);
    const char letter = house >= 1 && house <= kHouseCount ? cp290::HLetters[house - 1] : '?';
    std::string text;
    for (int unit : r.unitNumbers()) {
        if (!text.empty())
            text += ", ";
        text += letter + std::to_string(unit);
        const std::string& name = names.name(house, unit);
        if (!name.empty() && name != state::defaultDeviceName(unit))
            text += " " + name;
    }
    return text;
}

bool devicesBefore(const EventRecord& a, const EventRecord& b)
{
    const auto key = [](const EventRecord& r) {
        return std::make_pair(r.used() ? cp290::houseIndexFromCode(r.houseCode, 0) : 0, r.unitNumbers());
    };
    return key(a) < key(b);
}

}  // namespace core
