// Event schedule files: the byte format against golden files, damaged input,
// saving whole or not at all, and what the file dialogs' confirm does.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include "core/schedule_file.h"
#include "tests/core/recording_ui.h"
#include "tests/support/test_support.h"

using namespace core;
using testing_support::LogCapture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {
const cp290::EventImage kSixThirtyA1 = {0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
const cp290::EventImage kEvent3 = {0x09, 0x1F, 0x12, 0x2D, 0x00, 0x80, 0xA0, 0x95};
const cp290::EventImage kEvent128 = {0x08, 0x60, 0x17, 0x3B, 0x81, 0x00, 0xC0, 0x03};

std::string data(const char* name)
{
    return std::string(CP290_TEST_DATA) + "/" + name;
}

std::string record(int n, const cp290::EventImage& img, int count)
{
    std::string s(1, static_cast<char>(n));
    s.append(img.begin(), img.end());
    return s + static_cast<char>(count);
}

size_t filesIn(const std::string& dir)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}
}  // namespace

TEST(ScheduleFile, GoldenFilesBothWays)
{
    TempDir dir;
    EventTable t;
    ASSERT_TRUE(writeEvent(t, dir.file("empty.sch")).ok());
    EXPECT_EQ(readFile(dir.file("empty.sch")), readFile(data("empty.sch")));
    t.storeEvent(5, kSixThirtyA1);
    ASSERT_TRUE(writeEvent(t, dir.file("e5.sch")).ok());
    EXPECT_EQ(readFile(dir.file("e5.sch")), readFile(data("event5.sch")));
    t.InitEventRec(5);
    t.storeEvent(128, kEvent128);
    t.storeEvent(3, kEvent3);
    ASSERT_TRUE(writeEvent(t, dir.file("two.sch")).ok());
    EXPECT_EQ(readFile(dir.file("two.sch")), readFile(data("events_3_128.sch")));
    EXPECT_EQ(filesIn(dir.path()), 3u);  // no temporary left behind

    EventTable u;
    u.storeEvent(60, kSixThirtyA1);  // the file replaces the whole table
    const FileResult r = readEvent(u, data("events_3_128.sch"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.events, (std::vector<int>{3, 128}));
    EXPECT_EQ(u.record(3)->image(), kEvent3);
    EXPECT_EQ(u.record(128)->devCount, 2);
    EXPECT_EQ(u.record(128)->devNames[1], "Device 8");
    EXPECT_FALSE(u.isUsed(60));
    EXPECT_FALSE(u.hasUnsavedChanges());
}

TEST(ScheduleFile, DamagedOrUnreadableFiles)
{
    TempDir dir;
    LogCapture log;
    EventTable t;
    // Not whole records, or more than 128 of them: some other file, refused
    // whole with one line, the table as it was.
    t.storeEvent(4, kSixThirtyA1);
    std::string full;
    for (int n = 1; n <= 128; ++n)
        full += record(n, kEvent3, 1);
    writeFile(dir.file("short.sch"), record(1, kSixThirtyA1, 1) + record(2, kEvent3, 1) + "\x03\x08\x7F\x06\x1E");
    writeFile(dir.file("long.sch"), full + record(5, kEvent3, 1));
    writeFile(dir.file("huge.sch"), std::string(1 << 20, '\x05'));
    for (const char* name : {"short.sch", "long.sch", "huge.sch"}) {
        const size_t logged = log.lines().size();
        EXPECT_EQ(readEvent(t, dir.file(name)).status, FileStatus::Failed) << name;
        ASSERT_EQ(log.lines().size(), logged + 1) << name;
        EXPECT_EQ(log.lines().back().rfind("Quorvel Error  - Opening Event Schedule file - not an event schedule file", 0), 0u);
        EXPECT_EQ(t.getHighEvent(), 4);
    }
    writeFile(dir.file("full.sch"), full);  // 1,280 bytes: the largest file there is
    ASSERT_TRUE(readEvent(t, dir.file("full.sch")).ok());
    EXPECT_EQ(t.getHighEvent(), 128);

    // Two records for event 7: the later one holds.
    writeFile(dir.file("dup.sch"), record(7, kSixThirtyA1, 1) + record(7, kEvent3, 1));
    ASSERT_TRUE(readEvent(t, dir.file("dup.sch")).ok());
    EXPECT_EQ(t.record(7)->image(), kEvent3);

    // Numbers without a slot are skipped; a unit count beyond 16 is capped.
    writeFile(dir.file("bad.sch"),
              record(0, kEvent3, 1) + record(200, kEvent3, 1) + record(129, kEvent3, 1) + record(9, kEvent3, 250));
    const FileResult r = readEvent(t, dir.file("bad.sch"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.events, std::vector<int>{9});
    EXPECT_EQ(t.record(9)->devCount, 16);
    EXPECT_TRUE(log.contains("event number 200 skipped"));

    // Nothing to read: the table stays as it was, marks included.
    t.storeEvent(4, kSixThirtyA1);
    EXPECT_EQ(readEvent(t, dir.file("missing.sch")).status, FileStatus::Failed);
    EXPECT_TRUE(log.contains("Quorvel Error  - Opening Event Schedule file - No such file or directory(2).\n"));
    EXPECT_EQ(readEvent(t, dir.path()).status, FileStatus::Failed);  // a folder
    EXPECT_TRUE(t.isUsed(4) && t.record(4)->changed && t.isUsed(9));
}

TEST(ScheduleFile, SaveIsWholeOrNothing)
{
    TempDir dir;
    LogCapture log;
    EventTable t;
    for (int n : {1, 2, 3})
        t.storeEvent(n, kSixThirtyA1);
    t.storeEvent(6, kSixThirtyA1);
    t.deleteEvents({6});  // a free slot that is marked

    EXPECT_EQ(writeEvent(t, dir.file("nowhere/s.sch")).status, FileStatus::Failed);
    EXPECT_TRUE(log.contains("Quorvel Error  writing Schedule - No such file or directory(2).\n"));
    EXPECT_TRUE(t.record(1)->changed);

    // A disk that fills up halfway (the file size limit stands in for it):
    // the old file survives, no temporary stays, the marks stay.
    writeFile(dir.file("s.sch"), "the user's old schedule");
    ASSERT_EQ(::chmod(dir.file("s.sch").c_str(), 0640), 0);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 15;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult full = writeEvent(t, dir.file("s.sch"));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(full.status, FileStatus::Failed);
    EXPECT_EQ(readFile(dir.file("s.sch")), "the user's old schedule");
    EXPECT_EQ(filesIn(dir.path()), 1u);
    EXPECT_TRUE(t.record(1)->changed && t.record(6)->changed);

    // Saved: every mark cleared, used or not; the file keeps its permissions.
    ASSERT_TRUE(writeEvent(t, dir.file("s.sch")).ok());
    EXPECT_FALSE(t.hasUnsavedChanges());
    EXPECT_EQ(readFile(dir.file("s.sch")).size(), 30u);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("s.sch").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ScheduleFile, OpenAndSaveConfirmed)
{
    TempDir dir;
    EventTable t;
    RecordingUi ui;
    ScheduleFiles files(t, ui);
    EXPECT_EQ(files.proposedSaveName(), "untitled.sch");
    t.storeEvent(5, kSixThirtyA1);
    ASSERT_TRUE(files.saveConfirmed(dir.file("week.sch")).ok());
    EXPECT_EQ(files.proposedSaveName(), "week.sch");
    EXPECT_EQ(ui.source, "week.sch");

    // For the schedule editor only the choice is taken.
    ASSERT_TRUE(files.openConfirmed(data("empty.sch"), false).ok());
    EXPECT_EQ(files.currSpath(), data("empty.sch"));
    EXPECT_EQ(files.schFile(), "week.sch");
    EXPECT_TRUE(t.isUsed(5));

    // An empty file into the main window: no event, save and find enabled.
    ASSERT_TRUE(files.openConfirmed(data("empty.sch"), true).ok());
    EXPECT_EQ(t.getHighEvent(), 0);
    EXPECT_EQ(ui.saveFind, true);
    EXPECT_EQ(files.schFile(), "empty.sch");

    // A file that cannot be read leaves the name of where the table came from.
    EXPECT_FALSE(files.openConfirmed(dir.file("gone.sch"), true).ok());
    EXPECT_EQ(files.schFile(), "empty.sch");
    EXPECT_EQ(ui.source, "empty.sch");
}

TEST(ScheduleFile, NamesThatDoNotFitAreRefusedWhole)
{
    TempDir dir;
    LogCapture log;
    EventTable t;
    RecordingUi ui;
    ScheduleFiles files(t, ui);
    t.storeEvent(6, kSixThirtyA1);

    const std::string longName(100, 'n');  // one past schFile
    EXPECT_EQ(files.saveConfirmed(dir.file(longName)).status, FileStatus::Refused);
    EXPECT_EQ(filesIn(dir.path()), 0u);
    EXPECT_TRUE(t.record(6)->changed);
    const std::string longPath = dir.path() + "/" + std::string(300 - dir.path().size(), 'd') + "/x.sch";
    EXPECT_EQ(files.saveConfirmed(longPath).status, FileStatus::Refused);
    EXPECT_EQ(files.openConfirmed(longPath, false).status, FileStatus::Refused);
    EXPECT_EQ(files.openConfirmed(dir.file(longName), true).status, FileStatus::Refused);
    EXPECT_TRUE(files.schFile().empty() && files.currSpath().empty());
    EXPECT_TRUE(t.isUsed(6));
    EXPECT_TRUE(log.contains("Quorvel Error - Event Schedule"));

    // The schedule editor's own buffer takes longer names than schFile.
    EXPECT_TRUE(files.openConfirmed(dir.file(longName), false).ok());

    // A name that is not ASCII text would be another name in schFile.
    EXPECT_EQ(files.saveConfirmed(dir.file("K\xc3\xbc" "che")).status, FileStatus::Refused);
    // A path of exactly 255 characters is taken, 256 is not.
    const std::string folder = dir.path() + "/" + std::string(255 - dir.path().size() - 7, 'e');
    std::filesystem::create_directory(folder);
    const std::string exact = folder + "/x.sch";
    ASSERT_EQ(exact.size(), 255u);
    EXPECT_TRUE(files.saveConfirmed(exact).ok());
    EXPECT_EQ(files.saveConfirmed(exact + "f").status, FileStatus::Refused);
    EXPECT_TRUE(files.openConfirmed(exact, false).ok());

    // A file nobody may write (mode 0444) is refused before anything is
    // written, also for root.
    writeFile(dir.file("protected.sch"), "kept");
    ASSERT_EQ(::chmod(dir.file("protected.sch").c_str(), 0444), 0);
    t.storeEvent(6, kEvent3);
    EXPECT_EQ(files.saveConfirmed(dir.file("protected.sch")).status, FileStatus::Failed);
    EXPECT_TRUE(log.contains("Quorvel Error  writing Schedule - Permission denied(13).\n"));
    EXPECT_EQ(readFile(dir.file("protected.sch")), "kept");
    EXPECT_TRUE(t.record(6)->changed);
}

// A name that stands for a device or a pipe (/dev/null, /dev/stdout for
// cp290ctl read) is written into, never replaced by a file of our own.
TEST(ScheduleFile, SavingOntoAPipeWritesIntoIt)
{
    TempDir dir;
    EventTable t;
    t.storeEvent(5, kSixThirtyA1);
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::filesystem::create_symlink(fifo, dir.file("out"));

    const FileResult r = writeEvent(t, dir.file("out"));
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced by a file";
    ASSERT_EQ(::lstat(dir.file("out").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    char buf[64];
    const ssize_t n = ::read(reader, buf, sizeof buf);
    ::close(reader);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0))), record(5, kSixThirtyA1, 1));
    EXPECT_FALSE(t.hasUnsavedChanges());
    EXPECT_EQ(filesIn(dir.path()), 2u);
}

