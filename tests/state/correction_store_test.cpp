// The correction list in domain Veskarn, as the controller, the
// sun-correction tool and the schedule loader read and write it.
#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <filesystem>

#include "platform/clock.h"
#include "state/correction_journal.h"
#include "state/correction_store.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::ScopedEnv;
using testing_support::LogCapture;
using testing_support::TempDir;

namespace {

class CorrectionStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    testing_support::ZoneAndClock zone{"UTC", 0};

    void SetUp() override { setDate(2006, 3, 1); }

    static void setDate(int y, int m, int d)
    {
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = m - 1;
        t.tm_mday = d;
        t.tm_hour = 12;
        platform::setNowForTesting(timegm(&t));
    }
    void writeRaw(const std::string& text)
    {
        testing_support::writeFile(dir.file("Veskarn.conf"), "[General]\n" + text);
    }
    static SettingsDomain store() { return SettingsDomain(kCorrectionDomain, Program::Quorvel); }
    static ControllerCorrections list(std::initializer_list<std::pair<int, CorrectionRecord>> entries)
    {
        ControllerCorrections c;
        for (const auto& [slot, rec] : entries) {
            c.VeskNumRecs[static_cast<size_t>(slot)] = rec;
            ++c.ceCount;
        }
        return c;
    }
};

TEST_F(CorrectionStoreTest, SlotsWithGapsSaveInOrderAndAllThreeReadersAgree)
{
    writeVeskParms(list({{2, {12, 1, 1, 0}}, {5, {40, 2, 0, 1}}, {9, {7, 3, 1, 1}}}));
    EXPECT_EQ(store().readInt("Events"), 3);
    EXPECT_EQ(store().readStringList("Event Numbers"), (QStringList{"12", "40", "7"}));

    ControllerCorrections c;
    ASSERT_EQ(getVeskParms(c), 0);
    ASSERT_EQ(c.ceCount, 3);
    EXPECT_EQ(c.VeskNumRecs[1].eventNumber, 12);
    EXPECT_EQ(c.VeskNumRecs[2].eventNumber, 40);
    EXPECT_EQ(c.VeskNumRecs[2].corrType, 2);
    EXPECT_EQ(c.VeskNumRecs[2].zone, 1);
    EXPECT_EQ(c.VeskNumRecs[3].protect, 1);
    EXPECT_EQ(c.VeskNumRecs[4].eventNumber, 0);
    EXPECT_EQ(c.SUTime, (RefDate{2006, 3, 1}));  // saved with a sunrise entry and no date held

    ToolCorrections t;
    ASSERT_EQ(getVeskParms(t), 0);
    ASSERT_EQ(t.eCount, 3);
    EXPECT_EQ(t.CorrArray[1].eventNumber, 40);
    EXPECT_EQ(t.CorrArray[1].zone, 1);
    EXPECT_TRUE(t.applySU && t.applySD && t.applyDST);

    LoaderProtection p;
    getVeskParms(p);
    EXPECT_EQ(p.eCount, 3);
    EXPECT_EQ(p.protect[12], 1);
    EXPECT_EQ(p.protect[40], 0);
    EXPECT_EQ(p.protect[7], 1);
}

TEST_F(CorrectionStoreTest, ReferenceDateRules)
{
    writeVeskParms(list({{1, {3, 1, 1, 0}}, {2, {4, 2, 1, 0}}}));
    ControllerCorrections c;
    getVeskParms(c);
    EXPECT_EQ(c.SDTime, (RefDate{2006, 3, 1}));

    // Saved again the next day: the held dates stay.
    setDate(2006, 3, 2);
    writeVeskParms(c);
    getVeskParms(c);
    EXPECT_EQ(c.SUTime, (RefDate{2006, 3, 1}));

    // A reset date is replaced by the save date.
    c.SUTime.clear();
    writeVeskParms(c);
    getVeskParms(c);
    EXPECT_EQ(c.SUTime, (RefDate{2006, 3, 2}));
    EXPECT_EQ(c.SDTime, (RefDate{2006, 3, 1}));

    // Without sunrise entries the sunrise date goes, even though one was held.
    c.VeskNumRecs[1].corrType = 3;
    writeVeskParms(c);
    EXPECT_FALSE(store().contains("Last SU Mo"));
    EXPECT_FALSE(store().contains("Last SU Yr"));
    EXPECT_TRUE(store().contains("Last SD Mo"));

    // An empty list keeps only "Events" = 0.
    writeVeskParms(ControllerCorrections{});
    EXPECT_EQ(store().readInt("Events"), 0);
    for (const char* k : {"Event Numbers", "Corr Types", "Corr DST", "Last Zone", "Last SD Mo",
                          "Last SD Da", "Last SD Yr"})
        EXPECT_FALSE(store().contains(k)) << k;
    EXPECT_EQ(getVeskParms(c), 0);
    EXPECT_EQ(c.ceCount, 0);
    EXPECT_FALSE(c.SDTime.held());
}

