// cp290-mqtt against a real broker, with a client playing the hub and the
// emulator as the CP290.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "link/cp290_protocol.h"
#include "tests/state/state_test_env.h"
#include "tests/support/mqtt_hub.h"

using namespace testing_support;

namespace {

const char* const kLight = "homeassistant/light/cp290_A1/config";
const char* const kSwitch = "homeassistant/switch/cp290_A2/config";

class BridgeTest : public SimTest {
protected:
    void SetUp() override
    {
        sim::SimOptions reporting;
        reporting.reports = true;
        restartSim(reporting);
        std::filesystem::create_directories(m_dir.file("config"));
        storeNames("Hall", "Fan");
    }
    // A1 (a lamp) and A2 (an appliance) are named, the rest keep their
    // default names.
    void storeNames(const std::string& a1, const std::string& a2)
    {
        std::string devices = a1 + ", " + a2, kinds = "lamp, appliance";
        for (int u = 3; u <= 16; ++u) {
            devices += ", Device " + std::to_string(u);
            kinds += ", lamp";
        }
        writeFile(m_dir.file("config/Lumbrasken.conf"), "[General]\nPort%20Number=1\nSerial%20Path=" + devicePath() +
                                                            "\nA%20Devices=" + devices + "\nA%20Kinds=" + kinds + "\n");
    }
    std::map<std::string, std::string> env() const
    {
        return {{"HOME", m_dir.path()},           {"XDG_CONFIG_HOME", m_dir.path() + "/config"},
                {"XDG_STATE_HOME", m_dir.path() + "/state"}, {"CP290_CRONTAB", m_cron.script()},
                {"CP290_MQTT_RETRY_MS", "300"},   {"CP290_SERIAL_DEVICES", devicePath()}};
    }
    std::unique_ptr<Background> startBridge()
    {
        auto e = env();
        e["CP290_LOG_STDERR"] = "1";
        return std::make_unique<Background>("cp290-mqtt", std::vector<std::string>{"--broker", m_broker.address()}, e,
                                            m_dir.file("bridge.log"));
    }

