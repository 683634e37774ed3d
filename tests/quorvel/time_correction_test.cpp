// The Time Correction window, its entry editor and the reset window, driven
// by control ID and command code, in New York time on a fixed day.
#include <QLocale>
#include <gtest/gtest.h>

#include <QDate>
#include <QLineEdit>
#include <QTime>
#include <QSettings>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>
#include <ctime>
#include <filesystem>

#include "quorvel/formats.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/event_list_model.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include <QMenu>
#include "quorvel/time_correction_handler.h"
#include "quorvel/time_correction_window.h"
#include "quorvel/year_ahead_window.h"
#include <QChart>
#include <QChartView>
#include <QXYSeries>
#include "platform/clock.h"
#include "tests/quorvel/quorvel_fixture.h"

using namespace ui;

namespace {

constexpr std::time_t kMar2Noon = 1141318800;  // Thu 2 March 2006, 12:00 in New York

class TimeCorrection : public uitest::QuorvelTest {
protected:
    testing_support::ZoneAndClock m_zone{"America/New_York", kMar2Noon};

    std::string crontab() const
    {
        const std::string f = m_home.file("installed");
        return std::filesystem::exists(f) ? testing_support::readFile(f) : std::string();
    }
    std::string pair(const char* minute, const char* hour, const char* days) const
    {
        return std::string("#a Quorvel\n") + minute + "\t" + hour + "\t*\t*\t" + days + "\t\"" + CP290_BIN_DIR +
               "/veskarn\"\n";
    }
    std::string domainFile() const { return m_home.path() + "/config/Veskarn.conf"; }
    QSettings domain() const { return QSettings(QString::fromStdString(domainFile()), QSettings::IniFormat); }

