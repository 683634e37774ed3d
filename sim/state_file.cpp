#include "sim/state_file.h"

#include "platform/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {
constexpr const char* kHeader = "cp290-sim-state 1";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly 2 * n hex digits.
bool parseHex(const std::string& s, uint8_t* out, size_t n)
{
    if (s.size() != 2 * n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const int hi = hexDigit(s[2 * i]), lo = hexDigit(s[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

// A plain decimal number within [lo, hi], nothing else in the token.
bool parseDec(const std::string& s, int64_t lo, int64_t hi, int64_t& out)
{
    if (s.empty() || s.size() > 18)
        return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

std::string hex(const uint8_t* p, size_t n, const char* sep)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i && *sep)
            s += sep;
        s += buf;
    }
    return s;
}

bool parseLine(const std::vector<std::string>& t, DeviceState& st, std::string& why)
{
    const std::string& key = t[0];
    int64_t v = 0;
    if (key == "module") {
        int64_t unit = 0, level = 0;
        const bool named = t.size() >= 3 && t[1].size() >= 2 && t[1][0] >= 'A' && t[1][0] <= 'P' &&
                           parseDec(t[1].substr(1), 1, 16, unit);
        const bool fits = named && ((t.size() == 3 && (t[2] == "on" || t[2] == "off")) ||
                                    (t.size() == 4 && t[2] == "dim" && parseDec(t[3], 1, 15, level)));
        if (!fits) {
            why = "module wants a house letter and unit (A1) and on, off or dim 1..15";
            return false;
        }
        st.modules[static_cast<size_t>((t[1][0] - 'A') * 16 + unit - 1)] = {true, t[2] != "off", static_cast<int>(level)};
        return true;
    }
    if (key == "status" || key == "base") {
        uint8_t b = 0;
        if (t.size() != 2 || !parseHex(t[1], &b, 1)) {
            why = key + " wants one hex byte";
            return false;
        }
        (key == "status" ? st.status : st.baseCode) = b;
        return true;
    }
    if (key == "clock") {
        int64_t h = 0, m = 0;
        uint8_t day = 0;
        if (t.size() != 4 || t[1].size() != 5 || t[1][2] != ':' || !parseDec(t[1].substr(0, 2), 0, 23, h)
            || !parseDec(t[1].substr(3), 0, 59, m) || !parseHex(t[2], &day, 1)
            || !parseDec(t[3], 0, INT64_MAX, v)) {
            why = "clock wants HH:MM, a hex day bit and a time in ms";
            return false;
        }
        st.clock = SimClock{static_cast<int>(m), static_cast<int>(h), day};
        st.clockWallMs = v;
        return true;
    }
    if (key == "event") {
        EventImage img{};
        if (t.size() != 10 || !parseDec(t[1], 1, 128, v)) {
            why = "event wants a slot 1..128 and 8 hex bytes";
            return false;
        }
        for (size_t i = 0; i < 8; ++i)
            if (!parseHex(t[2 + i], &img[i], 1)) {
                why = "event wants a slot 1..128 and 8 hex bytes";
                return false;
            }
        if (img[0] == 0xFF) {
            why = "an event cannot begin with FF (the empty-slot mark)";
            return false;
        }
        st.events[static_cast<size_t>(v - 1)] = img;
        return true;
    }
    if (key == "graphics") {
        if (t.size() != 2 || !parseHex(t[1], st.graphics.data(), st.graphics.size())) {
            why = "graphics wants 512 hex digits";
            return false;
        }
        return true;
    }
    why = "unknown entry '" + key + "'";
    return false;
}
}  // namespace

std::string moduleText(int index, const ModuleState& m)
{
    const std::string name = std::string(1, static_cast<char>('A' + index / 16)) + std::to_string(index % 16 + 1);
    if (!m.on)
        return name + " off";
    return m.level == 0 ? name + " on" : name + " dim " + std::to_string(m.level);
}

std::string formatState(const DeviceState& st)
{
    std::ostringstream out;
    char clock[64];
    std::snprintf(clock, sizeof clock, "%02d:%02d %02X %lld", st.clock.hour, st.clock.minute,
                  st.clock.dayBit, static_cast<long long>(st.clockWallMs));
    out << kHeader << "\nstatus " << hex(&st.status, 1, "") << "\nbase " << hex(&st.baseCode, 1, "")
        << "\nclock " << clock << "\n";
    for (size_t i = 0; i < st.events.size(); ++i)
        if (st.events[i])
            out << "event " << i + 1 << " " << hex(st.events[i]->data(), 8, " ") << "\n";
    out << "graphics " << hex(st.graphics.data(), st.graphics.size(), "") << "\n";
    for (size_t i = 0; i < st.modules.size(); ++i)
        if (st.modules[i].known)
            out << "module " << moduleText(static_cast<int>(i), st.modules[i]) << "\n";
    return out.str();
}

bool parseState(const std::string& text, DeviceState& state, std::string* error)
{
    DeviceState st;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool header = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!header) {
            if (line != kHeader) {
                if (error)
                    *error = std::string("line 1: expected \"") + kHeader + "\"";
                return false;
            }
            header = true;
            continue;
        }
        std::istringstream words(line);
        std::vector<std::string> t;
        for (std::string w; words >> w;)
            t.push_back(w);
        if (t.empty() || t[0][0] == '#')
            continue;
        std::string why;
        if (!parseLine(t, st, why)) {
            if (error)
                *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    if (!header) {
        if (error)
            *error = "empty file";
        return false;
    }
    state = st;
    return true;
}

bool loadStateFile(const std::string& path, DeviceState& state, bool& found, std::string* error)
{
    found = false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT)
            return true;
        if (error)
            *error = "cannot read state file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    const bool readError = std::ferror(f);
    std::fclose(f);
    std::string why;
    if (readError || !parseState(text, state, &why)) {
        if (error)
            *error = "invalid state file " + path + ": " + (readError ? "read error" : why);
        return false;
    }
    found = true;
    return true;
}

bool saveStateFile(const std::string& path, const DeviceState& state, std::string* error)
{
    if (const int e = platform::writeFileWhole(path, formatState(state), 0644)) {
        if (error)
            *error = "cannot write state file " + path + ": " + std::strerror(e);
        return false;
    }
    return true;
}

}  // namespace sim
