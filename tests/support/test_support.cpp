#include "tests/support/test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <QStringList>

#include "platform/clock.h"
#include "platform/syslog_log.h"

#ifndef CP290_BIN_DIR
#define CP290_BIN_DIR "."
#endif

namespace testing_support {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "cp290test.XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

LogCapture::LogCapture()
{
    platform::setLogSink([this](const std::string& s) { m_lines.push_back(s); });
}

LogCapture::~LogCapture()
{
    platform::setLogSink({});
}

bool LogCapture::contains(const std::string& text) const
{
    for (const auto& l : m_lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

std::string LogCapture::joined() const
{
    std::string s;
    for (const auto& l : m_lines)
        s += l;
    return s;
}

void SimTest::SetUp()
{
    if (const char* old = std::getenv("XDG_STATE_HOME"))
        m_oldStateHome = old;
    m_stateHome = std::make_unique<TempDir>();
    setenv("XDG_STATE_HOME", m_stateHome->path().c_str(), 1);
    restartSim(sim::SimOptions{});
}

void SimTest::TearDown()
{
    m_control.reset();
    if (m_sim)
        m_sim->stop();
    m_sim.reset();
    if (m_oldStateHome)
        setenv("XDG_STATE_HOME", m_oldStateHome->c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

void ToolHomeTest::SetUp()
{
    SimTest::SetUp();
    setenv("XDG_CONFIG_HOME", m_home.file("config").c_str(), 1);
    setenv("XDG_STATE_HOME", m_home.file("state").c_str(), 1);
    storeSerialPath(m_home.file("config"), devicePath());
}

void ToolHomeTest::TearDown()
{
    unsetenv("XDG_CONFIG_HOME");
    SimTest::TearDown();
}

void SimTest::restartSim(const sim::SimOptions& options)
{
    m_control.reset();
    if (m_sim)
        m_sim->stop();
    m_sim = std::make_unique<sim::Cp290Sim>(options);
    std::string err;
    ASSERT_TRUE(m_sim->start(&err)) << err;
}

std::string SimTest::control(const std::string& command)
{
    if (!m_control) {
        m_controlDir = std::make_unique<TempDir>();
        m_control = std::make_unique<sim::ControlChannel>(*m_sim, m_controlDir->file("control"));
        std::string err;
        if (!m_control->start(&err))
            return "no reply: " + err;
    }
    return sendControl(m_control->path(), command);
}

std::string sendControl(const std::string& path, const std::string& command)
{
    std::string reply, err;
    return sim::sendControl(path, command, reply, 5000, &err) ? reply : "no reply: " + err;
}

namespace {
void drain(int fd, std::string& into)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            into.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}
}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, int timeoutMs)
{
    RunResult r;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return r;
    const std::string exe = program.find('/') == std::string::npos
                                ? std::string(CP290_BIN_DIR) + "/" + program
                                : program;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        char buf[4096];
        if (fds[0].fd >= 0 && fds[0].revents) {
            const ssize_t n = read(outPipe[0], buf, sizeof buf);
            if (n > 0) r.out.append(buf, static_cast<size_t>(n)); else outOpen = false;
        }
        if (fds[1].fd >= 0 && fds[1].revents) {
            const ssize_t n = read(errPipe[0], buf, sizeof buf);
            if (n > 0) r.err.append(buf, static_cast<size_t>(n)); else errOpen = false;
        }
    }
    drain(outPipe[0], r.out);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

RunResult runAsCron(const std::string& program, const std::string& home,
                    const std::map<std::string, std::string>& extra, int timeoutMs,
                    const std::vector<std::string>& args)
{
    std::map<std::string, std::string> env = {
        {"HOME", home},         {"XDG_CONFIG_HOME", home + "/config"}, {"XDG_STATE_HOME", home + "/state"},
        {"CP290_LOG_STDERR", "1"}, {"QT_QPA_PLATFORM", ""},            {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
    };
    for (const auto& [k, v] : extra)
        env[k] = v;
    return runProgram(program, args, env, timeoutMs);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int framesOf(const sim::Cp290Sim& device, uint8_t command)
{
    int n = 0;
    for (const auto& f : device.frames())
        n += !f.empty() && f[0] == command;
    return n;
}

std::vector<int> downloadedEvents(const sim::Cp290Sim& device)
{
    std::vector<int> out;
    for (const auto& f : device.frames())
        if (f.size() == 12 && f[0] == 0x03)
            out.push_back((f[1] | (f[2] << 8)) / 8 + 1);
    return out;
}

ZoneAndClock::ZoneAndClock(const char* zone, std::optional<std::time_t> now) : m_clockSet(now.has_value())
{
    if (const char* old = std::getenv("TZ"))
        m_oldZone = old;
    setenv("TZ", zone, 1);
    tzset();
    if (now)
        platform::setNowForTesting(now);
}

ZoneAndClock::~ZoneAndClock()
{
    if (m_oldZone)
        setenv("TZ", m_oldZone->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    if (m_clockSet)
        platform::setNowForTesting(std::nullopt);
}

std::time_t localMoment(int year, int month, int day, int hour, int minute)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

void storeSerialPath(const std::string& configDir, const std::string& path)
{
    QSettings s(QString::fromStdString(configDir + "/Lumbrasken.conf"), QSettings::IniFormat);
    s.setValue("Serial Path", QString::fromStdString(path));
}

void storeCorrections(const std::string& confFile, const std::vector<CorrectionEntry>& entries, int month, int day,
                      int year, const char* latitude, const char* longitude)
{
    QSettings s(QString::fromStdString(confFile), QSettings::IniFormat);
    QStringList numbers, types, protect, zones;
    bool kinds[3] = {};
    for (const CorrectionEntry& e : entries) {
        numbers << QString::number(e.number);
        types << QString::number(e.type);
        protect << (e.protect ? "1" : "0");
        zones << QString::number(e.zone);
        if (e.type == 1 || e.type == 2)
            kinds[e.type] = true;
    }
    s.setValue("Events", static_cast<int>(entries.size()));
    s.setValue("Event Numbers", numbers);
    s.setValue("Corr Types", types);
    s.setValue("Corr DST", protect);
    s.setValue("Last Zone", zones);
    for (const int kind : {1, 2}) {
        if (!kinds[kind] || month == 0)
            continue;
        const QString prefix = kind == 1 ? "Last SU " : "Last SD ";
        s.setValue(prefix + "Mo", month);
        s.setValue(prefix + "Da", day);
        s.setValue(prefix + "Yr", year);
    }
    if (latitude)
        s.setValue("Latitude", latitude);
    if (longitude)
        s.setValue("Longitude", longitude);
}

}  // namespace testing_support
