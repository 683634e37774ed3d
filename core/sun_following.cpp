#include "core/sun_following.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/automation_status.h"
#include "core/correction_run.h"
#include "core/snapshot.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "state/preferences.h"

namespace core::sunfollow {
namespace {

constexpr int32_t kMinutesPerDay = 24 * 60;

state::RefDate& referenceOf(state::ControllerCorrections& c, int kind)
{
    return kind == kSunrise ? c.SUTime : c.SDTime;
}

bool sunKind(int kind)
{
    return kind == kSunrise || kind == kSunset;
}

// The run's hour step for an entry whose time was set with zone flag `zone`.
int32_t hourStep(int32_t zone, uint8_t dst)
{
    if (zone == 0 && dst == 1)
        return 60;
    if (zone == 1 && dst == 0)
        return -60;
    return 0;
}

class QuietRun : public suncorrection::RunUi {
public:
    void phase(const char*) override {}
    void progress(int) override {}
    void hide() override {}
    void nothingNeeded() override {}
};

FollowOutcome failed(FollowStatus status, std::string message)
{
    FollowOutcome o;
    o.status = status;
    o.message = std::move(message);
    return o;
}

FollowOutcome deviceFailed(const OpResult& r, const std::string& device)
{
    FollowOutcome o = failed(FollowStatus::DeviceFailed, describe(r, device));
    o.op = r;
    return o;
}

}  // namespace

state::DeviceNames storedDeviceNames()
{
    state::Preferences prefs;
    state::PreferencesUi none;
    state::ReadParms(prefs, {}, none);
    return prefs.deviceNames;
}

const char* kindName(int kind)
{
    switch (kind) {
    case kSunrise: return "sunrise";
    case kSunset: return "sunset";
    case kDst: return "dst";
    default: return "?";
    }
}

int kindFromName(const std::string& name)
{
    std::string lower;
    for (const char ch : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const int kind : {kSunrise, kSunset, kDst})
        if (lower == kindName(kind))
            return kind;
    return 0;
}

std::optional<int32_t> SunToday::time(int kind) const
{
    return kind == kSunrise ? sunrise : kind == kSunset ? sunset : std::nullopt;
}

std::optional<int32_t> SunToday::timeOn(int kind, const state::RefDate& d) const
{
    if (!place || !sunKind(kind) || !d.held())
        return std::nullopt;
    const int32_t day = sun::CalcDay(d.year, d.month, d.day);
    return kind == kSunrise ? sun::SunUp(*place, day) : sun::SunDown(*place, day);
}

SunToday sunToday(state::Program who)
{
    SunToday t;
    t.place = sun::getLocInfo(who);
    if (t.place) {
        const std::tm& g = t.place->GregDate;
        t.date = state::RefDate{static_cast<int16_t>(g.tm_year + 1900), static_cast<int16_t>(g.tm_mon + 1),
                                static_cast<int16_t>(g.tm_mday)};
        t.DST = t.place->DST;
        t.sunrise = t.timeOn(kSunrise, t.date);
        t.sunset = t.timeOn(kSunset, t.date);
    } else {
        t.date = state::today();
        t.DST = platform::localTime(platform::now()).tm_isdst > 0 ? 1 : 0;
    }
    return t;
}

int32_t minutesBetween(int32_t from, int32_t to)
{
    int32_t d = (to - from) % kMinutesPerDay;
    if (d > kMinutesPerDay / 2)
        d -= kMinutesPerDay;
    else if (d <= -kMinutesPerDay / 2)
        d += kMinutesPerDay;
    return d;
}

std::optional<ImpliedOffset> impliedOffset(const SunToday& today, int kind, int32_t eventTime)
{
    const std::optional<int32_t> sunTime = today.time(kind);
    if (!sunTime)
        return std::nullopt;
    ImpliedOffset o{kind, eventTime, *sunTime, minutesBetween(*sunTime, eventTime), false};
    o.farFromSun = o.offset > kFarFromSun || o.offset < -kFarFromSun;
    return o;
}

std::optional<int32_t> followTime(const SunToday& today, int kind, int32_t offset)
{
    const std::optional<int32_t> sunTime = today.time(kind);
    if (!sunTime || *sunTime + offset < 0 || *sunTime + offset >= kMinutesPerDay)
        return std::nullopt;
    return *sunTime + offset;
}

std::string deviceNamesOf(const EventRecord& r)
{
    std::string out;
    for (int k = 0; k < r.devCount && k < kUnitCount; ++k)
        if (!r.devNames[static_cast<size_t>(k)].empty())
            out += (out.empty() ? "" : ", ") + r.devNames[static_cast<size_t>(k)];
    return out;
}

FollowedEvent followedEvent(const state::ControllerCorrections& c, int slot, const EventTable& events,
                            const SunToday& today)
{
    const state::CorrectionRecord& e = c.VeskNumRecs[static_cast<size_t>(slot)];
    FollowedEvent row;
    row.slot = slot;
    row.event = e.eventNumber;
    row.kind = e.corrType;
    row.protect = e.protect != 0;
    const EventRecord* r = events.record(e.eventNumber);
    row.held = r && r->used();
    if (!row.held)
        return row;
    row.time = r->hour * 60 + r->minute;
    row.devices = deviceNamesOf(*r);
    const std::optional<int32_t> sunNow = today.time(e.corrType);
    if (!sunNow)
        return row;
    // As a run brings it to today: the sun's movement since the reference
    // date (none when it has none or no sun time then) and the hour step.
    const state::RefDate& ref = e.corrType == kSunrise ? c.SUTime : c.SDTime;
    const std::optional<int32_t> sunThen = today.timeOn(e.corrType, ref);
    const int32_t moved = sunThen ? minutesBetween(*sunThen, *sunNow) : 0;
    row.offset = minutesBetween(*sunNow, row.time + moved + hourStep(e.zone, today.DST));
    return row;
}

std::vector<FollowedEvent> followedEvents(const state::ControllerCorrections& c, const EventTable& events,
                                          const SunToday& today)
{
    std::vector<FollowedEvent> rows;
    for (int slot = 1; slot <= state::kMaxCorrections; ++slot)
        if (c.VeskNumRecs[static_cast<size_t>(slot)].eventNumber > 0)
            rows.push_back(followedEvent(c, slot, events, today));
    return rows;
}

bool behindToday(const state::ControllerCorrections& c, int kind, const SunToday& today)
{
    if (!sunKind(kind))
        return false;
    const state::RefDate& ref = kind == kSunrise ? c.SUTime : c.SDTime;
    return ref.held() && !(ref == today.date);
}

ListResult listFollowing(state::ControllerCorrections& c, int event, int kind, std::optional<bool> protect,
                         bool timeSetToday, const SunToday& today)
{
    ListResult out;
    CorrectionList list(c);
    const int slot = list.slotOf(event);
    const int32_t flag = protect ? (*protect ? 1 : 0) : slot ? c.VeskNumRecs[static_cast<size_t>(slot)].protect : 1;
    c.DST = today.DST;
    out.edit = list.addOrUpdate(event, kind, flag);
    if (out.edit.outcome != CorrectionEditOutcome::Added && out.edit.outcome != CorrectionEditOutcome::Updated)
        return out;
    if (timeSetToday)
        c.VeskNumRecs[static_cast<size_t>(out.edit.slot)].zone = today.DST;
    if (behindToday(c, kind, today)) {
        state::RefDate& ref = referenceOf(c, kind);
        const std::optional<int32_t> then = today.timeOn(kind, ref);
        const std::optional<int32_t> now = today.time(kind);
        // Nothing for a run to move: the kind's events match today as well.
        if (then && now && *then == *now)
            ref.clear();  // stored as today by writeVeskParms
        else
            out.referenceToday = false;
    }
    return out;
}

int bringUpToToday(const std::string& devicePath)
{
    QuietRun quiet;
    return suncorrection::myTimerproc(quiet, devicePath);
}

FollowOutcome follow(const FollowRequest& req, const std::string& devicePath, OperationsUi& ui,
                     const std::string& tool, state::Program who)
{
    if (!EventTable::validNumber(req.event))
        return failed(FollowStatus::BadArgument, "an event number is 1 to 128");
    if (req.kind != kSunrise && req.kind != kSunset && req.kind != kDst)
        return failed(FollowStatus::BadArgument, "the kind is sunrise, sunset or dst");
    if (req.kind == kDst && req.offset)
        return failed(FollowStatus::BadArgument, "an offset is for sunrise or sunset, not dst");

    SunToday today = sunToday(who);
    if (sunKind(req.kind) && !today.place)
        return failed(FollowStatus::NoLocation,
                      "no location is known: store one (cp290ctl sun location LAT LON) or set a time zone");
    if (req.offset && !today.time(req.kind))
        return failed(FollowStatus::NoSunTime,
                      std::string("there is no ") + kindName(req.kind) + " here today");
    if (req.offset && !followTime(today, req.kind, *req.offset))
        return failed(FollowStatus::LeavesDay, platform::format("today's %s %+d min leaves the day",
                                                                kindName(req.kind), *req.offset));

    state::DeviceNames names = storedDeviceNames();
    EventTable table(names);
    Cp290Operations ops(table, ui);
    ops.setDevicePath(devicePath);
    state::ControllerCorrections c;
    state::getVeskParms(c);

    FollowOutcome out;
    if (behindToday(c, req.kind, today)) {
        out.correctedFirst = true;
        if (const int status = bringUpToToday(devicePath); status != 0) {
            FollowOutcome f = failed(FollowStatus::CorrectionFailed,
                                     std::string("the ") + kindName(req.kind) +
                                         " events could not be brought up to today (see cp290ctl status)");
            f.runStatus = status;
            return f;
        }
        state::getVeskParms(c);
        today = sunToday(who);
    }
    if (const OpResult r = ops.GetEventList(); !r.ok())
        return deviceFailed(r, devicePath);
    EventRecord* rec = table.record(req.event);
    if (!rec->used())
        return failed(FollowStatus::NotStored, platform::format("the CP290 holds no event %d", req.event));

    // Checked again: the day may have turned while the kind was brought up to it.
    const std::optional<int32_t> newTime = req.offset ? followTime(today, req.kind, *req.offset) : std::nullopt;
    if (req.offset && !newTime)
        return failed(FollowStatus::LeavesDay, "today's sun time plus the offset leaves the day");
    if (req.offset) {
        const SnapshotResult snap = writeSnapshot(table, tool, platform::now());
        out.snapshot = snap.path;
        if (!snap.ok())
            return failed(FollowStatus::SnapshotFailed, "snapshot " + snap.path + " not written: " +
                                                            std::strerror(snap.error) + "; nothing sent");
        const int32_t t = *newTime;
        cp290::EventImage img = rec->image();
        img[2] = static_cast<uint8_t>(t / 60);
        img[3] = static_cast<uint8_t>(t % 60);
        table.clearChanged();
        table.storeEvent(req.event, img);
        if (const OpResult r = ops.SendEventList(SendSelected, {req.event}); !r.ok()) {
            FollowOutcome f = deviceFailed(r, devicePath);
            f.snapshot = out.snapshot;
            return f;
        }
    }

    const ListResult listed = listFollowing(c, req.event, req.kind, req.protect, req.offset.has_value(), today);
    const bool added =
        listed.edit.outcome == CorrectionEditOutcome::Added || listed.edit.outcome == CorrectionEditOutcome::Updated;
    if (!added || !state::writeVeskParms(c)) {
        FollowOutcome f = failed(FollowStatus::NotWritten, added ? "the correction list could not be stored"
                                                                 : "the correction list is full (128 events)");
        f.snapshot = out.snapshot;  // the event was sent: the way back
        return f;
    }
    // The list as stored: today's date for a kind that had none.
    state::getVeskParms(c);
    out.row = followedEvent(c, CorrectionList(c).slotOf(req.event), table, today);
    out.implied = impliedOffset(today, req.kind, rec->hour * 60 + rec->minute);
    return out;
}

namespace {
template <typename Edit>
ListEditStatus editStored(int event, Edit edit)
{
    state::ControllerCorrections c;
    state::getVeskParms(c);
    const int slot = CorrectionList(c).slotOf(event);
    if (!slot)
        return ListEditStatus::NotListed;
    edit(c, slot);
    return state::writeVeskParms(c) ? ListEditStatus::Done : ListEditStatus::NotWritten;
}
}  // namespace

ListEditStatus unfollow(int event)
{
    return editStored(event, [](state::ControllerCorrections& c, int slot) { CorrectionList(c).remove({slot}); });
}

ListEditStatus setProtect(int event, bool protect)
{
    return editStored(event, [protect](state::ControllerCorrections& c, int slot) {
        c.VeskNumRecs[static_cast<size_t>(slot)].protect = protect ? 1 : 0;
    });
}

std::optional<bool> correctionRunPlanned()
{
    std::string crontab;
    if (!state::listCrontab("Quorvel", state::kHelperBound, crontab))
        return std::nullopt;
    return plannedWeekly(crontab, state::PairKind::Correction).has_value();
}

}  // namespace core::sunfollow
