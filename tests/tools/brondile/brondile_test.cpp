// brondile end to end: the program run as cron runs it (no display), with a
// stand-in crontab command and a fixed date, against the emulator.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/event_table.h"
#include "core/schedule_file.h"
#include "state/run_history.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::readFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// 2026-03-15 01:00 UTC, a Sunday.
constexpr const char* kMarch15 = "1773536400";
using Image = sim::EventImage;

Image img(int days, int hour, int minute, int units, int lf)
{
    return {8, static_cast<uint8_t>(days), static_cast<uint8_t>(hour), static_cast<uint8_t>(minute),
            static_cast<uint8_t>(units), 0, 0x60, static_cast<uint8_t>(lf)};
}

bool unused(const std::optional<Image>& slot)
{
    return !slot || (*slot)[7] == 0;
}

class BrondileTest : public testing_support::ToolHomeTest {
protected:
    void SetUp() override
    {
        ToolHomeTest::SetUp();
        // The controller's files of an open planning window, which a run must not touch.
        writeFile(m_home.file("tempCrontab"), "# a planning window's copy\n");
        writeFile(m_home.file("Wrellish"), "# a planning window's work file\n");
    }
    // An event schedule file holding the given slots.
    std::string scheduleFile(const std::string& name, const std::map<int, Image>& events)
    {
        core::EventTable t;
        for (const auto& [n, image] : events)
            t.storeEvent(n, image);
        const std::string path = m_home.file(name);
        writeFile(path, core::scheduleBytes(t));
        return path;
    }

    static std::string pair(int load, const std::string& path, int day, int month)
    {
        return std::string("# Quorvel") + static_cast<char>(load) + path + "\n0\t1\t" + std::to_string(day) +
               "\t" + std::to_string(month) + "\t*\t\"" + CP290_BIN_DIR + "/brondile\"\n";
    }

    void protect(int event) { testing_support::storeCorrections(m_home.file("config/Veskarn.conf"), {{event, 1}}); }

    RunResult runBrondile(const char* now = kMarch15, const std::vector<std::string>& args = {})
    {
        return testing_support::runAsCron("brondile", m_home.path(),
                                          {{"CP290_CRONTAB", m_crontab.script()},
                                           {"CP290_SERIAL_DEVICES", devicePath()},
                                           {"CP290_NOW", now},
                                           {"TZ", "UTC"}},
                                          60000, args);
    }

    std::vector<int> downloads() const { return testing_support::downloadedEvents(*m_sim); }

    std::vector<std::string> snapshots() const
    {
        std::vector<std::string> names;
        const std::string dir = m_home.file("state") + "/cp290/snapshots";
        if (std::filesystem::exists(dir))
            for (const auto& e : std::filesystem::directory_iterator(dir))
                names.push_back(e.path().filename().string());
        return names;
    }

    void expectUserFilesUntouched(const std::string& crontab)
    {
        EXPECT_EQ(m_crontab.installed(), crontab);
        EXPECT_EQ(readFile(m_home.file("tempCrontab")), "# a planning window's copy\n");
        EXPECT_EQ(readFile(m_home.file("Wrellish")), "# a planning window's work file\n");
    }

    TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
};

