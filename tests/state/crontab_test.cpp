// The crontab work file through the real helpers, with a stand-in crontab
// command that keeps the user's crontab in a file of the test's folder.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

#include "state/crontab_lines.h"
#include "state/crontab_plans.h"
#include "state/crontab_work.h"
#include "state/helper_process.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using namespace state;
using state_test::CrontabStandIn;
using state_test::ScopedEnv;
using testing_support::LogCapture;
using testing_support::readFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

class CrontabTest : public ::testing::Test {
protected:
    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    CrontabStandIn cron{home.path()};
    ScopedEnv cronEnv{"CP290_CRONTAB", cron.script()};
    const std::string app = std::string(CP290_BIN_DIR) + "/";
    CrontabWork work{Program::Quorvel, app};

    std::string command(const char* tool) const { return "\"" + app + tool + "\""; }
    std::string schedulePairText(char load, const std::string& path, const std::string& fields) const
    {
        return std::string("# Quorvel") + load + path + "\n" + fields + "\t*\t" + command("brondile") + "\n";
    }
    std::string catchUp() const { return "#c Quorvel\n17\t*\t*\t*\t*\t" + command("brondile") + " --catch-up\n"; }
    std::string copyFile() const { return home.file(kCrontabCopyName); }
    std::string workFile() const { return home.file(kWorkFileName); }
    void open(ScheduleTable& t)
    {
        ASSERT_TRUE(work.copyCrontab());
        ASSERT_TRUE(work.readCrontabS(t));
    }
};

TEST(CrontabLinesTest, PairBytes)
{
    EXPECT_EQ(schedulePair(1, "/Sched/Winter", "0", "1", "15", "03", "/Apps/").bytes,
              "# Quorvel\x01/Sched/Winter\n0\t1\t15\t3\t*\t\"/Apps/brondile\"\n");
    EXPECT_EQ(timingPair(Tool::Veskarn, "5", "3", "1,3,7", "/Apps/").bytes,
              "#a Quorvel\n5\t3\t*\t*\t1,3,7\t\"/Apps/veskarn\"\n");
    EXPECT_EQ(cronCommand("/opt/50%/", Tool::Tamsel), "\"/opt/50\\%/tamsel\"");
    EXPECT_EQ(catchUpPair("/Apps/").bytes, "#c Quorvel\n17\t*\t*\t*\t*\t\"/Apps/brondile\" --catch-up\n");
    struct Refused {
        PairBytes got;
        PairError want;
    } refused[] = {
        {schedulePair(10, "/s/a", "0", "1", "5", "3", "/A/"), PairError::LoadMode},
        {schedulePair(1, "/s/a\r", "0", "1", "5", "3", "/A/"), PairError::SchedulePath},
        {schedulePair(1, "/s/a", "0", "1", "", "3", "/A/"), PairError::Date},
        {schedulePair(1, "/s/a", "60", "1", "5", "3", "/A/"), PairError::Time},
        {schedulePair(1, std::string(489, 'p'), "0", "1", "5", "3", "/A/"), PairError::TooLong},
        {timingPair(Tool::Tamsel, "0", "1", "1,8", "/A/"), PairError::Weekdays},
        {timingPair(Tool::Tamsel, "7x", "-3", "1", "/A/"), PairError::Time},  // one or two digits only
        {timingPair(Tool::Tamsel, "0", "1", "1", "/A\"; rm x; \"/"), PairError::AppFolder},
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(r.got.error, r.want);
        EXPECT_TRUE(r.got.bytes.empty());
    }
    EXPECT_EQ(schedulePair(1, std::string(488, 'p'), "0", "1", "5", "3", "/A/").error, PairError::None);
    // The last day of a long month is a date; 32 is not.
    EXPECT_EQ(schedulePair(1, "/s/a", "0", "1", "31", "12", "/A/").bytes,
              "# Quorvel\x01/s/a\n0\t1\t31\t12\t*\t\"/A/brondile\"\n");
    EXPECT_EQ(schedulePair(1, "/s/a", "0", "1", "32", "12", "/A/").error, PairError::Date);
    // Whatever the shell would expand inside double quotes stays out.
    for (const char* folder : {"/opt/$HOME/", "/opt/$(id)/", "/opt/`id`/", "/opt/a\\b/"})
        EXPECT_FALSE(cronCommand(folder, Tool::Tamsel).has_value()) << folder;
}

