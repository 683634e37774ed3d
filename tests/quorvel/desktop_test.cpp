// What a person at a desktop expects of quorvel: input during an operation
// is dropped, Cancel leaves the device and the changed flags consistent,
// free slots read back empty, each failure names its cause, a damaged file is
// refused whole, replacing an event asks, the title follows the events'
// origin, the quit question saves, and device names edited in the window
// reach the list and the file.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/event_list_model.h"
#include "quorvel/formats.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "link/serial_link.h"
#include "state/device_kinds.h"
#include "state/preferences.h"
#include "state/settings_domain.h"
#include "tests/quorvel/quorvel_fixture.h"

namespace uitest {
namespace {

using namespace ui;

class Desktop : public QuorvelTest {
protected:
    void usePacedDevice()
    {
        sim::SimOptions o;
        o.paced = true;
        restartSim(o);
        setenv("CP290_SERIAL_DEVICES", devicePath().c_str(), 1);
    }
    void storeEvents(int count)
    {
        cmd("MainWindow", "addE");
        for (int i = 0; i < count; ++i)
            storeInEditor({.units = {1 + i % 16}, .hour = 6 + i});
        cmd("EditWindow", "clos");
    }
    int framesOf(uint8_t command) const { return testing_support::framesOf(*m_sim, command); }
    QAbstractButton* button(const char* window, const char* code)
    {
        for (QAbstractButton* b : win(window)->findChildren<QAbstractButton*>())
            if (b->window() == win(window) && commandOf(b) == QLatin1String(code))
                return b;
        ADD_FAILURE() << window << " has no button " << code;
        return nullptr;
    }
    QString note() { return text("MainWindow", NoteControlID); }
    void sendChanged()
    {
        cmd("MainWindow", "CPsd");
        cmd("SndWindow", "Schg");
        cmd("SndWindow", "CPs2");
    }
};

TEST_F(Desktop, InputDuringAPacedOperationIsDroppedNotReplayed)
{
    usePacedDevice();
    startApp();
    storeEvents(3);
    // Outside an operation the keys work: F5 reads (control for what follows).
    QWidget* main = win("MainWindow");
    main->activateWindow();
    QApplication::setActiveWindow(main);
    ASSERT_TRUE(app().windows().main->action("CPrd")->shortcuts().contains(QKeySequence(Qt::Key_F5)));

    // The editor is open beside the main window, filled but not stored.
    cmd("MainWindow", "addE");
    fillEditor({.number = 50});

    bool looksBusy = false;
    QTimer::singleShot(400, [&] {
        looksBusy = !enabled("MainWindow", SavControlID) &&
                    !app().windows().main->menuBar()->isEnabled() &&
                    QApplication::overrideCursor() != nullptr;
        // A person clicks Read, presses Ctrl+N and F5, double-clicks a row.
        QTest::mouseClick(button("MainWindow", "CPrd"), Qt::LeftButton);
        QTest::mouseClick(button("MainWindow", "addE"), Qt::LeftButton);
        QTest::mouseClick(button("EditWindow", "doIt"), Qt::LeftButton);
        QTest::keyClick(main, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(main, Qt::Key_F5);
        QTreeView* list = app().windows().main->list();
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualRect(list->model()->index(0, 1)).center());
    });
    sendChanged();
    EXPECT_TRUE(looksBusy);
    QTest::qWait(200);  // anything queued would run now
    EXPECT_EQ(framesOf(0x03), 3);
    EXPECT_EQ(framesOf(0x05), 0);  // no upload ran, during or after
    EXPECT_FALSE(app().table().isUsed(50));  // the editor's OK went nowhere
    EXPECT_EQ(text("EditWindow", ENumControlID), "50");
    EXPECT_TRUE(enabled("MainWindow", SavControlID));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(note(), "3 events sent to the CP290");
}

TEST_F(Desktop, CancelMidSendLeavesExactlyTheUnsentMarkedAndSendChangedSendsThem)
{
    usePacedDevice();
    startApp();
    storeEvents(6);
    saveAnswer = QString::fromStdString(m_home.file("six.sch"));
    cmd("MainWindow", "savS");  // nothing is marked changed now
    app().mainHandler().selectEvents({1, 2, 3, 4, 5, 6});
    QString timeLeft;
    QTimer::singleShot(900, [&] {
        timeLeft = text("tWindow", TimeLeftControlID);
        QTest::mouseClick(button("tWindow", "stop"), Qt::LeftButton);
    });
    cmd("MainWindow", "CPsd");
    cmd("SndWindow", "Shih");
    cmd("SndWindow", "CPs2");
    EXPECT_TRUE(timeLeft.startsWith("About ")) << timeLeft.toStdString();
    int sent = 0;
    for (int n = 1; n <= 7; ++n) {
        const bool onDevice = device().event(n).has_value();
        sent += onDevice;
        // Exactly the chosen events the CP290 did not acknowledge are marked.
        EXPECT_EQ(n <= 6 && !onDevice, app().table().record(n)->changed) << n;
        EXPECT_EQ(app().mainHandler().model()->text(n, 0).endsWith(" *"), app().table().record(n)->changed) << n;
    }
    EXPECT_GE(sent, 1);
    EXPECT_LT(sent, 6);
    EXPECT_EQ(framesOf(0x03), sent);  // nothing half sent after the Cancel
    EXPECT_EQ(note().toStdString(), "Sending cancelled: " + std::to_string(sent) + (sent == 1 ? " event" : " events") +
                                        " sent; " + std::to_string(6 - sent) + (sent == 5 ? " event" : " events") +
                                        " not sent are marked changed (Send Changed sends them)");
    EXPECT_TRUE(win("MainWindow")->isWindowModified());

    sendChanged();  // offered, and sends exactly those
    EXPECT_EQ(framesOf(0x03), 6);
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(device().event(n).has_value()) << n;
    EXPECT_FALSE(app().table().hasUnsavedChanges());
}

TEST_F(Desktop, CancelledReadLeavesTheTableAsItWas)
{
    usePacedDevice();
    device().setEvent(9, image(8, 0x7F, 7, 0, 0x80, 0, 0x60, 0x02));
    startApp();
    storeEvents(1);
    const QString title = win("MainWindow")->windowTitle();
    QTimer::singleShot(1200, [&] { cmd("tWindow", "stop"); });
    QElapsedTimer clock;
    clock.start();
    cmd("MainWindow", "CPrd");
    EXPECT_LT(clock.elapsed(), 8000);  // a whole upload takes far longer
    EXPECT_TRUE(app().table().isUsed(1));
    EXPECT_TRUE(app().table().record(1)->changed);
    EXPECT_FALSE(app().table().isUsed(9));
    EXPECT_EQ(win("MainWindow")->windowTitle(), title);
}

TEST_F(Desktop, FreeSlotsReadBackEmptyAfterSendingAll)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 5});
    cmd("EditWindow", "clos");
    cmd("MainWindow", "CPsd");
    cmd("SndWindow", "CPs2");  // all 128: free slots go out as empty events
    EXPECT_EQ(note(), "128 events sent to the CP290");
    cmd("MainWindow", "CPrd");
    ASSERT_TRUE(device().event(1).has_value());  // the device holds a zero event there
    const QAbstractItemModel* list = app().windows().main->list()->model();
    for (int c = 1; c < list->columnCount(); ++c)
        EXPECT_EQ(list->index(0, c).data().toString(), "") << c;
    EXPECT_EQ(list->index(4, 1).data().toString(), ui::timeText(QTime(6, 30)));
    EXPECT_TRUE(app().table().record(1)->timeStr.empty());
    EXPECT_EQ(win("MainWindow")->windowTitle(), "Quorvel - CP290[*]");
    EXPECT_EQ(note(), "Read 1 event from the CP290");
}

