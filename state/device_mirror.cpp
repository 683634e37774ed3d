#include "state/device_mirror.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/whole_file.h"

namespace state {
namespace {

constexpr const char* kHeader = "cp290 device mirror 1";
constexpr off_t kMaxMirrorBytes = 64 * 1024;
constexpr int kLockWaitMs = 5000;
constexpr int kLockPollMs = 20;

std::string imageText(const MirrorImage& img)
{
    std::string out;
    char b[3];
    for (const uint8_t v : img) {
        std::snprintf(b, sizeof b, "%02x", v);
        out += b;
    }
    return out;
}

bool parseImage(const std::string& text, MirrorImage& img)
{
    if (text.size() != 16)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    for (size_t i = 0; i < img.size(); ++i)
        img[i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return true;
}

bool validName(const std::string& who)
{
    if (who.empty() || who.size() > 32)
        return false;
    for (const char c : who)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    return true;
}

bool validSlot(int n)
{
    return n >= 1 && n <= kMirrorSlots;
}

// One line into `m`; false when it is not one of the mirror's lines.
bool parseLine(const std::string& line, DeviceMirror& m)
{
    std::istringstream in(line);
    std::string key, rest;
    in >> key;
    long long when = 0;
    int n = 0;
    if (key == "base") {
        std::string hex;
        in >> hex;
        if (!in || hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[1])))
            return false;
        m.baseCode = static_cast<uint8_t>(std::stoul(hex, nullptr, 16));
    } else if (key == "event") {
        std::string image;
        MirrorImage img{};
        in >> n >> image >> when;
        if (!in || !validSlot(n) || !parseImage(image, img) || !mirrorSlotUsed(img) || m.changed[size_t(n)] != 0 ||
            m.events[size_t(n)])
            return false;
        m.events[size_t(n)] = img;
        m.changed[size_t(n)] = static_cast<std::time_t>(when);
    } else if (key == "free") {
        in >> n >> when;
        if (!in || !validSlot(n) || m.events[size_t(n)] || m.changed[size_t(n)] != 0)
            return false;
        m.changed[size_t(n)] = static_cast<std::time_t>(when);
    } else if (key == "lost") {
        in >> when >> m.lostBy;
        if (!in || !validName(m.lostBy))
            return false;
        m.lostAt = static_cast<std::time_t>(when);
    } else if (key == "restored") {
        in >> when >> m.restoredEvents >> m.restoredBy;
        if (!in || !validName(m.restoredBy) || m.restoredEvents < 0 || m.restoredEvents > kMirrorSlots)
            return false;
        m.restoredAt = static_cast<std::time_t>(when);
    } else {
        return false;
    }
    return !(in >> rest) && when >= 0;
}

std::string mirrorText(const DeviceMirror& m)
{
    std::string text = std::string(kHeader) + "\n";
    if (m.baseCode) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", *m.baseCode);
        text += std::string("base ") + b + "\n";
    }
    for (int n = 1; n <= kMirrorSlots; ++n) {
        const size_t i = size_t(n);
        if (m.events[i])
            text += "event " + std::to_string(n) + " " + imageText(*m.events[i]) + " " +
                    std::to_string(static_cast<long long>(m.changed[i])) + "\n";
        else if (m.changed[i] != 0)
            text += "free " + std::to_string(n) + " " + std::to_string(static_cast<long long>(m.changed[i])) + "\n";
    }
    if (m.lostAt != 0 && validName(m.lostBy))
        text += "lost " + std::to_string(static_cast<long long>(m.lostAt)) + " " + m.lostBy + "\n";
    if (m.restoredAt != 0 && validName(m.restoredBy))
        text += "restored " + std::to_string(static_cast<long long>(m.restoredAt)) + " " +
                std::to_string(m.restoredEvents) + " " + m.restoredBy + "\n";
    return text;
}

// A regular file of at most 64 KiB at `path`, read without following a link.
std::optional<std::string> readSmallOwnFile(const std::string& path, bool& absent, std::string& why)
{
    struct stat st{};
    absent = false;
    if (::lstat(path.c_str(), &st) != 0) {
        absent = errno == ENOENT;
        why = "cannot be examined";
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "is not a regular file";
        return std::nullopt;
    }
    if (st.st_size > kMaxMirrorBytes) {
        why = "is larger than 64 KiB";
        return std::nullopt;
    }
    std::optional<std::string> text = platform::readOwnFile(path);
    if (!text)
        why = "cannot be read";
    return text;
}

}  // namespace

bool mirrorSlotUsed(const std::optional<MirrorImage>& img)
{
    return img && (*img)[0] != 0xFF && (*img)[7] != 0;
}

int DeviceMirror::eventCount() const
{
    int count = 0;
    for (const auto& e : events)
        count += e.has_value();
    return count;
}

