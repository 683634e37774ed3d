// The serial line against the emulator on a real pseudo-terminal: replies,
// bounds, exclusive use between processes, and the line's settings restored.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <pty.h>
#include <thread>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "link/device_commands.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/process_name.h"
#include "tests/support/test_support.h"

using namespace cp290;
using testing_support::LogCapture;

namespace {
const EventImage kSixThirty = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
const EventImage kDimSecurity = {0x09, 0x41, 0x17, 0x3B, 0x01, 0x80, 0xC0, 0xF5};

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

class SerialLineTest : public testing_support::SimTest {};
}  // namespace

TEST_F(SerialLineTest, DownloadsAndUploadsThroughTheDevice)
{
    SerialLine line(Program::Quorvel);
    ASSERT_TRUE(line.open(devicePath()));
    EXPECT_TRUE(sendEvent(line, 2, kSixThirty).ok());
    EXPECT_TRUE(sendEvent(line, 128, kDimSecurity).ok());
    line.close();
    EXPECT_EQ(device().event(2), kSixThirty);
    EXPECT_EQ(device().event(128), kDimSecurity);
    EXPECT_FALSE(device().event(1));

    std::vector<std::optional<EventImage>> got(129);
    std::vector<int> order;
    ASSERT_TRUE(line.open(devicePath()));
    ASSERT_TRUE(uploadEvents(line, [&](int n, const std::optional<EventImage>& img) {
                    order.push_back(n);
                    got[static_cast<size_t>(n)] = img;
                    return true;
                }).ok());
    ASSERT_EQ(order.size(), 128u);
    EXPECT_EQ(order.front(), 1);
    EXPECT_EQ(order.back(), 128);
    EXPECT_FALSE(got[1]);
    EXPECT_EQ(got[2], kSixThirty);
    EXPECT_EQ(got[128], kDimSecurity);

    // The upload's trailing checksum byte must not be read as the next reply,
    // even by a command on the same open.
    ClockReply c;
    device().setClock({30, 13, 0x20});
    device().setBaseHouseCode(0xA0);
    ASSERT_TRUE(requestClock(line, c).ok());
    EXPECT_EQ(c.hour, 13);
    EXPECT_EQ(c.minute, 30);
    EXPECT_EQ(c.dayBit, 0x20);
    EXPECT_EQ(c.houseCode, 0xA0);
}

TEST_F(SerialLineTest, ClockAndBaseCodeReachTheDevice)
{
    platform::setNowForTesting(std::nullopt);
    SerialLine line(Program::Tamsel);
    ASSERT_TRUE(line.open(devicePath()));
    std::tm t{};
    t.tm_wday = 3;
    t.tm_hour = 7;
    t.tm_min = 5;
    EXPECT_TRUE(sendClock(line, t).ok());
    device().setEvent(4, kSixThirty);
    EXPECT_TRUE(sendBaseCode(line, HC[4]).ok());
    line.close();
    const sim::SimClock c = device().clock();
    EXPECT_EQ(c.hour, 7);
    EXPECT_EQ(c.minute, 5);
    EXPECT_EQ(c.dayBit, 0x04);
    EXPECT_EQ(device().baseHouseCode(), 0xA0);
    EXPECT_FALSE(device().event(4)) << "setting the base code erases the events";
}

TEST_F(SerialLineTest, SilentDeviceFailsWithinTheBound)
{
    device().setSilent(true);
    LogCapture log;
    SerialLine line(Program::Veskarn);
    ASSERT_TRUE(line.open(devicePath()));
    const auto t0 = std::chrono::steady_clock::now();
    const LinkResult r = sendEvent(line, 1, kSixThirty);
    const double took = secondsSince(t0);
    EXPECT_EQ(r.status, LinkStatus::Timeout);
    EXPECT_GE(took, kReplyIdleMs / 1000.0 - 0.2);
    EXPECT_LT(took, kReplyIdleMs / 1000.0 + 2.0);
    EXPECT_TRUE(log.contains("Veskarn Error - CP290 not responding\n")) << log.joined();

    const auto t1 = std::chrono::steady_clock::now();
    const SelfTestOutcome st = runSelfTest(line, 1500);
    EXPECT_LT(secondsSince(t1), 3.0);
    EXPECT_FALSE(st.passed);
    EXPECT_FALSE(st.replied);
    EXPECT_TRUE(log.contains("Veskarn - *** CP290 NOT Responding *** \n")) << log.joined();
}