// Drops the root powers that ignore file permissions, for this thread, while alive.
class NoPermissionOverride {
public:
    NoPermissionOverride()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~NoPermissionOverride()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

TEST_F(Desktop, EachOpenFailureNamesItsCauseAndTheFix)
{
    startApp();
    testing_support::LogCapture log;
    const std::string pty = device().ptyPath();
    std::vector<QString> messages;

    app().ops().setDevicePath(m_home.file("ttyUSB9"));  // unplugged
    cmd("MainWindow", "CPck");
    messages.push_back(note());
    EXPECT_TRUE(note().contains("is not there: is the adapter plugged in?")) << note().toStdString();
    app().closeWindow(win("ClockWindow"));

    app().ops().setDevicePath(pty);
    struct stat st {};
    ASSERT_EQ(::stat(pty.c_str(), &st), 0);
    ASSERT_EQ(::chmod(pty.c_str(), 0), 0);
    {
        NoPermissionOverride asUser;
        cmd("MainWindow", "CPck");
    }
    ::chmod(pty.c_str(), st.st_mode & 07777);
    messages.push_back(note());
    EXPECT_TRUE(note().contains("add your user to the dialout group")) << note().toStdString();
    app().closeWindow(win("ClockWindow"));

    {
        cp290::SerialLine other(cp290::Program::Tamsel);
        ASSERT_TRUE(other.open(pty));
        cmd("MainWindow", "CPck");
    }
    messages.push_back(note());
    // The lock names the holder: this test program.
    EXPECT_TRUE(note().contains(QStringLiteral("(process %1)").arg(::getpid()))) << note().toStdString();
    app().closeWindow(win("ClockWindow"));

    device().setSilent(true);
    cmd("MainWindow", "CPck");
    messages.push_back(note());
    EXPECT_TRUE(note().contains("check the CP290's power and cable")) << note().toStdString();
    EXPECT_TRUE(note().contains(QString::fromStdString(pty)));
    app().closeWindow(win("ClockWindow"));

    // A line that only echoes: bytes come, but no valid reply.
    sim::SimOptions echoing;
    echoing.echo = true;
    restartSim(echoing);
    app().ops().setDevicePath(devicePath());
    cmd("MainWindow", "CPck");
    messages.push_back(note());
    EXPECT_TRUE(note().contains("reply was not valid")) << note().toStdString();

    for (size_t i = 0; i < messages.size(); ++i)
        for (size_t j = i + 1; j < messages.size(); ++j)
            EXPECT_NE(messages[i], messages[j]);
    // The log keeps its own lines.
    EXPECT_TRUE(log.contains("Quorvel Error - Bad File Descriptor CP290 \n"));
}

TEST_F(Desktop, ADamagedScheduleFileIsRefusedWholeAndTheTableStays)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 5});
    cmd("EditWindow", "clos");
    const QString title = win("MainWindow")->windowTitle();
    // A sound record, then one with the time 84:113 (a text file's bytes).
    const std::string bad = m_home.file("notes.txt");
    testing_support::writeFile(bad, std::string("\x03\x08\x7F\x06\x1E\x80\x00\x60\x02\x01"
                                                "\x09\x08\x01\x54\x71\x80\x00\x60\x02\x01",
                                                20));
    openAnswer = QString::fromStdString(bad);
    app().prefs().warnPref = 0;
    cmd("MainWindow", "opnS");
    EXPECT_TRUE(note().contains("record 2 (event 9)")) << note().toStdString();
    EXPECT_TRUE(note().contains("84:113"));
    EXPECT_TRUE(app().table().isUsed(5));
    EXPECT_TRUE(app().table().record(5)->changed);
    EXPECT_FALSE(app().table().isUsed(3));
    EXPECT_EQ(win("MainWindow")->windowTitle(), title);

    // A sound file: the title and the source field follow it.
    saveAnswer = QString::fromStdString(m_home.file("week.sch"));
    cmd("MainWindow", "savS");
    EXPECT_EQ(note(), "Saved to week.sch");
    EXPECT_EQ(win("MainWindow")->windowTitle(), "Quorvel - week.sch[*]");
}

