#include "link/device_table.h"

#include "platform/serial_devices.h"

namespace cp290 {

void DeviceTable::search()
{
    setDevices(platform::listSerialDevices());
}

void DeviceTable::setDevices(const std::vector<std::string>& devices)
{
    for (auto& e : m_allPath)
        e.clear();
    m_numPorts = 0;
    for (const auto& dev : devices) {
        if (m_numPorts >= kMaxPorts)
            break;
        ++m_numPorts;
        // A path that does not fit an entry counts as one that did not convert.
        if (dev.size() < kPathMax)
            m_allPath[static_cast<size_t>(m_numPorts)] = dev;
    }
}

const std::string& DeviceTable::path(int index) const
{
    static const std::string none;
    if (index < 1 || index > m_numPorts)
        return none;
    return m_allPath[static_cast<size_t>(index)];
}

bool DeviceTable::anyUsable() const
{
    for (int i = 1; i <= m_numPorts; ++i)
        if (!m_allPath[static_cast<size_t>(i)].empty())
            return true;
    return false;
}

int DeviceTable::findPrefix(const std::string& stored) const
{
    if (stored.empty())
        return 0;
    for (int i = 1; i <= m_numPorts; ++i) {
        const std::string& p = m_allPath[static_cast<size_t>(i)];
        if (!p.empty() && p.compare(0, stored.size(), stored) == 0)
            return i;
    }
    return find(stored);
}

int DeviceTable::find(const std::string& path) const
{
    if (path.empty())
        return 0;
    for (int i = 1; i <= m_numPorts; ++i)
        if (m_allPath[static_cast<size_t>(i)] == path)
            return i;
    const std::string device = platform::resolvedDevicePath(path);
    for (int i = 1; i <= m_numPorts; ++i) {
        const std::string& p = m_allPath[static_cast<size_t>(i)];
        if (!p.empty() && platform::resolvedDevicePath(p) == device)
            return i;
    }
    return 0;
}

}  // namespace cp290
