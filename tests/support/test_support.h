#pragma once
// Shared test helpers: an emulator on a real pseudo-terminal per test, a
// temporary folder, log capture, running the suite's programs, the frames the
// emulator got, a time zone for one test, and stored preferences.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/control_channel.h"
#include "sim/cp290_sim.h"

namespace testing_support {

// A temporary folder removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Collects the lines logged through platform::logLine while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& lines() const { return m_lines; }
    bool contains(const std::string& text) const;
    std::string joined() const;

private:
    std::vector<std::string> m_lines;
};

// A fixture holding an unpaced emulator; options can be changed before start.
// XDG_STATE_HOME is a folder of the test's own while it runs, so the suite's
// state (the device mirror above all) never carries from one test to another.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void restartSim(const sim::SimOptions& options);
    sim::Cp290Sim& device() { return *m_sim; }
    std::string devicePath() const { return m_sim->slavePath(); }
    // Sends one command through the emulator's control channel (started on
    // first use) and returns its reply line, "ok ..." or "error: ...".
    std::string control(const std::string& command);

    std::unique_ptr<sim::Cp290Sim> m_sim;
    std::unique_ptr<TempDir> m_stateHome;
    std::optional<std::string> m_oldStateHome;
    std::unique_ptr<TempDir> m_controlDir;
    std::unique_ptr<sim::ControlChannel> m_control;
};

// An emulator and a home for the programs a test runs: their configuration
// and state in the test's own folder, the emulator's line stored as the
// device they use.
class ToolHomeTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    TempDir m_home;
};

// One command to the control channel at `path`; the reply line, or
// "no reply: <why>" when the channel could not be reached within 5 s.
std::string sendControl(const std::string& path, const std::string& command);

struct RunResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};
// Runs a program of the suite's build folder with extra environment, no stdin,
// and a hard time limit (the child is killed when it runs over).
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, int timeoutMs = 60000);

// Runs a cron tool as cron does (no display), with HOME = `home` and its
// preference and state folders inside it ("config", "state"); `extra` adds
// to or replaces that environment.
RunResult runAsCron(const std::string& program, const std::string& home,
                    const std::map<std::string, std::string>& extra, int timeoutMs = 60000,
                    const std::vector<std::string>& args = {});

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// How many frames with this command byte the device received.
int framesOf(const sim::Cp290Sim& device, uint8_t command);
// The event numbers of the download frames the device received, in order.
std::vector<int> downloadedEvents(const sim::Cp290Sim& device);

// While alive TZ is `zone`, in effect at once, and when `now` is given the
// suite's clock stands there; both are as before afterwards.
class ZoneAndClock {
public:
    explicit ZoneAndClock(const char* zone, std::optional<std::time_t> now = std::nullopt);
    ~ZoneAndClock();
    ZoneAndClock(const ZoneAndClock&) = delete;
    ZoneAndClock& operator=(const ZoneAndClock&) = delete;

private:
    std::optional<std::string> m_oldZone;
    bool m_clockSet;
};

// The moment of a local date and time in the zone of TZ.
std::time_t localMoment(int year, int month, int day, int hour = 0, int minute = 0);

// The device path stored as the shared preferences of `configDir` hold it.
void storeSerialPath(const std::string& configDir, const std::string& path);

// One entry of the correction list: type 1 sunrise, 2 sunset, 3 the hour only.
struct CorrectionEntry {
    int number;
    int type;
    int zone = 0;
    bool protect = true;
};
// Writes the correction list into `confFile` as the controller saves it. The
// reference date (month 0: none) is stored for the kinds the list holds; the
// place only when given.
void storeCorrections(const std::string& confFile, const std::vector<CorrectionEntry>& entries, int month = 0,
                      int day = 0, int year = 0, const char* latitude = nullptr, const char* longitude = nullptr);

}  // namespace testing_support