TEST_F(Desktop, NewOntoAUsedNumberAsksBeforeReplacing)
{
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 1, .units = {1}, .hour = 6});
    storeInEditor({.number = 1, .units = {2}, .hour = 9});
    EXPECT_TRUE(win("MessWindow")->isVisible());
    EXPECT_TRUE(text("MessWindow", MessControlID).startsWith("Event 1 is already used (06:30 AM"));
    EXPECT_EQ(app().table().record(1)->hour, 6);
    app().closeWindow(win("MessWindow"));  // cancel: nothing replaced
    EXPECT_EQ(app().table().record(1)->hour, 6);

    storeInEditor({.number = 1, .units = {2}, .hour = 9});
    cmd("MessWindow", "delM");
    EXPECT_EQ(app().table().record(1)->hour, 9);
    EXPECT_EQ(app().table().record(1)->units1to8, 0x40);
    cmd("EditWindow", "clos");

    // Enter on the used row (as a double-click would) opens it for change.
    QTreeView* list = app().windows().main->list();
    list->setCurrentIndex(list->model()->index(0, 1));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(win("EditWindow")->isVisible());
    EXPECT_EQ(app().editHandler().mode(), EditWindowHandler::ModeChange);
    EXPECT_EQ(text("EditWindow", ENumControlID), "1");
}

