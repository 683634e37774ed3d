// A CP290 that lost its memory, as each cron tool meets it: events sent
// through the core (so the device mirror holds them), the emulator's power
// cut, then one run of the tool as cron starts it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/cp290_operations.h"
#include "core/schedule_file.h"
#include "state/device_mirror.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::readFile;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

constexpr const char* kMarch15 = "1773536400";  // Sun 2026-03-15 01:00 UTC
const sim::EventImage kWake{0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0xE0, 0x02};
const sim::EventImage kLamp{0x08, 0x04, 0x17, 0x05, 0x00, 0x01, 0xE0, 0x03};
const sim::EventImage kNew{0x08, 0x20, 0x09, 0x00, 0x40, 0x00, 0xE0, 0x02};

class MemoryRestoreTest : public testing_support::ToolHomeTest {
protected:
    // Base house code B, then events 1 and 3, acknowledged.
    void programDevice()
    {
        core::NullOperationsUi ui;
        core::EventTable table;
        core::Cp290Operations ops(table, ui);
        ops.setDevicePath(devicePath());
        ASSERT_TRUE(ops.SetBaseCode(2).ok());
        table.storeEvent(1, kWake);
        table.storeEvent(3, kLamp);
        ASSERT_TRUE(ops.SendEventList(core::SendSelected, {1, 3}).ok());
    }

    RunResult run(const char* tool)
    {
        // Stored anew: a restarted emulator may be on another line.
        testing_support::storeSerialPath(m_home.file("config"), devicePath());
        return testing_support::runAsCron(tool, m_home.path(),
                                          {{"CP290_CRONTAB", m_crontab.script()},
                                           {"CP290_SERIAL_DEVICES", devicePath()},
                                           {"CP290_NOW", kMarch15},
                                           {"TZ", "UTC"}});
    }
    std::string runs() const { return readFile(m_home.file("state") + "/cp290/runs.log"); }

    TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
};

}  // namespace

TEST_F(MemoryRestoreTest, EachCronToolPutsBackWhatAPowerCutWiped)
{
    struct Case {
        const char* tool;
        std::function<void()> plan;  // gives the tool its own work
        std::optional<sim::EventImage> event5;         // what that work leaves in slot 5
    };
    const Case cases[] = {
        {"tamsel", {}, std::nullopt},
        {"brondile",
         [this] {
             core::EventTable file;
             file.storeEvent(5, kNew);
             testing_support::writeFile(m_home.file("Add.sch"), core::scheduleBytes(file));
             m_crontab.install("# Quorvel\x02" + m_home.file("Add.sch") + "\n0\t1\t15\t3\t*\t\"" CP290_BIN_DIR
                                 "/brondile\"\n");
         },
         kNew},
        // Event 9 is listed but not held: the correction is needed and shifts nothing.
        {"veskarn",
         [this] {
             testing_support::storeCorrections(m_home.file("config/Veskarn.conf"), {{9, 1}}, 3, 1, 2026, "40.75",
                                               "-73.98");
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        std::filesystem::remove_all(m_home.file("state"));
        programDevice();
        if (c.plan)
            c.plan();
        ASSERT_EQ(control("power-cut"), "ok");

        const RunResult r = run(c.tool);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(control("state"), "ok status 1 base E0 events " + std::string(c.event5 ? "3" : "2") +
                                        " clock 01:00 40");
        EXPECT_EQ(device().event(1), kWake);
        EXPECT_EQ(device().event(3), kLamp);
        EXPECT_EQ(device().event(5), c.event5);
        EXPECT_NE(runs().find(std::string("\t") + c.tool +
                              "\tok\tthe CP290 had lost its memory; CP290 memory restored: 2 events from 2026-"),
                  std::string::npos)
            << runs();
        EXPECT_FALSE(state::readRestoreMark());
        const RunResult status = testing_support::runAsCron("cp290ctl", m_home.path(),
                                                            {{"CP290_CRONTAB", m_crontab.script()}}, 20000, {"status"});
        EXPECT_NE(status.out.find("The CP290 lost its memory at "), std::string::npos) << status.out;
        EXPECT_NE(status.out.find("; restored at "), std::string::npos) << status.out;
        m_crontab.install("");
    }
}

TEST_F(MemoryRestoreTest, AfterASelfTestNothingIsRestored)
{
    programDevice();
    device().setSelfTestMs(50);
    core::NullOperationsUi ui;
    core::EventTable table;
    core::Cp290Operations ops(table, ui);
    ops.setDevicePath(devicePath());
    ASSERT_TRUE(ops.SelfTest().ok());
    device().clearFrames();
    const RunResult r = run("tamsel");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(device().frames().size(), 1u) << "the clock alone";
    EXPECT_FALSE(device().event(1));
    EXPECT_EQ(runs().find("restored"), std::string::npos) << runs();
}

TEST_F(MemoryRestoreTest, ARestoreStoppedPartwayIsFinishedByTheNextRun)
{
    programDevice();
    // A fresh device (the power cut) that stops answering after one event.
    sim::SimOptions stopping;
    stopping.writesAnswered = 1;
    restartSim(stopping);
    RunResult r = run("tamsel");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(runs().find("\tfailed\tthe CP290 had lost its memory; CP290 memory not restored: event 3 was not "
                          "acknowledged after 1 events; the next run finishes it"),
              std::string::npos)
        << runs();
    ASSERT_TRUE(state::readRestoreMark());

    // As the stopped run left it: programmed, so its replies say 1.
    restartSim({});
    device().setBaseHouseCode(0xE0);
    device().setEvent(1, kWake);
    r = run("tamsel");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(device().event(3), kLamp);
    EXPECT_NE(runs().find("\tok\tCP290 memory restored: 2 events from "), std::string::npos) << runs();
    EXPECT_FALSE(state::readRestoreMark());
}

TEST_F(MemoryRestoreTest, Cp290ctlTellsWhatItSawAndPutsBackAFile)
{
    programDevice();
    ASSERT_EQ(control("power-cut"), "ok");
    const std::string path = devicePath();
    const std::map<std::string, std::string> at{{"CP290_NOW", kMarch15}, {"TZ", "UTC"}};
    RunResult r = testing_support::runAsCron("cp290ctl", m_home.path(), at, 20000, {"--device", path, "clock"});
    EXPECT_NE(r.err.find("cp290ctl: the CP290 has lost its memory (a power cut with a flat battery?); 'cp290ctl "
                         "restore' puts back the 2 events it held on "),
              std::string::npos)
        << r.err;
    core::EventTable file;
    file.storeEvent(7, kNew);
    testing_support::writeFile(m_home.file("New.sch"), core::scheduleBytes(file));
    r = testing_support::runAsCron("cp290ctl", m_home.path(), at, 20000,
                                   {"--device", path, "restore", "--from", m_home.file("New.sch")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.rfind("CP290 memory restored: 1 event from ", 0), 0u) << r.out;
    EXPECT_EQ(control("state"), "ok status 1 base E0 events 1 clock 01:00 40");
    EXPECT_EQ(device().event(7), kNew);
}