// A record no CP290 event can hold refuses the whole file; the table keeps
// what it had. Files the controller writes always pass.
TEST(ScheduleFile, ImpossibleRecordsRefuseTheWholeFile)
{
    TempDir dir;
    LogCapture log;
    const struct { cp290::EventImage img; const char* problem; } cases[] = {
        {{8, 0x7F, 24, 0, 0x80, 0, 0x60, 2}, "the time 24:00"},
        {{8, 0x7F, 23, 60, 0x80, 0, 0x60, 2}, "the time 23:60"},
        {{8, 0x80, 6, 30, 0x80, 0, 0x60, 2}, "day bits 0x80"},
        {{8, 0x7F, 6, 30, 0x80, 0, 0x05, 2}, "house code 0x05"},
    };
    for (const auto& c : cases) {
        EventTable t;
        t.storeEvent(4, kSixThirtyA1);
        writeFile(dir.file("x.sch"), record(1, kEvent3, 1) + record(17, c.img, 1));
        const FileResult r = readEvent(t, dir.file("x.sch"));
        EXPECT_EQ(r.status, FileStatus::Failed) << c.problem;
        EXPECT_EQ(r.notSchedule, std::string("record 2 (event 17) holds ") + c.problem);
        EXPECT_TRUE(t.isUsed(4) && t.record(4)->changed && !t.isUsed(1)) << c.problem;
    }
    EXPECT_TRUE(log.contains("Quorvel Error  - Opening Event Schedule file - not an event schedule file "
                             "(record 2 (event 17) holds house code 0x05).\n"));

    // The edges pass: 23:59, every day, house M (code 0x00).
    EventTable t;
    t.storeEvent(9, {9, 0x7F, 23, 59, 0, 0x01, 0x00, 0x03});
    ASSERT_TRUE(writeEvent(t, dir.file("edges.sch")).ok());
    EventTable back;
    ASSERT_TRUE(readEvent(back, dir.file("edges.sch")).ok());
    EXPECT_EQ(back.record(9)->image(), t.record(9)->image());
}