TEST(CrontabLinesTest, ReaderTakesLinesUpTo498Characters)
{
    const std::string marker498 = "# Quorvel\x01/" + std::string(487, 'p');
    const std::string entry498 = "0\t1\t2\t3\t*\t\"/" + std::string(476, 'f') + "/brondile\"";
    ASSERT_EQ(marker498.size(), 498u);
    ASSERT_EQ(entry498.size(), 498u);
    CrontabPairs r = readCrontabPairs(marker498 + "\n" + entry498 + "\n", PairKind::Schedule, "Quorvel");
    ASSERT_EQ(r.schedules.size(), 1u);
    EXPECT_TRUE(r.schedules[0].entry.has_value());
    EXPECT_EQ(r.others, "");

    // One more character and the line is somebody else's, kept as it is.
    const std::string marker499 = marker498 + "p";
    r = readCrontabPairs(marker499 + "\n", PairKind::Schedule, "Quorvel");
    EXPECT_TRUE(r.schedules.empty());
    EXPECT_EQ(r.others, marker499 + "\n");
    const std::string entry499 = "0\t1\t2\t3\t*\t\"/" + std::string(477, 'f') + "/brondile\"";
    r = readCrontabPairs(marker498 + "\n" + entry499 + "\n", PairKind::Schedule, "Quorvel");
    ASSERT_EQ(r.schedules.size(), 1u);
    EXPECT_FALSE(r.schedules[0].entry.has_value());
    EXPECT_EQ(r.others, entry499 + "\n");
}

TEST(HelperProcessTest, WaitIsBoundedAndStartFailuresAreReported)
{
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult slow = runAndWait({"sleep", "5"}, std::chrono::milliseconds(200));
    EXPECT_TRUE(slow.started && slow.timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    const ProcessResult missing = runAndWait({"/nonexistent/pindrel"}, std::chrono::seconds(5));
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, ENOENT);

    std::string complaint;
    const ProcessResult failing = runAndWait({"sh", "-c", "echo oops >&2; exit 3"}, std::chrono::seconds(5), -1, &complaint);
    EXPECT_EQ(failing.exitStatus, 3);
    EXPECT_EQ(complaint, "oops\n");
}

TEST(HelperProcessTest, ExitStatusNeverGuessedWhenTheChildWasReapedElsewhere)
{
    // A program started with SIGCHLD ignored has its children reaped by the
    // kernel: their status is lost, and a lost status is no success.
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &old);
    const ProcessResult failing = runAndWait({"sh", "-c", "exit 3"}, std::chrono::seconds(5));
    sigaction(SIGCHLD, &old, nullptr);
    EXPECT_TRUE(failing.started);
    EXPECT_FALSE(failing.timedOut);
    EXPECT_FALSE(failing.ok());
}

TEST_F(CrontabTest, ForeignLinesKeepTheirOrderWhileThisKindsPairsMoveToTheEnd)
{
    const std::string s1 = schedulePairText('\x01', "/s/Winter", "0\t1\t15\t3");
    const std::string s2 = schedulePairText('\x02', "/s/Summer", "0\t1\t1\t6");
    const std::string t = "#a Quorvel\n30\t4\t*\t*\t1,3\t" + command("veskarn") + "\n";
    const std::string foreign1 = "# my jobs\n", foreign2 = "5 * * * * backup\n";
    const std::string foreign3 = "# more\n", foreign4 = "MAILTO=me\n";
    cron.install(foreign1 + s1 + foreign2 + t + foreign3 + s2 + foreign4);

    ScheduleTable table;
    open(table);
    ASSERT_EQ(table.sch_count, 2);
    EXPECT_EQ(table.schedRec[1].schPath, "/s/Winter");
    EXPECT_EQ(table.schedRec[1].schName, "Winter");
    EXPECT_EQ(table.schedRec[2].schLoad, 2);
    EXPECT_EQ(table.schedRec[2].schDate, "06/01");
    const std::string others = foreign1 + foreign2 + t + foreign3 + foreign4;
    EXPECT_EQ(readFile(workFile()), others);

    ASSERT_TRUE(work.modCrontabS(table));
    ASSERT_EQ(work.installWorkFile(), InstallResult::Installed);
    EXPECT_EQ(cron.installed(), others + s1 + s2 + catchUp());
    EXPECT_EQ(readFile(copyFile()), cron.installed());
    EXPECT_FALSE(fs::exists(workFile()));

    ASSERT_TRUE(work.readCrontabS(table));
    EXPECT_EQ(table.sch_count, 2);
}

