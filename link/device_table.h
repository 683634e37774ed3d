#pragma once
// The device search: the serial devices of the machine in the system's order,
// and how each program picks its device among them.
#include <array>
#include <string>
#include <vector>

namespace cp290 {

// The device search: entries 1..10 of allPath receive the listed devices in
// order (entry 0 is never used); numPorts counts every listed device, also one
// without a usable path; devices beyond the tenth are ignored.
class DeviceTable {
public:
    static constexpr int kMaxPorts = 10;
    static constexpr size_t kPathMax = 1024;  // room of one entry, terminator included

    void search();
    void setDevices(const std::vector<std::string>& devices);  // the search, from a given listing

    int numPorts() const { return m_numPorts; }
    const std::string& path(int index) const;  // "" outside 1..numPorts
    bool anyUsable() const;                    // at least one entry holds a path

    // Tools: index of the first device whose path begins with `stored`, else
    // of the device `stored` names (find); 0 when none.
    int findPrefix(const std::string& stored) const;
    // Index of the device `path` names: the same text, or the same device
    // once both are resolved (a /dev/serial/by-id/... link and the ttyUSB0
    // it points to); 0 when none.
    int find(const std::string& path) const;

private:
    std::array<std::string, kMaxPorts + 1> m_allPath;
    int m_numPorts = 0;
};

}  // namespace cp290
