#pragma once
// The controller's table of the CP290's 128 timer events.
//
// Principles of operation: record n (1..128) is event n; record 0 does not
// exist to callers. A record holds the eight fields of the CP290 event image,
// the display texts and unit names built from them (EventListRec), the count
// of names and a changed flag. A slot is used when its levelFunc is not 0;
// downloads, files, the list and every search tell used from free by that
// alone. Every entry point takes any int and does nothing (or answers 0 /
// nullptr) for a number that has no slot, so no caller can reach outside the
// table. Texts are bounded at the widths the stored formats allow: a unit
// name slot holds at most 29 bytes, a device name at most 99.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/cp290_protocol.h"
#include "state/device_names.h"

namespace core {

constexpr int kEventCount = cp290::kMaxEvents;  // 128
constexpr int kHouseCount = 16;
constexpr int kUnitCount = 16;
constexpr size_t kDevNameMax = 29;  // bytes of one unit-name slot, terminator excluded

// One timer event. The eight CP290 fields hold 0..255.
struct EventRecord {
    int eventNum = 0;
    int eventMode = 0;   // 8 normal, 9 security
    int days = 0;        // bit 0 Monday ... bit 6 Sunday
    int hour = 0;
    int minute = 0;
    int units1to8 = 0;   // bit 7 = unit 1
    int units9to16 = 0;  // bit 7 = unit 9
    int houseCode = 0x60;
    int levelFunc = 0;   // level in the high nibble, function (2 on, 3 off, 5 dim) in the low
    int devCount = 0;    // names held in devNames, 0..16
    bool changed = false;
    std::string timeStr;  // "09:30 AM", empty for a free slot
    std::string dayStr;   // "M Tu W ", empty when no day
    std::array<std::string, kUnitCount> devNames;

    bool used() const { return levelFunc != 0; }
    // The units the event switches, 1..16 ascending (unit 1 = bit 7 of units1to8).
    std::vector<int> unitNumbers() const;
    cp290::EventImage image() const;  // the 8 bytes sent to the CP290 and stored in files
    void setImage(const cp290::EventImage& img);
};

// Time text of the list: "12:00 AM", "09:30 AM", "01:07 PM".
std::string timeText(int hour, int minute);
// Day text of the list: "M Tu W Th F Sa Su " for every day, "" for none.
std::string dayText(int days);
// List column texts: "On" / "Off" / "" ; the level as "%d" or "" ; "S" for security or "".
std::string functionText(int levelFunc);
std::string levelText(int levelFunc);
std::string securityText(int eventMode);
// The devices an event switches: "A1 Porch lamp, A3" (a unit's name follows
// its number unless it is the default "Device n"); "" for a free slot.
std::string devicesText(const EventRecord& r, const state::DeviceNames& names);
// The order of the devices column: by house, then by the units as numbers
// (A2 before A10); free slots first.
bool devicesBefore(const EventRecord& a, const EventRecord& b);

// What the event editor offers for one event; eventImage() makes the CP290's
// eight bytes of it (the editor, cp290ctl and tests share this one encoding).
struct EventSettings {
    int house = 1;          // 1..16 = A..P
    bool off = false;       // function: on (dim when level > 0) or off
    int level = 0;          // dim level 0..15
    bool security = false;  // mode 9 instead of 8
    int days = 0;           // bit 0 Monday ... bit 6 Sunday
    int hour = 0;
    int minute = 0;
    int units = 0;          // bit u - 1 = unit u (1..16)
};
// mode = 8 or 9; levelFunc = level x 16 + 5 (on with a level), 2 (on) or 3 (off);
// units 1..8 and 9..16 with the lowest unit in bit 7; a house outside 1..16 is A.
cp290::EventImage eventImage(const EventSettings& s);

// Cuts UTF-8 text to at most maxBytes without splitting a character.
std::string truncateUtf8(const std::string& text, size_t maxBytes);

class EventTable {
public:
    EventTable();  // every record empty, curHC 1, default device names of its own
    // Unit names taken from `names`, which must outlive the table (the
    // controller's one set of device names).
    explicit EventTable(state::DeviceNames& names);

    static bool validNumber(int n) { return n >= 1 && n <= kEventCount; }

    // nullptr for a number without a slot.
    const EventRecord* record(int n) const;
    EventRecord* record(int n);
    bool isUsed(int n) const;  // false for a number without a slot

    // Empty state: all image bytes 0 but houseCode 0x60, no texts, devCount 0, changed 0.
    void InitEventRec(int n);
    void initAll();  // InitEventRec(1..128)

    // Rebuilds timeStr, dayStr and devNames of record n from its CP290
    // fields, sets curHC to its house (kept when the code matches none) and
    // returns the number of names written. devCount and changed are left alone.
    // A free slot gets empty texts and no names, whatever its other bytes.
    int EventListRec(int n);

    // Stores an event as the editor does: the eight fields, texts and names
    // rebuilt, devCount = their count, changed = 1. False (nothing stored)
    // for a number without a slot.
    bool storeEvent(int n, const cp290::EventImage& img);

    // Stores slot n as the CP290 reported it in an upload (nullopt: empty),
    // with its texts and names rebuilt (an empty slot is reset whole).
    void storeUploaded(int n, const std::optional<cp290::EventImage>& img);

    // First free slot after n, wrapping to slot 1; never n itself; 0 when none.
    int getNextNum(int n) const;
    // Highest used event number; 0 when none is used.
    int getHighEvent() const;

    // The table side of a delete: every selected number is reset and marked
    // changed (it goes to the CP290 as an empty event). Numbers without a
    // slot are ignored.
    void deleteEvents(const std::vector<int>& selected);

    // Name search: an event matches when one of its name slots contains the
    // text, ignoring case (ASCII letters). Empty text and empty slots match nothing.
    bool matchesName(int n, const std::string& text) const;
    std::vector<int> findByName(const std::string& text) const;  // ascending, each once

    // The device names changed: every used record's unit names are built
    // again (texts, devCount, changed flags and curHC stay as they were).
    void refreshNames();

    bool hasUnsavedChanges() const;  // any changed flag set
    void clearChanged();             // every flag, used or not

    int curHC() const { return m_curHC; }
    void setCurHC(int house);  // ignored outside 1..16

    state::DeviceNames& deviceNames() { return *m_deviceNames; }
    const state::DeviceNames& deviceNames() const { return *m_deviceNames; }

private:
    std::array<EventRecord, kEventCount + 1> m_eventRec;  // index 0 unused
    std::shared_ptr<state::DeviceNames> m_ownNames;  // when none was given
    state::DeviceNames* m_deviceNames;
    int m_curHC = 1;
};

}  // namespace core