TEST_F(SerialLineTest, SelfTestReportsTheStatusBit)
{
    device().setSelfTestMs(200);
    SerialLine line(Program::Quorvel);
    LogCapture log;
    ASSERT_TRUE(line.open(devicePath()));
    SelfTestOutcome st = runSelfTest(line, 5000);
    EXPECT_TRUE(st.replied);
    EXPECT_TRUE(st.passed);
    EXPECT_TRUE(log.contains("Quorvel - CP290 Status = 0 \n")) << log.joined();
    device().setFailSelfTest(true);
    st = runSelfTest(line, 5000);
    EXPECT_FALSE(st.passed);
    EXPECT_TRUE(log.contains("Quorvel - CP290 Status = 1 \n"));
}

namespace {
// Runs `child` in a forked process with the line wait set to waitMs; its exit status.
int inChild(int waitMs, const std::function<int()>& child)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("CP290_LINE_WAIT_MS", std::to_string(waitMs).c_str(), 1);
        _exit(child());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
}  // namespace

// Programs of the suite take turns through the lock: a second program waits
// while the first holds the line, names it once in the log, and fails only
// when the wait runs out. Two names of one device are one line.
TEST_F(SerialLineTest, SecondProgramWaitsItsTurn)
{
    testing_support::TempDir dir;
    const std::string link = dir.file("cp290");
    ASSERT_EQ(symlink(device().ptyPath().c_str(), link.c_str()), 0);
    const std::string self = platform::processName(getpid());
    const std::string waiting = "Tamsel - waiting for the CP290 line held by " + self + " (process " +
                                std::to_string(getpid()) + ")\n";
    struct Case {
        int waitMs;
        int holdMs;  // how long this process keeps the line after the child started
        int expected;
    };
    for (const Case c : {Case{300, 1500, 3}, Case{4000, 500, 0}}) {
        SerialLine line(Program::Quorvel);
        ASSERT_TRUE(line.open(devicePath()));
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
            line.close();
        });
        const int got = inChild(c.waitMs, [&] {
            LogCapture log;
            SerialLine other(Program::Tamsel);
            const LinkResult r = other.open(link);
            if (!log.contains(waiting))
                return 5;
            if (r)
                return 0;
            // Taken, and by whom: this test's process holds the lock.
            return r.error == EBUSY && r.holderPid == getppid() && log.contains("in use by " + self) ? 3 : 4;
        });
        release.join();
        EXPECT_EQ(got, c.expected) << "wait " << c.waitMs << " ms";
    }

    // In this process a second open fails at once, in the tool's words.
    SerialLine line(Program::Quorvel);
    ASSERT_TRUE(line.open(devicePath()));
    LogCapture log;
    SerialLine second(Program::Tamsel);
    EXPECT_FALSE(second.open(devicePath()));
    EXPECT_TRUE(log.contains("Tamsel Error - Error setting TIOCEXCL on " + devicePath())) << log.joined();
    line.close();
    EXPECT_TRUE(second.open(devicePath())) << "the line is free again after the close";
}