TEST_F(BrondileTest, LoadAllMakesTheDeviceHoldTheFileSparingProtectedEvents)
{
    // The device: events 1..5 and 100; event 3 is protected, event 5 already
    // holds what the file holds.
    for (int n = 1; n <= 5; ++n)
        device().setEvent(n, img(0x7F, n, 0, 0x80, 0x02));
    device().setEvent(100, img(0x01, 23, 59, 0x40, 0x03));
    protect(3);
    const Image five = img(0x7F, 5, 0, 0x80, 0x02);
    const std::string file = scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)},
                                                     {3, img(0x1F, 8, 0, 0x20, 0x03)},
                                                     {5, five},
                                                     {40, img(0x60, 9, 30, 0x10, 0x95)}});
    const std::string crontab = "# mine\n17 4 * * * /usr/local/bin/backup\n" + pair(1, file, 15, 3) +
                                "MAILTO=me\n";
    m_crontab.install(crontab);
    const auto before = device().event(3);

    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = runBrondile();
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("Brondile - Schedule (Winter) loaded to CP290.\n"), std::string::npos) << r.err;

    EXPECT_EQ(device().event(2), img(0x1F, 7, 15, 0x20, 0x02));
    EXPECT_EQ(device().event(3), before);
    EXPECT_EQ(device().event(5), five);
    EXPECT_EQ(device().event(40), img(0x60, 9, 30, 0x10, 0x95));
    for (int n : {1, 4, 100})
        EXPECT_TRUE(unused(device().event(n))) << n;
    // Only what differed went over the line: slots 1, 2, 4, 40, 100.
    EXPECT_EQ(downloads(), (std::vector<int>{1, 2, 4, 40, 100}));
    EXPECT_LT(took, std::chrono::seconds(10));

    // The snapshot holds what the device held before the load.
    const auto snaps = snapshots();
    ASSERT_EQ(snaps.size(), 1u);
    EXPECT_EQ(snaps[0], "2026-03-15-010000-brondile.sch");
    core::EventTable saved;
    ASSERT_TRUE(core::readEventFile(saved, m_home.file("state") + "/cp290/snapshots/" + snaps[0]).ok());
    EXPECT_EQ(saved.getHighEvent(), 100);
    EXPECT_EQ(saved.record(4)->image(), cp290::EventImage(img(0x7F, 4, 0, 0x80, 0x02)));
    EXPECT_NE(r.err.find("Brondile - CP290 events saved to "), std::string::npos);
    expectUserFilesUntouched(crontab);
    // The run history says what happened and where the snapshot is.
    const auto runs = state::readRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].tool, "brondile");
    EXPECT_EQ(runs[0].outcome, state::RunOutcome::Ok);
    EXPECT_EQ(runs[0].summary, "Winter loaded (mode 1), 5 events sent");
    EXPECT_EQ(runs[0].snapshot, m_home.file("state") + "/cp290/snapshots/" + snaps[0]);
}

TEST_F(BrondileTest, LoadAddSendsOnlyTheFilesUnprotectedEvents)
{
    device().setEvent(1, img(0x7F, 1, 0, 0x80, 0x02));
    device().setEvent(7, img(0x7F, 7, 0, 0x80, 0x02));
    protect(7);
    const std::string file = scheduleFile("Summer", {{2, img(0x1F, 7, 15, 0x20, 0x02)},
                                                     {7, img(0x1F, 8, 0, 0x20, 0x03)}});
    m_crontab.install(pair(2, file, 15, 3));
    const RunResult r = runBrondile();
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(downloads(), std::vector<int>{2});
    EXPECT_EQ(device().event(1), img(0x7F, 1, 0, 0x80, 0x02));
    EXPECT_EQ(device().event(2), img(0x1F, 7, 15, 0x20, 0x02));
    EXPECT_EQ(device().event(7), img(0x7F, 7, 0, 0x80, 0x02));
    EXPECT_NE(r.err.find("Brondile - Schedule (Summer) loaded to CP290.\n"), std::string::npos) << r.err;
}

// Nothing is planned for today in any of these crontabs: no frame, no line.
TEST_F(BrondileTest, OnlyTheEntryRightAfterAMarkerCounts)
{
    const std::string file = scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)}});
    const std::string brondile = std::string("\"") + CP290_BIN_DIR + "/brondile\"";
    const std::vector<std::string> crontabs = {
        pair(1, file, 16, 3) + pair(1, file, 15, 4),                             // other dates
        "# Quorvel\x01" + file + "\n0 1 15 3 * /usr/local/bin/backup\n",         // foreign job after it
        "#s Quorvel\n0\t1\t15\t3\t*\t" + brondile + "\n",                        // another kind's marker
        "# Quorvel\x03" + file + "\n0\t1\t15\t3\t*\t" + brondile + "\n",         // load mode unknown
    };
    for (const std::string& crontab : crontabs) {
        m_crontab.install(crontab);
        const RunResult r = runBrondile();
        EXPECT_EQ(r.exitStatus, 0) << crontab << r.err;
        EXPECT_EQ(r.err.find("Schedule ("), std::string::npos) << crontab << r.err;
        // A crontab in order says nothing; a marker without its entry is named.
        EXPECT_TRUE(crontab != crontabs[0] || r.err.empty()) << crontab << r.err;
        expectUserFilesUntouched(crontab);
    }
    EXPECT_TRUE(m_sim->frames().empty());
    EXPECT_TRUE(snapshots().empty());
}

