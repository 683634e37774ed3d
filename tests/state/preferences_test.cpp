// Preference domains Lumbrasken and Quorvel in a temporary XDG_CONFIG_HOME.
#include <gtest/gtest.h>

#include <QSettings>
#include <csignal>
#include <filesystem>
#include <unistd.h>
#include <sys/resource.h>
#include <thread>

#include "state/preferences.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::ScopedEnv;
using testing_support::LogCapture;
using testing_support::TempDir;

namespace {

struct RecordingUi : PreferencesUi {
    std::vector<std::string> searchNames, bundles;
    std::optional<bool> helpTags;
    int32_t shownPort = 0;
    void showPort(int32_t p) override { shownPort = p; }
    void addSearchName(const std::string& n) override { searchNames.push_back(n); }
    void setHelpTagsShown(bool s) override { helpTags = s; }
    void registerBundle(const std::string& p) override { bundles.push_back(p); }
};

QStringList names16(std::initializer_list<const char*> first)
{
    QStringList l;
    for (const char* n : first)
        l << n;
    while (l.size() < 16)
        l << QString("Device %1").arg(l.size() + 1);
    return l;
}

class PreferencesTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    const std::vector<std::string> devices{"/dev/ttyS0", "/dev/ttyUSB0"};
    Preferences prefs;
    RecordingUi ui;

    void read(Preferences& p, RecordingUi& u) { ReadParms(p, devices, u); }
    void writeRaw(const char* domain, const std::string& text)
    {
        testing_support::writeFile(dir.file(std::string(domain) + ".conf"), text);
    }
};

TEST_F(PreferencesTest, FirstRunDefaultsThenSecondRunRegistersNothing)
{
    prefs.app_Path = "/opt/cp290/";
    read(prefs, ui);
    for (int h = 1; h <= kHouses; ++h)
        for (int u = 1; u <= kUnits; ++u)
            ASSERT_EQ(prefs.deviceNames.name(h, u), "Device " + std::to_string(u));
    EXPECT_EQ(prefs.warnPref, 1);
    EXPECT_EQ(prefs.clockPref, 0);
    EXPECT_EQ(prefs.readPref, 0);
    EXPECT_EQ(prefs.helpPref, 1);
    EXPECT_FALSE(ui.helpTags.has_value());
    EXPECT_EQ(prefs.curPort, 1);
    EXPECT_EQ(prefs.serPath, "/dev/ttyS0");
    EXPECT_EQ(ui.bundles, std::vector<std::string>{"/opt/cp290/brondile"});

    ASSERT_TRUE(WriteParms(prefs, 1));
    EXPECT_EQ(storedAppPath(Program::Brondile), "/opt/cp290/");
    Preferences second;
    RecordingUi ui2;
    read(second, ui2);
    EXPECT_TRUE(ui2.bundles.empty());
}

TEST_F(PreferencesTest, VersionOneRegistersAllThreeToolsAndBecomesTwo)
{
    writeRaw("Quorvel", "[General]\nVersion=1\n");
    prefs.app_Path = "/a/";
    read(prefs, ui);
    EXPECT_EQ(ui.bundles, (std::vector<std::string>{"/a/brondile", "/a/veskarn", "/a/tamsel"}));
    WriteParms(prefs, 1);
    EXPECT_EQ(SettingsDomain(kControllerDomain, Program::Quorvel).readInt("Version"), 2);
}

TEST_F(PreferencesTest, DeviceNamesStopAtFirstAbsentHouse)
{
    {
        SettingsDomain d(kSharedDomain, Program::Quorvel);
        d.writeInt("Port Number", 1);
        d.writeStringList("A Devices", names16({"Porch Lamp", "Device Fan", "My Device"}));
        d.writeStringList("C Devices", names16({"Garage"}));
        d.sync();
    }
    read(prefs, ui);
    EXPECT_EQ(prefs.deviceNames.name(1, 1), "Porch Lamp");
    EXPECT_EQ(prefs.deviceNames.name(1, 2), "Device Fan");
    EXPECT_EQ(prefs.deviceNames.name(3, 1), "Device 1");
    // A name beginning with "Device" keeps its place but is not offered.
    EXPECT_EQ(ui.searchNames, (std::vector<std::string>{"Porch Lamp", "My Device"}));
}

TEST_F(PreferencesTest, ShortOrOddNameArraysKeepDefaultsForWhatIsMissing)
{
    const std::string longName(150, 'x');
    writeRaw("Lumbrasken", "[General]\nPort%20Number=2\nA%20Devices=Hall, " + longName +
                               ", Caf\\xe9\nB%20Devices=@Invalid()\nC%20Devices=Solo\n");
    LogCapture log;
    read(prefs, ui);
    EXPECT_EQ(prefs.deviceNames.name(1, 1), "Hall");
    EXPECT_EQ(prefs.deviceNames.name(1, 2), std::string(99, 'x'));
    EXPECT_EQ(prefs.deviceNames.name(1, 3), "Caf?");
    EXPECT_EQ(prefs.deviceNames.name(1, 4), "Device 4");
    EXPECT_EQ(prefs.deviceNames.name(2, 1), "Device 1");  // empty list: present, nothing taken
    EXPECT_EQ(prefs.deviceNames.name(3, 1), "Solo");      // a one-name array is stored as a plain text
    EXPECT_EQ(prefs.deviceNames.name(3, 2), "Device 2");
    EXPECT_TRUE(log.contains("cut to 99"));
    EXPECT_TRUE(log.contains("\"A Devices\" holds 3 names"));
}