// A program of the suite killed while it holds the line leaves exclusive use
// set on a line another process keeps open. The emulator, which keeps it
// open, clears it; so does the next program of the suite running as root.
TEST_F(SerialLineTest, KilledHolderLeavesNoBusyLine)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can look at a line left exclusive";
    auto killedHolder = [&](const std::string& path) {
        return inChild(1000, [&] {
            SerialLine line(Program::Brondile);
            if (!line.open(path))
                return 1;
            raise(SIGKILL);
            return 2;
        });
    };
    auto exclusiveOf = [](int fd) {
        int exclusive = 0;
        ioctl(fd, TIOCGEXCL, &exclusive);
        return exclusive;
    };

    // The next program, on a line kept open by someone else (here: this test).
    int master = -1, keeper = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &keeper, name, nullptr, nullptr), 0);
    ASSERT_EQ(killedHolder(name), 128 + SIGKILL);
    ASSERT_EQ(exclusiveOf(keeper), 1);
    {
        LogCapture log;
        SerialLine line(Program::Tamsel);
        EXPECT_TRUE(line.open(name)) << log.joined();
        EXPECT_TRUE(log.contains("Tamsel - exclusive use of " + std::string(name) + " was left set by ")) << log.joined();
        line.close();
        EXPECT_EQ(exclusiveOf(keeper), 0);
    }
    ::close(keeper);
    ::close(master);

    // The emulator, within its check of a second.
    ASSERT_EQ(killedHolder(devicePath()), 128 + SIGKILL);
    const int probe = ::open(device().ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    for (int i = 0; i < 30 && exclusiveOf(probe); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(exclusiveOf(probe), 0);
    ::close(probe);
    // A clean turn empties the lock file again for the tests after this one.
    SerialLine clean(Program::Quorvel);
    EXPECT_TRUE(clean.open(devicePath()));
}

// A program stopped in the middle of an upload leaves the CP290 sending the
// rest; the next program lets the line go quiet before its first frame.
TEST_F(SerialLineTest, NextProgramWaitsOutAnAbandonedUpload)
{
    sim::SimOptions o;
    o.paced = true;
    restartSim(o);
    for (int n = 1; n <= 20; ++n)
        device().setEvent(n, kSixThirty);
    const int got = inChild(1000, [&] {
        SerialLine line(Program::Veskarn);
        if (!line.open(devicePath()))
            return 1;
        uploadEvents(line, [](int n, const std::optional<EventImage>&) {
            if (n == 3)
                raise(SIGKILL);
            return true;
        });
        return 2;
    });
    ASSERT_EQ(got, 128 + SIGKILL);
    SerialLine next(Program::Tamsel);
    ASSERT_TRUE(next.open(devicePath()));
    ClockReply c;
    EXPECT_TRUE(requestClock(next, c).ok());
}

TEST_F(SerialLineTest, LineSettingsAreRestoredAfterAnOperation)
{
    const int fd = ::open(devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    before.c_cc[VTIME] = 3;
    before.c_cc[VMIN] = 1;
    cfsetspeed(&before, B9600);
    before.c_lflag |= ICANON;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(fd, &before), 0);

    {
        SerialLine line(Program::Brondile);
        ASSERT_TRUE(line.open(devicePath()));
        termios during{};
        ASSERT_EQ(tcgetattr(fd, &during), 0);
        EXPECT_EQ(cfgetospeed(&during), B600);
        EXPECT_EQ(during.c_cc[VTIME], 10);
        EXPECT_EQ(during.c_cc[VMIN], 0);
        EXPECT_EQ(during.c_lflag & ICANON, 0u);
        device().setSilent(true);
        EXPECT_FALSE(sendEvent(line, 1, kSixThirty).ok());
        // Leaving the scope after a failure restores the line too.
    }
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    ::close(fd);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(after.c_cc[VTIME], 3);
    EXPECT_EQ(after.c_cc[VMIN], 1);
}

TEST(SerialLineOpen, MissingDeviceIsLoggedInEachProgramsWords)
{
    LogCapture log;
    SerialLine q(Program::Quorvel);
    EXPECT_FALSE(q.open("/nonexistent/cp290"));
    SerialLine t(Program::Tamsel);
    EXPECT_FALSE(t.open("/nonexistent/cp290"));
    EXPECT_TRUE(log.contains("Quorvel Error opening serial port /nonexistent/cp290 - No such file or directory(2).\n"))
        << log.joined();
    EXPECT_TRUE(log.contains("Tamsel Error - Error opening serial port /nonexistent/cp290 - No such file or directory(2).\n"));
}

// An adapter pulled out mid-operation hangs the line up: from then on poll()
// reports it readable and read() returns 0 for ever, so the idle bound never
// comes. A reply wait must end there instead of spinning.
TEST_F(SerialLineTest, HungUpLineEndsTheWaitAtOnce)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "hanging a line up takes root";
    const std::string path = devicePath();
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(15);  // a spinning wait ends here, killed
        SerialLine line(Program::Quorvel);
        if (!line.open(path))
            _exit(2);
        const auto t0 = std::chrono::steady_clock::now();
        uint8_t b = 0;
        const LinkResult r = line.readByte(b, 10000, std::chrono::steady_clock::now() + std::chrono::seconds(10));
        uint8_t reply[kAckLength];
        const size_t got = line.readUpTo(reply, sizeof reply, 10000);
        _exit(!r.ok() && got == 0 && secondsSince(t0) < 4.0 ? 0 : 3);
    }
    device().setSilent(true);
    ::usleep(500 * 1000);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ioctl(fd, TIOCVHANGUP), 0) << std::strerror(errno);
    ::close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the wait spun on the hung-up line until killed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A second open that loses the race for the lock must leave the holder's