    void SetUp() override
    {
        QuorvelTest::SetUp();
        // The question's times and dates as a US English desktop writes them.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        otherAnswers = 0;  // "Keep this offset" unless a test answers otherwise
    }
    void TearDown() override
    {
        QuorvelTest::TearDown();
        QLocale::setDefault(QLocale::c());
    }
    void open() { cmd("MainWindow", "TcSl"); }
    // Events in the controller's list, on house A unit 1, at a time.
    void seed(std::initializer_list<int> events, int hour = 6, int minute = 30)
    {
        for (int n : events)
            app().table().storeEvent(n, uitest::image(8, 0x7F, hour, minute, 0x80, 0, 0x60, 2));
    }
    QTreeView* picker() { return static_cast<QTreeView*>(ctl("VeskEdWindow", TPickControlID)); }
    void pick(int event)
    {
        const QAbstractItemModel* m = picker()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->index(r, 0).data().toInt() == event)
                picker()->setCurrentIndex(m->index(r, 0));
    }
    // Add through the editor as a person picks it.
    void add(int event, int type, bool protect = true)
    {
        click("VeskWindow", "addT");
        pick(event);
        setValue("VeskEdWindow", TTypControlID, type);
        setValue("VeskEdWindow", TPrTControlID, protect ? 1 : 0);
        click("VeskEdWindow", "tDIt");
    }
    QTreeView* list() { return static_cast<QTreeView*>(ctl("VeskWindow", ListTControlID)); }
    // Rows as "number kind" (or the columns asked) in display order.
    std::vector<std::string> rows(std::initializer_list<int> columns = {VColEvent, VColKind})
    {
        std::vector<std::string> out;
        const QAbstractItemModel* m = list()->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c : columns)
                cells << m->index(r, c).data().toString();
            out.push_back(cells.join(" | ").toStdString());
        }
        return out;
    }
    void selectRows(std::initializer_list<int> rowNumbers)
    {
        list()->clearSelection();
        for (int r : rowNumbers)
            list()->selectionModel()->select(list()->model()->index(r, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void checkDay(int d, bool on, const char* code)
    {
        setValue("VeskWindow", TMonControlID + d - 1, on ? 1 : 0);
        cmd("VeskWindow", code);
    }
};

}  // namespace

TEST_F(TimeCorrection, AddUpdateAndSaveThePlan)
{
    startApp();
    open();
    EXPECT_EQ(controlTime(ctl("VeskWindow", TTimControlID)), QTime(1, 0));
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(value("VeskWindow", TMonControlID + d), 0);
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));
    EXPECT_FALSE(enabled("VeskEdWindow", TPrTControlID));  // no virtual schedule planned

    // OK waits for an event picked from the controller's list.
    seed({3, 12, 40});
    click("VeskWindow", "addT");
    EXPECT_FALSE(enabled("VeskEdWindow", TDItControlID));
    EXPECT_EQ(picker()->model()->rowCount(), 3);
    pick(12);
    EXPECT_TRUE(enabled("VeskEdWindow", TDItControlID));
    EXPECT_EQ(value("VeskEdWindow", TTypControlID), 3);
    setValue("VeskEdWindow", TTypControlID, 2);
    click("VeskEdWindow", "tDIt");
    EXPECT_TRUE(win("VeskEdWindow")->isVisible());  // stays open for the next entry

    // The same event again updates the entry.
    pick(12);
    setValue("VeskEdWindow", TTypControlID, 1);
    click("VeskEdWindow", "tDIt");
    EXPECT_FALSE(win("VeskEdWindow")->isVisible());
    EXPECT_EQ(rows(), (std::vector<std::string>{"12 | Sunrise"}));
    EXPECT_EQ(app().corrections().ceCount, 1);
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));  // no weekday yet

    add(3, 3);
    add(40, 2);
    EXPECT_EQ(rows(), (std::vector<std::string>{"3 | DST only", "12 | Sunrise", "40 | Sunset"}));

    // One selected: Update and Delete; two: Delete only.
    selectRows({1});
    EXPECT_TRUE(enabled("VeskWindow", TUpdControlID));
    EXPECT_TRUE(enabled("VeskWindow", TDelControlID));
    selectRows({0, 2});
    EXPECT_FALSE(enabled("VeskWindow", TUpdControlID));
    EXPECT_TRUE(enabled("VeskWindow", TDelControlID));
    selectRows({1});
    click("VeskWindow", "updT");
    EXPECT_FALSE(picker()->isEnabled());
    EXPECT_EQ(picker()->currentIndex().data().toString(), "12");
    setValue("VeskEdWindow", TTypControlID, 2);
    click("VeskEdWindow", "tDIt");
    EXPECT_EQ(rows()[1], "12 | Sunset");

    checkDay(1, true, "mTcr");
    checkDay(3, true, "wTcr");
    checkDay(7, true, "uTcr");
    setControlTime(ctl("VeskWindow", TTimControlID), QTime(3, 5));
    ASSERT_TRUE(enabled("VeskWindow", TSavControlID));
    click("VeskWindow", "savT");
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));
    EXPECT_EQ(text("VeskWindow", TNoteControlID), "");
    EXPECT_EQ(crontab(), pair("5", "3", "1,3,7"));
    QSettings d = domain();
    EXPECT_EQ(d.value("Events").toInt(), 3);
    EXPECT_EQ(d.value("Event Numbers").toStringList(), (QStringList{"12", "3", "40"}));  // slot order
    EXPECT_EQ(d.value("Corr Types").toStringList(), (QStringList{"2", "3", "2"}));
    EXPECT_EQ(d.value("Corr DST").toStringList(), (QStringList{"1", "1", "1"}));
    EXPECT_EQ(d.value("Last Zone").toStringList(), (QStringList{"0", "0", "0"}));  // standard time in March
    EXPECT_EQ(d.value("Last SD Mo").toInt(), 3);
    EXPECT_EQ(d.value("Last SD Da").toInt(), 2);
    EXPECT_EQ(d.value("Last SD Yr").toInt(), 2006);
    EXPECT_FALSE(d.contains("Last SU Mo"));
    EXPECT_EQ(text("VeskWindow", TLCSDControlID), "Thursday, March 2, 2006");  // as now stored
    EXPECT_EQ(text("VeskWindow", TLCSUControlID), "none");
    app().closeWindow(win("VeskWindow"));
    EXPECT_FALSE(win("VeskWindow")->isVisible());
    EXPECT_FALSE(win("MessWindow")->isVisible());

    // Opening again shows the plan and the list as stored.
    open();
    EXPECT_EQ(controlTime(ctl("VeskWindow", TTimControlID)), QTime(3, 5));
    EXPECT_EQ(value("VeskWindow", TMonControlID), 1);
    EXPECT_EQ(value("VeskWindow", TMonControlID + 1), 0);
    EXPECT_EQ(value("VeskWindow", TSunControlID), 1);
    EXPECT_EQ(rows().size(), 3u);
    EXPECT_EQ(text("VeskWindow", TLCSDControlID), "Thursday, March 2, 2006");
}