TEST_F(PreferencesTest, SerialDeviceChoice)
{
    struct Case {
        std::string stored;
        int32_t expectPort;
        std::string expectPath;
    } cases[] = {
        {"Port%20Number=1\nSerial%20Path=/dev/ttyUSB0\n", 2, "/dev/ttyUSB0"},  // path wins
        {"Port%20Number=2\nSerial%20Path=/dev/gone\n", 2, "/dev/ttyUSB0"},     // absent device
        {"Port%20Number=9\n", 2, "/dev/ttyUSB0"},                              // beyond the list
        {"Port%20Number=0\n", 1, "/dev/ttyS0"},                                // before the list
        {"Port%20Number=two\n", 1, "/dev/ttyS0"},                              // not a number
    };
    for (const Case& c : cases) {
        TempDir own;
        ScopedEnv x("XDG_CONFIG_HOME", own.path());
        testing_support::writeFile(own.file("Lumbrasken.conf"), "[General]\n" + c.stored);
        Preferences p;
        RecordingUi u;
        read(p, u);
        EXPECT_EQ(p.curPort, c.expectPort) << c.stored;
        EXPECT_EQ(p.serPath, c.expectPath) << c.stored;
        EXPECT_EQ(u.shownPort, c.expectPort);
    }
}

TEST_F(PreferencesTest, WriteGroupsAndWhatTheToolsRead)
{
    EXPECT_EQ(storedSerialPath(Program::Tamsel), "");
    EXPECT_FALSE(storedPortNumber(Program::Brondile).has_value());

    prefs.curPort = 2;
    prefs.serPath = "/dev/ttyUSB0";
    prefs.warnPref = 0;
    prefs.helpPref = 0;
    prefs.clockPref = 1;
    ASSERT_TRUE(WriteParms(prefs, 2));
    ASSERT_TRUE(WriteParms(prefs, 3));
    EXPECT_FALSE(WriteParms(prefs, 4));
    {
        // Each flag from its own field: no two of them equal here.
        Preferences mixed;
        mixed.warnPref = 1;
        mixed.helpPref = 0;
        mixed.clockPref = 0;
        mixed.readPref = 1;
        TempDir other;
        ScopedEnv otherXdg("XDG_CONFIG_HOME", other.path() + "/not/yet");  // made by the write
        ASSERT_TRUE(WriteParms(mixed, 3));
        EXPECT_EQ(testing_support::readFile(other.file("not/yet/Quorvel.conf")),
                  "[General]\nWarning=1\nHelp=0\nClock=0\nOnLaunch=1\n");
    }
    EXPECT_EQ(storedSerialPath(Program::Tamsel), "/dev/ttyUSB0");
    EXPECT_EQ(storedPortNumber(Program::Brondile), 2);

    Preferences back;
    read(back, ui);
    EXPECT_EQ(back.warnPref, 0);
    EXPECT_EQ(back.helpPref, 0);
    EXPECT_EQ(back.clockPref, 1);
    EXPECT_EQ(back.readPref, 0);
    EXPECT_EQ(ui.helpTags, false);
}

TEST_F(PreferencesTest, OptionFlagsOutsideZeroAndOneKeepDefaults)
{
    writeRaw("Quorvel", "[General]\nWarning=7\nClock=yes\nHelp=0\n");
    LogCapture log;
    read(prefs, ui);
    EXPECT_EQ(prefs.warnPref, 1);
    EXPECT_EQ(prefs.clockPref, 0);
    EXPECT_EQ(prefs.readPref, 0);  // absent while "Warning" is present
    EXPECT_EQ(prefs.helpPref, 0);
    EXPECT_TRUE(log.contains("\"Warning\" of Quorvel is 7"));
    EXPECT_TRUE(log.contains("\"Clock\" of Quorvel is not a number"));
}

// A file-size limit stands in for a nearly full disk: the write of the new
// content fails part way, as it does when the disk fills.
TEST_F(PreferencesTest, AWriteCutShortLeavesTheOldFileAndIsReported)
{
    std::string conf = "[General]\nPort%20Number=2\nSerial%20Path=/dev/ttyUSB0\n";
    for (char house = 'A'; house <= 'P'; ++house) {
        conf += house;
        conf += "%20Devices=";
        for (int unit = 1; unit <= 16; ++unit)
            conf += (unit > 1 ? ", " : "") + std::string("A rather long device name number ") + std::to_string(unit);
        conf += "\n";
    }
    writeRaw("Lumbrasken", conf);
    ASSERT_GT(conf.size(), 8192u);

    prefs.curPort = 1;
    prefs.serPath = "/dev/ttyS0";
    LogCapture log;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteParms(prefs, 2);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_TRUE(log.contains("Quorvel Error - Writing preferences " + dir.file("Lumbrasken.conf") +
                             " - File too large(27); nothing changed.\n"));
    EXPECT_EQ(testing_support::readFile(dir.file("Lumbrasken.conf")), conf);
    EXPECT_EQ(storedSerialPath(Program::Tamsel), "/dev/ttyUSB0");
}