TEST_F(Desktop, QuitQuestionSavesThenQuits)
{
    startApp();
    storeEvents(1);
    saveAnswer = QString::fromStdString(m_home.file("before-quit.sch"));
    bool saveOffered = false;
    QTimer::singleShot(0, [&] {
        saveOffered = button("MessWindow", "savQ")->isVisible() &&
                      button("MessWindow", "delM")->text() == "Don't Save";
        cmd("MessWindow", "savQ");
    });
    EXPECT_TRUE(app().requestQuit());
    EXPECT_TRUE(saveOffered);
    EXPECT_EQ(testing_support::readFile(m_home.file("before-quit.sch")).size(), 10u);
    EXPECT_FALSE(button("MessWindow", "savQ")->isVisible());  // other questions have no Save
}

TEST_F(Desktop, DeviceNamesEditedInTheWindowReachTheListAndTheFile)
{
    storeDeviceNames('A', {"Hall", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m",
                           "n", "o", "p"});
    startApp();
    cmd("MainWindow", "addE");
    storeInEditor({.number = 2, .units = {1, 4}});
    cmd("EditWindow", "clos");
    app().mainHandler().selectEvents({2});
    EXPECT_EQ(text("DevWindow", DevNameFirstControlID + 1), "d");

    cmd("MainWindow", "dNam");
    ASSERT_TRUE(win("DevNamesWindow")->isVisible());
    EXPECT_EQ(text("DevNamesWindow", DNNameFirstControlID), "Hall");
    setControlText(ctl("DevNamesWindow", DNNameFirstControlID + 3), "Porch light");
    setValue("DevNamesWindow", DNHouseControlID, 2);
    cmd("DevNamesWindow", "DNhc");
    EXPECT_EQ(text("DevNamesWindow", DNNameFirstControlID), "");  // default shown as placeholder
    setControlText(ctl("DevNamesWindow", DNNameFirstControlID), "Garage door, north side");
    cmd("DevNamesWindow", "DNsv");  // longer than the editor shows
    EXPECT_TRUE(note().contains("unit B1 has 23 characters; a device name may have at most 21")) << note().toStdString();
    setControlText(ctl("DevNamesWindow", DNNameFirstControlID), "Garage");
    setValue("DevNamesWindow", DNKindFirstControlID + 15, 2);  // B16 an appliance
    app().closeWindow(win("DevNamesWindow"));  // asks; nothing stored yet
    EXPECT_TRUE(win("DevNamesWindow")->isVisible());
    EXPECT_EQ(app().table().record(2)->devNames[1], "d");
    QTest::keyClick(win("MessWindow"), Qt::Key_Return);  // Save
    EXPECT_FALSE(win("DevNamesWindow")->isVisible());

    // At once: the drawer, the record, the Devices column, the search offer.
    EXPECT_EQ(app().mainHandler().model()->text(2, EventListModel::ColDevs), "A1 Hall, A4 Porch light");
    EXPECT_EQ(text("DevWindow", DevNameFirstControlID + 1), "Porch light");
    EXPECT_EQ(app().table().record(2)->devNames[1], "Porch light");
    EXPECT_GE(static_cast<QComboBox*>(ctl("SearchWindow", CBoxControlID))->findText("Garage"), 0);

    // In the file, as the controller reads it at the next start.
    state::Preferences again;
    state::PreferencesUi none;
    state::ReadParms(again, {devicePath()}, none);
    EXPECT_EQ(again.deviceNames.name(1, 4), "Porch light");
    EXPECT_EQ(state::readDeviceKinds(state::Program::Quorvel).kind(2, 16), state::UnitKind::Appliance);
    EXPECT_EQ(again.deviceNames.name(1, 1), "Hall");
    EXPECT_EQ(again.deviceNames.name(2, 1), "Garage");
    EXPECT_EQ(again.deviceNames.name(16, 16), "Device 16");

    // A save the disk refuses: said so, the window stays, nothing changes.
    const std::string file = testing_support::readFile(state::domainFilePath(state::kSharedDomain));
    cmd("MainWindow", "dNam");
    setControlText(ctl("DevNamesWindow", DNNameFirstControlID + 3), std::string(21, 'x').c_str());
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = file.size() + 4;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    cmd("DevNamesWindow", "DNsv");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(win("DevNamesWindow")->isVisible());
    EXPECT_TRUE(note().contains("could not be stored")) << note().toStdString();
    EXPECT_EQ(app().table().record(2)->devNames[1], "Porch light");
    EXPECT_EQ(testing_support::readFile(state::domainFilePath(state::kSharedDomain)), file);
}