TEST_F(TimeCorrection, DeleteAllSavesAnEmptyListAndDropsThePair)
{
    startApp();
    seed({7, 9});
    open();
    add(7, 1);
    add(9, 2);
    checkDay(2, true, "tTcr");
    click("VeskWindow", "savT");
    ASSERT_EQ(crontab(), pair("0", "1", "2"));

    checkDay(2, false, "tTcr");
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));  // items but no day
    selectRows({0, 1});
    click("VeskWindow", "delT");
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(enabled("VeskWindow", TSavControlID));  // even with no weekday
    EXPECT_FALSE(enabled("VeskWindow", TDelControlID));
    checkDay(4, true, "hTcr");  // an empty list leaves Save alone
    EXPECT_TRUE(enabled("VeskWindow", TSavControlID));
    click("VeskWindow", "savT");
    EXPECT_EQ(crontab(), "");
    QSettings d = domain();
    EXPECT_EQ(d.value("Events").toInt(), 0);
    for (const char* key : {"Event Numbers", "Corr Types", "Corr DST", "Last Zone", "Last SU Mo", "Last SD Yr"})
        EXPECT_FALSE(d.contains(key)) << key;
}

TEST_F(TimeCorrection, ResetThenSaveStoresTheSaveDate)
{
    testing_support::storeCorrections(domainFile(), {{5, 1, 0, false}}, 7, 4, 2005);
    startApp();
    open();
    EXPECT_EQ(text("VeskWindow", TLCSUControlID), "Monday, July 4, 2005");
    EXPECT_TRUE(enabled("VeskWindow", TRst1ControlID));
    click("VeskWindow", "rLdt");
    EXPECT_TRUE(win("ResetWindow")->isVisible());
    EXPECT_FALSE(enabled("ResetWindow", TRsetControlID));
    EXPECT_FALSE(enabled("ResetWindow", TRSDControlID));  // no sunset date held
    setValue("ResetWindow", TRSUControlID, 1);
    cmd("ResetWindow", "rlSu");
    EXPECT_TRUE(enabled("ResetWindow", TRsetControlID));
    click("ResetWindow", "rSun");
    EXPECT_FALSE(win("ResetWindow")->isVisible());
    EXPECT_EQ(text("VeskWindow", TLCSUControlID), "Thursday, March 2, 2006");
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));  // the reset alone saves nothing
    EXPECT_EQ(domain().value("Last SU Yr").toInt(), 2005);

    checkDay(5, true, "fTcr");
    click("VeskWindow", "savT");
    QSettings d = domain();
    EXPECT_EQ(d.value("Last SU Mo").toInt(), 3);
    EXPECT_EQ(d.value("Last SU Da").toInt(), 2);
    EXPECT_EQ(d.value("Last SU Yr").toInt(), 2006);
    EXPECT_EQ(d.value("Corr DST").toStringList(), (QStringList{"0"}));  // the entry's own flag kept
}

