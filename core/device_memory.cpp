#include "core/device_memory.h"

#include <cstring>

#include "core/event_table.h"
#include "core/snapshot.h"
#include "link/device_commands.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"

namespace core::memory {
namespace {

// A lost memory this process noticed and nobody has put back or left empty
// yet: until then no read changes the mirror (a clock set in between makes a
// wiped CP290 answer 1 with nothing in it).
bool g_lostOpen = false;

std::function<void(const LostMemory&)>& lostHandler()
{
    static std::function<void(const LostMemory&)> handler;
    return handler;
}

void update(Program who, const std::function<void(state::DeviceMirror&)>& change, bool replacesUnusable = false)
{
    if (const int err = state::updateDeviceMirror(change, replacesUnusable); err != 0)
        platform::logf("%s Error - Device mirror %s not written - %s(%d).\n", programName(who),
                       state::deviceMirrorPath().c_str(), std::strerror(err), err);
}

std::string stamp(std::time_t t)
{
    const std::tm tm = platform::localTime(t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

int usedCount(const state::MirrorSlots& slots)
{
    int count = 0;
    for (const auto& s : slots)
        count += state::mirrorSlotUsed(s);
    return count;
}

// Reads all 128 slots on an open line (a failure is logged by the link).
cp290::LinkResult upload(cp290::SerialLine& line, state::MirrorSlots& slots)
{
    int got = 0;
    const cp290::LinkResult r = cp290::uploadEvents(line, [&](int n, const std::optional<cp290::EventImage>& img) {
        if (n >= 1 && n <= state::kMirrorSlots) {
            slots[size_t(n)] = img;
            ++got;
        }
        return true;
    });
    return r.ok() && got != state::kMirrorSlots ? cp290::LinkResult{cp290::LinkStatus::Timeout, 0} : r;
}

}  // namespace

std::optional<state::DeviceMirror> loadMirror(Program who)
{
    const state::MirrorRead r = state::readDeviceMirror();
    if (r.state == state::MirrorState::Unusable) {
        platform::logf("%s Error - Device mirror %s %s; ignored.\n", programName(who), state::deviceMirrorPath().c_str(),
                       r.why.c_str());
        return std::nullopt;
    }
    return r.mirror;
}

void noteSent(Program who, const std::vector<std::pair<int, cp290::EventImage>>& sent)
{
    if (sent.empty())
        return;
    const std::time_t now = platform::now();
    update(who, [&](state::DeviceMirror& m) {
        for (const auto& [n, img] : sent)
            m.setEvent(n, img, now);
    });
}

void noteRead(Program who, uint8_t status, const state::MirrorSlots& device)
{
    // A device that answers 0 holds nothing worth keeping; a pending restore
    // keeps the mirror as it is until done.
    if (status != 1 || g_lostOpen || state::readRestoreMark())
        return;
    const std::time_t now = platform::now();
    update(who, [&](state::DeviceMirror& m) { m.setAllEvents(device, now); }, true);
}

void noteClockReply(Program who, uint8_t status, uint8_t baseCode)
{
    if (status == 1)
        update(who, [&](state::DeviceMirror& m) { m.baseCode = baseCode; });
}

void noteBaseCode(Program who, uint8_t baseCode)
{
    const std::time_t now = platform::now();
    update(who, [&](state::DeviceMirror& m) {
        m.baseCode = baseCode;
        m.eraseEvents(now);
    });
}

void noteSelfTest(Program who)
{
    const std::time_t now = platform::now();
    update(who, [&](state::DeviceMirror& m) { m.eraseEvents(now); });
}

void noteLeftEmpty(Program who)
{
    g_lostOpen = false;
    noteSelfTest(who);
    if (const int err = state::clearRestoreMark(); err != 0)
        platform::logf("%s Error - Restore mark %s not removed - %s(%d).\n", programName(who),
                       state::restoreMarkPath().c_str(), std::strerror(err), err);
}

std::optional<LostMemory> checkLost(Program who, uint8_t status, const state::MirrorSlots* device)
{
    if (status != 0)
        return std::nullopt;
    const std::optional<state::DeviceMirror> m = loadMirror(who);
    if (!m || !m->holdsEvents() || (device && m->matches(*device)))
        return std::nullopt;
    const LostMemory lost{m->eventCount(), m->eventsSince()};
    // Logged and stamped once while it is open: a new loss after a restore is news again.
    if (!g_lostOpen) {
        g_lostOpen = true;
        platform::logf("%s - The CP290 has lost its memory: it answers status 0 and no longer holds the %d events "
                       "it held on %s.\n",
                       programName(who), lost.events, stamp(lost.since).c_str());
        const std::time_t now = platform::now();
        update(who, [&](state::DeviceMirror& mm) {
            mm.lostAt = now;
            mm.lostBy = programName(who);
        });
    }
    return lost;
}

void setLostMemoryHandler(std::function<void(const LostMemory&)> handler)
{
    lostHandler() = std::move(handler);
}

void tellLostMemory(const LostMemory& lost)
{
    if (lostHandler())
        lostHandler()(lost);
}

std::string restoredText(int events, std::time_t since)
{
    return "CP290 memory restored: " + std::to_string(events) + (events == 1 ? " event" : " events") + " from " +
           stamp(since);
}

RestoreResult restore(Program who, const char* tool, cp290::SerialLine& line, const std::string& serPath,
                      const state::DeviceMirror& mirror, const state::MirrorSlots* before,
                      const state::MirrorSlots* from)
{
    RestoreResult r;
    r.attempted = true;
    const char* const P = programName(who);
    const std::time_t now = platform::now();
    const state::MirrorSlots& target = from ? *from : mirror.events;
    const int count = usedCount(target);
    auto fail = [&](const std::string& why, cp290::LinkResult link = {}) {
        r.link = link;
        platform::logf("%s Error - CP290 memory not restored: %s.\n", P, why.c_str());
        r.summary = "CP290 memory not restored: " + why;
        return r;
    };
    if (line.fd() < 0)
        if (const cp290::LinkResult lr = line.open(serPath); !lr.ok())
            return fail("could not open " + serPath, lr);
    state::MirrorSlots held;
    if (before)
        held = *before;
    else if (const cp290::LinkResult lr = upload(line, held); !lr.ok())
        return fail("its events could not be read", lr);
    r.held = held;

    // What the device held before, for a person to see (and send back).
    EventTable table;
    for (int n = 1; n <= kEventCount; ++n)
        table.storeUploaded(n, held[size_t(n)]);
    const SnapshotResult snap = writeSnapshot(table, tool, now);
    if (snap.ok())
        r.snapshot = snap.path;
    else
        platform::logf("%s Error - Snapshot %s not written - %s(%d).\n", P, snap.path.c_str(),
                       std::strerror(snap.error), snap.error);

    if (!from) {
        if (const int err = state::writeRestoreMark({now, P}); err != 0)
            return fail(platform::format("the restore mark %s could not be written (%s); nothing sent",
                                         state::restoreMarkPath().c_str(), std::strerror(err)));
    }
    const std::time_t since = from ? now : mirror.eventsSince();
    platform::logf("%s - Restoring the CP290's memory: %d events from %s.\n", P, count, stamp(since).c_str());
    const std::string later = from ? "" : "; the next run finishes it";
    // A new base house code erases the device's events: a clean start.
    const bool erased = mirror.baseCode.has_value();
    if (erased)
        if (const cp290::LinkResult lr = cp290::sendBaseCode(line, *mirror.baseCode); !lr.ok())
            return fail("the base house code was not acknowledged" + later, lr);
    int sent = 0;
    for (int n = 1; n <= state::kMirrorSlots; ++n) {
        const size_t i = size_t(n);
        const bool used = state::mirrorSlotUsed(target[i]);
        if (!used && (erased || !state::mirrorSlotUsed(held[i])))
            continue;
        if (const cp290::LinkResult lr = cp290::sendEvent(line, n, used ? *target[i] : cp290::emptyEventImage());
            !lr.ok())
            return fail(platform::format("event %d was not acknowledged after %d events", n, sent) + later, lr);
        sent += used;
    }
    if (const cp290::LinkResult lr = cp290::sendClock(line, platform::localTime(platform::now())); !lr.ok())
        return fail("the clock was not acknowledged" + later, lr);
    if (!from) {
        if (const int err = state::clearRestoreMark(); err != 0)
            platform::logf("%s Error - Restore mark %s not removed - %s(%d).\n", P, state::restoreMarkPath().c_str(),
                           std::strerror(err), err);
    }
    update(who, [&](state::DeviceMirror& m) {
        if (from) {
            m.setAllEvents(*from, now);
            if (mirror.baseCode)
                m.baseCode = mirror.baseCode;
        }
        m.restoredAt = now;
        m.restoredEvents = count;
        m.restoredBy = P;
    }, true);
    g_lostOpen = false;
    r.ok = true;
    r.events = count;
    r.held = target;
    r.summary = restoredText(count, since);
    platform::logf("%s - %s.\n", P, r.summary.c_str());
    return r;
}

RestoreResult guardRun(Program who, const char* tool, cp290::SerialLine& line, const std::string& serPath,
                       std::optional<uint8_t> status, const state::MirrorSlots* device)
{
    const std::optional<state::RestoreMark> mark = state::readRestoreMark();
    const std::optional<LostMemory> lost = status ? checkLost(who, *status, device) : std::nullopt;
    if (!lost && !mark)
        return {};
    const std::optional<state::DeviceMirror> m = loadMirror(who);
    if (!m) {
        RestoreResult r;
        r.attempted = true;
        r.summary = "CP290 memory not restored: the device mirror is unusable";
        return r;
    }
    if (!m->holdsEvents() && !m->baseCode && !lost) {
        state::clearRestoreMark();  // nothing to put back
        return {};
    }
    if (!lost)
        platform::logf("%s - Finishing the restore of the CP290's memory begun by %s.\n", programName(who),
                       mark->by.empty() ? "an earlier run" : mark->by.c_str());
    RestoreResult r = restore(who, tool, line, serPath, *m, device);
    if (lost)
        r.summary = "the CP290 had lost its memory; " + r.summary;
    return r;
}

}  // namespace core::memory