TEST_F(CorrectionStoreTest, ToolNeedsEntryAndDateForEachSunCorrection)
{
    {
        LogCapture log;
        ToolCorrections t;
        EXPECT_EQ(getVeskParms(t), 1);  // nothing stored
        EXPECT_EQ(log.joined(), "Veskarn - No Events listed for correction \n"
                                "Veskarn - Corrections not set up \n");
    }
    {
        writeRaw("Events=0\nLast%20SU%20Mo=3\nLast%20SU%20Da=1\nLast%20SU%20Yr=2006\n");
        LogCapture log;
        ToolCorrections t;
        EXPECT_EQ(getVeskParms(t), 1);
        EXPECT_TRUE(log.contains("No Events listed") && log.contains("Corrections not set up"));
    }
    // Sunrise date but only a sunset entry, without a sunset date.
    writeRaw("Events=1\nEvent%20Numbers=5\nCorr%20Types=2\nLast%20Zone=0\n"
             "Last%20SU%20Mo=3\nLast%20SU%20Da=1\nLast%20SU%20Yr=2006\n");
    {
        LogCapture log;
        ToolCorrections t;
        EXPECT_EQ(getVeskParms(t), 1);
        EXPECT_FALSE(t.applySU || t.applySD);
        EXPECT_EQ(log.joined(), "Veskarn - Corrections not set up \n");
    }
    // A list of type-3 entries only still runs, for the hour shift.
    SettingsDomain d(kCorrectionDomain, Program::Veskarn);
    d.writeStringList("Corr Types", {"3"});
    d.sync();
    ToolCorrections t;
    EXPECT_EQ(getVeskParms(t), 0);
    EXPECT_TRUE(t.applyDST && !t.applySU);
}

TEST_F(CorrectionStoreTest, ToolWritesRunDateAndZonesKeepingSkippedItemsAligned)
{
    writeRaw("Events=3\nEvent%20Numbers=9, 300, 11\nCorr%20Types=1, 1, 3\nCorr%20DST=1, 1, 0\n"
             "Last%20Zone=0, junk, 0\nLast%20SU%20Mo=3\nLast%20SU%20Da=1\nLast%20SU%20Yr=2006\n");
    LogCapture log;
    ToolCorrections t;
    ASSERT_EQ(getVeskParms(t), 0);
    ASSERT_EQ(t.eCount, 2);  // event 300 can index no table
    EXPECT_TRUE(log.contains("event number 300 outside 1 to 128; entry 2 skipped"));
    for (auto& e : t.CorrArray)
        e.zone = 1;
    writeVeskParms(t, RefDate{2006, 3, 2});
    EXPECT_EQ(store().readStringList("Last Zone"), (QStringList{"1", "junk", "1"}));
    EXPECT_EQ(store().readInt("Last SU Da"), 2);
    EXPECT_FALSE(store().contains("Last SD Mo"));  // not applied, not written
    EXPECT_EQ(store().readStringList("Corr DST"), (QStringList{"1", "1", "0"}));
}

TEST_F(CorrectionStoreTest, ValuesOutsideTheFormatNeverIndexATable)
{
    struct Case {
        std::string stored;
        int entries;
        const char* logged;
    } cases[] = {
        {"Events=200\nEvent%20Numbers=1, 2\nCorr%20DST=1, 1\n", 2, "\"Events\" is 200"},
        {"Events=-4\nEvent%20Numbers=1\nCorr%20DST=1\n", 0, "\"Events\" is -4"},
        {"Events=3\nEvent%20Numbers=4, 5, 6\nCorr%20DST=1\n", 1, "\"Corr DST\" holds 1 items"},
        {"Events=2\nEvent%20Numbers=abc, 0\nCorr%20DST=1, 1\n", 0, "event number 0 outside"},
        {"Events=2\nEvent%20Numbers=8, 8\nCorr%20DST=1, 0\n", 1, "event 8 listed twice"},
        {"Events=lots\n", 0, "\"Events\" of Veskarn is not a number"},
    };
    for (const Case& c : cases) {
        TempDir fresh;  // a new file name, so no cached copy of the store is read
        ScopedEnv x("XDG_CONFIG_HOME", fresh.path());
        testing_support::writeFile(fresh.file("Veskarn.conf"), "[General]\n" + c.stored);
        LogCapture log;
        LoaderProtection p;
        getVeskParms(p);
        EXPECT_EQ(p.eCount, c.entries) << c.stored;
        EXPECT_TRUE(log.contains(c.logged)) << c.stored << log.joined();
    }
    EXPECT_EQ(textToInt("12abc"), 12);
    EXPECT_EQ(textToInt("x"), 0);
}

