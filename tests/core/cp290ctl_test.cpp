// cp290ctl, run as a program against the emulator.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "link/cp290_protocol.h"
#include "link/serial_link.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::readFile;
using testing_support::RunResult;
using testing_support::writeFile;

namespace {
const cp290::EventImage kSixThirtyA1 = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
const cp290::EventImage kDimP = {0x09, 0x41, 0x17, 0x3B, 0x01, 0x80, 0xC0, 0xF5};

std::string record(int n, const cp290::EventImage& img, int count)
{
    std::string s(1, static_cast<char>(n));
    s.append(img.begin(), img.end());
    return s + static_cast<char>(count);
}

std::string lastLine(std::string t)
{
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

bool has(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

class Cp290ctlTest : public testing_support::SimTest {
protected:
    // No stored preferences and no listed devices unless a test gives them.
    RunResult ctl(std::vector<std::string> args, std::map<std::string, std::string> env = {})
    {
        env.emplace("XDG_CONFIG_HOME", home.path());
        env.emplace("CP290_SERIAL_DEVICES", "");
        return testing_support::runProgram(std::string(CP290_BIN_DIR) + "/cp290ctl", args, env);
    }
    RunResult onDevice(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--device", devicePath()});
        return ctl(args);
    }
    testing_support::TempDir home, dir;
};
}  // namespace

TEST_F(Cp290ctlTest, ReadSendAndList)
{
    device().setEvent(2, kSixThirtyA1);
    device().setEvent(40, kDimP);
    RunResult r = onDevice({"read", dir.file("out.sch")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("out.sch")), record(2, kSixThirtyA1, 1) + record(40, kDimP, 2));

    r = onDevice({"list", "--format", "json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const QJsonArray listed = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(listed.size(), 2) << r.out;
    EXPECT_EQ(listed[1].toObject(),
              (QJsonObject{{"event", 40}, {"time", "23:59"}, {"days", QJsonArray{"Mon", "Sun"}}, {"house", "P"},
                           {"units", QJsonArray{8, 9}}, {"function", "dim"}, {"level", 15}, {"mode", "security"},
                           {"names", QJsonArray{"Device 8", "Device 9"}}}));

    // --add: only the file's events; the device's others stay.
    writeFile(dir.file("in.sch"), record(5, kSixThirtyA1, 1));
    device().clearFrames();
    ASSERT_EQ(onDevice({"send", dir.file("in.sch"), "--add"}).exitStatus, 0);
    EXPECT_EQ(device().frames().size(), 1u);
    EXPECT_EQ(device().event(40), kDimP);
    // Without --add every slot the file lacks is cleared.
    ASSERT_EQ(onDevice({"send", dir.file("in.sch")}).exitStatus, 0);
    EXPECT_EQ(device().frames().size(), 129u);
    EXPECT_EQ(device().event(5), kSixThirtyA1);
    EXPECT_EQ(device().event(40), cp290::emptyEventImage());

    // A file that cannot be read sends nothing; listing a file needs no device.
    r = onDevice({"send", dir.file("missing.sch")});
    EXPECT_EQ(r.exitStatus, 66);
    EXPECT_TRUE(lastLine(r.err).starts_with("cp290ctl: cannot read")) << r.err;
    EXPECT_EQ(device().frames().size(), 129u);
    r = ctl({"--device", "/nonexistent/tty", "list", dir.file("in.sch")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.out, "06:30") && !has(r.out, "23:59")) << r.out;
}

TEST_F(Cp290ctlTest, ProtectedAndForeignFilesAreRefusedWhole)
{
    // A schedule file nobody may write is not replaced by a read.
    device().setEvent(2, kSixThirtyA1);
    writeFile(dir.file("protected.sch"), record(7, kDimP, 2));
    std::filesystem::permissions(dir.file("protected.sch"), std::filesystem::perms::owner_read |
                                                                std::filesystem::perms::group_read |
                                                                std::filesystem::perms::others_read);
    RunResult r = onDevice({"read", dir.file("protected.sch")});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_TRUE(has(r.err, "Quorvel Error  writing Schedule - Permission denied(13).")) << r.err;
    EXPECT_EQ(readFile(dir.file("protected.sch")), record(7, kDimP, 2));

    // A megabyte of anything is no schedule: one line, no events listed.
    std::string noise(1 << 20, '\0');
    unsigned x = 12345;
    for (char& c : noise)
        c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    writeFile(dir.file("noise.sch"), noise);
    r = ctl({"list", dir.file("noise.sch")});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_TRUE(has(r.err, "not an event schedule file (larger than 1280 bytes)")) << r.err;
    EXPECT_LT(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(Cp290ctlTest, ClockBaseAndSelfTest)
{
    device().setClock({30, 13, 0x20});
    device().setBaseHouseCode(0xA0);
    RunResult r = onDevice({"clock"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.out, "1:30 PM") && has(r.out, "Saturday") && has(r.out, "Base house code: D")) << r.out;

    // 2024-01-03 (a Wednesday) 07:05 UTC.
    r = ctl({"--device", devicePath(), "clock", "--set"}, {{"CP290_NOW", "1704265500"}, {"TZ", "UTC"}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.out, "7:05 AM") && has(r.out, "Wednesday")) << r.out;

    device().clearFrames();
    EXPECT_EQ(onDevice({"base", "b"}).exitStatus, 64);  // erases the events: needs --yes
    EXPECT_TRUE(device().frames().empty());
    ASSERT_EQ(onDevice({"base", "b", "--yes"}).exitStatus, 0);
    EXPECT_EQ(device().baseHouseCode(), 0xE0);

    device().setSelfTestMs(50);
    EXPECT_EQ(onDevice({"selftest", "--yes"}).exitStatus, 0);
    device().setFailSelfTest(true);
    r = onDevice({"selftest", "--yes"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(lastLine(r.err), "cp290ctl: the CP290's self test failed");
}

TEST_F(Cp290ctlTest, ChoosesTheDeviceAndFailsWithOneLine)
{
    device().setEvent(1, kSixThirtyA1);
    // The stored "Serial Path" comes before the device listing.
    testing_support::storeSerialPath(home.path(), devicePath());
    EXPECT_EQ(ctl({"list"}, {{"CP290_SERIAL_DEVICES", "/nonexistent/first"}}).exitStatus, 0);
    ASSERT_TRUE(std::filesystem::remove(home.file("Lumbrasken.conf")));
    EXPECT_EQ(ctl({"list"}, {{"CP290_SERIAL_DEVICES", devicePath() + ":/nonexistent/second"}}).exitStatus, 0);

    RunResult r = ctl({"list"});
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_EQ(lastLine(r.err), "cp290ctl: no serial device found; use --device PATH");
    r = ctl({"--device", "/nonexistent/tty", "clock"});
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_TRUE(lastLine(r.err).starts_with(
        "cp290ctl: cannot open /nonexistent/tty: No such file or directory (Quorvel Error opening"))
        << r.err;
    EXPECT_EQ(ctl({"frobnicate"}).exitStatus, 64);
    EXPECT_EQ(ctl({"--help"}).exitStatus, 0);
}

// Every command's failures end with the status the help and the manual give
// (64 usage, 66 input missing, 69 no device, 73 not written, 75 line in use,
// 77 no permission, 1 the CP290 failed), with a line that says why.
TEST_F(Cp290ctlTest, EveryCommandsFailuresExitAsDocumented)
{
    const std::string garbage = dir.file("garbage.sch"), missing = dir.file("missing.sch");
    writeFile(garbage, std::string(10, '\x7f'));
    const std::string locked = dir.file("locked-tty");
    writeFile(locked, "");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    state_test::CrontabStandIn crontab(dir.path());
    writeFile(home.file("Veskarn.conf"), "[General]\nLatitude=40.75\nLongitude=-73.99\n");
    enum Line { Healthy, Held, Echo, Unreadable };
    const struct Row {
        std::vector<std::string> args;
        int status;
        const char* says;
        Line line = Healthy;
        std::string program = "cp290ctl";
    } rows[] = {
        {{"frobnicate"}, 64, "unknown command"},
        {{"read"}, 64, "wrong number of arguments"},
        {{"read", dir.file("no/such/dir.sch")}, 73, "cannot write"},
        {{"send", missing}, 66, "No such file or directory"},
        {{"send", garbage}, 66, "is not an event schedule file: record 1 (event 127) holds"},
        {{"list", "--format", "xml"}, 64, "text, csv or json"},
        {{"clock"}, 75, "held by process", Held},
        {{"clock"}, 1, "reply was not valid", Echo},
        {{"clock"}, 77, "Permission denied", Unreadable},
        {{"--device", dir.file("absent"), "clock"}, 69, "No such file or directory"},
        {{"base", "Q", "--yes"}, 64, "A to P"},
        {{"selftest"}, 64, "--yes"},
        {{"status", "--all"}, 64, "only --json"},
        {{"preview", "--days", "0"}, 64, "from 1 to"},
        {{"preview"}, 0, "no sun corrections are set up"},
        {{"sun", "2006-02-30"}, 64, "YYYY-MM-DD"},
        {{"sun", "location", "91", "0"}, 64, "from -90 to 90"},
        {{"sun", "follow", "3", "noon"}, 64, "sunrise, sunset or dst"},
        {{"sun", "follow", "3", "sunset", "--offset", "soon"}, 64, "whole minutes"},
        {{"sun", "follow", "3", "sunset", "--offset", "-10"}, 66, "holds no event 3"},
        {{"sun", "follow", "3", "sunset", "--offset", "900"}, 64, "leaves the day"},
        {{"sun", "unfollow", "9"}, 66, "not listed"},
        {{"sun", "protect", "9", "maybe"}, 64, "on or off"},
        {{"device", "ttyUSB0"}, 64, "full path"},
        {{"device", garbage}, 69, "not a serial device"},
        {{"plan", "schedule", "add", "13/40", garbage}, 64, "no date 13/40"},
        {{"plan", "schedule", "add", "02/30", garbage}, 64, "no date 02/30"},
        {{"plan", "schedule", "add", "03/15", missing}, 66, "No such file or directory"},
        {{"plan", "schedule", "add", "03/15", garbage}, 66, "is not an event schedule file"},
        {{"plan", "schedule", "remove", "07/04"}, 66, "no schedule is planned for 07/04"},
        {{"on"}, 64, "needs the units"},
        {{"dim", "A1", "150%"}, 64, "from 0% to 100%"},
        {{"on", "A1"}, 75, "held by process", Held},
        {{"monitor", "--all"}, 64, "only --json"},
        {{"restore", "--from", missing}, 66, "No such file or directory"},
        {{}, 69, "no display", Healthy, "quorvel"},
        {{"--link", garbage}, 2, "", Healthy, "cp290-sim"},
    };
    for (const Row& row : rows) {
        if (row.line == Unreadable && geteuid() == 0)
            continue;  // root opens it anyway
        sim::SimOptions options;
        options.echo = row.line == Echo;
        restartSim(options);
        cp290::SerialLine holder(cp290::Program::Brondile);
        ASSERT_TRUE(row.line != Held || holder.open(devicePath()));
        std::vector<std::string> args = row.args;
        if (row.program == "cp290ctl" && args[0] != "--device")
            args.insert(args.begin(), {"--device", row.line == Unreadable ? locked : devicePath()});
        const RunResult r = testing_support::runProgram(
            row.program, args,
            {{"XDG_CONFIG_HOME", home.path()}, {"XDG_STATE_HOME", home.path()}, {"HOME", home.path()},
             {"CP290_SERIAL_DEVICES", devicePath()}, {"CP290_CRONTAB", crontab.script()}, {"TZ", "UTC"},
             {"CP290_LINE_WAIT_MS", "100"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
        EXPECT_EQ(r.exitStatus, row.status) << row.program << " " << row.args.back() << "\n" << r.err;
        EXPECT_TRUE(has(r.err, row.says)) << row.args.back() << "\n" << r.err;
    }
}
