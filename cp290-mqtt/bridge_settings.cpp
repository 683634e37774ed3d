#include "cp290-mqtt/bridge_settings.h"

#include <QSettings>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/whole_file.h"
#include "state/preference_file.h"
#include "state/settings_domain.h"

namespace bridge {
namespace {

constexpr size_t kMaxPasswordBytes = 4096;

// The settings every key and option names, in the order --help lists them.
const char* const kValueKeys[] = {"broker",  "username",         "password-file", "cafile",
                                  "discovery-prefix", "base-topic", "device"};

SettingsResult failure(int status, std::string message)
{
    SettingsResult r;
    r.exitStatus = status;
    r.message = std::move(message);
    return r;
}

bool isValueKey(const std::string& key)
{
    for (const char* k : kValueKeys)
        if (key == k)
            return true;
    return false;
}

// Stores one setting; "" when fine, else what is wrong with it.
std::string apply(Settings& s, const std::string& key, const std::string& value)
{
    if (key == "broker") {
        if (!parseBroker(value, s.host, s.port))
            return "broker \"" + value + "\" is not HOST or HOST:PORT (port 1-65535)";
    } else if (key == "username") {
        s.username = value;
    } else if (key == "password-file") {
        s.passwordFile = value;
    } else if (key == "cafile") {
        s.cafile = value;
    } else if (key == "discovery-prefix" || key == "base-topic") {
        if (!usableTopicRoot(value))
            return key + " \"" + value + "\" is not a topic (no +, #, empty levels at either end)";
        (key == "base-topic" ? s.baseTopic : s.discoveryPrefix) = value;
    } else if (key == "device") {
        s.device = value;
    } else if (key == "tls") {
        if (value == "true" || value == "1" || value == "yes")
            s.tls = true;
        else if (value == "false" || value == "0" || value == "no")
            s.tls = false;
        else
            return "tls \"" + value + "\" is not true or false";
    } else {
        return "unknown setting \"" + key + "\"";
    }
    return "";
}

// The password: the file's first line, without its line end.
std::string readPassword(Settings& s)
{
    struct stat st {};
    if (::stat(s.passwordFile.c_str(), &st) != 0)
        return "password file " + s.passwordFile + ": " + std::strerror(errno);
    if (!S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kMaxPasswordBytes)
        return "password file " + s.passwordFile + " is not a plain file of at most 4096 bytes";
    int err = 0;
    const std::optional<std::string> bytes = platform::readWholeFile(s.passwordFile, &err);
    if (!bytes)
        return "password file " + s.passwordFile + ": " + std::strerror(err);
    s.password = bytes->substr(0, bytes->find_first_of("\r\n"));
    return "";
}

}  // namespace

std::string settingsFilePath()
{
    return state::preferencesFolder() + "cp290-mqtt.conf";
}

bool parseBroker(const std::string& text, std::string& host, int& port)
{
    std::string h = text;
    int p = 1883;
    const size_t colon = text.rfind(':');
    // A bracketed IPv6 address keeps its colons: "[::1]:1883".
    if (colon != std::string::npos && text.find(']', colon) == std::string::npos &&
        (text[0] == '[' || text.find(':') == colon)) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        p = std::atoi(digits.c_str());
        h = text.substr(0, colon);
    }
    if (h.size() > 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    if (h.empty() || p < 1 || p > 65535 || h.find_first_of(" \t/") != std::string::npos)
        return false;
    host = h;
    port = p;
    return true;
}

bool usableTopicRoot(const std::string& topic)
{
    return !topic.empty() && topic.size() <= 200 && topic.find_first_of(std::string("+#\0", 3)) == std::string::npos &&
           topic.front() != '/' && topic.back() != '/' && topic.find("//") == std::string::npos;
}

SettingsResult loadSettings(const std::vector<std::string>& args)
{
    Settings s;
    if (const char* cap = std::getenv("CP290_MQTT_RETRY_MS"); cap && std::atoi(cap) > 0)
        s.retryCapMs = std::atoi(cap);

    const std::string path = settingsFilePath();
    if (const int problem = state::preferenceFileProblem(path))
        return failure(kExitConfig, path + ": " + std::strerror(problem));
    {
        QSettings file(QString::fromStdString(path), QSettings::IniFormat);
        if (file.status() == QSettings::FormatError)
            return failure(kExitConfig, path + ": not an INI file");
        for (const QString& key : file.allKeys()) {
            const std::string k = key.toStdString();
            if (k != "tls" && !isValueKey(k))
                return failure(kExitConfig, path + ": unknown setting \"" + k + "\"");
            const QVariant v = file.value(key);
            if (v.typeId() == QMetaType::QStringList)
                return failure(kExitConfig, path + ": " + k + " holds a list, not one value");
            if (const std::string why = apply(s, k, v.toString().toStdString()); !why.empty())
                return failure(kExitConfig, path + ": " + why);
        }
    }

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--check") {
            s.check = true;
        } else if (a == "--tls") {
            s.tls = true;
        } else if (a.rfind("--", 0) == 0 && isValueKey(a.substr(2))) {
            if (i + 1 >= args.size())
                return failure(kExitUsage, a + " needs a value");
            if (const std::string why = apply(s, a.substr(2), args[++i]); !why.empty())
                return failure(kExitUsage, why);
        } else {
            return failure(kExitUsage, "unknown option " + a);
        }
    }

    if (!s.cafile.empty() && !s.tls)
        return failure(kExitConfig, "cafile is set without tls");
    if (!s.cafile.empty() && ::access(s.cafile.c_str(), R_OK) != 0)
        return failure(kExitConfig, "cafile " + s.cafile + ": " + std::strerror(errno));
    if (!s.passwordFile.empty()) {
        if (s.username.empty())
            return failure(kExitConfig, "password-file is set without username");
        if (const std::string why = readPassword(s); !why.empty())
            return failure(kExitConfig, why);
    }
    if (s.baseTopic == s.discoveryPrefix)
        return failure(kExitConfig, "base-topic and discovery-prefix are the same");
    SettingsResult r;
    r.settings = std::move(s);
    return r;
}

}  // namespace bridge