// Windows that stayed open while another writer saved: each save applies
// its own edit to the crontab as it is then, and the other's change stays.
TEST_F(CrontabTest, AStaleWindowAppliesItsEditToTheCrontabAsItIsNow)
{
    const std::string old = schedulePairText('\x01', "/s/Old", "0\t1\t5\t1");
    const std::string gone = schedulePairText('\x01', "/s/Gone", "0\t1\t6\t1");
    cron.install("# mine\n" + old + gone);
    SchedulePlanning window(Program::Quorvel, app);
    ClockSyncPlanning sync(Program::Quorvel, app);
    ASSERT_TRUE(window.open());
    ASSERT_TRUE(sync.open());

    SchedulePlanning other(Program::Quorvel, app, LockHold::UntilClose);
    ASSERT_TRUE(other.open());
    fillEntry(other.table().schedRec[3], 2, 2, "/s/Other", 1);
    ++other.table().sch_count;
    ASSERT_EQ(other.save(1, 0), InstallResult::Installed);
    other.close();

    // The window drops 01/06 and adds 03/03; it never saw 02/02.
    window.table().schedRec[2].schLoad = 0;
    fillEntry(window.table().schedRec[3], 3, 3, "/s/New", 2);
    ASSERT_EQ(window.save(1, 0), InstallResult::Installed);
    const std::string other2 = schedulePairText('\x01', "/s/Other", "0\t1\t2\t2");
    const std::string added = schedulePairText('\x02', "/s/New", "0\t1\t3\t3");
    EXPECT_EQ(cron.installed(), "# mine\n" + old + added + other2 + catchUp());
    EXPECT_EQ(window.table().sch_count, 3);
    window.close();

    std::array<int32_t, 8> monday{};
    monday[1] = 1;
    ASSERT_EQ(sync.save(3, 5, monday), InstallResult::Installed);
    EXPECT_EQ(cron.installed(), "# mine\n" + old + added + other2 + catchUp() + "#s Quorvel\n5\t3\t*\t*\t1\t" +
                                    command("tamsel") + "\n");
    sync.close();
    EXPECT_FALSE(fs::exists(copyFile()));
}

TEST_F(CrontabTest, DateWrittenWithoutLeadingZerosAndReadBackWithThem)
{
    ScheduleTable table;
    open(table);  // no crontab at all: an empty copy
    EXPECT_EQ(table.sch_count, 0);
    // Every pair carries entry 1's time, even with entry 1 free.
    table.schedRec[1].schMinute = "30";
    table.schedRec[1].schHour = "2";
    ScheduleEntry& e = table.schedRec[2];
    e.schDay = "05";
    e.schMonth = "03";
    e.schLoad = 1;
    e.schPath = "/s/Spring";
    ASSERT_TRUE(work.modCrontabS(table));
    ASSERT_EQ(work.installWorkFile(), InstallResult::Installed);
    EXPECT_EQ(cron.installed(), schedulePairText('\x01', "/s/Spring", "30\t2\t5\t3") + catchUp());

    ASSERT_TRUE(work.readCrontabS(table));
    ASSERT_EQ(table.sch_count, 1);
    EXPECT_EQ(table.schedRec[1].schDay, "05");
    EXPECT_EQ(table.schedRec[1].schMonth, "03");
    EXPECT_EQ(table.schedRec[1].schMinute, "30");
}

TEST_F(CrontabTest, FiftyFirstMarkerOverwritesEntryFifty)
{
    std::string crontab;
    for (int i = 1; i <= 51; ++i)
        crontab += schedulePairText('\x01', "/s/" + std::to_string(i), "0\t1\t" + std::to_string(i % 28 + 1) + "\t2");
    cron.install(crontab);
    ScheduleTable table;
    open(table);
    EXPECT_EQ(table.sch_count, 50);
    EXPECT_EQ(table.schedRec[49].schPath, "/s/49");
    EXPECT_EQ(table.schedRec[50].schPath, "/s/51");
    EXPECT_EQ(table.schedRec[50].schDay, "24");
}

