#pragma once
// The bridge's settings: $XDG_CONFIG_HOME/cp290-mqtt.conf (INI, [General]
// keys named as the options without their dashes: broker, username,
// password-file, tls, cafile, discovery-prefix, base-topic, device), each
// overridden by its option on the command line. Everything is checked before
// anything connects; a setting that cannot be used is an error with a
// message naming it, never a silent default.
#include <optional>
#include <string>
#include <vector>

namespace bridge {

// Exit statuses (sysexits): a wrong option, a refused login, a setting that
// cannot be used.
constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;
constexpr int kExitNoPermission = 77;
constexpr int kExitConfig = 78;

struct Settings {
    std::string host = "localhost";
    int port = 1883;
    std::string username;
    std::string passwordFile;
    std::string password;  // read from passwordFile
    bool tls = false;
    std::string cafile;
    std::string discoveryPrefix = "homeassistant";
    std::string baseTopic = "cp290";
    std::string device;    // "": the stored serial device
    bool check = false;
    int retryCapMs = 60000;  // CP290_MQTT_RETRY_MS shortens it
};

struct SettingsResult {
    std::optional<Settings> settings;
    int exitStatus = 0;     // when settings is nullopt
    std::string message;    // what is wrong, for standard error and the log
};

// $XDG_CONFIG_HOME/cp290-mqtt.conf (~/.config when unset).
std::string settingsFilePath();

// Reads the file (absent: the defaults), then the options (argv[1..]).
SettingsResult loadSettings(const std::vector<std::string>& args);

// "HOST[:PORT]"; false when the port is not 1..65535 or the host is empty.
bool parseBroker(const std::string& text, std::string& host, int& port);

// A topic level path this bridge may publish under: not empty, no wildcard,
// no NUL, no leading or trailing '/'.
bool usableTopicRoot(const std::string& topic);

}  // namespace bridge
