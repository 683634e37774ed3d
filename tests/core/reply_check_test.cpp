// cp290ctl against an emulator that misbehaves: stray bytes, unsolicited
// reports, bad checksums, replies cut short, an echoing line, a noisy line,
// and an interrupt in the middle of a paced upload.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "link/cp290_protocol.h"
#include "link/serial_link.h"
#include "tests/support/test_support.h"

using testing_support::readFile;
using testing_support::RunResult;

namespace {
const cp290::EventImage kSixThirtyA1 = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
const cp290::EventImage kDimP = {0x09, 0x41, 0x17, 0x3B, 0x01, 0x80, 0xC0, 0xF5};

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class ReplyCheckTest : public testing_support::SimTest {
protected:
    void misbehave(void (*set)(sim::SimOptions&))
    {
        sim::SimOptions o;
        set(o);
        restartSim(o);
        device().setEvent(1, kSixThirtyA1);
        device().setEvent(100, kDimP);
        device().setClock({30, 13, 0x20});
        device().setBaseHouseCode(0xA0);
    }
    RunResult ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--device", devicePath()});
        return testing_support::runProgram(std::string(CP290_BIN_DIR) + "/cp290ctl", args,
                                           {{"XDG_CONFIG_HOME", home.path()}, {"CP290_SERIAL_DEVICES", ""}, {"CP290_LOG_STDERR", "1"}});
    }
    testing_support::TempDir home, dir;
};
}  // namespace

TEST_F(ReplyCheckTest, StrayBytesAndReportsAheadOfRepliesAreSkipped)
{
    misbehave([](sim::SimOptions& o) {
        o.strayBytes = 3;  // 0x13 0xFF 0x42
        o.reportBeforeReply = true;
    });
    RunResult r = ctl({"clock"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.out, "1:30 PM") && has(r.out, "Saturday") && has(r.out, "Base house code: D")) << r.out;

    r = ctl({"read", dir.file("got.sch")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    r = ctl({"list", dir.file("got.sch")});
    EXPECT_TRUE(has(r.out, "06:30") && has(r.out, "23:59")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;

    // Sent back whole: 128 acknowledgements behind stray bytes, one log line.
    r = ctl({"send", dir.file("got.sch")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    size_t lines = 0;
    for (size_t at = 0; (at = r.err.find("Quorvel - stray input on the CP290 line: skipped", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 1u) << r.err;
    EXPECT_EQ(device().event(100), kDimP);

    EXPECT_EQ(ctl({"clock", "--set"}).exitStatus, 0);
    EXPECT_EQ(ctl({"base", "B", "--yes"}).exitStatus, 0);
    EXPECT_EQ(device().baseHouseCode(), 0xE0);
}

TEST_F(ReplyCheckTest, BadChecksumsFailAndWriteNothing)
{
    misbehave([](sim::SimOptions& o) { o.badChecksum = true; });
    RunResult r = ctl({"clock"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "Quorvel Error - CP290 reply not valid (clock reply checksum")) << r.err;
    EXPECT_FALSE(has(r.out, "Time:")) << r.out;

    r = ctl({"read", dir.file("got.sch")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "reply not valid (events read with checksum")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("got.sch")));
    r = ctl({"list"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST_F(ReplyCheckTest, ReportInsideARepliesNeverGivesAShiftedTable)
{
    misbehave([](sim::SimOptions& o) { o.reportMidReply = true; });
    const RunResult r = ctl({"read", dir.file("got.sch")});
    if (r.exitStatus == 0) {
        const RunResult l = ctl({"list", dir.file("got.sch")});
        EXPECT_EQ(std::count(l.out.begin(), l.out.end(), '\n'), 3) << l.out;
        EXPECT_TRUE(has(l.out, "06:30") && has(l.out, "23:59")) << l.out;
    } else {
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(has(r.err, "reply not valid")) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("got.sch")));
    }
    const RunResult c = ctl({"clock"});
    EXPECT_EQ(c.exitStatus, 1) << c.out;
    EXPECT_TRUE(has(c.err, "reply not valid")) << c.err;
}

TEST_F(ReplyCheckTest, EchoingLineIsNoDevice)
{
    misbehave([](sim::SimOptions& o) { o.echo = true; });
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"clock", "--set"}, {"base", "D", "--yes"}, {"clock"}, {"list"}}) {
        const RunResult r = ctl(args);
        EXPECT_EQ(r.exitStatus, 1) << args[0];
        EXPECT_TRUE(has(r.err, "reply not valid (echo of the command just sent)")) << r.err;
    }
}

TEST_F(ReplyCheckTest, NoiseAndShortRepliesFailWithinTheirDeadline)
{
    misbehave([](sim::SimOptions& o) { o.noise = true; });
    auto t0 = std::chrono::steady_clock::now();
    RunResult r = ctl({"clock", "--set"});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "reply not valid (no reply in")) << r.err;
    EXPECT_LT(took, 8.0) << "noise kept the wait alive";

    misbehave([](sim::SimOptions& o) { o.cutShort = true; });
    r = ctl({"clock"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "reply not valid (reply cut short")) << r.err;
}

// Ctrl-C in the middle of a paced upload: the program dies of the signal,
// and the line is back as it was: settings, exclusive use and lock.
TEST_F(ReplyCheckTest, InterruptedReadLeavesTheLineAsFound)
{
    sim::SimOptions o;
    o.paced = true;
    restartSim(o);
    device().setEvent(50, kDimP);
    const std::string path = device().ptyPath();
    termios before{};
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(tcgetattr(fd, &before), 0);
        ::close(fd);
    }
    const std::string exe = std::string(CP290_BIN_DIR) + "/cp290ctl";
    const std::string out = dir.file("got.sch");
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        execl(exe.c_str(), exe.c_str(), "--device", path.c_str(), "read", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::usleep(1500 * 1000);  // well inside the 18 s upload
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_FALSE(std::filesystem::exists(out));

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    int exclusive = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "exclusive use left set";
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "lock still held";
    ::close(fd);
}