TEST_F(CrontabTest, EachReaderTakesOnlyItsOwnPairs)
{
    const std::string t = "#a Quorvel\n15\t6\t*\t*\t2,4\t" + command("veskarn") + "\n";
    const std::string c = "#s Quorvel\n7\t22\t*\t*\t*\t" + command("tamsel") + "\n";
    const std::string orphan = "# Quorvel\x01/s/Lost\n";
    const std::string afterOrphan = "# a note\n0\t1\t2\t3\t*\tforeign\n# Quorvel rocks\n";
    cron.install(orphan + afterOrphan + t + catchUp() + c);
    LogCapture log;
    ASSERT_TRUE(work.copyCrontab());

    // A marker followed by a comment takes no cron entry; the comment and
    // the line after it stay.
    ScheduleTable table;
    ASSERT_TRUE(work.readCrontabS(table));
    ASSERT_EQ(table.sch_count, 1);
    EXPECT_EQ(table.schedRec[1].schPath, "/s/Lost");
    EXPECT_EQ(table.schedRec[1].schDay, "");
    EXPECT_EQ(readFile(workFile()), afterOrphan + t + c);  // the catch-up pair goes with the schedules
    EXPECT_EQ(work.catchUpMinute(), "17");
    EXPECT_TRUE(log.contains("Schedule line in Crontab not understood; kept as it is."));

    TimingRecord vesk;
    const CrontabRead rt = work.readCrontabT(vesk);
    EXPECT_EQ(rt.scount, 1);
    EXPECT_EQ(rt.gotSched, 1);
    EXPECT_EQ(vesk.cronHour, "6");
    EXPECT_EQ(vesk.cronDays, (std::array<int32_t, 8>{0, 0, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(readFile(workFile()), orphan + afterOrphan + catchUp() + c);

    // A weekday field of "*" (written by hand): time read, no day set.
    TimingRecord sync;
    sync.cronDays.fill(1);
    const CrontabRead rc = work.readCrontabC(sync);
    EXPECT_EQ(rc.scount, 1);
    EXPECT_EQ(sync.cronMinute, "7");
    EXPECT_EQ(sync.cronDays, (std::array<int32_t, 8>{}));
}

TEST_F(CrontabTest, UnreadableCrontabRefusesTheSaveAndLeavesItUntouched)
{
    const std::string before = "# keep me\n1 2 * * * job\n" + schedulePairText('\x01', "/s/A", "0\t1\t2\t3");
    cron.install(before);
    testing_support::writeFile(copyFile(), "stale copy\n");  // left by an earlier session
    cron.setFailing(true);

    LogCapture log;
    EXPECT_FALSE(work.copyCrontab());
    ScheduleTable table;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(work.readCrontabS(table));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(table.sch_count, 0);
    EXPECT_TRUE(log.contains("Quorvel Error  - Opening Crontab file - No such file or directory(2).\n"));

    table.schedRec[1] = ScheduleEntry{"0", "1", "03", "02", "03/02", "B", "/s/B", 1};
    work.modCrontabS(table);
    cron.setFailing(false);
    EXPECT_EQ(work.installWorkFile(), InstallResult::Refused);
    EXPECT_TRUE(log.contains("Quorvel Error - Crontab copy not read; changes not installed.\n"));
    EXPECT_EQ(cron.installed(), before);

    // No helper at all: the copy never comes, and the reader gives up.
    CrontabWork lost(Program::Quorvel, home.path() + "/nowhere/");
    lost.setCopyWait(std::chrono::milliseconds(300));
    EXPECT_FALSE(lost.copyCrontab());
    EXPECT_FALSE(lost.readCrontabS(table));
    EXPECT_EQ(lost.installWorkFile(), InstallResult::Refused);
    EXPECT_EQ(cron.installed(), before);
}

TEST_F(CrontabTest, FailedInstallKeepsTheCopyOfTheInstalledCrontab)
{
    cron.install("# mine\n");
    ScheduleTable table;
    open(table);
    cron.setFailing(true);
    EXPECT_EQ(work.installWorkFile(), InstallResult::Failed);
    EXPECT_EQ(readFile(copyFile()), "# mine\n");
    cron.setFailing(false);
    EXPECT_EQ(work.installWorkFile(), InstallResult::Refused);  // read again first

    // A work file gone since the read is not made afresh from the pairs alone.
    ASSERT_TRUE(work.readCrontabS(table));
    fs::remove(workFile());
    table.schedRec[1] = ScheduleEntry{"0", "1", "03", "02", "", "B", "/s/B", 1};
    EXPECT_FALSE(work.modCrontabS(table));
    EXPECT_EQ(work.installWorkFile(), InstallResult::Refused);
    EXPECT_EQ(cron.installed(), "# mine\n");
}

TEST_F(CrontabTest, AFailedRenameLeavesNoOldCopyToBeRead)
{
    cron.install("# mine\n");
    ScheduleTable table;
    open(table);
    ASSERT_EQ(readFile(copyFile()), "# mine\n");
    fs::remove(workFile());  // the rename has nothing to move
    LogCapture log;
    EXPECT_FALSE(work.replaceCopyWithWorkFile());
    EXPECT_TRUE(log.contains("Quorvel Error - Renaming Crontab work file - No such file or directory(2).\n"));
    // The copy no longer matches the installed crontab: it is gone, and the
    // next read fails at once instead of taking it.
    EXPECT_FALSE(fs::exists(copyFile()));
    EXPECT_FALSE(work.readCrontabS(table));
    EXPECT_EQ(work.installWorkFile(), InstallResult::Refused);
}

TEST_F(CrontabTest, AHungCrontabCommandIsStoppedByTheHelperBeforeItsCallerGivesUp)
{
    cron.install("# mine\n");
    testing_support::writeFile(workFile(), "# replaced\n");
    cron.setHanging(true);
    const auto start = std::chrono::steady_clock::now();
    // Both helpers at once, to keep the test short.
    auto install = std::async(std::launch::async, [this] {
        return runHelper(Program::Quorvel, app, kInstallHelperName);
    });
    EXPECT_FALSE(runHelper(Program::Quorvel, app, kCopyHelperName));
    EXPECT_FALSE(install.get());
    cron.setHanging(false);

    // Each helper stopped its crontab command itself and cleaned up: no
    // stalled command left running, no half-written copy left behind.
    const std::vector<int> hung = cron.hungCalls();
    EXPECT_EQ(hung.size(), 2u);
    for (const int pid : hung)
        EXPECT_NE(kill(pid, 0), 0) << "crontab stand-in " << pid << " still running";
    for (const auto& entry : fs::directory_iterator(home.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("tempCrontab", 0), std::string::npos)
            << entry.path();

    // Reported as not installed, so it never gets installed later on.
    std::this_thread::sleep_until(start + std::chrono::milliseconds(12500));
    EXPECT_EQ(cron.installed(), "# mine\n");
}

TEST_F(CrontabTest, InjectionThroughAPathIsRefused)
{
    ScheduleTable table;
    open(table);
    table.schedRec[1] = ScheduleEntry{"0", "1", "03", "02", "", "x", "/s/x\n* * * * * touch /tmp/pwned", 1};
    table.schedRec[2] = ScheduleEntry{"", "", "04", "02", "", "y", "/s/y", 2};
    LogCapture log;
    EXPECT_FALSE(work.modCrontabS(table));
    EXPECT_TRUE(log.contains("Quorvel Error - Schedule 1: file path holds a control character; "
                             "not written to Crontab.\n"));
    // The save is refused whole: installed, the crontab would lose entry 1.
    cron.install("# before\n");
    EXPECT_EQ(work.installWorkFile(), InstallResult::Refused);
    EXPECT_STREQ(work.refusalMessage(), kPairRefusedMessage);
    EXPECT_EQ(cron.installed(), "# before\n");

    // A command the shell would not take literally is never written.
    CrontabWork badFolder(Program::Quorvel, "/opt/x\n* * * * * evil/");
    TimingRecord sync{"0", "1", {}, "1"};
    EXPECT_FALSE(badFolder.modCrontabC(sync));
    EXPECT_TRUE(log.contains("Clock Sync: application folder holds a character"));
}

TEST_F(CrontabTest, OverLongLinesAndALastLineWithoutLineFeed)
{
    const std::string longForeign = "1 2 * * * " + std::string(5000, 'x') + "\n";
    const std::string longMarker = "# Quorvel\x01/" + std::string(600, 'p') + "\n";
    const std::string pairWithLongEntry = "# Quorvel\x01/s/A\n0\t1\t2\t3\t*\t" + std::string(700, 'c') + "\n";
    cron.install(longForeign + longMarker + pairWithLongEntry + "tail without lf");
    ScheduleTable table;
    open(table);
    EXPECT_EQ(table.sch_count, 1);  // only the well-formed marker
    EXPECT_EQ(table.schedRec[1].schDay, "");
    EXPECT_EQ(readFile(workFile()), longForeign + longMarker + pairWithLongEntry.substr(15) +
                                        "tail without lf\n");
}

TEST_F(CrontabTest, AForeignJobAfterAMarkerIsNeverTakenForItsEntry)
{
    const std::string foreign = "# mine\n" + std::string("# Quorvel\x01/s/Winter\n") +
                                "0 3 * * * /usr/local/bin/nightly-backup\nMAILTO=x\n" +
                                "#s Quorvel\n*/5 * * * * backup.sh\n" +
                                "#a Quorvel\n0\t3\t*\t*\t1\t\"/elsewhere/not-veskarn\"\n" +
                                "#a Quorvel\n0\t3\t*\t*\t\"" + app + "veskarn\"\n";
    cron.install(foreign);
    LogCapture log;
    ScheduleTable table;
    open(table);
    EXPECT_EQ(table.sch_count, 1);
    EXPECT_EQ(table.schedRec[1].schPath, "/s/Winter");
    EXPECT_EQ(table.schedRec[1].schMinute, "");  // no entry taken
    EXPECT_TRUE(log.contains("Quorvel Error - Line after a Crontab marker is not its entry; kept, marker dropped.\n"));
    // Saved again, the schedule gets an entry of its own.
    table.schedRec[1].schMinute = "0";
    table.schedRec[1].schHour = "1";
    table.schedRec[1].schDay = "02";
    table.schedRec[1].schMonth = "03";
    ASSERT_TRUE(work.modCrontabS(table));
    ASSERT_EQ(work.installWorkFile(), InstallResult::Installed);
    const std::string installed = cron.installed();
    for (const char* job : {"0 3 * * * /usr/local/bin/nightly-backup\n", "MAILTO=x\n", "*/5 * * * * backup.sh\n",
                            "0\t3\t*\t*\t1\t\"/elsewhere/not-veskarn\"\n"})
        EXPECT_NE(installed.find(job), std::string::npos) << job;

    // The timing readers keep the foreign jobs too, and take no time from
    // them; a line with four fields is no entry either.
    ASSERT_TRUE(work.copyCrontab());
    TimingRecord rec;
    EXPECT_EQ(work.readCrontabT(rec).scount, 1);
    EXPECT_EQ(rec.cronMinute, "");
    rec = TimingRecord{"7", "2", {}, "2"};
    ASSERT_TRUE(work.modCrontabT(rec));
    ASSERT_EQ(work.installWorkFile(), InstallResult::Installed);
    for (const char* job : {"0 3 * * * /usr/local/bin/nightly-backup\n", "*/5 * * * * backup.sh\n",
                            "0\t3\t*\t*\t1\t\"/elsewhere/not-veskarn\"\n", "0\t3\t*\t*\t\""})
        EXPECT_NE(cron.installed().find(job), std::string::npos) << job;
}

TEST(CrontabLinesTest, OnlyTheSuitesOwnEntryFollowsAMarker)
{
    EXPECT_TRUE(isCronEntryFor("0\t1\t2\t3\t*\t\"/a b/brondile\"", Tool::Brondile));
    EXPECT_TRUE(isCronEntryFor("0\t1\t*\t*\t1,3\t\"/opt/50\\%/tamsel\"", Tool::Tamsel));
    EXPECT_FALSE(isCronEntryFor("0\t1\t*\t*\t1,3\t\"/opt/tamsel\"", Tool::Veskarn));
    EXPECT_FALSE(isCronEntryFor("0 1 * * * \"/opt/tamsel\"", Tool::Tamsel));
    EXPECT_FALSE(isCronEntryFor("0\t1\t*\t*\t\t\"/opt/tamsel\"", Tool::Tamsel));
    EXPECT_FALSE(isCronEntryFor("0\t1\t*\t*\t1\t\"/opt/tamsel\"\textra", Tool::Tamsel));
    EXPECT_FALSE(isCronEntryFor("0\t1\t*\t*\t1\t\"/opt/tamsel-old\"", Tool::Tamsel));
    // The catch-up entry's argument: required by its reader, refused by the schedules'.
    const std::string_view withArgument = "17\t*\t*\t*\t*\t\"/o/brondile\" --catch-up";
    EXPECT_TRUE(isCronEntryFor(withArgument, Tool::Brondile, kCatchUpArgument));
    EXPECT_FALSE(isCronEntryFor(withArgument, Tool::Brondile));
    EXPECT_FALSE(isCronEntryFor("17\t*\t*\t*\t*\t\"/o/brondile\"", Tool::Brondile, kCatchUpArgument));
    EXPECT_FALSE(isCronEntryFor("17\t*\t*\t*\t*\t\"/o/brondile\"--catch-up", Tool::Brondile, kCatchUpArgument));
}

}  // namespace