// A preference file over 1 MiB is neither read (the domain reads as empty)
// nor replaced, and costs no memory of its size.
TEST_F(PreferencesTest, FilesOverOneMebibyteAreRefusedUntouched)
{
    const std::string path = dir.file("Veskarn.conf");
    const struct { off_t size; bool used; } cases[] = {{(1 << 20) - 64, true}, {(1 << 20) + 1, false}, {off_t(50) << 20, false}};
    for (const auto& c : cases) {
        writeRaw("Veskarn", "[General]\nLast%20SU%20Da=4\n#");
        ASSERT_EQ(::truncate(path.c_str(), c.size), 0);  // the rest a comment, sparse
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        LogCapture log;
        SettingsDomain d(kCorrectionDomain, Program::Veskarn);
        EXPECT_EQ(d.readInt("Last SU Da"), c.used ? std::optional<int32_t>(4) : std::nullopt) << c.size;
        d.writeInt("Last SU Da", 5);
        EXPECT_EQ(d.sync(), c.used) << c.size;
        getrusage(RUSAGE_SELF, &after);
        if (!c.used) {  // a file that is read costs what reading it costs
            EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024) << c.size;  // KiB
        }
        EXPECT_EQ(log.contains("Veskarn Error - Preferences " + path + " not read: larger than 1 MiB; left as it is.\n"),
                  !c.used);
        EXPECT_TRUE(c.used || std::filesystem::file_size(path) == static_cast<uintmax_t>(c.size));
    }
}

TEST_F(PreferencesTest, AHandKeptFileKeepsEverythingButTheTwoKeys)
{
    // Comments, a group of somebody else's, a name in Latin-1, a value
    // continued on the next line, CR LF endings on one line.
    const std::string before =
        "; my serial setup\n"
        "[General]\n"
        "# the lamp by the door\n"
        "A%20Devices=Porch, K\xfc" "che, Device 3\n"
        "Port%20Number = 4\r\n"
        "Serial%20Path=/dev/old\\\n"
        "still/old\n"
        "Colour=blue\n"
        "\n"
        "[Other]\n"
        "Serial%20Path=not mine\n";
    writeRaw("Lumbrasken", before);
    prefs.curPort = 2;
    prefs.serPath = "/dev/ttyUSB0";
    ASSERT_TRUE(WriteParms(prefs, 2));
    EXPECT_EQ(testing_support::readFile(dir.file("Lumbrasken.conf")),
              "; my serial setup\n"
              "[General]\n"
              "# the lamp by the door\n"
              "A%20Devices=Porch, K\xfc" "che, Device 3\n"
              "Port%20Number=2\n"
              "Serial%20Path=/dev/ttyUSB0\n"
              "Colour=blue\n"
              "\n"
              "[Other]\n"
              "Serial%20Path=not mine\n");
    EXPECT_EQ(storedPortNumber(Program::Tamsel), 2);
    EXPECT_EQ(storedSerialPath(Program::Tamsel), "/dev/ttyUSB0");

    // A quote left open hides every line after it from QSettings: the new
    // values could not be read back, so the file is left as it is.
    const std::string openQuote = "[General]\nName=\"open\nPort%20Number=4\n";
    writeRaw("Lumbrasken", openQuote);
    LogCapture log;
    EXPECT_FALSE(WriteParms(prefs, 2));
    EXPECT_TRUE(log.contains("Bad message(74); nothing changed.\n"));
    EXPECT_EQ(testing_support::readFile(dir.file("Lumbrasken.conf")), openQuote);

    // A file with groups but no [General] gets one at the top; a file of
    // comments only gets it at the end.
    writeRaw("Quorvel", "[Other]\nHelp=5\n");
    ASSERT_TRUE(WriteParms(prefs, 3));
    EXPECT_EQ(testing_support::readFile(dir.file("Quorvel.conf")),
              "[General]\nWarning=1\nHelp=1\nClock=0\nOnLaunch=0\n[Other]\nHelp=5\n");
}

// Two programs writing one domain at once (the controller's Time
// Correction window and the sun tool): neither undoes the other's keys.
TEST_F(PreferencesTest, WritersAtTheSameTimeLoseNothing)
{
    auto writer = [](const char* prefix) {
        for (int i = 0; i < 40; ++i) {
            SettingsDomain d(kCorrectionDomain, Program::Veskarn);
            d.writeInt((std::string(prefix) + std::to_string(i)).c_str(), i);
            EXPECT_TRUE(d.sync());
        }
    };
    std::thread a(writer, "A ");
    std::thread b(writer, "B ");
    a.join();
    b.join();
    QSettings q(QString::fromStdString(dir.file("Veskarn.conf")), QSettings::IniFormat);
    EXPECT_EQ(q.allKeys().size(), 80);
}

}  // namespace
