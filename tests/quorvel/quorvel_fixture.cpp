#include "tests/quorvel/quorvel_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLocale>
#include <QTemporaryFile>
#include <QLineEdit>
#include <QLocale>
#include <QTime>
#include <QTreeView>
#include <cstdlib>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "state/settings_domain.h"
#include "tests/state/state_test_env.h"

namespace uitest {

namespace {
QtMessageHandler standardHandler = nullptr;

// The offscreen platform warns about every raise(); that says nothing here.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
}

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "quorvel_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        // The offscreen screen as small as a netbook's, 1024x600: every window must fit it.
        if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
            static QTemporaryFile config;  // removed when the test program ends
            if (config.open()) {
                config.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1024,
                    "height": 600, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
                config.flush();
                qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
            }
        }
        standardHandler = qInstallMessageHandler(quietHandler);
        QLocale::setDefault(QLocale::c());  // dates and times alike on every test machine
        new QApplication(argc, argv);  // lives for the whole test program
    }
}
}  // namespace

void QuorvelTest::SetUp()
{
    SimTest::SetUp();
    setenv("HOME", m_home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_home.path() + "/config").c_str(), 1);
    setenv("CP290_SERIAL_DEVICES", devicePath().c_str(), 1);
    setenv("CP290_APP_DIR", CP290_BIN_DIR, 1);
    // The planning windows read and install a crontab: never the user's own.
    setenv("CP290_CRONTAB", state_test::CrontabStandIn(m_home.path()).script().c_str(), 1);
    ensureApplication();
}

void QuorvelTest::TearDown()
{
    m_app.reset();
    SimTest::TearDown();
}

void QuorvelTest::storeOptions(int warn, int clock, int read, int help)
{
    state::SettingsDomain d(state::kControllerDomain, state::Program::Quorvel);
    d.writeInt("Warning", warn);
    d.writeInt("Clock", clock);
    d.writeInt("OnLaunch", read);
    d.writeInt("Help", help);
    d.sync();
}

void QuorvelTest::storeDeviceNames(char house, const std::vector<std::string>& names)
{
    state::SettingsDomain d(state::kSharedDomain, state::Program::Quorvel);
    d.writeInt("Port Number", 1);
    QStringList list;
    for (const auto& n : names)
        list << QString::fromStdString(n);
    d.writeStringList((std::string(1, house) + " Devices").c_str(), list);
    d.sync();
}

void QuorvelTest::startApp(int launchDelayMs)
{
    ui::QuorvelApp::Options o;
    o.launchDelayMs = launchDelayMs;
    o.chooseOpenFile = [this] { return openAnswer; };
    o.chooseSaveFile = [this](const QString& proposed) {
        proposedName = proposed;
        return saveAnswer;
    };
    o.noDeviceNotice = [this](const QString& text) { notices.push_back(text); };
    o.answer = [this](const QString& text, const QStringList&, int) {
        questions.push_back(text);
        return questions.size() <= answers.size() ? answers[questions.size() - 1] : otherAnswers;
    };
    m_app = std::make_unique<ui::QuorvelApp>(o);
    ASSERT_EQ(m_app->start(), 0);
}

QWidget* QuorvelTest::win(const char* name) const
{
    QWidget* w = m_app->window(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QWidget* QuorvelTest::ctl(const char* window, int id) const
{
    QWidget* c = ui::findControl(win(window), id);
    EXPECT_NE(c, nullptr) << window << " has no control " << id;
    return c;
}

void QuorvelTest::cmd(const char* window, const char* code)
{
    EXPECT_TRUE(m_app->command(win(window), QString::fromLatin1(code))) << window << " " << code;
}

void QuorvelTest::click(const char* window, const char* code)
{
    QWidget* w = win(window);
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
        if (b->window() == w && ui::commandOf(b) == QLatin1String(code)) {
            EXPECT_TRUE(b->isEnabled()) << window << " " << code;
            b->click();
            return;
        }
    }
    ADD_FAILURE() << window << " has no button for " << code;
}

int QuorvelTest::value(const char* window, int id) const
{
    return ui::controlValue(ctl(window, id));
}

QString QuorvelTest::text(const char* window, int id) const
{
    return ui::controlText(ctl(window, id));
}

bool QuorvelTest::enabled(const char* window, int id) const
{
    return ctl(window, id)->isEnabled();
}

void QuorvelTest::setValue(const char* window, int id, int v)
{
    ui::setControlValue(ctl(window, id), v);
}

void QuorvelTest::fillEditor(const EventInput& e)
{
    if (e.number)
        ui::setControlText(ctl("EditWindow", ui::ENumControlID), QString::number(e.number));
    if (value("EditWindow", ui::HouseControlID) != e.house) {
        setValue("EditWindow", ui::HouseControlID, e.house);
        cmd("EditWindow", "CPHc");
    }
    for (int u = 1; u <= 16; ++u)
        setValue("EditWindow", ui::UnitFirstControlID + u - 1, 0);
    for (int u : e.units)
        setValue("EditWindow", ui::UnitFirstControlID + u - 1, 1);
    cmd("EditWindow", "devc");
    for (int d = 0; d < 7; ++d)
        setValue("EditWindow", ui::MonControlID + d, (e.days >> d) & 1);
    cmd("EditWindow", "dayc");
    ui::setControlTime(ctl("EditWindow", ui::TimeControlID), QTime(e.hour, e.minute));
    setValue("EditWindow", ui::FuncControlID, e.off ? 2 : 1);
    cmd("EditWindow", "onff");
    setValue("EditWindow", ui::DimControlID, e.dim);
    setValue("EditWindow", ui::ModeControlID, e.security ? 2 : 1);
}

void QuorvelTest::storeInEditor(const EventInput& e)
{
    fillEditor(e);
    click("EditWindow", "doIt");
}

std::vector<int> displayOrder(ui::QuorvelApp& app)
{
    std::vector<int> out;
    const QAbstractItemModel* m = app.windows().main->list()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out.push_back(m->index(r, 0).data(Qt::UserRole).toInt());
    return out;
}

sim::EventImage image(int mode, int days, int hour, int minute, int u1, int u2, int house, int lf)
{
    return {static_cast<uint8_t>(mode), static_cast<uint8_t>(days), static_cast<uint8_t>(hour),
            static_cast<uint8_t>(minute), static_cast<uint8_t>(u1),   static_cast<uint8_t>(u2),
            static_cast<uint8_t>(house),  static_cast<uint8_t>(lf)};
}

}  // namespace uitest
