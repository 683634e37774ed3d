// Direct commands and the power line's reports, through cp290ctl and the emulator.
#include <gtest/gtest.h>

#include <QSettings>
#include <QStringList>
#include <thread>

#include "state/powerline_log.h"
#include "tests/support/test_support.h"

using testing_support::RunResult;

namespace {

class PowerlineTest : public testing_support::SimTest {
protected:
    void SetUp() override
    {
        sim::SimOptions o;
        o.reports = true;
        restartSim(o);
    }
    std::map<std::string, std::string> env() const
    {
        return {{"XDG_CONFIG_HOME", home.path()}, {"XDG_STATE_HOME", home.file("state")},
                {"CP290_SERIAL_DEVICES", ""}, {"CP290_LINE_WAIT_MS", "3000"}};
    }
    RunResult ctl(std::vector<std::string> args, int timeoutMs = 30000)
    {
        args.insert(args.begin(), {"--device", devicePath()});
        return testing_support::runProgram(std::string(CP290_BIN_DIR) + "/cp290ctl", args, env(), timeoutMs);
    }
    // cp290ctl monitor --json for `seconds`, then ended as Ctrl-C would.
    std::thread monitor(RunResult& out, int seconds)
    {
        return std::thread([this, &out, seconds] {
            std::map<std::string, std::string> e = env();
            e["CP290_LOG_STDERR"] = "1";
            out = testing_support::runProgram("/usr/bin/timeout", {"-s", "INT", std::to_string(seconds),
                std::string(CP290_BIN_DIR) + "/cp290ctl", "--device", devicePath(), "monitor", "--json"}, e, 60000);
        });
    }
    std::string powerlineLog() const { return testing_support::readFile(home.file("state/cp290/powerline.log")); }
    testing_support::TempDir home;
};

}  // namespace

TEST_F(PowerlineTest, SwitchesUnitsAndPrintsWhatTheDeviceConfirmed)
{
    struct Case { std::vector<std::string> args; std::vector<uint8_t> frame; std::string out; };
    const Case cases[] = {
        {{"on", "A1"}, {0x01, 0x02, 0x60, 0x00, 0x80, 0xE2}, "A1 Device 1: on\n"},
        {{"off", "b", "1-3,16"}, {0x01, 0x03, 0xE0, 0x01, 0xE0, 0xC4}, "B1-3,16 Device 1, Device 2, Device 3, Device 16: off\n"},
        {{"dim", "P9", "50%"}, {0x01, 0x85, 0xC0, 0x80, 0x00, 0xC5}, "P9 Device 9: dim 50%\n"},
    };
    for (const Case& c : cases) {
        device().clearFrames();
        const RunResult r = ctl(c.args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(device().frames(), std::vector<std::vector<uint8_t>>{c.frame}) << c.out;
    }
    // Each confirmed report is in the power-line log, marked direct.
    const std::string log = powerlineLog();
    EXPECT_NE(log.find("\tA\t1\ton\tdirect\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tP\t9\tdim\tdirect\n"), std::string::npos) << log;
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"on"}, {"on", "Q1"}, {"on", "A17"}, {"dim", "A1"}, {"dim", "A1", "101%"},
                                               {"on", "Porch lamp"}})
        EXPECT_EQ(ctl(bad).exitStatus, 64) << bad.back();
}

TEST_F(PowerlineTest, DeviceThatDoesNotConfirmFailsWithinTheBound)
{
    // Acknowledged without a report, then no answer at all: exit 1 either way, within 20 s.
    sim::SimOptions o;
    restartSim(o);
    for (bool silent : {false, true}) {
        device().setSilent(silent);
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = ctl({"on", "A1"});
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_NE(r.err.find(silent ? "did not answer" : "never reported"), std::string::npos) << r.err;
    }
}

TEST_F(PowerlineTest, MonitorGivesTheLineAwayAndMissesNoReport)
{
    // Every reply comes after a report (A1 on): the one tamsel reads while it
    // has the line must still reach the monitor, through the power-line log.
    sim::SimOptions o;
    o.reportBeforeReply = o.reports = true;
    restartSim(o);
    testing_support::storeSerialPath(home.path(), devicePath());
    RunResult mon, second;
    std::thread first = monitor(mon, 5);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::thread follower = monitor(second, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto start = std::chrono::steady_clock::now();
    const RunResult tamsel = testing_support::runAsCron("tamsel", home.path(),
        {{"XDG_CONFIG_HOME", home.path()}, {"XDG_STATE_HOME", home.file("state")}, {"CP290_SERIAL_DEVICES", devicePath()}});
    EXPECT_EQ(tamsel.exitStatus, 0) << tamsel.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    first.join();
    follower.join();
    const char* report = "\"house\": \"A\", \"units\": [1], \"function\": \"on\", \"source\": \"timer or console\", \"names\": [\"Device 1\"]}";
    EXPECT_NE(mon.out.find(report), std::string::npos) << mon.out << mon.err;
    EXPECT_NE(second.out.find(report), std::string::npos) << second.out << second.err;
    EXPECT_NE(second.err.find("following"), std::string::npos) << second.err;
    // The monitor's line is back as it found it: the next program gets it at once.
    EXPECT_EQ(ctl({"on", "A1"}).exitStatus, 0);
}

TEST_F(PowerlineTest, MonitorNamesTheTimerEventAndTheDevice)
{
    sim::SimOptions o;
    o.reports = true;
    o.speed = 60;  // a minute a second
    restartSim(o);
    {
        QSettings names(QString::fromStdString(home.file("Lumbrasken.conf")), QSettings::IniFormat);
        QStringList a;
        for (int u = 1; u <= 16; ++u)
            a << (u == 2 ? QStringLiteral("Porch lamp") : QStringLiteral("Device %1").arg(u));
        names.setValue("Port Number", 1);
        names.setValue("A Devices", a);
    }
    // Event 5, every day 18:02, A2 on, sent by the suite so that the device mirror knows it.
    const char event[] = {5, 0x08, 0x7F, 18, 2, 0x40, 0x00, 0x60, 0x02, 1};
    testing_support::writeFile(home.file("ev.sch"), std::string(event, sizeof event));
    ASSERT_EQ(ctl({"send", home.file("ev.sch"), "--add"}).exitStatus, 0);
    device().setClock({0, 18, 0x01});
    RunResult mon;
    monitor(mon, 4).join();
    EXPECT_NE(mon.out.find("\"units\": [2], \"function\": \"on\", \"source\": \"timer event 5\", \"names\": [\"Porch lamp\"]}"),
              std::string::npos) << mon.out << mon.err;
}
