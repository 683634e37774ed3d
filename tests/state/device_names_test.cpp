// Device names: one rule for every name, and the writer that keeps what a
// person wrote in the houses nobody changed.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "state/device_names.h"
#include "state/preferences.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::ScopedEnv;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

TEST(DeviceNames, OneRuleForEveryName)
{
    DeviceNames n;
    EXPECT_EQ(n.name(3, 16), "Device 16");
    EXPECT_FALSE(n.setName(1, 1, "Porch light"));
    EXPECT_TRUE(n.setName(1, 2, "K\xC3\xBC" "che"));  // not ASCII: shown as '?'
    EXPECT_EQ(n.name(1, 2), "K?che");
    EXPECT_TRUE(n.setName(1, 3, std::string(120, 'x')));
    EXPECT_EQ(n.name(1, 3).size(), 99u);
    EXPECT_FALSE(n.setName(17, 1, "x"));
    EXPECT_EQ(n.name(0, 1), "");
    EXPECT_FALSE(DeviceNames::offeredInSearch("Device lamp"));
    EXPECT_TRUE(DeviceNames::offeredInSearch("Hall Device"));
}

TEST(DeviceNames, OnlyChangedHousesAreWrittenAndTheyAreReadBack)
{
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    // House A written by hand with a name the controller cannot show as is.
    writeFile(dir.file("Lumbrasken.conf"),
              "[General]\nA%20Devices=K\xC3\xBC" "che, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p\n");
    DeviceNames before;
    before.setName(1, 1, "K\xC3\xBC" "che");

    // Nothing changed: nothing written.
    EXPECT_TRUE(writeDeviceNames(before, before, 2, Program::Quorvel));
    EXPECT_EQ(readFile(dir.file("Lumbrasken.conf")).find("Port"), std::string::npos);

    DeviceNames after = before;
    after.setName(3, 5, "Garage");
    ASSERT_TRUE(writeDeviceNames(after, before, 2, Program::Quorvel));
    SettingsDomain d(kSharedDomain, Program::Quorvel);
    // A kept its bytes, B (absent) filled in so C is read, D on not written.
    EXPECT_EQ(d.readStringList("A Devices").value_or(QStringList{}).value(0), QString::fromUtf8("K\xC3\xBC" "che"));
    EXPECT_EQ(d.readStringList("B Devices").value_or(QStringList{}).value(15), "Device 16");
    EXPECT_EQ(d.readStringList("C Devices").value_or(QStringList{}).value(4), "Garage");
    EXPECT_FALSE(d.contains("D Devices"));
    EXPECT_EQ(d.readInt(kPortNumberKey), 2);

    Preferences prefs;
    PreferencesUi none;
    ReadParms(prefs, {"/dev/ttyS0", "/dev/ttyS1"}, none);
    EXPECT_EQ(prefs.deviceNames.name(3, 5), "Garage");
    EXPECT_EQ(prefs.deviceNames.name(1, 1), "K?che");
}

// What a person wrote stays: comments and other keys survive a save, and a
// save the disk refuses leaves the file byte for byte.
TEST(DeviceNames, SavingKeepsTheRestOfTheFileAndIsWholeOrNothing)
{
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    const std::string original =
        "; my CP290 notes\n[General]\nPort%20Number=1\nSerial%20Path=/dev/ttyUSB0\nOther=kept\n";
    writeFile(dir.file("Lumbrasken.conf"), original);
    const DeviceNames before;
    DeviceNames after;
    after.setName(1, 1, "Hall lamp");
    ASSERT_TRUE(writeDeviceNames(after, before, 1, Program::Quorvel));
    const std::string written = readFile(dir.file("Lumbrasken.conf"));
    EXPECT_NE(written.find("; my CP290 notes"), std::string::npos) << written;
    EXPECT_NE(written.find("Other=kept"), std::string::npos);
    EXPECT_NE(written.find("Serial%20Path=/dev/ttyUSB0"), std::string::npos);
    EXPECT_NE(written.find("Hall lamp"), std::string::npos);

    // A file size limit below the new content: refused, reported, old file kept.
    DeviceNames more = after;
    for (int h = 2; h <= kHouses; ++h)
        more.setName(h, 1, std::string(90, 'n'));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = written.size() + 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool stored = writeDeviceNames(more, after, 1, Program::Quorvel);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(stored);
    EXPECT_EQ(readFile(dir.file("Lumbrasken.conf")), written);
}

}  // namespace
