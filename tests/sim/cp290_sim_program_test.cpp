// What the emulator leaves outside itself: the state file, the link to its
// line, and the cp290-sim executable.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/sim/line_client.h"
#include "tests/support/test_support.h"

using namespace simtest;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {
const Bytes kWake = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};

int64_t wallMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

using Cp290SimFilesTest = SimTest;

TEST_F(Cp290SimFilesTest, StateSurvivesARestart)
{
    TempDir dir;
    sim::SimOptions options;
    options.stateFile = dir.file("cp290.state");
    restartSim(options);
    {
        LineClient line(devicePath());
        ASSERT_TRUE(line.ok());
        line.exchange(frame(0, {0xE0}), 7);
        line.exchange(writeEventFrame(7, kWake), 7);
        line.exchange(frame(3, {0x00, 0x04, 0xAB, 0xCD, 0x78}), 7);
        line.exchange(frame(2, {0x05, 0x07, 0x04, 0x10}), 7);
    }
    EXPECT_NE(readFile(options.stateFile).find("\nevent 7 08 7F 06 1E 80 00 60 02\n"), std::string::npos)
        << "saved at once, not only on stop";
    m_sim->stop();
    restartSim(options);
    EXPECT_EQ(device().event(7), (sim::EventImage{0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02}));
    EXPECT_FALSE(device().event(8));
    EXPECT_EQ(device().baseHouseCode(), 0xE0);
    EXPECT_EQ(device().status(), 1);
    EXPECT_EQ(device().graphics()[0], 0xAB);
    EXPECT_EQ(device().clock().hour, 7);

    // The clock ran on while the device was off.
    m_sim->stop();
    writeFile(options.stateFile, "cp290-sim-state 1\nclock 23:58 40 " + std::to_string(wallMs() - 185'000) + "\n");
    restartSim(options);
    const sim::SimClock c = device().clock();
    EXPECT_EQ((std::array{c.minute, c.hour, int(c.dayBit)}), (std::array{1, 0, 1}));
    m_sim->stop();  // saves, while the folder is still there
}

TEST_F(Cp290SimFilesTest, MalformedStateFileOrForeignFileAtTheLinkStopsTheStart)
{
    TempDir dir;
    sim::SimOptions options;
    options.stateFile = dir.file("bad.state");
    const std::string& state = options.stateFile;
    for (const std::string& text : {std::string("cp290-sim-state 1\nbase 60\nevent 129 08 7F 06 1E 80 00 60 02\n"),
                                    std::string("cp290-sim-state 1\nbase 6\n"),
                                    std::string("\x01\x02garbage", 9), std::string()}) {
        writeFile(state, text);
        sim::Cp290Sim device(options);
        std::string error;
        EXPECT_FALSE(device.start(&error));
        EXPECT_NE(error.find("invalid state file"), std::string::npos) << error;
    }
    writeFile(state, "cp290-sim-state 1\nbase 60\nevent 129 08 7F 06 1E 80 00 60 02\n");
    std::string error;
    sim::Cp290Sim(options).start(&error);
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;

    const std::string link = dir.file("line");
    writeFile(link, "precious");
    options.stateFile.clear();
    options.linkPath = link;
    sim::Cp290Sim device(options);
    EXPECT_FALSE(device.start(&error));
    EXPECT_EQ(readFile(link), "precious");
}

TEST_F(Cp290SimFilesTest, LinkReplacesAnOldLinkAndGoesOnStop)
{
    TempDir dir;
    const std::string link = dir.file("cp290");
    fs::create_symlink("/nonexistent", link);
    sim::SimOptions options;
    options.linkPath = link;
    restartSim(options);
    EXPECT_EQ(devicePath(), link);
    EXPECT_EQ(fs::read_symlink(link), device().ptyPath());
    LineClient(link).exchange(frame(4), 12);
    EXPECT_EQ(device().frames().size(), 1u);
    m_sim->stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Cp290SimProgram, AnnouncesItsLineAnswersLogsAndSavesOnSignal)
{
    TempDir dir;
    const std::string link = dir.file("cp290"), state = dir.file("state"), control = dir.file("control");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        execl(CP290_BIN_DIR "/cp290-sim", "cp290-sim", "--no-pacing", "--log", "--link", link.c_str(), "--state",
              state.c_str(), "--control", control.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    auto readSome = [&](int ms) {
        std::string got;
        char buf[512];
        pollfd p{out[0], POLLIN, 0};
        for (ssize_t n; poll(&p, 1, ms) > 0 && (n = read(out[0], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        return got;
    };
    std::string ready;
    for (int i = 0; i < 100 && ready.find('\n') == std::string::npos; ++i)
        ready += readSome(100);
    ASSERT_EQ(ready.rfind("cp290-sim ready on /dev/pts/", 0), 0u) << ready;
    EXPECT_EQ(ready.substr(ready.find(" link ")), " link " + link + "\n");
    {
        LineClient line(link);
        ASSERT_TRUE(line.ok());
        EXPECT_EQ(line.exchange(writeEventFrame(1, kWake), 7), ack(1));
    }
    const RunResult cut = runProgram("cp290-sim", {"--send", control, "power-cut"}, {}, 5000);
    EXPECT_EQ(cut.exitStatus, 0);
    EXPECT_EQ(cut.out, "ok\n");
    EXPECT_EQ(runProgram("cp290-sim", {"--send", control, "power", "cut"}, {}, 5000).exitStatus, 1);
    kill(pid, SIGTERM);
    const std::string log = readSome(5000);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(log, "frame 03 00 00 08 7F 06 1E 80 00 60 02 8D\n");
    EXPECT_NE(readFile(state).find("status 00"), std::string::npos);
    EXPECT_EQ(readFile(state).find("event 1 "), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)) || fs::exists(fs::symlink_status(control)));
}

TEST(Cp290SimProgram, BadOptionsExitWithStatusTwo)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"--baud", "fast"}, {"--frobnicate"}, {"--link"},
                                                                   {"--self-test-ms", "-1"}, {"--silent=yes"}}) {
        const RunResult r = runProgram("cp290-sim", args, {}, 5000);
        EXPECT_EQ(r.exitStatus, 2) << args[0];
        EXPECT_FALSE(r.err.empty());
    }
    const RunResult help = runProgram("cp290-sim", {"--help"}, {}, 5000);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--no-pacing"), std::string::npos);
}
