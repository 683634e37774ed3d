// veskarn end to end: the program run as cron runs it (no display), against
// the emulator, in New York time on fixed dates.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QStringList>
#include <atomic>
#include <csignal>
#include <chrono>
#include <thread>
#include <filesystem>

#include "tests/support/test_support.h"
#include "core/correction_run.h"
#include "core/solar_time.h"
#include "state/location.h"

using testing_support::readFile;
using testing_support::runProgram;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

// Local noon in America/New_York.
constexpr const char* kMar2 = "1141318800";   // Thu 2 March 2006, standard time
constexpr const char* kApr2 = "1143993600";   // Sun 2 April 2006, first day of daylight-saving time
constexpr const char* kOct30 = "1162227600";  // Mon 30 October 2006, standard time again
constexpr const char* kJun21 = "1150905600";  // Wed 21 June 2006
constexpr const char* kMar9 = "1141923600";   // Thu 9 March 2006

constexpr uint8_t kMon = 0x01, kTue = 0x02, kSun = 0x40;

cp290::EventImage event(uint8_t days, int hour, int minute)
{
    return {8, days, static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), 0x80, 0x00, 0x60, 0x02};
}

class VeskarnTest : public testing_support::SimTest {
protected:
    std::string domainFile() const { return m_config.file("Veskarn.conf"); }

    void storeSerialPath(const std::string& path) { testing_support::storeSerialPath(m_config.path(), path); }

    // The list as the controller saves it, the reference dates, and 40 deg 45' N 73 deg 59' W.
    void storeList(const std::vector<testing_support::CorrectionEntry>& entries, int mo, int da, int yr,
                   const char* latitude = "40.7514", const char* longitude = "-73.9847")
    {
        testing_support::storeCorrections(domainFile(), entries, mo, da, yr, latitude, longitude);
    }

    QVariant stored(const char* key)
    {
        QSettings s(QString::fromStdString(domainFile()), QSettings::IniFormat);
        return s.value(key);
    }

    // As under cron unless a display is given.
    RunResult runVeskarn(const char* now, const char* display = "", int timeoutMs = 60000)
    {
        return runProgram("veskarn", {},
                          {{"XDG_CONFIG_HOME", m_config.path()},
                           {"XDG_STATE_HOME", m_state.path()},
                           {"HOME", m_state.path()},
                           {"CP290_SERIAL_DEVICES", devicePath()},
                           {"CP290_LOG_STDERR", "1"},
                           {"CP290_NOW", now},
                           {"TZ", "America/New_York"},
                           {"QT_QPA_PLATFORM", *display ? "offscreen" : ""},
                           {"DISPLAY", display},
                           {"WAYLAND_DISPLAY", ""}},
                          timeoutMs);
    }

    std::vector<int> downloads() const { return testing_support::downloadedEvents(*m_sim); }

    static bool has(const RunResult& r, const std::string& text) { return r.err.find(text) != std::string::npos; }

    TempDir m_config;
    TempDir m_state;
};

}  // namespace

