#include "platform/serial_devices.h"

#include <QSerialPortInfo>
#include <climits>
#include <cstdlib>

namespace platform {

std::vector<std::string> listSerialDevices()
{
    std::vector<std::string> out;
    if (const char* env = std::getenv("CP290_SERIAL_DEVICES")) {
        std::string s(env);
        size_t start = 0;
        while (start <= s.size()) {
            const size_t colon = s.find(':', start);
            const size_t end = colon == std::string::npos ? s.size() : colon;
            out.push_back(s.substr(start, end - start));
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
        if (s.empty())
            out.clear();
        return out;
    }
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        out.push_back(info.systemLocation().toStdString());
    return out;
}

std::string resolvedDevicePath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace platform