TEST_F(TimeCorrection, LocationFieldsStoredAndReadBack)
{
    startApp();
    open();
    auto* lat = static_cast<QLineEdit*>(ctl("VeskWindow", TLatControlID));
    auto* lon = static_cast<QLineEdit*>(ctl("VeskWindow", TLonControlID));
    // Nothing stored: the time zone's place shows greyed behind empty fields.
    EXPECT_EQ(lat->text(), "");
    EXPECT_EQ(lat->placeholderText(), "40.7142");
    EXPECT_EQ(lon->placeholderText(), "-74.0064");
    EXPECT_TRUE(text("VeskWindow", TSunTimesControlID).contains("Today: sunrise 6:29 AM, sunset 5:48 PM.\nAt the place of time zone America/New_York."))
        << text("VeskWindow", TSunTimesControlID).toStdString();

    // Half a location, or a wrong one, is refused and nothing is written.
    QTest::keyClicks(lat, "140.5");
    EXPECT_TRUE(text("VeskWindow", TSunTimesControlID).contains("Enter both"));
    QTest::keyClicks(lon, "-73.9847");
    EXPECT_TRUE(text("VeskWindow", TSunTimesControlID).contains("Latitude must be"));
    ASSERT_TRUE(enabled("VeskWindow", TSavControlID));
    click("VeskWindow", "savT");
    EXPECT_TRUE(text("VeskWindow", TNoteControlID).contains("Nothing was saved"));
    EXPECT_FALSE(std::filesystem::exists(domainFile()));

    lat->clear();
    QTest::keyClicks(lat, "89.5");  // polar night in March
    lon->clear();
    QTest::keyClicks(lon, "15.6");
    EXPECT_TRUE(text("VeskWindow", TSunTimesControlID).contains("sunrise none, sunset none"))
        << text("VeskWindow", TSunTimesControlID).toStdString();
    lat->setText("40.7514");
    lon->setText("-73.9847");
    click("VeskWindow", "savT");
    EXPECT_EQ(text("VeskWindow", TNoteControlID), "");
    EXPECT_EQ(domain().value("Latitude").toString(), "40.751400");
    EXPECT_EQ(domain().value("Longitude").toString(), "-73.984700");
    app().closeWindow(win("VeskWindow"));

    open();
    EXPECT_EQ(lat->text(), "40.7514");
    EXPECT_EQ(lon->text(), "-73.9847");
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));
    // Emptied: the keys go, the time zone's place serves again.
    lat->clear();
    lon->clear();
    click("VeskWindow", "savT");
    EXPECT_FALSE(domain().contains("Latitude"));
    EXPECT_FALSE(domain().contains("Longitude"));
}

TEST_F(TimeCorrection, ClosingWithUnsavedChangesOffersSaveDontSaveCancel)
{
    struct Case {
        int answer;  // Save, Don't Save, Cancel; -1: dismissed
        bool staysOpen;
        int stored;  // "Events" afterwards
    };
    startApp();
    seed({21});
    for (const Case c : {Case{2, true, 0}, Case{-1, true, 0}, Case{1, false, 0}, Case{0, false, 1}}) {
        if (!win("VeskWindow")->isVisible())
            open();
        add(21, 3);
        checkDay(1, true, "mTcr");
        questions.clear();
        answers = {c.answer};
        app().closeWindow(win("VeskWindow"));
        EXPECT_EQ(questions, std::vector<QString>{"The Time Correction list has changes that are not saved."});
        EXPECT_EQ(win("VeskWindow")->isVisible(), c.staysOpen) << c.answer;
        EXPECT_EQ(domain().value("Events").toInt(), c.stored) << c.answer;
        EXPECT_EQ(app().windows().main->planningMenu()->isEnabled(), !c.staysOpen);
    }
    EXPECT_FALSE(std::filesystem::exists(m_home.file("Wrellish")));
    EXPECT_EQ(crontab(), pair("0", "1", "1"));
}