TEST_F(VeskarnTest, FirstToSecondOfMarchThenNothingMore)
{
    storeSerialPath(devicePath());
    storeList({{1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 1, 0}}, 3, 1, 2006);
    device().setEvent(1, event(kMon, 6, 30));
    device().setEvent(2, event(kMon, 18, 45));
    device().setEvent(3, event(kMon, 22, 0));
    device().setEvent(4, event(kSun, 7, 0));

    RunResult r = runVeskarn(kMar2);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r, "Veskarn - Corrections Applied on 3/2 \n")) << r.err;
    // Sunrise one minute earlier, sunset two later; the type-3 entry is read but not sent.
    EXPECT_EQ(device().event(1), event(kMon, 6, 29));
    EXPECT_EQ(device().event(2), event(kMon, 18, 47));
    EXPECT_EQ(device().event(3), event(kMon, 22, 0));
    EXPECT_EQ(device().event(4), event(kSun, 6, 59));
    EXPECT_EQ(downloads(), (std::vector<int>{1, 2, 4}));
    for (const char* key : {"Last SU Mo", "Last SD Mo"})
        EXPECT_EQ(stored(key).toInt(), 3) << key;
    for (const char* key : {"Last SU Da", "Last SD Da"})
        EXPECT_EQ(stored(key).toInt(), 2) << key;
    for (const char* key : {"Last SU Yr", "Last SD Yr"})
        EXPECT_EQ(stored(key).toInt(), 2006) << key;
    EXPECT_EQ(stored("Last Zone").toStringList(), (QStringList{"0", "0", "0", "0"}));

    // What the CP290 held before: a snapshot the controller can send back.
    const std::string snap = m_state.path() + "/cp290/snapshots/2006-03-02-120000-veskarn.sch";
    const std::string bytes = readFile(snap);
    ASSERT_EQ(bytes.size(), 40u) << snap;
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 1);
    EXPECT_EQ(static_cast<uint8_t>(bytes[1 + 3]), 30);  // event 1 still at 06:30
    const std::string runs = readFile(m_state.path() + "/cp290/runs.log");
    EXPECT_NE(runs.find("\tveskarn\tok\tsunrise -1 min, sunset +2 min, events 1, 2, 4 sent\t" + snap + "\n"),
              std::string::npos)
        << runs;

    // The same day again: nothing has moved, nothing is sent or written.
    // Under cron the run ends at once; before a person's eyes the window
    // says so for five seconds.
    device().clearFrames();
    const std::string before = readFile(domainFile());
    for (const char* display : {"", ":93417"}) {
        const auto start = std::chrono::steady_clock::now();
        r = runVeskarn(kMar2, display);
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(has(r, "Veskarn - No Time Corrections Necessary\n")) << r.err;
        EXPECT_FALSE(has(r, "Corrections Applied")) << r.err;
        EXPECT_TRUE(device().frames().empty());
        EXPECT_EQ(readFile(domainFile()), before);
        if (*display)
            EXPECT_GE(took, std::chrono::seconds(5)) << "no pause with a display: " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        else
            EXPECT_LT(took, std::chrono::seconds(5)) << "a pause under cron";
    }
}

// A week without a run (the computer off) is made up by the next run: one
// shift by the change since the reference date, which a second run keeps.
TEST_F(VeskarnTest, AWeekOffIsOneShift)
{
    storeSerialPath(devicePath());
    storeList({{1, 1, 0}, {2, 2, 0}}, 3, 1, 2006);
    device().setEvent(1, event(kMon, 6, 30));
    device().setEvent(2, event(kMon, 18, 45));
    testing_support::ZoneAndClock zone("America/New_York");
    const state::Location nyc{state::degreesToFixed(40.7514), state::degreesToFixed(-73.9847)};
    const sun::SunTimes from = sun::sunTimesOn(nyc, 2006, 3, 1), to = sun::sunTimesOn(nyc, 2006, 3, 8);
    const int rise = *to.sunrise - *from.sunrise, set = *to.sunset - *from.sunset;
    EXPECT_TRUE(rise >= -11 && rise <= -9 && set >= 6 && set <= 8) << rise << " " << set;  // as almanacs say
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(runVeskarn("1141837200").exitStatus, 0);  // Wed 8 March 2006, noon
        EXPECT_EQ(device().event(1), event(kMon, 6, 30 + rise)) << run;
        EXPECT_EQ(device().event(2), event(kMon, 18, 45 + set)) << run;
    }
}

TEST_F(VeskarnTest, DaylightSavingHourComesAndGoesWithTheSunShift)
{
    storeSerialPath(devicePath());
    // Event 9 is listed but the CP290 does not hold it; 200 cannot be an event.
    storeList({{1, 1, 0}, {5, 3, 0}, {9, 3, 0}, {200, 3, 0}, {6, 2, 1}}, 4, 1, 2006);
    device().setEvent(1, event(kMon, 6, 30));
    device().setEvent(5, event(kMon, 23, 30));
    device().setEvent(6, event(kMon, 19, 0));

    RunResult r = runVeskarn(kApr2);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // Sun shift (sunrise 2 minutes earlier, sunset 1 later) and hour in one
    // download; Monday 23:30 plus an hour is Tuesday 00:30.
    EXPECT_EQ(device().event(1), event(kMon, 7, 28));
    EXPECT_EQ(device().event(5), event(kTue, 0, 30));
    EXPECT_EQ(device().event(6), event(kMon, 19, 1));  // already set for daylight time
    EXPECT_TRUE(has(r, "Veskarn Error - Event 9 not stored in CP290 memory\n")) << r.err;
    EXPECT_TRUE(has(r, "Veskarn Error - Event 200 not stored in CP290 memory\n")) << r.err;
    EXPECT_TRUE(has(r, "Veskarn - Corrections Applied on 4/2 \n")) << r.err;
    EXPECT_EQ(downloads(), (std::vector<int>{1, 5, 6}));
    // The absent event keeps its flag; the impossible number's item stays as stored.
    EXPECT_EQ(stored("Last Zone").toStringList(), (QStringList{"1", "1", "0", "0", "1"}));

    // Daylight-saving time has ended: the hour goes back, the flags return to 0.
    device().clearFrames();
    storeList({{5, 3, 1}}, 0, 0, 0);
    r = runVeskarn(kOct30);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(device().event(5), event(kMon, 23, 30));
    EXPECT_EQ(downloads().size(), 1u);
    EXPECT_EQ(stored("Last Zone").toStringList(), (QStringList{"0"}));
}