TEST_F(Desktop, SelfTestCanBeCancelled)
{
    device().setSelfTestMs(15000);
    startApp();
    cmd("MainWindow", "sTst");
    QTimer::singleShot(500, [&] { QTest::mouseClick(button("StatusWindow", "stop"), Qt::LeftButton); });
    QElapsedTimer clock;
    clock.start();
    cmd("MessWindow", "delM");
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(win("StatusWindow")->isVisible());
    EXPECT_EQ(text("StatusWindow", SMessControlID), "Test in Progress...");
    EXPECT_TRUE(note().startsWith("Self test cancelled"));
}

TEST_F(Desktop, ShortcutsAndConfirmations)
{
    device().setBaseHouseCode(0x20);
    startApp();
    const MainWindow* main = app().windows().main;
    EXPECT_TRUE(main->action("CPrd")->shortcuts().contains(QKeySequence(Qt::Key_F5)));
    EXPECT_TRUE(main->action("quit")->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
    for (const auto& [code, keys] :
         {std::pair{"addE", QKeySequence(QKeySequence::New)}, {"opnS", QKeySequence(QKeySequence::Open)},
          {"savS", QKeySequence(QKeySequence::Save)}, {"delE", QKeySequence(QKeySequence::Delete)},
          {"fndE", QKeySequence(QKeySequence::Find)}, {"savA", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
          {"CPsd", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)}})
        EXPECT_TRUE(main->action(code)->shortcuts().contains(keys)) << code;

    // Enter on a question that erases the CP290's events is Cancel.
    device().setEvent(1, image(8, 0x7F, 6, 30, 0x80, 0, 0x60, 0x02));
    for (const char* ask : {"sTst", "CPbs"}) {
        cmd("MainWindow", ask);
        if (win("BaseCWindow")->isVisible())
            cmd("BaseCWindow", "setb");
        ASSERT_TRUE(win("MessWindow")->isVisible()) << ask;
        QTest::keyClick(win("MessWindow"), Qt::Key_Return);
        EXPECT_FALSE(win("MessWindow")->isVisible()) << ask;
        EXPECT_TRUE(device().event(1).has_value()) << ask;
    }
    EXPECT_EQ(button("MessWindow", "delM")->text(), "Erase and Set Code");

    // Help > User Guide (F1) shows the guide that travels inside the program.
    EXPECT_TRUE(main->action("guid")->shortcuts().contains(QKeySequence(Qt::Key_F1)));
    cmd("MainWindow", "guid");
    bool guideShown = false;
    for (QDialog* d : win("MainWindow")->findChildren<QDialog*>())
        guideShown |= d->isVisible() && d->windowTitle().contains("User Guide") &&
                      d->findChild<QTextBrowser*>()->toPlainText().contains("dialout");
    EXPECT_TRUE(guideShown);

    cmd("MainWindow", "CPck");
    cmd("ClockWindow", "setc");
    EXPECT_TRUE(note().startsWith("Clock set to ")) << note().toStdString();
    cmd("MainWindow", "CPbs");
    setValue("BaseCWindow", BCodeControlID, 4);
    cmd("BaseCWindow", "setb");
    cmd("MessWindow", "delM");
    EXPECT_EQ(note(), "Base house code set to D");
}

TEST_F(Desktop, EveryWindowFitsASmallScreen)
{
    startApp();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LE(screen.width(), 1024);
    ASSERT_LE(screen.height(), 600);
    for (const char* name : {"MainWindow", "EditWindow", "MessWindow", "ClockWindow", "BaseCWindow", "PrefsWindow",
                             "SchedWindow", "SchEdWindow", "SndWindow", "SyncWindow", "SearchWindow",
                             "DevNamesWindow", "YearWindow", "AutomationWindow", "VeskWindow", "VeskEdWindow"}) {
        QWidget* w = win(name);
        w->hide();
        w->resize(1800, 1200);  // as a stored size or a scale factor would ask
        w->move(-40, 500);
        w->show();
        EXPECT_TRUE(screen.contains(w->frameGeometry())) << name;
        w->hide();
    }
}

TEST_F(Desktop, OffscreenWithoutADeviceExitsWith69AtOnce)
{
    const auto r = testing_support::runProgram(
        "quorvel", {},
        {{"CP290_SERIAL_DEVICES", ""}, {"QT_QPA_PLATFORM", "offscreen"}, {"CP290_LOG_STDERR", "1"},
         {"HOME", m_home.path()}, {"XDG_CONFIG_HOME", m_home.file("config")}},
        20000);
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_NE(r.err.find("Quorvel - Serial port not found."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace uitest
