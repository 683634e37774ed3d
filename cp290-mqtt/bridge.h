#pragma once
// Bridge: the CP290's units in the hub. Principles of operation: on every
// connection to the broker it subscribes to the command topics and the
// discovery configs it may have left before, then publishes the
// availability, a discovery config for every named unit, the states it
// knows and the automation status, all retained. Commands become direct
// commands on the line; the line's reports become states and events. The
// device names and kinds (domain Lumbrasken) and the run history are
// watched, so names changed in the controller and runs of the cron tools
// reach the hub while the bridge runs. A retained config of a unit that is
// no longer named (or changed kind) is replaced by an empty one, so the hub
// drops the entity, even when the change happened while the bridge was down.
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cp290-mqtt/hub_messages.h"
#include "cp290-mqtt/mqtt_client.h"
#include "cp290-mqtt/unit_line.h"
#include "state/device_kinds.h"
#include "state/device_names.h"

namespace bridge {

struct Publication {
    std::string topic;
    std::string payload;
    bool retain = true;
};

class Bridge : public QObject {
    Q_OBJECT
public:
    Bridge(Topics topics, mqtt::MqttClient& client, UnitLine& line, QObject* parent = nullptr);

    // What a connection publishes first: availability, discovery configs,
    // the automation status (for --check, and for every connect).
    std::vector<Publication> startMessages() const;

    // Re-reads the names, kinds and automation status now.
    void refresh();

private:
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload);
    void onReport(const UnitReport& report);
    void publishAvailability();
    void publishUnitConfigs(const state::DeviceNames& before, const state::DeviceKinds& kindsBefore);
    void publishAutomation(bool force);
    void logOnce(const std::string& topic, const std::string& what);
    bool named(int house, int unit) const;

    Topics m_topics;
    mqtt::MqttClient& m_client;
    UnitLine& m_line;
    state::DeviceNames m_names;
    state::DeviceKinds m_kinds;
    std::string m_automation;  // the status JSON last read
    std::map<std::pair<int, int>, UnitState> m_states;
    std::map<std::pair<int, int>, int> m_sentLevels;  // the dim level last sent to a unit
    std::set<std::string> m_loggedTopics;
    void watchFiles();

    QFileSystemWatcher m_watcher;
    QTimer m_settle;     // changes come in bursts: one re-read after them
    QTimer m_periodic;   // next runs and the week's window move with time
};

// The automation status as cp290ctl status --json prints it.
std::string automationJson();

}  // namespace bridge