TEST_F(CorrectionStoreTest, ImpossibleReferenceDateCountsAsAbsent)
{
    const struct Case {
        int month, day, year;
        bool held;
    } cases[] = {
        {13, 1, 2006, false}, {2, 30, 2006, false}, {4, 31, 2006, false}, {2, 29, 2006, false},
        {2, 29, 2008, true},  {3, 31, 2006, true},  {2, 29, 2000, true},  {2, 29, 1900, false},
    };
    for (const Case& c : cases) {
        const std::string date = "Last%20SU%20Mo=" + std::to_string(c.month) + "\nLast%20SU%20Da=" +
                                 std::to_string(c.day) + "\nLast%20SU%20Yr=" + std::to_string(c.year) + "\n";
        TempDir fresh;  // a new file name, so no cached copy of the store is read
        ScopedEnv x("XDG_CONFIG_HOME", fresh.path());
        testing_support::writeFile(fresh.file("Veskarn.conf"), "[General]\nEvents=1\nEvent%20Numbers=5\n"
                                   "Corr%20Types=1\nCorr%20DST=0\nLast%20Zone=0\n" + date);
        LogCapture log;
        ControllerCorrections q;
        getVeskParms(q);
        ToolCorrections t;
        EXPECT_EQ(q.SUTime.held(), c.held) << date;
        EXPECT_EQ(getVeskParms(t), c.held ? 0 : 1) << date;
        EXPECT_EQ(log.contains("Sunrise reference date in preferences is not a date"), !c.held) << date;
    }
}

// The journal reads back as written; a link in its place is replaced, not
// written through; a file that is not wholly a journal is not used.
TEST_F(CorrectionStoreTest, JournalIsUsedOnlyWhole)
{
    TempDir home;
    ScopedEnv x("XDG_STATE_HOME", home.path());
    const std::array<uint8_t, 8> a{8, 1, 6, 30, 0x80, 0, 0x60, 2}, b{8, 2, 0, 5, 0x80, 0, 0x60, 2};
    const CorrectionJournal j{{2006, 3, 1}, {}, {{1, 0, a, a, b}, {128, 1, b, a, a}}};
    std::filesystem::create_directories(home.path() + "/cp290");
    testing_support::writeFile(home.file("notes.txt"), "mine\n");
    const std::string path = correctionJournalPath();
    std::filesystem::create_symlink(home.file("notes.txt"), path);
    ASSERT_EQ(writeCorrectionJournal(j), 0);
    EXPECT_EQ(testing_support::readFile(home.file("notes.txt")), "mine\n");
    const JournalRead r = readCorrectionJournal();
    ASSERT_EQ(r.state, JournalState::Read);
    EXPECT_EQ(r.journal, j);

    const std::string whole = testing_support::readFile(path);
    const std::string tails[] = {"x", "event 129 zone 0 base " + whole.substr(whole.find("base ") + 5)};
    for (const std::string& text : {whole.substr(0, whole.size() - 3), whole + whole.substr(whole.find("event")),
                                    whole + tails[0], whole + tails[1], std::string(70000, '\n')}) {
        testing_support::writeFile(path, text);
        EXPECT_EQ(readCorrectionJournal().state, JournalState::Unusable) << text;
    }
    std::filesystem::remove(path);
    std::filesystem::create_symlink(home.file("notes.txt"), path);
    EXPECT_EQ(readCorrectionJournal().state, JournalState::Unusable);
    EXPECT_EQ(clearCorrectionJournal(), 0);
    EXPECT_EQ(readCorrectionJournal().state, JournalState::None);
    EXPECT_TRUE(std::filesystem::exists(home.file("notes.txt")));
}

}  // namespace
