#include "cp290-mqtt/bridge.h"

#include <QFileInfo>

#include "core/automation_status.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"
#include "state/settings_domain.h"

namespace bridge {
namespace {

constexpr int kSettleMs = 500;
constexpr int kPeriodicMs = 10 * 60 * 1000;
constexpr size_t kMaxLoggedTopics = 300;  // bounded memory for the logged-once topics

}  // namespace

std::string automationJson()
{
    std::string json = core::statusJson(core::readAutomationStatus(platform::now()));
    while (!json.empty() && json.back() == '\n')
        json.pop_back();
    return json;
}

Bridge::Bridge(Topics topics, mqtt::MqttClient& client, UnitLine& line, QObject* parent)
    : QObject(parent), m_topics(std::move(topics)), m_client(client), m_line(line)
{
    m_names = state::storedDeviceNames(state::Program::Bridge);
    m_kinds = state::readDeviceKinds(state::Program::Bridge);
    m_automation = automationJson();

    connect(&m_client, &mqtt::MqttClient::connectedToBroker, this, &Bridge::onConnected);
    connect(&m_client, &mqtt::MqttClient::messageArrived, this, &Bridge::onMessage);
    connect(&m_line, &UnitLine::reported, this, &Bridge::onReport);
    connect(&m_line, &UnitLine::answeringChanged, this, &Bridge::publishAvailability);

    watchFiles();
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_settle, &QTimer::timeout, this, &Bridge::refresh);
    m_periodic.setInterval(kPeriodicMs);
    connect(&m_periodic, &QTimer::timeout, this, [this] { publishAutomation(false); });
    m_periodic.start();
}

// The folders (files replaced by a rename) and the files (written in place,
// the run history appended to); a file's watch is renewed after each change.
void Bridge::watchFiles()
{
    for (const std::string& folder : {state::preferencesFolder(), platform::suiteStateFolder()}) {
        platform::makeFolders(folder);
        m_watcher.addPath(QString::fromStdString(folder));
    }
    for (const std::string& file : {state::domainFilePath(state::kSharedDomain), platform::suiteStateFolder() + "runs.log"})
        if (QFileInfo::exists(QString::fromStdString(file)) && !m_watcher.files().contains(QString::fromStdString(file)))
            m_watcher.addPath(QString::fromStdString(file));  // absent: the folder's watch tells when it comes
}

bool Bridge::named(int house, int unit) const
{
    return m_names.name(house, unit) != state::defaultDeviceName(unit);
}

std::vector<Publication> Bridge::startMessages() const
{
    std::vector<Publication> out;
    for (int h = 1; h <= state::kHouses; ++h)
        for (int u = 1; u <= state::kUnits; ++u)
            if (named(h, u))
                out.push_back({m_topics.discovery(h, u, m_kinds.kind(h, u)),
                               discoveryConfig(m_topics, h, u, m_names.name(h, u), m_kinds.kind(h, u))});
    out.push_back({m_topics.automationDiscovery(), automationConfig(m_topics)});
    out.push_back({m_topics.automation(), m_automation});
    // Last, so a hub sees the entities before they become available.
    out.push_back({m_topics.status(), m_line.answering() ? "online" : "offline"});
    return out;
}

void Bridge::onConnected()
{
    m_client.subscribe(m_topics.commandPattern());
    m_client.subscribe(m_topics.prefix + "/light/+/config");
    m_client.subscribe(m_topics.prefix + "/switch/+/config");
    for (const Publication& p : startMessages())
        m_client.publish(p.topic, p.payload, p.retain);
    for (const auto& [unit, s] : m_states)
        m_client.publish(m_topics.state(unit.first, unit.second), statePayload(s, m_kinds.kind(unit.first, unit.second)),
                         true);
}

void Bridge::publishAvailability()
{
    m_client.publish(m_topics.status(), m_line.answering() ? "online" : "offline", true);
}

void Bridge::refresh()
{
    watchFiles();
    const state::DeviceNames names = m_names;
    const state::DeviceKinds kinds = m_kinds;
    m_names = state::storedDeviceNames(state::Program::Bridge);
    m_kinds = state::readDeviceKinds(state::Program::Bridge);
    publishUnitConfigs(names, kinds);
    publishAutomation(false);
}