// Sunset on 2 March 2006 at the time zone's place is at 5:48 PM.
TEST_F(TimeCorrection, AnEventFarFromTheSunTimeAsksToKeepOrMoveIt)
{
    storeDeviceNames('A', {"Porch lamp"});
    startApp();
    struct Case {
        int event, hour, minute;
        int answer;  // Keep this offset, Move it to sunset; -1: dismissed
        const char* question;  // "": none
    };
    const Case cases[] = {
        {5, 19, 0, 0, "Porch lamp at 7:00 PM is 1 h 12 min after today's sunset (5:48 PM)."},
        {6, 16, 40, 1, "Porch lamp at 4:40 PM is 1 h 08 min before today's sunset (5:48 PM)."},
        {7, 12, 0, -1, "Porch lamp at 12:00 PM is 5 h 48 min before today's sunset (5:48 PM)."},
        {8, 18, 10, 0, ""},
    };
    for (const Case& c : cases)
        seed({c.event}, c.hour, c.minute);
    open();
    for (const Case& c : cases) {
        questions.clear();
        answers = {c.answer};
        add(c.event, 2);
        EXPECT_EQ(questions.empty() ? "" : questions.front().toStdString(), c.question) << c.event;
    }
    EXPECT_EQ(rows({VColEvent, VColTime, VColDevice, VColKind, VColOffset, VColProtect}),
              (std::vector<std::string>{"5 | 7:00 PM | Porch lamp | Sunset | 1 h 12 min after | Yes",
                                        "6 | 5:48 PM | Porch lamp | Sunset | at the sun time | Yes",
                                        "8 | 6:10 PM | Porch lamp | Sunset | 22 min after | Yes"}));
    EXPECT_TRUE(app().table().record(6)->changed);  // moved, to be sent
    EXPECT_EQ(app().mainHandler().model()->text(6, EventListModel::ColMode), "Sunset");
}

// The editor's "at sunset" lists the event in one step. Sunset moved a
// minute since the list's reference date, so the listed sunset event is
// first brought up to today on the CP290, as a run would.
TEST_F(TimeCorrection, EditorAtSunsetListsTheEventWithTodayAsReference)
{
    testing_support::storeCorrections(domainFile(), {{2, 2}}, 3, 1, 2006);
    device().setEvent(2, uitest::image(8, 0x7F, 17, 45, 0x80, 0, 0x60, 2));
    startApp();
    cmd("MainWindow", "addE");
    fillEditor({.number = 9});
    setValue("EditWindow", ETimeKindControlID, 3);
    cmd("EditWindow", "sunK");
    setValue("EditWindow", EOffsetControlID, -15);
    EXPECT_FALSE(enabled("EditWindow", TimeControlID));
    EXPECT_EQ(controlTime(ctl("EditWindow", TimeControlID)), QTime(17, 33));
    EXPECT_EQ(text("EditWindow", ESunTimeControlID), "Today's sunset is at 5:48 PM. The event follows sunset all year.");
    click("EditWindow", "doIt");

    QSettings d = domain();
    EXPECT_EQ(d.value("Event Numbers").toStringList(), (QStringList{"2", "9"}));
    EXPECT_EQ(d.value("Corr Types").toStringList(), (QStringList{"2", "2"}));
    EXPECT_EQ(QDate(d.value("Last SD Yr").toInt(), d.value("Last SD Mo").toInt(), d.value("Last SD Da").toInt()),
              QDate(2006, 3, 2));
    const auto moved = device().event(2);
    ASSERT_TRUE(moved);
    EXPECT_NE((*moved)[3], 45);  // brought up to today on the CP290
    EXPECT_EQ(app().table().record(2)->minute, (*moved)[3]);  // and read back
    EXPECT_EQ(app().table().record(9)->hour * 60 + app().table().record(9)->minute, 17 * 60 + 33);
    EXPECT_EQ(app().mainHandler().model()->text(9, EventListModel::ColMode), "Sunset");
    EXPECT_TRUE(text("MainWindow", NoteControlID).contains("No correction run is planned"))
        << text("MainWindow", NoteControlID).toStdString();

    // Changing it opens at sunset with its offset; a fixed time takes it off the list.
    app().editHandler().openChange(9);
    EXPECT_EQ(value("EditWindow", ETimeKindControlID), 3);
    EXPECT_EQ(value("EditWindow", EOffsetControlID), -15);
    setValue("EditWindow", ETimeKindControlID, 1);
    cmd("EditWindow", "sunK");
    click("EditWindow", "doIt");
    EXPECT_EQ(domain().value("Event Numbers").toStringList(), (QStringList{"2"}));
    EXPECT_EQ(app().mainHandler().model()->text(9, EventListModel::ColMode), "");
}

