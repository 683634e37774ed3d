// cp290-mqtt against a real broker, with a client playing the hub.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "tests/state/state_test_env.h"
#include "tests/support/mqtt_hub.h"

using namespace testing_support;

namespace {

// Units A1 (a lamp) and A2 (an appliance) are named, the rest keep their
// default names.
std::string names(const std::string& a1, const std::string& a2)
{
    std::string devices = a1 + ", " + a2, kinds = "lamp, appliance";
    for (int u = 3; u <= 16; ++u) {
        devices += ", Device " + std::to_string(u);
        kinds += ", lamp";
    }
    return "[General]\nPort%20Number=1\nA%20Devices=" + devices + "\nA%20Kinds=" + kinds + "\n";
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.file("config"));
        writeFile(m_dir.file("config/Lumbrasken.conf"), names("Hall", "Fan"));
    }

    std::map<std::string, std::string> env() const
    {
        return {{"HOME", m_dir.path()},           {"XDG_CONFIG_HOME", m_dir.path() + "/config"},
                {"XDG_STATE_HOME", m_dir.path() + "/state"}, {"CP290_CRONTAB", m_cron.script()},
                {"CP290_MQTT_RETRY_MS", "300"},   {"CP290_LOG_STDERR", "1"}};
    }
    std::unique_ptr<Background> startBridge(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args{"--broker", m_broker.address()};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<Background>("cp290-mqtt", args, env(), m_dir.file("bridge.log"));
    }

    TempDir m_dir;
    state_test::CrontabStandIn m_cron{m_dir.path()};
    Broker m_broker;
};

const char* const kLight = "homeassistant/light/cp290_A1/config";
const char* const kSwitch = "homeassistant/switch/cp290_A2/config";

TEST_F(BridgeTest, DiscoveryAvailabilityAndRestarts)
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
    EXPECT_EQ(seen["cp290/automation"].rfind(R"({"crontab_read": true, "work": [)", 0), 0u) << seen["cp290/automation"];

    // Malformed, oversized and stray commands change nothing and are logged
    // once per topic.
    for (const std::string& bad : {std::string("MAYBE"), std::string("{\"state\":\"ON\",\"brightness\":99}"),
                                   std::string(5000, 'x'), std::string("MAYBE")})
        hub.publish("cp290/A1/set", bad);
    hub.publish("cp290/Z9/set", "ON");
    hub.publish("cp290/ping", "ON");  // not subscribed: never reaches the bridge
    hub.waitFor("cp290/nothing", "", 1000);  // time for the bridge to take them
    EXPECT_EQ(hub.seen().count("cp290/A1/state"), 0u);
    const std::string log = readFile(m_dir.file("bridge.log"));
    EXPECT_EQ(log.find("cp290/A1/set ignored"), log.rfind("cp290/A1/set ignored")) << log;
    EXPECT_NE(log.find("cp290/Z9/set ignored"), std::string::npos) << log;

    // A unit renamed and a name removed while running.
    std::string porch = seen[kLight];
    porch.replace(porch.find("Hall"), 4, "Porch");
    writeFile(m_dir.file("config/Lumbrasken.conf"), names("Porch", "Device 2"));
    EXPECT_TRUE(hub.waitFor(kSwitch, ""));
    EXPECT_TRUE(hub.waitFor(kLight, porch));

    // The broker restarts with nothing retained: all again.
    m_broker.stop();
    m_broker.start();
    HubClient again(m_broker.port());
    again.subscribe("#");
    EXPECT_TRUE(again.waitFor("cp290/status", "online", 15000)) << readFile(m_dir.file("bridge.log"));
    EXPECT_TRUE(again.waitFor(kLight, porch));

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