// Each way a run can fail: said in the exit status, the log and the run
// history; nothing claimed, and the reference dates stay, so the next run
// shifts by the whole movement again. A snapshot only once the events were read.
TEST_F(VeskarnTest, FailedRunsKeepTheReferenceDates)
{
    enum class Fault { Silent, BadUpload, MuteAfterUpload, NoPathStored, PathAbsent, JournalRefused };
    const struct Case {
        Fault fault;
        int exitStatus;
        const char* message;
        const char* history;
        size_t downloads;
        bool snapshot;
    } cases[] = {
        {Fault::Silent, 1, "Veskarn Error - CP290 not responding", "\tveskarn\tfailed\treading the events: ", 0, false},
        {Fault::BadUpload, 1, "Veskarn Error - CP290 reply not valid", "reply was not valid", 0, false},
        {Fault::MuteAfterUpload, 1, "Veskarn Error - Event 1 not acknowledged by the CP290",
         "\tveskarn\tfailed\tsending event 1: ", 1, true},
        {Fault::NoPathStored, 69, "Veskarn - Serial port path not in plist.\n", "\tveskarn\tfailed\t", 0, false},
        {Fault::PathAbsent, 69, "Veskarn - CP290 Serial port not found.\n", "\tveskarn\tfailed\t", 0, false},
        {Fault::JournalRefused, 1, "/cp290/veskarn.journal not written - Is a directory(21); nothing sent.\n",
         "\tveskarn\tfailed\tjournal not written; nothing sent\t", 0, true},
    };
    const std::string snapshot = m_state.path() + "/cp290/snapshots/2006-03-02-120000-veskarn.sch";
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        std::filesystem::remove_all(m_state.path() + "/cp290");
        std::filesystem::remove(m_config.file("Lumbrasken.conf"));
        sim::SimOptions o;
        o.badChecksum = c.fault == Fault::BadUpload;
        o.silent = c.fault == Fault::Silent;
        restartSim(o);
        if (c.fault != Fault::NoPathStored)
            storeSerialPath(c.fault == Fault::PathAbsent ? "/dev/ttyUSB-not-here" : devicePath());
        storeList({{1, 1}, {2, 2}}, 3, 1, 2006);
        if (c.fault == Fault::JournalRefused)
            std::filesystem::create_directories(m_state.path() + "/cp290/veskarn.journal");
        device().setEvent(1, event(kMon, 6, 30));
        device().setEvent(2, event(kMon, 18, 45));
        const std::string before = readFile(domainFile());
        // Ack, 126 empty slots, 2 events and the closing checksum byte.
        const size_t uploadReply = 7 + 126 + 2 * 8 + 1;
        std::atomic<bool> done{false};
        std::thread mute([&] {
            while (c.fault == Fault::MuteAfterUpload && !done && device().bytesSent() < uploadReply)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (c.fault == Fault::MuteAfterUpload)
                device().setSilent(true);
        });
        const RunResult r = runVeskarn(kMar2);
        done = true;
        mute.join();
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
        EXPECT_TRUE(has(r, c.message)) << r.err;
        EXPECT_FALSE(has(r, "Corrections Applied")) << r.err;
        EXPECT_EQ(readFile(domainFile()), before);
        EXPECT_EQ(downloads().size(), c.downloads);  // stopped at the first failure
        EXPECT_EQ(std::filesystem::exists(snapshot), c.snapshot);
        EXPECT_NE(readFile(m_state.path() + "/cp290/runs.log").find(c.history), std::string::npos);
    }
}

