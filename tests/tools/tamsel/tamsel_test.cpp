// tamsel end to end: the program run as cron runs it, against the emulator.
#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sstream>
#include <unistd.h>

#include "tests/support/test_support.h"

using testing_support::runProgram;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

class TamselTest : public testing_support::SimTest {
protected:
    void storeSerialPath(const std::string& path) { testing_support::storeSerialPath(m_config.path(), path); }

    RunResult runTamsel(std::map<std::string, std::string> extra = {}, int killAfterMs = 30000)
    {
        std::map<std::string, std::string> env = {
            {"XDG_CONFIG_HOME", m_config.path()},
            {"XDG_STATE_HOME", m_config.path() + "/state"},
            {"CP290_SERIAL_DEVICES", devicePath()},
            {"CP290_LOG_STDERR", "1"},
            {"QT_QPA_PLATFORM", ""},  // as under cron: no display
            {"DISPLAY", ""},
        };
        for (auto& [k, v] : extra)
            env[k] = v;
        return runProgram("tamsel", {}, env, killAfterMs);
    }

    // The run history's lines, without their time field.
    std::vector<std::string> history() const
    {
        std::vector<std::string> out;
        const std::string path = m_config.path() + "/state/cp290/runs.log";
        if (::access(path.c_str(), F_OK) != 0)
            return out;
        std::istringstream in(testing_support::readFile(path));
        for (std::string line; std::getline(in, line);)
            out.push_back(line.substr(line.find('\t') + 1));
        return out;
    }

    TempDir m_config;
};

}  // namespace

TEST_F(TamselTest, SundayJustBeforeMidnight)
{
    storeSerialPath(devicePath());
    // 2026-12-06 23:59:00 UTC, a Sunday.
    const RunResult r = runTamsel({{"CP290_NOW", "1796601540"}, {"TZ", "UTC"}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(device().frames().size(), 1u);
    const sim::SimClock c = device().clock();
    EXPECT_EQ(c.hour * 100 + c.minute, 2359);
    EXPECT_EQ(c.dayBit, 0x40);
    EXPECT_NE(r.err.find("Tamsel CP290 Clock updated on 12/6 \n"), std::string::npos) << r.err;
    EXPECT_EQ(history(), std::vector<std::string>{"tamsel\tok\tclock set to Sun 23:59\t"});
}

// Killed (SIGKILL) while it waits for the device: the run is left as
// started, and the next run logs it as interrupted before its own line.
TEST_F(TamselTest, AKilledRunIsInterruptedNotMissing)
{
    storeSerialPath(devicePath());
    device().setSilent(true);
    const std::map<std::string, std::string> env = {{"CP290_NOW", "1796601540"}, {"TZ", "UTC"}};
    EXPECT_NE(runTamsel(env, 1800).exitStatus, 0);  // waiting for the reply
    const std::string started = m_config.path() + "/state/cp290/started";
    EXPECT_TRUE(history().empty());
    EXPECT_FALSE(std::filesystem::is_empty(started));

    device().setSilent(false);
    const RunResult r = runTamsel(env);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(history(), (std::vector<std::string>{"tamsel\tinterrupted\tstopped before it finished\t",
                                                   "tamsel\tok\tclock set to Sun 23:59\t"}));
    EXPECT_TRUE(std::filesystem::is_empty(started));
}

// Every run that did not set the clock says why, claims no update, and is in
// the history as failed.
TEST_F(TamselTest, FailuresAreNoUpdate)
{
    enum class Fault { NoPathStored, PathAbsent, Silent, LineTaken, Echo, Noise };
    const struct Case {
        Fault fault;
        int exitStatus;
        const char* message;
        const char* history;
    } cases[] = {
        {Fault::NoPathStored, 69, "Tamsel - Serial port path not in plist.\n", "tamsel\tfailed\tno serial device stored"},
        {Fault::PathAbsent, 69, "Tamsel - CP290 Serial port not found.\n",
         "tamsel\tfailed\tserial device /dev/ttyUSB-not-here not found"},
        {Fault::Silent, 1, "Tamsel Error - CP290 not responding\n", "tamsel\tfailed\tthe CP290 did not answer\t"},
        {Fault::LineTaken, 1, "Tamsel Error - SetClock Bad File Descriptor\n", "tamsel\tfailed\t"},
        {Fault::Echo, 1, "Tamsel Error - CP290 reply not valid (", "tamsel\tfailed\t"},
        {Fault::Noise, 1, "Tamsel Error - CP290 reply not valid (", "tamsel\tfailed\t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        std::filesystem::remove_all(m_config.path());
        std::filesystem::create_directory(m_config.path());
        sim::SimOptions o;
        o.silent = c.fault == Fault::Silent;
        o.echo = c.fault == Fault::Echo;
        o.noise = c.fault == Fault::Noise;
        restartSim(o);
        if (c.fault != Fault::NoPathStored)
            storeSerialPath(c.fault == Fault::PathAbsent ? "/dev/ttyUSB-not-here" : devicePath());
        // Another program holds the line for the whole run.
        const int holder = c.fault == Fault::LineTaken ? ::open(devicePath().c_str(), O_RDWR | O_NOCTTY) : -1;
        EXPECT_TRUE(holder < 0 || flock(holder, LOCK_EX | LOCK_NB) == 0);
        const RunResult r = runTamsel();
        if (holder >= 0)
            ::close(holder);
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Clock updated"), std::string::npos) << r.err;
        EXPECT_TRUE(device().frames().empty() || (c.exitStatus != 69 && c.fault != Fault::LineTaken));
        const std::vector<std::string> h = history();
        ASSERT_EQ(h.size(), 1u);
        EXPECT_EQ(h[0].rfind(c.history, 0), 0u) << h[0];
    }
}

// Under cron DISPLAY may name a display that is gone (the user logged out).
// The window is only decoration: the clock is set all the same.
TEST_F(TamselTest, UnreachableDisplayStillSetsTheClock)
{
    storeSerialPath(devicePath());
    const RunResult r = runTamsel({{"DISPLAY", ":93417"}, {"WAYLAND_DISPLAY", "cp290-test-no-such-display"}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(device().frames().size(), 1u);
    EXPECT_NE(r.err.find("Tamsel CP290 Clock updated on "), std::string::npos) << r.err;
}
