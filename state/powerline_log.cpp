#include "state/powerline_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "state/line_log.h"

namespace state {

namespace {

// Lines run to about 60 bytes: the cap's lines fit well within these.
constexpr size_t kTrimBytes = kPowerlineKeep * 160;
constexpr off_t kTrimAbove = static_cast<off_t>(kPowerlineKeep) * 100;

// Complete lines of `text` from `from`, each handed to `take` without its LF;
// returns where the first incomplete line begins.
template <typename Take>
size_t eachLine(const std::string& text, size_t from, Take take)
{
    while (from < text.size()) {
        const size_t lf = text.find('\n', from);
        if (lf == std::string::npos)
            break;
        take(text.substr(from, lf - from));
        from = lf + 1;
    }
    return from;
}

}  // namespace

std::string powerlineLogPath()
{
    return platform::suiteStateFolder() + "powerline.log";
}

std::string powerlineLine(const PowerlineEntry& e)
{
    std::string source = e.source;
    for (char& c : source)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    const char house = e.house >= 1 && e.house <= 16 ? cp290::HLetters[e.house - 1] : '?';
    return isoLocal(e.when) + '\t' + house + '\t' + cp290::unitsText(e.units) + '\t' +
           cp290::functionName(e.function) + '\t' + source + '\n';
}

std::optional<PowerlineEntry> parsePowerlineLine(const std::string& line)
{
    const std::vector<std::string> f = tabFields(line);
    if (f.size() != 5 || f[1].size() != 1 || f[1][0] < 'A' || f[1][0] > 'P')
        return std::nullopt;
    const auto when = parseIso(f[0]);
    const auto units = cp290::parseUnitList(f[2]);
    const auto function = cp290::functionFromName(f[3]);
    if (!when || !units || !function)
        return std::nullopt;
    return PowerlineEntry{*when, f[1][0] - 'A' + 1, *units, *function, f[4]};
}

int appendPowerline(const PowerlineEntry& e)
{
    return appendLogLine(powerlineLogPath(), "powerline.lock", powerlineLine(e),
                         {kPowerlineKeep, kTrimBytes, kTrimAbove});
}

std::vector<PowerlineEntry> readPowerline(size_t count)
{
    int err = 0;
    const auto text = readLogTail(powerlineLogPath(), count * 160, &err);
    std::vector<PowerlineEntry> out;
    if (!text)
        return out;
    eachLine(*text, 0, [&](const std::string& l) {
        if (auto e = parsePowerlineLine(l))
            out.push_back(std::move(*e));
    });
    if (out.size() > count)
        out.erase(out.begin(), out.end() - static_cast<long>(count));
    return out;
}

void PowerlineFollower::skipToEnd()
{
    struct stat st {};
    if (::stat(powerlineLogPath().c_str(), &st) == 0) {
        m_offset = st.st_size;
        m_inode = st.st_ino;
    }
    int err = 0;
    if (const auto tail = readLogTail(powerlineLogPath(), 512, &err); tail && !tail->empty()) {
        const size_t end = tail->back() == '\n' ? tail->size() - 1 : tail->size();
        const size_t lf = tail->rfind('\n', end == 0 ? 0 : end - 1);
        m_lastLine = tail->substr(lf == std::string::npos ? 0 : lf + 1, end - (lf == std::string::npos ? 0 : lf + 1));
    }
}

std::vector<PowerlineEntry> PowerlineFollower::newEntries()
{
    std::vector<PowerlineEntry> out;
    const std::string path = powerlineLogPath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return out;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return out;
    }
    std::string text;
    size_t from = 0;
    if (st.st_ino != m_inode || st.st_size < m_offset) {
        // Replaced by a trim: go on after the last line read, found near the end.
        ::close(fd);
        int err = 0;
        text = readLogTail(path, kTrimBytes, &err).value_or("");
        if (!m_lastLine.empty()) {
            const size_t at = text.rfind(m_lastLine + '\n');
            from = at == std::string::npos ? text.size() : at + m_lastLine.size() + 1;
        }
        m_inode = st.st_ino;
        m_offset = st.st_size - static_cast<off_t>(text.size());
    } else {
        text.resize(static_cast<size_t>(st.st_size - m_offset));
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, m_offset + static_cast<off_t>(got));
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
        ::close(fd);
    }
    const size_t end = eachLine(text, from, [&](const std::string& l) {
        m_lastLine = l;
        if (auto e = parsePowerlineLine(l))
            out.push_back(std::move(*e));
    });
    m_offset += static_cast<off_t>(end);
    return out;
}

}  // namespace state
