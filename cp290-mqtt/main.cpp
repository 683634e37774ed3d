// cp290-mqtt: the CP290's units in a home-automation hub over MQTT. Runs
// until stopped (a systemd user unit starts it), beside the cron tools.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "cp290-mqtt/bridge.h"
#include "cp290-mqtt/bridge_settings.h"
#include "cp290-mqtt/watched_line.h"
#include "platform/program_start.h"
#include "platform/signals.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"

namespace {

const char* const kUsage =
    "Usage: cp290-mqtt [options]\n"
    "Puts the CP290's named units into a home-automation hub over MQTT: discovery\n"
    "configs, commands to direct commands, the CP290's reports to states and events,\n"
    "and the cron tools' automation status. Runs until stopped.\n"
    "Settings come from $XDG_CONFIG_HOME/cp290-mqtt.conf (keys named as the options);\n"
    "an option overrides its key.\n"
    "\n"
    "  --broker HOST[:PORT]      the broker (localhost:1883)\n"
    "  --username NAME           log in as NAME\n"
    "  --password-file FILE      the password is FILE's first line\n"
    "  --tls                     connect with TLS\n"
    "  --cafile FILE             trust the certificates in FILE (with --tls)\n"
    "  --discovery-prefix TOPIC  the hub's discovery prefix (homeassistant)\n"
    "  --base-topic TOPIC        the bridge's own topics (cp290)\n"
    "  --device PATH             the CP290's serial device (the stored \"Serial Path\")\n"
    "  --check                   check the settings, connect once, print what would be\n"
    "                            published, and quit\n"
    "  -h, --help                show this help\n"
    "  --version                 show the version\n"
    "\n"
    "Exit status: 0 stopped (or --check passed), 64 wrong option, 69 no serial device\n"
    "stored, or (--check) the broker not reachable, 77 the broker refused the login,\n"
    "78 a setting cannot be used.\n"
    "Log: journalctl -t cp290-mqtt\n";

constexpr int kCheckWaitMs = 10000;

class UntouchedLine : public bridge::UnitLine {
public:
    void switchUnits(int, uint16_t, bridge::UnitFunction, int) override {}
    bool answering() const override { return true; }
};

void printPublications(const std::vector<bridge::Publication>& list)
{
    for (const bridge::Publication& p : list)
        std::printf("%s%s %s\n", p.topic.c_str(), p.retain ? " (retained)" : "", p.payload.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (const auto status = platform::startProgram(argc, argv, {"cp290-mqtt", "cp290-mqtt", kUsage}))
        return *status;
    QCoreApplication app(argc, argv);

    const bridge::SettingsResult loaded = bridge::loadSettings({argv + 1, argv + argc});
    if (!loaded.settings) {
        std::fprintf(stderr, "cp290-mqtt: %s\n", loaded.message.c_str());
        platform::logf("cp290-mqtt Error - %s.\n", loaded.message.c_str());
        return loaded.exitStatus;
    }
    const bridge::Settings& s = *loaded.settings;
    const bridge::Topics topics{s.discoveryPrefix, s.baseTopic};

    mqtt::ClientSettings cs;
    cs.host = s.host;
    cs.port = s.port;
    cs.username = s.username;
    cs.password = s.password;
    cs.tls = s.tls;
    cs.cafile = s.cafile;
    cs.retryCapMs = s.retryCapMs;
    // One session per base topic: a restarted bridge takes over its old
    // session; --check never takes it from a running bridge.
    cs.clientId = "cp290-mqtt-" + s.baseTopic + (s.check ? "-check-" + std::to_string(::getpid()) : "");
    if (!s.check) {
        cs.willTopic = topics.status();
        cs.willPayload = "offline";
    }
    const std::string device = s.device.empty() ? state::storedSerialPath(state::Program::Bridge) : s.device;
    if (device.empty()) {
        std::fprintf(stderr, "cp290-mqtt: no serial device stored (Serial Path in Lumbrasken.conf); use --device PATH\n");
        platform::logf("cp290-mqtt Error - No serial device stored; use --device PATH.\n");
        return bridge::kExitUnavailable;
    }
    mqtt::MqttClient client(cs);
    // --check leaves the line alone.
    std::unique_ptr<bridge::UnitLine> line =
        s.check ? std::unique_ptr<bridge::UnitLine>(new UntouchedLine) : std::make_unique<bridge::WatchedLine>(device);
    bridge::Bridge hub(topics, client, *line);

    int exitStatus = 0;
    QObject::connect(&client, &mqtt::MqttClient::refused, &app, [&](const QString& reason) {
        std::fprintf(stderr, "cp290-mqtt: the broker refused the login: %s\n", qPrintable(reason));
        platform::logf("cp290-mqtt Error - Broker %s:%d refused the login (%s); not retried.\n", s.host.c_str(),
                       s.port, qPrintable(reason));
        exitStatus = bridge::kExitNoPermission;
        app.quit();
    });

    if (s.check) {
        QObject::connect(&client, &mqtt::MqttClient::connectionFailed, &app, [&](const QString& why) {
            std::fprintf(stderr, "cp290-mqtt: broker %s:%d not reachable: %s\n", s.host.c_str(), s.port,
                         qPrintable(why));
            client.stop("");
            exitStatus = bridge::kExitUnavailable;
            app.quit();
        });
        QObject::disconnect(&client, &mqtt::MqttClient::connectedToBroker, &hub, nullptr);
        QObject::connect(&client, &mqtt::MqttClient::connectedToBroker, &app, [&] {
            std::printf("broker %s:%d: connected\ndevice %s\n", s.host.c_str(), s.port, device.c_str());
            printPublications(hub.startMessages());
            client.stop("");
            app.quit();
        });
        QTimer::singleShot(kCheckWaitMs, &app, [&] {
            std::fprintf(stderr, "cp290-mqtt: broker %s:%d did not answer\n", s.host.c_str(), s.port);
            exitStatus = bridge::kExitUnavailable;
            app.quit();
        });
        client.start();
        app.exec();
        return exitStatus;
    }

    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (const int fd = platform::quitOnSignals(); fd >= 0) {
        quitNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, &app, [&] {
            client.stop("offline");
            platform::logf("cp290-mqtt: stopped.\n");
            app.quit();
        });
    }
    client.start();
    app.exec();
    return exitStatus;
}