TEST_F(BrondileTest, FirstPairForTheDateWins)
{
    const std::string first = scheduleFile("First", {{2, img(0x1F, 7, 15, 0x20, 0x02)}});
    const std::string second = scheduleFile("Second", {{3, img(0x1F, 7, 15, 0x20, 0x02)}});
    m_crontab.install(pair(2, first, 15, 3) + pair(2, second, 15, 3));
    const RunResult r = runBrondile();
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(downloads(), std::vector<int>{2});
    EXPECT_NE(r.err.find("(First)"), std::string::npos);
}

// A device that does not answer, or no copy of what it held: nothing of it
// is replaced, within the bound, and the run says so and claims nothing.
TEST_F(BrondileTest, RunsThatCannotLoadSendNothing)
{
    const struct Case {
        bool silent;
        const char* message;
        const char* summary;
    } cases[] = {
        {true, "Brondile Error - CP290 not responding", "the CP290's events could not be read"},
        {false, "Brondile Error - Saving the CP290's events to ", "no snapshot could be written"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(m_home.file("state"));
        std::filesystem::create_directories(m_home.file("state") + "/cp290");
        if (!c.silent)
            writeFile(m_home.file("state") + "/cp290/snapshots", "a file where the folder belongs\n");
        device().setSilent(c.silent);
        device().setEvent(1, img(0x7F, 1, 0, 0x80, 0x02));
        m_crontab.install(pair(1, scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)}}), 15, 3));
        const auto t0 = std::chrono::steady_clock::now();
        const RunResult r = runBrondile();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Schedule (Winter) not loaded"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("loaded to CP290"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("saved to"), std::string::npos) << r.err;
        EXPECT_EQ(downloads(), std::vector<int>{});
        EXPECT_EQ(device().event(1), img(0x7F, 1, 0, 0x80, 0x02));
        EXPECT_FALSE(device().event(2));
        const auto runs = state::readRuns();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].outcome, state::RunOutcome::Failed);
        EXPECT_EQ(runs[0].summary.rfind(c.summary, 0), 0u) << runs[0].summary;
        EXPECT_EQ(runs[0].snapshot, "");
    }
}

TEST_F(BrondileTest, FailuresBeforeTheLineSendNothing)
{
    // The planned file is gone.
    m_crontab.install(pair(1, m_home.file("gone"), 15, 3));
    RunResult r = runBrondile();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Brondile Error - Opening Event Schedule File - No such file or directory(2).\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("loaded to CP290"), std::string::npos);

    // An empty file: nothing to send and nothing to say.
    m_crontab.install(pair(1, scheduleFile("Empty", {}), 15, 3));
    r = runBrondile();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");

    // The crontab command fails: said, and nothing else happens.
    m_crontab.install(pair(1, scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)}}), 15, 3));
    m_crontab.setFailing(true);
    r = runBrondile();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Brondile Error - crontab -l failed with status 2"), std::string::npos) << r.err;
    m_crontab.setFailing(false);

    // No stored device path.
    state::SettingsDomain shared(state::kSharedDomain, state::Program::Quorvel);
    shared.remove("Serial Path");
    shared.sync();
    r = runBrondile();
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_NE(r.err.find("Brondile - Serial port path not in plist.\n"), std::string::npos) << r.err;
    EXPECT_TRUE(m_sim->frames().empty());
}