// exclusive use alone: clearing it would let any other user's program in.
// Can a program without root's pass open the line now? Root ignores exclusive
// use, so as root the attempt is made by a child that became nobody.
namespace {
int openAsOrdinaryUser(const std::string& path)
{
    if (geteuid() != 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int err = fd < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        return err;
    }
    chmod(path.c_str(), 0666);
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(255);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST_F(SerialLineTest, ClosedLineIsOpenToOrdinaryUsers)
{
    const std::string path = device().ptyPath();
    SerialLine line(Program::Tamsel);
    ASSERT_TRUE(line.open(path));
    if (openAsOrdinaryUser(path) == -1)
        GTEST_SKIP() << "no user 'nobody' to try the line as";
    EXPECT_EQ(openAsOrdinaryUser(path), EBUSY) << "the line was not held exclusively";
    ASSERT_TRUE(sendClock(line, platform::localTime(platform::now())).ok());
    line.close();
    EXPECT_EQ(openAsOrdinaryUser(path), 0) << "exclusive use left set after close";
}

// A terminal program holding the line with exclusive use but no lock keeps
// it, also against root; and its flag stays set.
TEST_F(SerialLineTest, ExclusiveUseOfAnotherHolderIsRespected)
{
    const int holder = ::open(device().ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    LogCapture log;
    SerialLine line(Program::Tamsel);
    const LinkResult r = line.open(devicePath());
    EXPECT_EQ(r.status, LinkStatus::OpenFailed);
    EXPECT_EQ(r.error, EBUSY);
    EXPECT_TRUE(log.contains("Tamsel Error - Error setting TIOCEXCL on " + devicePath())) << log.joined();
    int exclusive = 0;
    ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ioctl(holder, TIOCNXCL);
    ::close(holder);

    const LinkResult missing = line.open("/nonexistent/tty");
    EXPECT_EQ(missing.error, ENOENT);
}

// A reply the device sent to an earlier program (here: a clock request whose
// answer nobody read) must not be taken for this open's reply.
TEST_F(SerialLineTest, StaleInputIsThrownAwayAtOpen)
{
    device().setClock({5, 7, 0x04});
    {
        const int fd = ::open(devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        const Frame f = clockRequestFrame();
        ASSERT_EQ(::write(fd, f.data(), f.size()), static_cast<ssize_t>(f.size()));
        ::usleep(300 * 1000);  // the answer waits in the line's input
        ::close(fd);
    }
    device().setClock({45, 21, 0x40});
    SerialLine line(Program::Quorvel);
    ASSERT_TRUE(line.open(devicePath()));
    ClockReply c;
    ASSERT_TRUE(requestClock(line, c).ok());
    EXPECT_EQ(c.hour, 21);
    EXPECT_EQ(c.minute, 45);
}

TEST_F(SerialLineTest, SelfTestSkipsToTheReplyAndNoiseNeverPasses)
{
    sim::SimOptions o;
    o.strayBytes = 1;  // 0x13
    o.selfTestMs = 100;
    restartSim(o);
    SerialLine line(Program::Quorvel);
    ASSERT_TRUE(line.open(devicePath()));
    SelfTestOutcome st = runSelfTest(line, 5000);
    EXPECT_TRUE(st.replied);
    EXPECT_TRUE(st.passed);
    line.close();

    o = {};
    o.noise = true;
    restartSim(o);
    LogCapture log;
    ASSERT_TRUE(line.open(devicePath()));
    const auto t0 = std::chrono::steady_clock::now();
    st = runSelfTest(line, 1500);
    EXPECT_LT(secondsSince(t0), 3.0);
    EXPECT_FALSE(st.passed);
    EXPECT_FALSE(st.replied);
    EXPECT_TRUE(log.contains("Quorvel Error - CP290 reply not valid (no reply in")) << log.joined();
}

// Replies written whole into one end of a socket pair, then a hang-up, so
// each wait ends at once: where the reader draws the line between a reply
// and not one.
TEST(ScriptedReply, OnlyAWholeReplyIsTaken)
{
    const std::vector<uint8_t> six(6, 0xFF);
    std::vector<uint8_t> upload = six;
    upload.push_back(0x00);                   // status
    upload.insert(upload.end(), 128, 0xFF);   // 128 empty slots
    upload.push_back(0x80);                   // their sum
    auto with = [](std::vector<uint8_t> v, std::initializer_list<uint8_t> tail) {
        v.insert(v.end(), tail);
        return v;
    };
    struct Case {
        const char* what;
        bool upload;
        std::vector<uint8_t> bytes;
        bool ok;
    } cases[] = {
        {"six 0xFF and a status", false, with(six, {0x00}), true},
        {"five 0xFF and a status", false, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, false},
        {"an upload and its sum", true, upload, true},
        {"an upload with a byte after its sum", true, with(upload, {0x00}), false},
    };
    for (const Case& c : cases) {
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        ASSERT_EQ(::write(sv[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
        ::shutdown(sv[1], SHUT_WR);
        LogCapture log;
        SerialLine line(Program::Quorvel);
        line.adoptStream(sv[0]);
        const LinkResult r = c.upload ? uploadEvents(line, {}) : sendEvent(line, 1, kSixThirty);
        EXPECT_EQ(r.ok(), c.ok) << c.what << "\n" << log.joined();
        line.close();
        ::close(sv[1]);
    }
}
