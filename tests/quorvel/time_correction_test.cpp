// The Time Correction window, its entry editor and the reset window, driven
// by control ID and command code, in New York time on a fixed day.
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
#include "quorvel/main_window.h"
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

    void open() { cmd("MainWindow", "TcSl"); }
    QLineEdit* number() { return static_cast<QLineEdit*>(ctl("VeskEdWindow", TEvtControlID)); }
    // Add through the editor as a person types it.
    void add(const char* n, int type, bool protect = true)
    {
        click("VeskWindow", "addT");
        QTest::keyClicks(number(), QString::fromLatin1(n));
        setValue("VeskEdWindow", TTypControlID, type);
        setValue("VeskEdWindow", TPrTControlID, protect ? 1 : 0);
        click("VeskEdWindow", "tDIt");
    }
    QTreeView* list() { return static_cast<QTreeView*>(ctl("VeskWindow", ListTControlID)); }
    // Rows as "number type" in display order.
    std::vector<std::string> rows()
    {
        std::vector<std::string> out;
        const QAbstractItemModel* m = list()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out.push_back((m->index(r, 0).data().toString() + " " + m->index(r, 1).data().toString()).toStdString());
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

    // OK waits for a digit.
    click("VeskWindow", "addT");
    EXPECT_FALSE(enabled("VeskEdWindow", TDItControlID));
    QTest::keyClicks(number(), "x");
    EXPECT_FALSE(enabled("VeskEdWindow", TDItControlID));
    QTest::keyClicks(number(), "12");
    EXPECT_TRUE(enabled("VeskEdWindow", TDItControlID));
    EXPECT_EQ(value("VeskEdWindow", TTypControlID), 3);
    setValue("VeskEdWindow", TTypControlID, 2);
    click("VeskEdWindow", "tDIt");
    EXPECT_TRUE(win("VeskEdWindow")->isVisible());  // stays open for the next entry

    // The same number again updates the entry.
    number()->clear();
    QTest::keyClicks(number(), "12");
    setValue("VeskEdWindow", TTypControlID, 1);
    click("VeskEdWindow", "tDIt");
    EXPECT_FALSE(win("VeskEdWindow")->isVisible());
    EXPECT_EQ(rows(), (std::vector<std::string>{"12 Sunrise"}));
    EXPECT_EQ(app().corrections().ceCount, 1);
    EXPECT_FALSE(enabled("VeskWindow", TSavControlID));  // no weekday yet

    add("3", 3);
    add("40", 2);
    EXPECT_EQ(rows(), (std::vector<std::string>{"3 Stand./Daylight", "12 Sunrise", "40 Sunset"}));

    // One selected: Update and Delete; two: Delete only.
    selectRows({1});
    EXPECT_TRUE(enabled("VeskWindow", TUpdControlID));
    EXPECT_TRUE(enabled("VeskWindow", TDelControlID));
    selectRows({0, 2});
    EXPECT_FALSE(enabled("VeskWindow", TUpdControlID));
    EXPECT_TRUE(enabled("VeskWindow", TDelControlID));
    selectRows({1});
    click("VeskWindow", "updT");
    EXPECT_FALSE(number()->isEnabled());
    EXPECT_EQ(number()->text(), "12");
    setValue("VeskEdWindow", TTypControlID, 2);
    click("VeskEdWindow", "tDIt");
    EXPECT_EQ(rows()[1], "12 Sunset");

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
    EXPECT_EQ(text("VeskWindow", TLCSDControlID), "03/02/06");  // as now stored
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
    EXPECT_EQ(text("VeskWindow", TLCSDControlID), "03/02/06");
}

// Text that reaches the field past the key filter never becomes an entry.
TEST_F(TimeCorrection, EditorOkActsOnlyOnAnEventNumber)
{
    startApp();
    open();
    click("VeskWindow", "addT");
    for (const char* bad : {"", "0", "129", "999"}) {
        setControlText(number(), QString::fromLatin1(bad));
        cmd("VeskEdWindow", "tDIt");
        EXPECT_EQ(app().corrections().ceCount, 0) << bad;
        EXPECT_FALSE(enabled("VeskEdWindow", TDItControlID)) << bad;
    }
    EXPECT_TRUE(rows().empty());
    setControlText(number(), "128");
    cmd("VeskEdWindow", "tDIt");
    EXPECT_EQ(rows(), (std::vector<std::string>{"128 Stand./Daylight"}));
}

TEST_F(TimeCorrection, DeleteAllSavesAnEmptyListAndDropsThePair)
{
    startApp();
    open();
    add("7", 1);
    add("9", 2);
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
    EXPECT_EQ(text("VeskWindow", TLCSUControlID), "07/04/05");
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
    EXPECT_EQ(text("VeskWindow", TLCSUControlID), "03/02/06");
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
    EXPECT_TRUE(text("VeskWindow", TSunTimesControlID).contains("Today: sunrise 06:29, sunset 17:48.\nAt the place of time zone America/New_York."))
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

TEST_F(TimeCorrection, ClosingWithUnsavedChangesAsksAndDropsThem)
{
    startApp();
    open();
    add("21", 1);
    EXPECT_EQ(app().corrections().ceCount, 1);
    app().closeWindow(win("VeskWindow"));
    EXPECT_TRUE(win("VeskWindow")->isVisible());
    ASSERT_TRUE(win("MessWindow")->isVisible());
    EXPECT_EQ(text("MessWindow", MessControlID),
              "Changes to the Time Correction List have not been Saved.  Do you really want to Quit?");
    click("MessWindow", "delM");
    EXPECT_FALSE(win("VeskWindow")->isVisible());
    EXPECT_EQ(app().corrections().ceCount, 0);  // what is stored, not what was dropped
    EXPECT_FALSE(std::filesystem::exists(m_home.file("Wrellish")));
    EXPECT_FALSE(std::filesystem::exists(m_home.file("tempCrontab")));
    EXPECT_TRUE(app().windows().main->planningMenu()->isEnabled());
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
    EXPECT_TRUE(names.contains("Load Winter (replace)")) << names.join(", ").toStdString();
    // Today's run (03:05) has passed: Thursday keeps the times read, Friday's run moves them.
    const auto at = [](int day) { return (kMar2Noon + (day - 2) * 86400) * qint64(1000); };
    EXPECT_EQ(year->pointText("Event 1", at(2), 0), "Event 1 - " + longDateText(QDate(2006, 3, 2)) + ": " + timeText(QTime(6, 30)));
    EXPECT_NE(year->pointText("Event 1", at(3), 0), "Event 1 - " + longDateText(QDate(2006, 3, 3)) + ": " + timeText(QTime(6, 30)));
    EXPECT_TRUE(year->pointText("Daylight (sunrise to sunset)", at(2), 12).contains("sunrise 06:"));
    EXPECT_EQ(crontab(), before);  // read, never rewritten

    saveAnswer = QString::fromStdString(m_home.file("chart.png"));
    click("YearWindow", "YAex");
    EXPECT_EQ(proposedName, "year-ahead.png");
    EXPECT_EQ(testing_support::readFile(m_home.file("chart.png")).substr(0, 4), "\x89PNG");

    // Without a correction list there is nothing to draw, and the window says what to do.
    std::filesystem::remove(domainFile());
    cmd("MainWindow", "yrAh");
    EXPECT_TRUE(text("YearWindow", TYInfoControlID).contains("Time Corrections window"));
    EXPECT_FALSE(enabled("YearWindow", TYExportControlID));
}