// A catch-up run loads the latest planned schedule that has come within the
// week and has no "ok" line since its load time; otherwise it leaves no trace.
TEST_F(BrondileTest, CatchUpLoadsOnlyTheLatestUnfinishedLoadOfTheWeek)
{
    constexpr std::time_t march15 = 1773536400, hour = 3600, day = 24 * hour;
    const std::string winter = pair(1, scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)}}), 15, 3);
    const std::string summer = pair(1, scheduleFile("Summer", {{3, img(0x1F, 7, 15, 0x20, 0x02)}}), 20, 3);
    const auto run = [](std::time_t when, state::RunOutcome outcome) {
        return std::optional<state::RunRecord>({when, "brondile", outcome, "x", ""});
    };
    const char* const caughtWinter = "catch-up of the load planned for Sun 2026-03-15 01:00: Winter loaded";
    const struct { std::string crontab; std::time_t now; std::optional<state::RunRecord> earlier; const char* summary; } cases[] = {
        {winter, march15 + 7 * hour, std::nullopt, caughtWinter},  // off at 01:00; nullptr: no catch-up
        {winter, march15 + 7 * hour, run(march15 + 9, state::RunOutcome::Failed), caughtWinter},
        {winter, march15 + 7 * hour, run(march15 - day, state::RunOutcome::Ok), caughtWinter},
        {winter, march15 + 7 * hour, run(march15 + 9, state::RunOutcome::Ok), nullptr},
        {winter, march15 + 7 * day + hour, std::nullopt, nullptr},  // more than a week ago
        {winter + summer, march15 + 5 * day + hour, std::nullopt, "catch-up of the load planned for Fri 2026-03-20 01:00: Summer"},
        {winter + summer, march15 + 5 * day + hour, run(march15 + 5 * day, state::RunOutcome::Ok), nullptr},
        {"# mine\n", march15 + hour, std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(m_home.file("state"));
        ASSERT_TRUE(!c.earlier || state::appendRun(*c.earlier) == 0);
        m_crontab.install(c.crontab);
        m_sim->clearFrames();
        const RunResult r = runBrondile(std::to_string(c.now).c_str(), {"--catch-up"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        const auto runs = state::readRuns();
        ASSERT_EQ(runs.size(), (c.earlier ? 1u : 0u) + (c.summary ? 1u : 0u)) << c.now;
        EXPECT_EQ(m_sim->frames().empty(), c.summary == nullptr) << c.now;
        EXPECT_TRUE(!c.summary || runs.back().summary.rfind(c.summary, 0) == 0) << runs.back().summary;
    }
}

// Clock sync, today's schedule and the sun corrections planned for one
// minute: the three take turns on the line and all three do their work.
TEST_F(BrondileTest, ThreeJobsAtOneMinuteTakeTurns)
{
    sim::SimOptions paced;
    paced.paced = true;
    restartSim(paced);
    testing_support::storeSerialPath(m_home.file("config"), devicePath());
    m_sim->setEvent(3, img(0x7F, 6, 30, 0x80, 0x02));
    testing_support::storeCorrections(m_home.file("config/Veskarn.conf"), {{3, 1}}, 2, 15, 2026, "40.75", "-73.98");
    m_crontab.install(pair(1, scheduleFile("Winter", {{2, img(0x1F, 7, 15, 0x20, 0x02)}}), 15, 3));

    std::map<std::string, RunResult> runs;
    std::mutex mu;
    std::vector<std::thread> jobs;
    for (const char* tool : {"tamsel", "brondile", "veskarn"})
        jobs.emplace_back([&, tool] {
            const RunResult r = testing_support::runAsCron(tool, m_home.path(),
                                                           {{"CP290_CRONTAB", m_crontab.script()},
                                                            {"CP290_SERIAL_DEVICES", devicePath()},
                                                            {"CP290_NOW", kMarch15},
                                                            {"TZ", "UTC"}});
            std::lock_guard<std::mutex> g(mu);
            runs[tool] = r;
        });
    for (std::thread& t : jobs)
        t.join();
    std::string waits;
    for (const auto& [tool, r] : runs) {
        EXPECT_EQ(r.exitStatus, 0) << tool << ": " << r.err;
        if (r.err.find(" - waiting for the CP290 line held by ") != std::string::npos)
            waits += tool;
    }
    EXPECT_FALSE(waits.empty()) << "the three never met on the line";
    EXPECT_TRUE(m_sim->event(2));
    EXPECT_NE(m_sim->event(3), img(0x7F, 6, 30, 0x80, 0x02)) << "event 3 not corrected";
}

}  // namespace
