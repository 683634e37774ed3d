// The planning windows against a stand-in crontab: Clock Sync and Schedules,
// by command code and control ID.
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimeEdit>
#include <QTreeView>
#include <filesystem>

#include "core/event_table.h"
#include "core/schedule_file.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "tests/quorvel/quorvel_fixture.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"

namespace uitest {
namespace {

using namespace ui;

const std::string kBin = CP290_BIN_DIR;

class Planning : public QuorvelTest {
protected:
    void SetUp() override
    {
        QuorvelTest::SetUp();
        m_crontabEnv.emplace("CP290_CRONTAB", m_crontab.script());
    }
    void TearDown() override
    {
        QuorvelTest::TearDown();
        m_crontabEnv.reset();
    }
    bool planningMenuEnabled() { return app().windows().main->planningMenu()->isEnabled(); }
    bool workFilesGone()
    {
        return !std::filesystem::exists(m_home.file("tempCrontab")) &&
               !std::filesystem::exists(m_home.file("Wrellish"));
    }
    void setTime(const char* window, int id, int hour, int minute)
    {
        setControlTime(ctl(window, id), QTime(hour, minute));
    }

    // Month and day in the editor as a person picks them.
    void pickDate(int month, int day)
    {
        setValue("SchEdWindow", MonSControlID, month);
        cmd("SchEdWindow", "monS");
        setValue("SchEdWindow", DaySControlID, day);
        cmd("SchEdWindow", "dayS");
    }
    void addEntry(int month, int day, const std::string& path, int load)
    {
        click("SchedWindow", "addS");
        pickDate(month, day);
        openAnswer = QString::fromStdString(path);
        click("SchEdWindow", "getS");
        setValue("SchEdWindow", EventSControlID, load);
        click("SchEdWindow", "Sdot");
    }
    std::vector<QString> listed()
    {
        std::vector<QString> out;
        const QAbstractItemModel* m = static_cast<QTreeView*>(ctl("SchedWindow", ListSControlID))->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out.push_back(m->index(r, 0).data().toString() + " " + m->index(r, 1).data().toString());
        return out;
    }
    void selectRows(const std::vector<int>& rows)
    {
        auto* list = static_cast<QTreeView*>(ctl("SchedWindow", ListSControlID));
        list->selectionModel()->clearSelection();
        for (const int r : rows)
            list->selectionModel()->select(list->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    std::string scheduleFile(const std::string& name, const std::map<int, sim::EventImage>& events)
    {
        core::EventTable t;
        for (const auto& [n, img] : events)
            t.storeEvent(n, img);
        const std::string path = m_home.file(name);
        testing_support::writeFile(path, core::scheduleBytes(t));
        return path;
    }

    testing_support::TempDir m_cronDir;
    state_test::CrontabStandIn m_crontab{m_cronDir.path()};
    std::optional<state_test::ScopedEnv> m_crontabEnv;
};

TEST_F(Planning, ClockSyncSavedForMondayWednesdaySundayAtFivePastThree)
{
    const std::string foreign = "# mine\nMAILTO=me\n17 4 * * * /usr/local/bin/backup\n";
    m_crontab.install("# mine\nMAILTO=me\n#s Quorvel\n17 4 * * * /usr/local/bin/backup\n");
    startApp();
    ASSERT_TRUE(app().command(nullptr, "sYnc"));
    ASSERT_TRUE(win("SyncWindow")->isVisible());
    EXPECT_FALSE(planningMenuEnabled());
    EXPECT_EQ(controlTime(ctl("SyncWindow", CTimControlID)), QTime(1, 0));
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(value("SyncWindow", CMonControlID + d), 0);
    EXPECT_FALSE(enabled("SyncWindow", CSavControlID));

    click("SyncWindow", "mRst");
    EXPECT_TRUE(enabled("SyncWindow", CSavControlID));
    click("SyncWindow", "wRst");
    click("SyncWindow", "uRst");
    setTime("SyncWindow", CTimControlID, 3, 5);
    click("SyncWindow", "savC");
    EXPECT_EQ(m_crontab.installed(),
              foreign + "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + kBin + "/tamsel\"\n");
    EXPECT_FALSE(enabled("SyncWindow", CSavControlID));

    app().closeWindow(win("SyncWindow"));
    EXPECT_FALSE(win("SyncWindow")->isVisible());
    EXPECT_TRUE(planningMenuEnabled());
    EXPECT_TRUE(workFilesGone());

    // Reopened: the plan as saved, with when it runs next. Closing with a
    // change asks and saves nothing; Enter saves.
    cmd("MainWindow", "sYnc");
    bool runsShown = false;
    for (QLabel* l : win("SyncWindow")->findChildren<QLabel*>())
        runsShown |= l->text().startsWith("Last run: none recorded. Next run: ");
    EXPECT_TRUE(runsShown);
    EXPECT_EQ(controlTime(ctl("SyncWindow", CTimControlID)), QTime(3, 5));
    EXPECT_EQ(value("SyncWindow", CMonControlID), 1);
    EXPECT_EQ(value("SyncWindow", CMonControlID + 1), 0);
    EXPECT_EQ(value("SyncWindow", CMonControlID + 2), 1);
    EXPECT_EQ(value("SyncWindow", CSunControlID), 1);
    click("SyncWindow", "tRst");
    app().closeWindow(win("SyncWindow"));
    EXPECT_TRUE(win("SyncWindow")->isVisible());
    EXPECT_EQ(m_crontab.installed(),
              foreign + "#s Quorvel\n5\t3\t*\t*\t1,3,7\t\"" + kBin + "/tamsel\"\n");
    QTest::keyClick(win("MessWindow"), Qt::Key_Return);
    EXPECT_FALSE(win("SyncWindow")->isVisible());
    EXPECT_EQ(m_crontab.installed(),
              foreign + "#s Quorvel\n5\t3\t*\t*\t1,2,3,7\t\"" + kBin + "/tamsel\"\n");

    // No day checked: the pair goes.
    cmd("MainWindow", "sYnc");
    click("SyncWindow", "tRst");
    click("SyncWindow", "mRst");
    click("SyncWindow", "wRst");
    click("SyncWindow", "uRst");
    click("SyncWindow", "savC");
    EXPECT_EQ(m_crontab.installed(), foreign);
    app().closeWindow(win("SyncWindow"));
    EXPECT_TRUE(workFilesGone());
}

// Two schedules planned in the window, then the loader on each date.
TEST_F(Planning, SchedulesPlannedInTheWindowAreLoadedOnTheirDates)
{
    const std::string brondile = "\"" + kBin + "/brondile\"";
    // Foreign lines with 15 March in their third and fourth fields, and a
    // marker of ours followed by a comment: none of them may load anything.
    const std::string foreign = "# mine\n0 1 15 3 * /usr/bin/true\n0\t1\t15\t3\t*\t/usr/local/bin/backup\n";
    m_crontab.install(foreign + "# Quorvel\x01" + m_home.file("Old") + "\n# a comment\n");
    const sim::EventImage a = image(8, 0x7F, 6, 30, 0x80, 0, 0x60, 0x02);
    const sim::EventImage b = image(8, 0x1F, 18, 45, 0x40, 0, 0x60, 0x03);
    const sim::EventImage c = image(8, 0x60, 9, 0, 0x20, 0, 0x60, 0x02);
    const std::string winter = scheduleFile("Winter", {{2, a}, {9, b}});
    const std::string summer = scheduleFile("Summer", {{3, c}, {9, a}});
    startApp();

    cmd("MainWindow", "schd");
    ASSERT_TRUE(win("SchedWindow")->isVisible());
    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(controlTime(ctl("SchedWindow", STimControlID)), QTime(1, 0));
    EXPECT_FALSE(enabled("SchedWindow", SSavControlID));
    addEntry(6, 21, summer, 2);
    EXPECT_TRUE(win("SchEdWindow")->isVisible());  // stays open for the next date
    EXPECT_EQ(text("SchEdWindow", FileSControlID), "Summer");
    addEntry(3, 15, winter, 1);
    EXPECT_EQ(listed(), (std::vector<QString>{"15 March Winter", "21 June Summer"}));
    setControlTime(ctl("SchedWindow", STimControlID), QTime(2, 30));
    click("SchedWindow", "savS");
    EXPECT_FALSE(enabled("SchedWindow", SSavControlID));
    EXPECT_EQ(m_crontab.installed(), foreign + "# a comment\n" +
                                         "# Quorvel\x02" + summer + "\n30\t2\t21\t6\t*\t" + brondile + "\n" +
                                         "# Quorvel\x01" + winter + "\n30\t2\t15\t3\t*\t" + brondile + "\n" +
                                         "#c Quorvel\n17\t*\t*\t*\t*\t" + brondile + " --catch-up\n");
    app().closeWindow(win("SchedWindow"));
    EXPECT_FALSE(win("MessWindow")->isVisible());
    EXPECT_FALSE(win("SchedWindow")->isVisible());
    EXPECT_FALSE(std::filesystem::exists(m_home.file("tempCrontab")));
    m_app.reset();

    testing_support::storeSerialPath(m_home.file("config"), devicePath());
    // Event 4 is protected from the loader.
    testing_support::storeCorrections(m_home.file("config/Veskarn.conf"), {{4, 1}});
    const auto runOn = [&](const char* now) {
        return testing_support::runAsCron("brondile", m_home.path(),
                                          {{"CP290_CRONTAB", m_crontab.script()},
                                           {"CP290_SERIAL_DEVICES", devicePath()},
                                           {"CP290_NOW", now},
                                           {"TZ", "UTC"}});
    };
    const std::string planned = m_crontab.installed();
    const auto fill = [&] {
        for (int n : {1, 3, 4, 9, 128})
            device().setEvent(n, image(8, 0x01, 23, n % 60, 0x01, 0, 0x60, 0x02));
        device().clearFrames();
    };

    // 15 March 2026, 02:30: Winter, all events.
    fill();
    testing_support::RunResult r = runOn("1773541800");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("Brondile - Schedule (Winter) loaded to CP290.\n"), std::string::npos) << r.err;
    for (int n = 1; n <= 128; ++n) {
        const auto slot = device().event(n);
        if (n == 2)
            EXPECT_EQ(slot, a);
        else if (n == 9)
            EXPECT_EQ(slot, b);
        else if (n == 4)
            EXPECT_EQ(slot, image(8, 0x01, 23, 4, 0x01, 0, 0x60, 0x02));  // protected
        else
            EXPECT_TRUE(!slot || (*slot)[7] == 0) << n;
    }

    // 21 June 2026: Summer, only the file's events.
    fill();
    r = runOn("1782009000");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("Brondile - Schedule (Summer) loaded to CP290.\n"), std::string::npos) << r.err;
    EXPECT_EQ(device().event(3), c);
    EXPECT_EQ(device().event(9), a);
    for (int n : {1, 4, 128})
        EXPECT_EQ(device().event(n), image(8, 0x01, 23, n % 60, 0x01, 0, 0x60, 0x02)) << n;

