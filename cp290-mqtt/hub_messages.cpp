#include "cp290-mqtt/hub_messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace bridge {
namespace {

constexpr int kBrightnessScale = 16;

std::string compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

QJsonObject deviceBlock(const Topics& t)
{
    return QJsonObject{{"identifiers", QJsonArray{q("cp290_" + t.base)}},
                       {"name", "CP290"},
                       {"manufacturer", "X10"},
                       {"model", "CP290"}};
}

const char* functionWord(UnitFunction f)
{
    switch (f) {
    case UnitFunction::On: return "on";
    case UnitFunction::Off: return "off";
    case UnitFunction::Dim: return "dim";
    }
    return "on";
}

}  // namespace

std::string unitId(int house, int unit)
{
    return std::string(1, static_cast<char>('A' + house - 1)) + std::to_string(unit);
}

std::string Topics::state(int house, int unit) const
{
    return base + "/" + unitId(house, unit) + "/state";
}

std::string Topics::command(int house, int unit) const
{
    return base + "/" + unitId(house, unit) + "/set";
}

std::string Topics::discovery(int house, int unit, state::UnitKind kind) const
{
    return prefix + (kind == state::UnitKind::Lamp ? "/light/" : "/switch/") + "cp290_" + unitId(house, unit) +
           "/config";
}

std::string Topics::automationDiscovery() const
{
    return prefix + "/binary_sensor/cp290_" + base + "_automation/config";
}

bool parseCommandTopic(const Topics& t, const std::string& topic, int& house, int& unit)
{
    const std::string head = t.base + "/";
    if (topic.size() < head.size() + 6 || topic.compare(0, head.size(), head) != 0 ||
        topic.compare(topic.size() - 4, 4, "/set") != 0)
        return false;
    const std::string id = topic.substr(head.size(), topic.size() - head.size() - 4);
    if (id.size() < 2 || id.size() > 3 || id[0] < 'A' || id[0] > 'P' || id[1] < '1' || id[1] > '9')
        return false;
    if (id.size() == 3 && (id[1] != '1' || id[2] < '0' || id[2] > '6'))
        return false;
    house = id[0] - 'A' + 1;
    unit = std::stoi(id.substr(1));
    return true;
}

std::string discoveryConfig(const Topics& t, int house, int unit, const std::string& name, state::UnitKind kind)
{
    QJsonObject o{{"unique_id", q("cp290_" + unitId(house, unit))},
                  {"name", q(name)},
                  {"command_topic", q(t.command(house, unit))},
                  {"state_topic", q(t.state(house, unit))},
                  {"availability_topic", q(t.status())},
                  {"device", deviceBlock(t)}};
    if (kind == state::UnitKind::Lamp) {
        o.insert("schema", "json");
        o.insert("brightness", true);
        o.insert("brightness_scale", kBrightnessScale);
    } else {
        o.insert("payload_on", "ON");
        o.insert("payload_off", "OFF");
    }
    return compact(o);
}

std::string automationConfig(const Topics& t)
{
    // A problem is a CP290 that lost its memory, or any warning of the
    // planned work: a missed, failed or interrupted run of the last week.
    return compact(QJsonObject{
        {"unique_id", q("cp290_" + t.base + "_automation")},
        {"name", "automation problem"},
        {"device_class", "problem"},
        {"state_topic", q(t.automation())},
        {"value_template",
         "{{ 'ON' if value_json.device_memory or value_json.work | map(attribute='warnings') | select | list | count > 0 "
         "else 'OFF' }}"},
        {"json_attributes_topic", q(t.automation())},
        {"availability_topic", q(t.status())},
        {"device", deviceBlock(t)}});
}

std::string statePayload(const UnitState& s, state::UnitKind kind)
{
    const char* word = s.on ? "ON" : "OFF";
    if (kind == state::UnitKind::Appliance)
        return word;
    QJsonObject o{{"state", word}};
    if (s.on)
        o.insert("brightness", kBrightnessScale - s.level);
    return compact(o);
}

std::optional<UnitCommand> parseCommand(const QByteArray& payload, state::UnitKind kind, std::string& why)
{
    if (payload.size() > kMaxCommandPayload) {
        why = "longer than " + std::to_string(kMaxCommandPayload) + " bytes";
        return std::nullopt;
    }
    const QByteArray text = payload.trimmed();
    if (text == "ON" || text == "OFF")
        return UnitCommand{text == "ON", 0};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (!doc.isObject()) {
        why = "not ON, OFF or a JSON object";
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    UnitCommand c{true, 0};
    if (o.contains("state")) {
        const QString s = o.value("state").toString();
        if (s != "ON" && s != "OFF") {
            why = "state is not ON or OFF";
            return std::nullopt;
        }
        c.on = s == "ON";
    } else if (!o.contains("brightness")) {
        why = "neither state nor brightness";
        return std::nullopt;
    }
    if (o.contains("brightness")) {
        const QJsonValue b = o.value("brightness");
        const double v = b.toDouble(-1);
        if (!b.isDouble() || v != static_cast<int>(v) || v < 1 || v > kBrightnessScale) {
            why = "brightness is not a whole number 1-16";
            return std::nullopt;
        }
        if (kind == state::UnitKind::Lamp && c.on)
            c.level = kBrightnessScale - static_cast<int>(v);
    }
    return c;
}

std::string eventPayload(const UnitReport& r)
{
    char when[40] = "";
    std::tm local{};
    if (localtime_r(&r.when, &local))
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &local);
    QJsonArray units;
    for (int u = 1; u <= state::kUnits; ++u)
        if (r.units & (1u << (u - 1)))
            units.append(u);
    return compact(QJsonObject{{"time", when},
                               {"house", QString(QLatin1Char(static_cast<char>('A' + r.house - 1)))},
                               {"units", units},
                               {"function", functionWord(r.function)},
                               {"source", q(r.source)}});
}

}  // namespace bridge
