// tamsel end to end: the program run as cron runs it, against the emulator.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
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
    void storeSerialPath(const std::string& path)
    {
        QSettings s(QString::fromStdString(m_config.file("Lumbrasken.conf")), QSettings::IniFormat);
        s.setValue("Serial Path", QString::fromStdString(path));
        s.sync();
    }

    RunResult runTamsel(std::map<std::string, std::string> extra = {})
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
        return runProgram("tamsel", {}, env, 30000);
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
    const auto frames = device().frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x02, 59, 23, 0x40, 0x92}));
    EXPECT_NE(r.err.find("Tamsel CP290 Clock updated on 12/6 \n"), std::string::npos) << r.err;
    EXPECT_EQ(history(), std::vector<std::string>{"tamsel\tok\tclock set to Sun 23:59\t"});
}

TEST_F(TamselTest, MissingPathOrDeviceEndsWith69AndSendsNothing)
{
    RunResult r = runTamsel();
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_NE(r.err.find("Tamsel - Serial port path not in plist.\n"), std::string::npos) << r.err;

    storeSerialPath("/dev/ttyUSB-not-here");
    r = runTamsel();
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_NE(r.err.find("Tamsel - CP290 Serial port not found.\n"), std::string::npos) << r.err;
    EXPECT_TRUE(device().frames().empty());
    // A run that could not reach the device is in the history as failed, with the fix.
    const std::vector<std::string> h = history();
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h[0].rfind("tamsel\tfailed\tno serial device stored", 0), 0u) << h[0];
    EXPECT_EQ(h[1].rfind("tamsel\tfailed\tserial device /dev/ttyUSB-not-here not found", 0), 0u) << h[1];
}

TEST_F(TamselTest, SilentDeviceIsAFailureNotAnUpdate)
{
    storeSerialPath(devicePath());
    device().setSilent(true);
    const RunResult r = runTamsel();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Tamsel Error - CP290 not responding\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Clock updated"), std::string::npos) << r.err;
    EXPECT_EQ(history(), std::vector<std::string>{"tamsel\tfailed\tthe CP290 did not answer\t"});
}

TEST_F(TamselTest, LineTakenByAnotherProgram)
{
    storeSerialPath(devicePath());
    // Another program holds the line for the whole run.
    const RunResult holder = [&] {
        const std::string path = devicePath();
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        RunResult r = runTamsel();
        ::close(fd);
        return r;
    }();
    EXPECT_EQ(holder.exitStatus, 1);
    EXPECT_NE(holder.err.find("Tamsel Error - Error setting TIOCEXCL on " + devicePath()), std::string::npos)
        << holder.err;
    EXPECT_NE(holder.err.find("Tamsel Error - SetClock Bad File Descriptor\n"), std::string::npos);
    EXPECT_EQ(holder.err.find("Clock updated"), std::string::npos);
    EXPECT_TRUE(device().frames().empty());
}

// Under cron DISPLAY may name a display that is gone (the user logged out).
// The window is only decoration: the clock is set all the same.
TEST_F(TamselTest, UnreachableDisplayStillSetsTheClock)
{
    storeSerialPath(devicePath());
    const RunResult r = runTamsel({{"DISPLAY", ":93417"}, {"WAYLAND_DISPLAY", "cp290-test-no-such-display"}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("Tamsel CP290 Clock updated on "), std::string::npos) << r.err;
}

// A line that echoes, or carries nothing but noise, is no CP290: no update.
TEST_F(TamselTest, EchoOrNoiseIsNotAnUpdate)
{
    for (const bool echo : {true, false}) {
        sim::SimOptions o;
        o.echo = echo;
        o.noise = !echo;
        restartSim(o);
        storeSerialPath(devicePath());
        const RunResult r = runTamsel();
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find("Tamsel Error - CP290 reply not valid ("), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Clock updated"), std::string::npos) << r.err;
    }
}