    // 16 March: nothing planned, nothing sent, nothing said.
    fill();
    r = runOn("1773627000");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(device().frames().empty());
    EXPECT_EQ(m_crontab.installed(), planned);
}

TEST_F(Planning, EditorRulesAndTheCloseQuestion)
{
    m_crontab.install("# mine\n");
    const std::string winter = scheduleFile("Winter", {}), summer = scheduleFile("Summer", {});
    startApp();
    cmd("MainWindow", "schd");

    // Only dates that exist: February has 29 days, April 30.
    click("SchedWindow", "addS");
    EXPECT_FALSE(enabled("SchEdWindow", SDoItControlID));  // no file yet
    pickDate(1, 31);
    setValue("SchEdWindow", MonSControlID, 2);
    cmd("SchEdWindow", "monS");
    EXPECT_EQ(static_cast<QComboBox*>(ctl("SchEdWindow", DaySControlID))->count(), 29);
    EXPECT_EQ(value("SchEdWindow", DaySControlID), 29);
    pickDate(4, 15);
    EXPECT_EQ(static_cast<QComboBox*>(ctl("SchEdWindow", DaySControlID))->count(), 30);

    // A file whose path a crontab line cannot carry is refused when picked.
    const std::string odd = m_home.file("two\nlines");
    testing_support::writeFile(odd, "");
    openAnswer = QString::fromStdString(odd);
    click("SchEdWindow", "getS");
    EXPECT_FALSE(enabled("SchEdWindow", SDoItControlID));
    EXPECT_EQ(text("SchEdWindow", FileSControlID), "");
    EXPECT_TRUE(text("MainWindow", NoteControlID).contains("cannot be planned"));
    app().closeWindow(win("SchEdWindow"));

    addEntry(2, 29, winter, 1);
    addEntry(12, 24, winter, 1);
    // The same date again updates its entry and closes the editor.
    addEntry(2, 29, summer, 2);
    EXPECT_FALSE(win("SchEdWindow")->isVisible());
    EXPECT_EQ(listed(), (std::vector<QString>{"29 February Summer", "24 December Winter"}));

    // Update: the date stays, the file and mode change.
    selectRows({1});
    EXPECT_TRUE(enabled("SchedWindow", SUpdControlID));
    click("SchedWindow", "updS");
    EXPECT_FALSE(enabled("SchEdWindow", MonSControlID));
    EXPECT_EQ(value("SchEdWindow", MonSControlID), 12);
    EXPECT_EQ(value("SchEdWindow", DaySControlID), 24);
    EXPECT_EQ(text("SchEdWindow", FileSControlID), "Winter");
    openAnswer = QString::fromStdString(summer);
    click("SchEdWindow", "getS");
    click("SchEdWindow", "Sdot");
    EXPECT_EQ(listed(), (std::vector<QString>{"29 February Summer", "24 December Summer"}));

    // Two selected: Update off, Delete on.
    selectRows({0, 1});
    EXPECT_FALSE(enabled("SchedWindow", SUpdControlID));
    EXPECT_TRUE(enabled("SchedWindow", SDelControlID));
    click("SchedWindow", "delS");
    EXPECT_TRUE(listed().empty());

    // The event editor's mode is its own: an event opened for change meanwhile
    // leaves the date being added an added one, the selected entry untouched.
    addEntry(1, 5, winter, 1);
    selectRows({0});
    app().table().storeEvent(5, {0x08, 0x01, 0x07, 0x00, 0x80, 0, 0x60, 0x02});
    click("SchedWindow", "addS");
    app().mainHandler().selectEvents({5});
    cmd("MainWindow", "updE");
    ASSERT_TRUE(win("EditWindow")->isVisible());
    pickDate(7, 4);
    openAnswer = QString::fromStdString(summer);
    click("SchEdWindow", "getS");
    click("SchEdWindow", "Sdot");
    EXPECT_EQ(listed(), (std::vector<QString>{"5 January Winter", "4 July Summer"}));

    // Closing with unsaved changes asks; OK drops them and the crontab stays.
    app().closeWindow(win("SchedWindow"));
    EXPECT_TRUE(win("SchedWindow")->isVisible());
    EXPECT_TRUE(win("MessWindow")->isVisible());
    EXPECT_EQ(text("MessWindow", MessControlID),
              "Changes to the Schedule List have not been saved. Save them before closing?");
    cmd("MessWindow", "delM");
    EXPECT_FALSE(win("SchedWindow")->isVisible());
    EXPECT_TRUE(planningMenuEnabled());
    EXPECT_EQ(m_crontab.installed(), "# mine\n");
    EXPECT_TRUE(workFilesGone());
}

}  // namespace
}  // namespace uitest
