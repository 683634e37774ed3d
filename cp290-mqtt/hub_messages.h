#pragma once
// The bridge's MQTT messages, as pure functions: topics, the hub's discovery
// configs, unit states, the events, and the reading of command payloads.
//
// Brightness: a lamp's discovery config says brightness_scale 16; the hub's
// brightness b (1..16) is the CP290's dim level 16 - b, so 16 is a plain ON
// (level 0) and 1 the dimmest level 15.
#include <QByteArray>
#include <optional>
#include <string>

#include "cp290-mqtt/unit_line.h"
#include "state/device_kinds.h"

namespace bridge {

// Command payloads longer than this are refused unread.
constexpr int kMaxCommandPayload = 1024;

struct Topics {
    std::string prefix;  // discovery prefix, "homeassistant"
    std::string base;    // "cp290"

    std::string status() const { return base + "/status"; }
    std::string events() const { return base + "/events"; }
    std::string automation() const { return base + "/automation"; }
    std::string commandPattern() const { return base + "/+/set"; }
    // "cp290/A1/state"
    std::string state(int house, int unit) const;
    std::string command(int house, int unit) const;
    // "<prefix>/light/cp290_A1/config" (switch for an appliance)
    std::string discovery(int house, int unit, state::UnitKind kind) const;
    std::string automationDiscovery() const;
};

// "A1"
std::string unitId(int house, int unit);

// House and unit of "<base>/<letter><unit>/set"; false for any other topic.
bool parseCommandTopic(const Topics& t, const std::string& topic, int& house, int& unit);

std::string discoveryConfig(const Topics& t, int house, int unit, const std::string& name, state::UnitKind kind);
std::string automationConfig(const Topics& t);

struct UnitState {
    bool on = false;
    int level = 0;  // 0..15, 0: full
};
std::string statePayload(const UnitState& s, state::UnitKind kind);

struct UnitCommand {
    bool on = false;
    int level = 0;  // for a lamp switched on
};
// "ON", "OFF", or JSON {"state": "ON"|"OFF", "brightness": 1..16}; nullopt
// with `why` for anything else.
std::optional<UnitCommand> parseCommand(const QByteArray& payload, state::UnitKind kind, std::string& why);

// One JSON object per report: time (ISO 8601, local with offset), house,
// units, function ("on", "off", "dim"), source.
std::string eventPayload(const UnitReport& r);

}  // namespace bridge