std::time_t DeviceMirror::eventsSince() const
{
    std::time_t latest = 0;
    for (const std::time_t t : changed)
        latest = std::max(latest, t);
    return latest;
}

void DeviceMirror::setEvent(int n, const std::optional<MirrorImage>& img, std::time_t when)
{
    if (!validSlot(n))
        return;
    const std::optional<MirrorImage> now = mirrorSlotUsed(img) ? img : std::nullopt;
    auto& slot = events[size_t(n)];
    // A free slot that was never used stays without a date.
    if (now != slot) {
        slot = now;
        changed[size_t(n)] = when;
    }
}

void DeviceMirror::eraseEvents(std::time_t when)
{
    for (int n = 1; n <= kMirrorSlots; ++n)
        setEvent(n, std::nullopt, when);
}

void DeviceMirror::setAllEvents(const MirrorSlots& device, std::time_t when)
{
    for (int n = 1; n <= kMirrorSlots; ++n)
        setEvent(n, device[size_t(n)], when);
}

bool DeviceMirror::matches(const MirrorSlots& device) const
{
    for (int n = 1; n <= kMirrorSlots; ++n) {
        const auto& d = device[size_t(n)];
        if (mirrorSlotUsed(d) != events[size_t(n)].has_value() || (mirrorSlotUsed(d) && *d != *events[size_t(n)]))
            return false;
    }
    return true;
}

std::string deviceMirrorPath()
{
    return platform::suiteStateFolder() + "device-mirror";
}

std::string restoreMarkPath()
{
    return platform::suiteStateFolder() + "restore-pending";
}

MirrorRead readDeviceMirror()
{
    MirrorRead r;
    bool absent = false;
    const std::optional<std::string> text = readSmallOwnFile(deviceMirrorPath(), absent, r.why);
    if (!text) {
        r.state = absent ? MirrorState::None : MirrorState::Unusable;
        if (absent)
            r.why.clear();
        return r;
    }
    r.state = MirrorState::Unusable;
    std::istringstream in(*text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) {
        r.why = "does not start as a device mirror";
        return r;
    }
    while (std::getline(in, line)) {
        if (!parseLine(line, r.mirror)) {
            r.why = "holds a line that is not the mirror's: " + line.substr(0, 60);
            r.mirror = {};
            return r;
        }
    }
    r.state = MirrorState::Read;
    return r;
}

int updateDeviceMirror(const std::function<void(DeviceMirror&)>& change, bool replacesUnusable)
{
    const std::string folder = platform::suiteStateFolder();
    if (const int err = platform::makeFolders(folder))
        return err;
    const int lock = ::open((folder + "device-mirror.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0)
        return errno;
    // Holders read and write a small file; a stuck one must not hold a run
    // up for long, and without the lock a change could overwrite another's.
    bool locked = false;
    for (int waited = 0; !(locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0) && waited < kLockWaitMs;
         waited += kLockPollMs)
        ::poll(nullptr, 0, kLockPollMs);
    int err = locked ? 0 : EWOULDBLOCK;
    if (locked) {
        MirrorRead r = readDeviceMirror();
        if (r.state == MirrorState::Unusable && !replacesUnusable) {
            err = EINVAL;
        } else {
            DeviceMirror m = r.state == MirrorState::Read ? r.mirror : DeviceMirror{};
            change(m);
            if (r.state != MirrorState::Read || !(m == r.mirror))
                err = platform::writeOwnFileWhole(deviceMirrorPath(), mirrorText(m));
        }
    }
    ::close(lock);
    return err;
}

std::optional<RestoreMark> readRestoreMark()
{
    struct stat st{};
    if (::lstat(restoreMarkPath().c_str(), &st) != 0 && errno == ENOENT)
        return std::nullopt;
    RestoreMark mark;
    bool absent = false;
    std::string why;
    if (const std::optional<std::string> text = readSmallOwnFile(restoreMarkPath(), absent, why)) {
        std::istringstream in(*text);
        long long since = 0;
        std::string by;
        if (in >> since >> by && since > 0 && validName(by)) {
            mark.since = static_cast<std::time_t>(since);
            mark.by = by;
        }
    }
    return mark;
}

int writeRestoreMark(const RestoreMark& mark)
{
    if (const int err = platform::makeFolders(platform::suiteStateFolder()))
        return err;
    return platform::writeOwnFileWhole(restoreMarkPath(), std::to_string(static_cast<long long>(mark.since)) + " " +
                                                              (validName(mark.by) ? mark.by : "unknown") + "\n");
}

int clearRestoreMark()
{
    if (::unlink(restoreMarkPath().c_str()) == 0 || errno == ENOENT)
        return 0;
    return errno;
}

}  // namespace state