void Bridge::publishUnitConfigs(const state::DeviceNames& before, const state::DeviceKinds& kindsBefore)
{
    for (int h = 1; h <= state::kHouses; ++h)
        for (int u = 1; u <= state::kUnits; ++u) {
            const bool wasNamed = before.name(h, u) != state::defaultDeviceName(u);
            const state::UnitKind was = kindsBefore.kind(h, u);
            const state::UnitKind now = m_kinds.kind(h, u);
            if (wasNamed && (!named(h, u) || was != now))
                m_client.publish(m_topics.discovery(h, u, was), "", true);
            if (named(h, u) && (!wasNamed || was != now || before.name(h, u) != m_names.name(h, u)))
                m_client.publish(m_topics.discovery(h, u, now), discoveryConfig(m_topics, h, u, m_names.name(h, u), now),
                                 true);
        }
}

void Bridge::publishAutomation(bool force)
{
    std::string json = automationJson();
    if (!force && json == m_automation)
        return;
    m_automation = std::move(json);
    m_client.publish(m_topics.automation(), m_automation, true);
}

void Bridge::logOnce(const std::string& topic, const std::string& what)
{
    if (m_loggedTopics.count(topic) || m_loggedTopics.size() >= kMaxLoggedTopics)
        return;
    m_loggedTopics.insert(topic);
    platform::logf("cp290-mqtt Error - Message on %s ignored: %s (later ones on this topic are not logged).\n",
                   topic.c_str(), what.c_str());
}

void Bridge::onMessage(const QString& topicText, const QByteArray& payload)
{
    const std::string topic = topicText.toStdString();
    int house = 0;
    int unit = 0;
    if (topic.rfind(m_topics.prefix + "/", 0) == 0) {
        // A config retained by this bridge before: cleared when its unit is
        // no longer named or now has the other kind.
        const std::string light = m_topics.prefix + "/light/";
        const bool isLight = topic.rfind(light, 0) == 0;
        if (payload.isEmpty() || topic.find("/cp290_") == std::string::npos)
            return;
        const std::string id = topic.substr(topic.find("/cp290_") + 7);
        const std::string as = m_topics.base + "/" + id.substr(0, id.find('/')) + "/set";
        if (!parseCommandTopic(m_topics, as, house, unit))
            return;
        const state::UnitKind kind = isLight ? state::UnitKind::Lamp : state::UnitKind::Appliance;
        if (!named(house, unit) || m_kinds.kind(house, unit) != kind)
            m_client.publish(topic, "", true);
        return;
    }
    if (!parseCommandTopic(m_topics, topic, house, unit)) {
        logOnce(topic, "not a unit's command topic");
        return;
    }
    std::string why;
    const std::optional<UnitCommand> c = parseCommand(payload, m_kinds.kind(house, unit), why);
    if (!c) {
        logOnce(topic, why);
        return;
    }
    const UnitFunction f = !c->on ? UnitFunction::Off : c->level > 0 ? UnitFunction::Dim : UnitFunction::On;
    m_sentLevels[{house, unit}] = c->on ? c->level : 0;
    m_line.switchUnits(house, static_cast<uint16_t>(1u << (unit - 1)), f, c->on ? c->level : 0);
}

void Bridge::onReport(const UnitReport& r)
{
    m_client.publish(m_topics.events(), eventPayload(r), false);
    for (int u = 1; u <= state::kUnits; ++u) {
        if (!(r.units & (1u << (u - 1))))
            continue;
        UnitState& s = m_states[{r.house, u}];
        s.on = r.function != UnitFunction::Off;
        // A dim report carries no level: the one last sent, else the last known.
        if (r.function != UnitFunction::Dim)
            s.level = 0;
        else if (const auto sent = m_sentLevels.find({r.house, u}); sent != m_sentLevels.end())
            s.level = sent->second;
        m_client.publish(m_topics.state(r.house, u), statePayload(s, m_kinds.kind(r.house, u)), true);
    }
}

}  // namespace bridge