// A run stopped anywhere - an event's acknowledgement lost, whether the
// CP290 kept that event or not, the program killed, or the reference dates
// refused after the last one - and the next run a week later: every event ends with the one
// correction an unbroken run gives it, never two.
TEST_F(VeskarnTest, StoppedRunIsCompletedNotRepeated)
{
    const std::vector<cp290::EventImage> start{event(kMon, 6, 30), event(kMon, 18, 45)};
    const auto readOnly = std::filesystem::perms::owner_read;  // refused even to root
    const auto readWrite = readOnly | std::filesystem::perms::owner_write;
    auto seed = [&](const std::vector<cp290::EventImage>& images) {
        storeSerialPath(devicePath());
        for (size_t i = 0; i < images.size(); ++i)
            device().setEvent(static_cast<int>(i + 1), images[i]);
    };
    auto held = [&] { return std::vector<cp290::EventImage>{*device().event(1), *device().event(2)}; };
    storeList({{1, 1}, {2, 2}}, 3, 1, 2006);
    seed(start);
    ASSERT_EQ(runVeskarn(kMar9).exitStatus, 0);
    const std::vector<cp290::EventImage> want = held();
    ASSERT_NE(want, start);

    const struct Case {
        int answered;  // memory writes acknowledged before the CP290 falls silent; -1 all
        bool keptUnanswered;
        bool datesRefused;
        int killAfterMs;  // 0: the run ends by itself
    } cases[] = {{0, true, false, 0}, {1, false, false, 0}, {1, false, false, 4000}, {-1, false, true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.answered << (c.keptUnanswered ? " kept" : "")
                                        << (c.datesRefused ? " dates refused" : "") << " " << c.killAfterMs);
        std::filesystem::remove_all(m_state.path() + "/cp290");
        sim::SimOptions o;
        o.writesAnswered = c.answered;
        o.keepUnansweredWrite = c.keptUnanswered;
        restartSim(o);
        seed(start);
        storeList({{1, 1}, {2, 2}}, 3, 1, 2006);
        std::filesystem::permissions(domainFile(), c.datesRefused ? readOnly : readWrite);
        // Killed while it waits for the second acknowledgement.
        RunResult r = runVeskarn(kMar2, "", c.killAfterMs ? c.killAfterMs : 60000);
        ASSERT_EQ(r.exitStatus, c.killAfterMs ? 128 + SIGKILL : 1) << r.err;
        const std::vector<cp290::EventImage> stopped = held();
        EXPECT_NE(stopped, start);  // the CP290 got part of the correction

        restartSim({});
        seed(stopped);
        std::filesystem::permissions(domainFile(), readWrite);
        r = runVeskarn(kMar9);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(has(r, "Veskarn - Completing the correction a stopped run began.\n")) << r.err;
        EXPECT_EQ(held(), want);
        EXPECT_EQ(stored("Last SU Da").toInt(), 9);
        EXPECT_FALSE(std::filesystem::exists(m_state.path() + "/cp290/veskarn.journal"));
    }
}

TEST_F(VeskarnTest, PolarDayKeepsTheReferenceDate)
{
    storeSerialPath(devicePath());
    storeList({{1, 1, 1}}, 6, 20, 2006, "78.2", "15.6");  // Svalbard at midsummer
    device().setEvent(1, event(kMon, 6, 30));
    const RunResult r = runVeskarn(kJun21);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r, "Veskarn - No sunrise at this location on 6/20/2006 or 6/21/2006")) << r.err;
    EXPECT_TRUE(has(r, "Veskarn - No Time Corrections Necessary\n")) << r.err;
    EXPECT_TRUE(device().frames().empty());
    EXPECT_EQ(stored("Last SU Da").toInt(), 20);
}

TEST(VeskarnShift, TimesWrapIntoTheDayAndTurnTheWeekdays)
{
    struct Case {
        uint8_t days;
        int hour, minute, shift;
        uint8_t wantDays;
        int wantHour, wantMinute;
    } cases[] = {
        {kMon, 23, 30, 60, kTue, 0, 30},
        {kMon, 0, 10, -60, kSun, 23, 10},
        {kSun, 23, 59, 1, kMon, 0, 0},
        {0x7F, 0, 0, -1, 0x7F, 23, 59},
        {kMon | kSun, 12, 0, -2, kMon | kSun, 11, 58},
        {0x80 | kSun, 23, 0, 90, 0x80 | kMon, 0, 30},  // bit 7 is not a day
    };
    for (const Case& c : cases) {
        cp290::EventImage img = event(c.days, c.hour, c.minute);
        core::suncorrection::shiftEventTime(img, c.shift);
        EXPECT_EQ(img, event(c.wantDays, c.wantHour, c.wantMinute))
            << c.hour << ":" << c.minute << " + " << c.shift;
    }
}