TEST_F(TimeCorrection, YearAheadChartsThePlannedCorrectionsAndExportsThem)
{
    testing_support::storeCorrections(domainFile(), {{1, 1}, {2, 2}}, 3, 1, 2006, "40.7514", "-73.9847");
    testing_support::writeFile(m_home.file("installed"),
                               pair("5", "3", "1,3,5") + "# Quorvel\x01/s/Winter\n0\t1\t15\t03\t*\tbrondile\n");
    device().setEvent(1, uitest::image(8, 0x7F, 6, 30, 0x80, 0, 0x60, 2));
    device().setEvent(2, uitest::image(8, 0x7F, 18, 45, 0x40, 0, 0x60, 3));
    startApp();
    cmd("MainWindow", "CPrd");
    const std::string before = crontab();

    cmd("MainWindow", "yrAh");
    auto* year = static_cast<YearAheadWindow*>(win("YearWindow"));
    ASSERT_TRUE(year->isVisible());
    EXPECT_TRUE(text("YearWindow", TYInfoControlID).contains("Mon, Wed, Fri at 03:05"))
        << text("YearWindow", TYInfoControlID).toStdString();
    QStringList names;
    for (QAbstractSeries* s : year->findChild<QChartView*>()->chart()->series())
        names << s->name();
    EXPECT_TRUE(names.contains("Event 1") && names.contains("Event 2")) << names.join(", ").toStdString();
    EXPECT_TRUE(names.contains("Load Winter (replace all events)")) << names.join(", ").toStdString();
    // Today's run (03:05) has passed: Thursday keeps the times read, Friday's run moves them.
    const auto at = [](int day) { return (kMar2Noon + (day - 2) * 86400) * qint64(1000); };
    EXPECT_EQ(year->pointText("Event 1", at(2), 0), "Event 1 - " + longDateText(QDate(2006, 3, 2)) + ": " + timeText(QTime(6, 30)));
    EXPECT_NE(year->pointText("Event 1", at(3), 0), "Event 1 - " + longDateText(QDate(2006, 3, 3)) + ": " + timeText(QTime(6, 30)));
    EXPECT_TRUE(year->pointText("Daylight (sunrise to sunset)", at(2), 12).contains("sunrise 6:"));
    EXPECT_EQ(crontab(), before);  // read, never rewritten

    saveAnswer = QString::fromStdString(m_home.file("chart.png"));
    click("YearWindow", "YAex");
    EXPECT_EQ(proposedName, "year-ahead.png");
    EXPECT_EQ(testing_support::readFile(m_home.file("chart.png")).substr(0, 4), "\x89PNG");

    // Without a correction list there is nothing to draw, and the window says what to do.
    std::filesystem::remove(domainFile());
    cmd("MainWindow", "yrAh");
    EXPECT_TRUE(text("YearWindow", TYInfoControlID).contains("Time Correction window"));
    EXPECT_FALSE(enabled("YearWindow", TYExportControlID));
}
