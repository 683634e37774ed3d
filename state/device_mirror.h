#pragma once
// The device mirror: what the CP290 should hold, so a CP290 that lost its
// memory (a power cut with a flat backup battery) can be noticed and put
// back as it was.
//
// Principles of operation: <state folder>/device-mirror holds the base house
// code (once a reply or a change told it), the 128 event slots and when each
// last changed, and when a lost memory was last seen and put back. Every
// program updates it after the CP290 acknowledged a change, and from every
// complete read of a CP290 that still holds its memory (the device is the
// truth while it remembers). A deliberate erase (self test, new base house
// code) empties its events. A slot counts as used exactly when its level and
// function byte is not 0 (what an event with nothing to do reads back as),
// so free slots compare equal however the device reports them.
//
// Changes go through updateDeviceMirror(): read, change and write whole
// under an flock of <state folder>/device-mirror.lock, so two programs never
// lose each other's change. The file is text, written whole (a symbolic link
// in its place is replaced, never written through) and read only when it is
// a regular file of at most 64 KiB whose every line parses:
//
//   cp290 device mirror 1
//   base 60                          the base house code, hex (absent: unknown)
//   event 7 087f061e80006002 1765000000   a used slot, its image, when it changed
//   free 9 1765000000                a slot emptied, and when (absent: never used)
//   lost 1765000000 tamsel           a lost memory last seen, by whom
//   restored 1765000000 23 tamsel    the last restore, its events, by whom
//
// The restore mark (<state folder>/restore-pending) exists from before a
// restore's first frame until it is done, so a restore stopped partway is
// finished by the next run whatever the device answers then.
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace state {

using MirrorImage = std::array<uint8_t, 8>;  // an event as the CP290 stores it
constexpr int kMirrorSlots = 128;
using MirrorSlots = std::array<std::optional<MirrorImage>, kMirrorSlots + 1>;  // index 0 unused

// Used slot: its level and function byte is not 0 (and it is no empty-slot mark).
bool mirrorSlotUsed(const std::optional<MirrorImage>& img);

struct DeviceMirror {
    std::optional<uint8_t> baseCode;
    MirrorSlots events;                           // only used slots hold an image
    std::array<std::time_t, kMirrorSlots + 1> changed{};  // 0: never changed
    std::time_t lostAt = 0;
    std::string lostBy;
    std::time_t restoredAt = 0;
    int restoredEvents = 0;
    std::string restoredBy;

    bool operator==(const DeviceMirror&) const = default;
    int eventCount() const;
    bool holdsEvents() const { return eventCount() > 0; }
    // The latest change of an event slot (0 when none): what the events date from.
    std::time_t eventsSince() const;
    // Slot n as the device acknowledged it at `when` (a free slot when unused).
    void setEvent(int n, const std::optional<MirrorImage>& img, std::time_t when);
    // A deliberate erase: every used slot becomes free.
    void eraseEvents(std::time_t when);
    // A complete read of a device that holds its memory: the slots become the device's.
    void setAllEvents(const MirrorSlots& device, std::time_t when);
    // True when the device's slots hold exactly the mirror's events.
    bool matches(const MirrorSlots& device) const;
};

std::string deviceMirrorPath();
std::string restoreMarkPath();

enum class MirrorState { None, Read, Unusable };
struct MirrorRead {
    MirrorState state = MirrorState::None;
    DeviceMirror mirror;
    std::string why;  // Unusable: what was wrong, for a log line
};
MirrorRead readDeviceMirror();

// Read, change, write whole, under the mirror's lock. 0, or the errno of the
// failing step; EINVAL when the stored mirror is unusable and the change
// does not replace it (`replacesUnusable`: a complete read of the device).
int updateDeviceMirror(const std::function<void(DeviceMirror&)>& change, bool replacesUnusable = false);

struct RestoreMark {
    std::time_t since = 0;
    std::string by;  // the program that began the restore
};
// The pending restore, nullopt when none. Anything at the mark's path counts
// as pending (`since` 0 when it cannot be read).
std::optional<RestoreMark> readRestoreMark();
// 0, or the errno of the failing step (the folder is made when missing).
int writeRestoreMark(const RestoreMark& mark);
// 0 when there is no mark any more, else the errno of the removal.
int clearRestoreMark();

}  // namespace state
