// The shell: confirmations, the quit check, the launch timer, preferences,
// the clock, base-code and status windows, and failures the user must see.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "link/serial_link.h"
#include "state/settings_domain.h"
#include "tests/quorvel/quorvel_fixture.h"

namespace uitest {
namespace {

using namespace ui;

class Shell : public QuorvelTest {
protected:
    void makeChange()
    {
        cmd("MainWindow", "addE");
        storeInEditor({.units = {1}});
        cmd("EditWindow", "clos");
    }
    // Answers the quit question from inside its modal loop.
    void answerQuitWith(const char* how)
    {
        QTimer::singleShot(0, [this, how] {
            asked = win("MessWindow")->isVisible() &&
                    text("MessWindow", MessControlID).startsWith("Changes to the Event list");
            if (QString::fromLatin1(how) == "ok")
                cmd("MessWindow", "delM");
            else
                app().closeWindow(win("MessWindow"));
        });
    }
    bool hasFrame(uint8_t command) { return testing_support::framesOf(device(), command) > 0; }
    bool asked = false;
};

TEST_F(Shell, QuitWithChangesAsksAndClosingTheQuestionStays)
{
    startApp();
    makeChange();
    answerQuitWith("close");
    app().closeWindow(win("MainWindow"));  // the close box is quitting too
    EXPECT_TRUE(asked);
    EXPECT_FALSE(app().quitting());
    EXPECT_TRUE(win("MainWindow")->isVisible());

    answerQuitWith("ok");
    EXPECT_TRUE(app().requestQuit());
    EXPECT_TRUE(app().quitting());
}

TEST_F(Shell, ClicksReachTheirOwnWindowFirst)
{
    startApp();
    makeChange();
    // The editor's Close closes the editor; it is not the main window closing.
    cmd("MainWindow", "addE");
    click("EditWindow", "clos");
    EXPECT_FALSE(win("EditWindow")->isVisible());
    EXPECT_FALSE(win("MessWindow")->isVisible());
    EXPECT_FALSE(app().quitting());
    // A menu item the main window does not handle goes on to the application.
    app().windows().main->action("pref")->trigger();
    EXPECT_TRUE(win("PrefsWindow")->isVisible());
    click("PrefsWindow", "clos");
    EXPECT_FALSE(win("PrefsWindow")->isVisible());
    // The menu item follows its button.
    EXPECT_FALSE(app().windows().main->action("delE")->isEnabled());
    app().mainHandler().selectEvents({1});
    EXPECT_TRUE(app().windows().main->action("delE")->isEnabled());
}

TEST_F(Shell, QuittingStoresTheSerialDeviceChosenInThePortMenu)
{
    // The first device listed is not the CP290's; the user picks the second.
    const std::string missing = m_home.file("ttyGone");
    setenv("CP290_SERIAL_DEVICES", (missing + ":" + devicePath()).c_str(), 1);
    startApp();
    EXPECT_EQ(app().ops().devicePath(), missing);
    setValue("MainWindow", PortControlID, 2);
    cmd("MainWindow", "sPrt");
    EXPECT_EQ(app().ops().devicePath(), devicePath());

    QTimer::singleShot(0, [this] { app().windows().main->action("quit")->trigger(); });
    EXPECT_EQ(app().run(), 0);
    state::SettingsDomain d(state::kSharedDomain, state::Program::Quorvel);
    EXPECT_EQ(d.readString("Serial Path").value_or(""), QString::fromStdString(devicePath()));
    EXPECT_EQ(d.readInt("Port Number").value_or(0), 2);
    // Start-up wrote the preferences version and the application folder.
    state::SettingsDomain q(state::kControllerDomain, state::Program::Quorvel);
    EXPECT_EQ(q.readInt("Version").value_or(0), 2);
    EXPECT_FALSE(q.readString("App Path").value_or("").isEmpty());
}

TEST_F(Shell, BaseCodeIsSetOnlyAfterOk)
{
    device().setBaseHouseCode(0x20);  // C
    startApp();
    cmd("MainWindow", "CPbs");
    EXPECT_TRUE(win("BaseCWindow")->isVisible());
    EXPECT_EQ(value("BaseCWindow", BCodeControlID), 3);
    setValue("BaseCWindow", BCodeControlID, 4);  // D
    cmd("BaseCWindow", "setb");
    EXPECT_FALSE(win("BaseCWindow")->isVisible());
    EXPECT_EQ(text("MessWindow", MessControlID),
              "Setting the Base House Code will DELETE all Events stored in the CP290.");
    EXPECT_FALSE(hasFrame(0x00));
    app().closeWindow(win("MessWindow"));  // cancel
    EXPECT_FALSE(hasFrame(0x00));

    cmd("MainWindow", "CPbs");
    setValue("BaseCWindow", BCodeControlID, 4);
    cmd("BaseCWindow", "setb");
    cmd("MessWindow", "delM");
    EXPECT_EQ(device().baseHouseCode(), 0xA0);
}

TEST_F(Shell, BaseCodeWithoutALetterIsRefused)
{
    startApp();
    {
        cp290::SerialLine other(cp290::Program::Tamsel);  // the line is taken: nothing read
        ASSERT_TRUE(other.open(devicePath()));
        cmd("MainWindow", "CPbs");
    }
    EXPECT_EQ(value("BaseCWindow", BCodeControlID), 0);
    cmd("BaseCWindow", "setb");
    EXPECT_FALSE(win("MessWindow")->isVisible());
    EXPECT_FALSE(text("MainWindow", NoteControlID).isEmpty());
}

TEST_F(Shell, SelfTestAfterOkAndTheStatusWindowResetsOnClose)
{
    device().setSelfTestMs(50);
    startApp();
    cmd("MainWindow", "sTst");  // from the menu bar, handled by the application
    EXPECT_EQ(text("MessWindow", MessControlID),
              "Running the Self Test will DELETE all Events stored in the CP290.");
    EXPECT_FALSE(hasFrame(0x07));
    cmd("MessWindow", "delM");
    EXPECT_TRUE(hasFrame(0x07));
    EXPECT_TRUE(win("StatusWindow")->isVisible());
    EXPECT_EQ(text("StatusWindow", SMessControlID), "*** Passed ***");
    EXPECT_EQ(text("StatusWindow", SButtControlID), "Sweet");
    EXPECT_TRUE(enabled("StatusWindow", SButtControlID));

    cmd("StatusWindow", "clos");  // the window's button
    EXPECT_FALSE(win("StatusWindow")->isVisible());
    EXPECT_EQ(text("StatusWindow", SMessControlID), "Test in Progress...");
    EXPECT_EQ(text("StatusWindow", SButtControlID), "OK");
    EXPECT_FALSE(enabled("StatusWindow", SButtControlID));

    device().setFailSelfTest(true);
    cmd("MainWindow", "sTst");
    cmd("MessWindow", "delM");
    EXPECT_EQ(text("StatusWindow", SMessControlID), "*** Failed ***");
    EXPECT_EQ(text("StatusWindow", SButtControlID), "Bummer");
}

TEST_F(Shell, ClockSheetShowsTheCp290ClockAndSetsIt)
{
    device().setClock({7, 0, 0x20});  // 00:07 Saturday
    startApp();
    cmd("MainWindow", "CPck");
    EXPECT_TRUE(win("ClockWindow")->isVisible());
    EXPECT_EQ(text("ClockWindow", CTimeControlID), "12:07 AM");
    EXPECT_EQ(text("ClockWindow", CDayControlID), "Saturday");
    EXPECT_FALSE(hasFrame(0x02));
    cmd("ClockWindow", "setc");
    EXPECT_TRUE(hasFrame(0x02));
    EXPECT_FALSE(win("ClockWindow")->isVisible());
}

TEST_F(Shell, LaunchTimerSetsTheClockBeforeReading)
{
    storeOptions(1, 1, 1, 1);
    device().setEvent(7, image(8, 0x7F, 7, 0, 0x80, 0, 0x60, 0x02));
    const auto started = std::chrono::steady_clock::now();
    startApp(2000);
    EXPECT_TRUE(device().frames().empty());
    for (int i = 0; i < 100 && !app().table().isUsed(7); ++i)
        QTest::qWait(50);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    const auto frames = device().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][0], 0x02);
    EXPECT_EQ(frames[1][0], 0x05);
    EXPECT_TRUE(app().table().isUsed(7));
}