    TempDir m_dir;
    state_test::CrontabStandIn m_cron{m_dir.path()};
    Broker m_broker;
};

TEST_F(BridgeTest, TheHubSeesAndSwitchesTheUnits)
{
    HubClient hub(m_broker.port());
    hub.subscribe("#");
    auto bridge = startBridge();
    ASSERT_TRUE(hub.waitFor("cp290/status", "online")) << readFile(m_dir.file("bridge.log"));
    std::map<std::string, std::string> seen = hub.seen();
    EXPECT_NE(seen[kLight].find(R"("command_topic":"cp290/A1/set")"), std::string::npos) << seen[kLight];
    EXPECT_NE(seen[kLight].find(R"("brightness_scale":16)"), std::string::npos);
    EXPECT_NE(seen[kSwitch].find(R"("name":"Fan")"), std::string::npos) << seen[kSwitch];
    EXPECT_EQ(seen.count("homeassistant/light/cp290_A3/config"), 0u);
    EXPECT_EQ(seen["cp290/automation"].rfind(R"({"crontab_read": true, )", 0), 0u) << seen["cp290/automation"];

    // Commands become direct commands; the CP290's reports become states.
    struct {
        const char* topic;
        const char* command;
        const char* state;
    } steps[] = {{"cp290/A1", "ON", R"({"brightness":16,"state":"ON"})"},
                 {"cp290/A1", R"({"state":"ON","brightness":8})", R"({"brightness":8,"state":"ON"})"},
                 {"cp290/A2", "OFF", "OFF"}};
    for (const auto& s : steps) {
        hub.publish(std::string(s.topic) + "/set", s.command);
        EXPECT_TRUE(hub.waitFor(std::string(s.topic) + "/state", s.state)) << s.command;
    }
    EXPECT_EQ(framesOf(device(), cp290::CmdDirect), 3) << readFile(m_dir.file("bridge.log"));

    // A cron tool takes the line meanwhile; a timer event after it still shows.
    EXPECT_EQ(runAsCron("tamsel", m_dir.path(), env()).exitStatus, 0);
    device().setEvent(1, sim::EventImage{8, 0x7F, 10, 1, 0x40, 0, 0x60, cp290::FnOn});  // A2 on at 10:01
    device().setClock({0, 10, 0x01}, std::chrono::milliseconds(59500));
    EXPECT_TRUE(hub.waitFor("cp290/A2/state", "ON"));
    EXPECT_NE(hub.seen()["cp290/events"].find(R"("function":"on","house":"A")"), std::string::npos);

    // Malformed, oversized and stray commands change nothing and are logged
    // once per topic.
    for (const std::string& bad : {std::string("MAYBE"), std::string("{\"state\":\"ON\",\"brightness\":99}"),
                                   std::string(5000, 'x'), std::string("MAYBE")})
        hub.publish("cp290/A1/set", bad);
    hub.publish("cp290/Z9/set", "ON");
    hub.waitFor("cp290/nothing", "", 1000);  // time for the bridge to take them
    EXPECT_EQ(framesOf(device(), cp290::CmdDirect), 3);
    const std::string log = readFile(m_dir.file("bridge.log"));
    EXPECT_EQ(log.find("cp290/A1/set ignored"), log.rfind("cp290/A1/set ignored")) << log;
    EXPECT_NE(log.find("cp290/Z9/set ignored"), std::string::npos) << log;

    // A unit renamed and a name removed while running.
    std::string porch = seen[kLight];
    porch.replace(porch.find("Hall"), 4, "Porch");
    storeNames("Porch", "Device 2");
    EXPECT_TRUE(hub.waitFor(kSwitch, ""));
    EXPECT_TRUE(hub.waitFor(kLight, porch));

    // The broker restarts with nothing retained: all again.
    m_broker.stop();
    m_broker.start();
    HubClient again(m_broker.port());
    again.subscribe("#");
    EXPECT_TRUE(again.waitFor("cp290/status", "online", 15000)) << readFile(m_dir.file("bridge.log"));
    EXPECT_TRUE(again.waitFor(kLight, porch));
    EXPECT_TRUE(again.waitFor("cp290/A2/state", "ON"));

    // A clean stop leaves "offline"; a killed bridge leaves it through the will.
    EXPECT_EQ(bridge->stop(), 0);
    EXPECT_TRUE(again.waitFor("cp290/status", "offline"));
    bridge = startBridge();
    ASSERT_TRUE(again.waitFor("cp290/status", "online"));
    kill(bridge->pid(), SIGKILL);
    EXPECT_TRUE(again.waitFor("cp290/status", "offline", 60000));
}

TEST_F(BridgeTest, SettingsAndLoginsThatCannotWork)
{
    Broker refusing(true);
    writeFile(m_dir.file("password"), "secret\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"--check"}, 0, "homeassistant/light/cp290_A1/config (retained) {"},
        {{"--broker", refusing.address(), "--username", "u", "--password-file", m_dir.file("password")}, 77,
         "refused the login"},
        {{"--broker", "127.0.0.1:1", "--check"}, 69, "not reachable"},
        {{"--base-topic", "a/#"}, 64, "not a topic"},
        {{"--password-file", m_dir.file("password")}, 78, "without username"},
        {{"--cafile", m_dir.file("password")}, 78, "without tls"},
        {{"--frobnicate"}, 64, "unknown option"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--broker", m_broker.address()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = runProgram("cp290-mqtt", args, env(), 20000);
        EXPECT_EQ(r.exitStatus, c.status) << c.args[0] << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    }
    writeFile(m_dir.file("config/cp290-mqtt.conf"), "[General]\nbroker=" + m_broker.address() + "\ncolour=red\n");
    EXPECT_EQ(runProgram("cp290-mqtt", {"--check"}, env()).exitStatus, 78);
}

}  // namespace