TEST_F(Shell, PreferencesWindowStoresItsFourFlags)
{
    startApp();
    cmd("MainWindow", "pref");
    ASSERT_TRUE(win("PrefsWindow")->isVisible());
    EXPECT_EQ(value("PrefsWindow", PWarnControlID), 1);
    EXPECT_EQ(value("PrefsWindow", PClckControlID), 0);
    EXPECT_EQ(value("PrefsWindow", PR290ControlID), 0);
    EXPECT_EQ(value("PrefsWindow", PHelpControlID), 1);
    setValue("PrefsWindow", PWarnControlID, 0);
    setValue("PrefsWindow", PClckControlID, 1);
    setValue("PrefsWindow", PR290ControlID, 1);
    setValue("PrefsWindow", PHelpControlID, 0);
    cmd("PrefsWindow", "clos");
    EXPECT_FALSE(win("PrefsWindow")->isVisible());

    state::SettingsDomain d(state::kControllerDomain, state::Program::Quorvel);
    EXPECT_EQ(d.readInt("Warning"), 0);
    EXPECT_EQ(d.readInt("Clock"), 1);
    EXPECT_EQ(d.readInt("OnLaunch"), 1);
    EXPECT_EQ(d.readInt("Help"), 0);
    EXPECT_EQ(app().prefs().warnPref, 0);

    EXPECT_FALSE(app().helpTagsShown());  // at once, not at the next start
}

TEST_F(Shell, PlanningWindowsHoldThePlanningMenuWhileOpen)
{
    startApp();
    QMenu* planning = app().windows().main->planningMenu();
    for (const char* code : {"schd", "sYnc", "TcSl"}) {
        cmd("MainWindow", code);
        EXPECT_FALSE(planning->isEnabled()) << code;
        for (const char* name : {"SchedWindow", "SyncWindow", "VeskWindow"})
            if (win(name)->isVisible())
                app().closeWindow(win(name));
        EXPECT_TRUE(planning->isEnabled()) << code;
    }
    EXPECT_FALSE(app().command(win("MainWindow"), "zzzz"));  // nobody's command
}

TEST_F(Shell, FailuresAreShownInTheWindow)
{
    startApp();
    {
        cp290::SerialLine other(cp290::Program::Tamsel);  // another program holds the line
        ASSERT_TRUE(other.open(devicePath()));
        cmd("MainWindow", "CPck");
    }
    EXPECT_TRUE(text("MainWindow", NoteControlID).contains("is in use by"));
    EXPECT_EQ(text("ClockWindow", CTimeControlID), "");
    app().closeWindow(win("ClockWindow"));

    device().setSilent(true);
    cmd("MainWindow", "CPrd");
    EXPECT_TRUE(text("MainWindow", NoteControlID).contains("did not answer"));
    const auto boxes = win("MainWindow")->findChildren<QDialog*>();
    bool shown = false;
    for (QDialog* b : boxes)
        shown |= b->isVisible() && b->inherits("QMessageBox");
    EXPECT_TRUE(shown);
}

TEST_F(Shell, NoSerialDeviceEndsWith69AndSaysHowToFixIt)
{
    setenv("CP290_SERIAL_DEVICES", "", 1);
    testing_support::LogCapture log;
    ui::QuorvelApp::Options o;
    o.noDeviceNotice = [this](const QString& t) { notices.push_back(t); };
    ui::QuorvelApp app(o);
    EXPECT_EQ(app.start(), 69);
    EXPECT_TRUE(log.contains("Quorvel - Serial port not found.\n"));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].contains("cp290-sim"));
    EXPECT_FALSE(app.windows().main->isVisible());

    // The program itself, without a display.
    const auto r = testing_support::runProgram(
        "quorvel", {},
        {{"CP290_SERIAL_DEVICES", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
         {"QT_QPA_PLATFORM", ""}, {"CP290_LOG_STDERR", "1"}},
        20000);
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_NE(r.err.find("Quorvel - Serial port not found."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace uitest
