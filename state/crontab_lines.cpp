#include "state/crontab_lines.h"

#include "platform/syslog_log.h"

namespace state {
namespace {

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

bool hasControl(std::string_view s)
{
    for (const char c : s)
        if (isControl(static_cast<unsigned char>(c)))
            return true;
    return false;
}

bool isWeekdayList(std::string_view s)
{
    if (s == "*")
        return true;
    if (s.empty() || s.size() % 2 == 0)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (i % 2 == 0 ? (c < '0' || c > '7') : c != ',')
            return false;
    }
    return true;
}

std::string withoutLeadingZero(const std::string& s)
{
    return s.size() == 2 && s[0] == '0' ? s.substr(1) : s;
}

std::string padded(std::string_view s)
{
    std::string out(s.substr(0, 2));
    if (out.size() == 1)
        out.insert(out.begin(), '0');
    return out;
}

PairBytes failed(PairError e)
{
    return PairBytes{{}, e};
}

PairBytes finish(std::string marker, std::string entry)
{
    if (marker.size() > kMaxCrontabLine || entry.size() > kMaxCrontabLine)
        return failed(PairError::TooLong);
    return PairBytes{marker + '\n' + entry + '\n', PairError::None};
}

}  // namespace

const char* toolFileName(Tool tool)
{
    switch (tool) {
    case Tool::Brondile:
        return "brondile";
    case Tool::Veskarn:
        return "veskarn";
    case Tool::Tamsel:
        return "tamsel";
    }
    return "brondile";
}

bool startsWith(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

std::optional<int> fieldNumber(std::string_view text, int lo, int hi)
{
    if (text.empty() || text.size() > 2)
        return std::nullopt;
    int v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v >= lo && v <= hi ? std::optional<int>(v) : std::nullopt;
}

std::optional<std::string> cronCommand(const std::string& appFolder, Tool tool)
{
    const std::string path = appFolder + toolFileName(tool);
    std::string out = "\"";
    for (const char c : path) {
        if (isControl(static_cast<unsigned char>(c)) || c == '"' || c == '\\' || c == '$' || c == '`')
            return std::nullopt;
        if (c == '%')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

PairBytes schedulePair(int32_t load, const std::string& path, const std::string& minute,
                       const std::string& hour, const std::string& day, const std::string& month,
                       const std::string& appFolder)
{
    if (load != 1 && load != 2)
        return failed(PairError::LoadMode);
    if (hasControl(path))
        return failed(PairError::SchedulePath);
    const std::optional<std::string> command = cronCommand(appFolder, Tool::Brondile);
    if (!command)
        return failed(PairError::AppFolder);
    if (!fieldNumber(minute, 0, 59) || !fieldNumber(hour, 0, 23))
        return failed(PairError::Time);
    const std::string d = withoutLeadingZero(day);
    const std::string m = withoutLeadingZero(month);
    if (!fieldNumber(d, 1, 31) || !fieldNumber(m, 1, 12))
        return failed(PairError::Date);
    std::string marker(kScheduleMarker);
    marker += static_cast<char>(load);
    marker += path;
    return finish(std::move(marker), minute + '\t' + hour + '\t' + d + '\t' + m + "\t*\t" + *command);
}

PairBytes timingPair(Tool tool, const std::string& minute, const std::string& hour,
                     const std::string& weekdays, const std::string& appFolder)
{
    const std::optional<std::string> command = cronCommand(appFolder, tool);
    if (!command)
        return failed(PairError::AppFolder);
    if (!fieldNumber(minute, 0, 59) || !fieldNumber(hour, 0, 23))
        return failed(PairError::Time);
    if (!isWeekdayList(weekdays))
        return failed(PairError::Weekdays);
    const std::string_view marker = tool == Tool::Tamsel ? kClockSyncMarker : kCorrectionMarker;
    return finish(std::string(marker), minute + '\t' + hour + "\t*\t*\t" + weekdays + '\t' + *command);
}

PairBytes catchUpPair(const std::string& appFolder)
{
    const std::optional<std::string> command = cronCommand(appFolder, Tool::Brondile);
    if (!command)
        return failed(PairError::AppFolder);
    return finish(std::string(kCatchUpMarker), "17\t*\t*\t*\t*\t" + *command + ' ' + std::string(kCatchUpArgument));
}

std::vector<std::string> crontabLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t lf = bytes.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

std::optional<ScheduleMarker> parseScheduleMarker(std::string_view line)
{
    if (!startsWith(line, kScheduleMarker) || line.size() <= kScheduleMarker.size())
        return std::nullopt;
    ScheduleMarker m;
    m.load = static_cast<signed char>(line[kScheduleMarker.size()]);
    if (m.load != 1 && m.load != 2)
        return std::nullopt;
    const std::string_view path = line.substr(kScheduleMarker.size() + 1);
    if (hasControl(path))
        return std::nullopt;
    m.path = std::string(path);
    const size_t slash = m.path.rfind('/');
    m.name = slash == std::string::npos ? m.path : m.path.substr(slash + 1);
    return m;
}

CronEntryFields cronEntryFields(std::string_view line)
{
    std::array<std::string_view, 5> f{};
    size_t start = 0;
    for (size_t i = 0; i < f.size() && start <= line.size(); ++i) {
        const size_t tab = line.find('\t', start);
        f[i] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    CronEntryFields out;
    out.minute = std::string(f[0].substr(0, 2));
    out.hour = std::string(f[1].substr(0, 2));
    out.day = padded(f[2]);
    out.month = padded(f[3]);
    out.weekdays = std::string(f[4]);
    return out;
}

void readWeekdays(std::string_view list, std::array<int32_t, 8>& cronDays)
{
    if (list.empty() || list[0] == '*')
        return;
    cronDays.fill(0);
    for (size_t i = 0; i < list.size(); i += 2)
        if (list[i] >= '0' && list[i] <= '7')
            cronDays[static_cast<size_t>(list[i] - '0')] = 1;
}

bool isCronEntryFor(std::string_view line, Tool tool, std::string_view argument)
{
    std::string_view rest = line;
    for (int field = 0; field < 5; ++field) {
        const size_t tab = rest.find('\t');
        if (tab == 0 || tab == std::string_view::npos)
            return false;
        rest.remove_prefix(tab + 1);
    }
    if (rest.find('\t') != std::string_view::npos)
        return false;
    if (!argument.empty()) {
        if (rest.size() <= argument.size() + 1)
            return false;
        const size_t blank = rest.size() - argument.size() - 1;
        if (rest[blank] != ' ' || rest.substr(blank + 1) != argument)
            return false;
        rest = rest.substr(0, blank);
    }
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
    const size_t slash = rest.rfind('/');
    return rest.substr(slash == std::string_view::npos ? 0 : slash + 1) == toolFileName(tool);
}

std::string_view markerOf(PairKind kind)
{
    switch (kind) {
    case PairKind::Schedule:
        return kScheduleMarker;
    case PairKind::Correction:
        return kCorrectionMarker;
    case PairKind::ClockSync:
        return kClockSyncMarker;
    case PairKind::CatchUp:
        return kCatchUpMarker;
    }
    return kScheduleMarker;
}

Tool toolOf(PairKind kind)
{
    return kind == PairKind::Correction ? Tool::Veskarn : kind == PairKind::ClockSync ? Tool::Tamsel : Tool::Brondile;
}

CrontabPairs readCrontabPairs(const std::string& copy, PairKind kind, const char* who)
{
    const std::string_view marker = markerOf(kind);
    const Tool tool = toolOf(kind);
    CrontabPairs out;
    auto keep = [&out](const std::string& line) {
        out.others += line;
        out.others += '\n';
    };
    bool entryExpected = false;
    for (const std::string& line : crontabLines(copy)) {
        // Over-long lines are never taken for one of this kind's lines: they
        // pass through untouched like any foreign line.
        const bool overLong = line.size() > kMaxCrontabLine;
        if (!overLong && startsWith(line, marker)) {
            if (kind == PairKind::Schedule) {
                std::optional<ScheduleMarker> m = parseScheduleMarker(line);
                if (!m) {
                    platform::logf("%s Error - Schedule line in Crontab not understood; kept as it is.\n", who);
                    keep(line);
                    entryExpected = false;
                    continue;
                }
                out.schedules.push_back(ScheduleRead{std::move(*m), std::nullopt});
            } else {
                out.markerMet = true;
            }
            entryExpected = true;
            continue;
        }
        if (!line.empty() && line[0] == '#') {
            if (startsWith(line, kScheduleMarker))
                out.gotSched = true;
            keep(line);
            entryExpected = false;
            continue;
        }
        const std::string_view argument = kind == PairKind::CatchUp ? kCatchUpArgument : std::string_view();
        if (entryExpected && !overLong && isCronEntryFor(line, tool, argument)) {
            if (kind == PairKind::Schedule)
                out.schedules.back().entry = cronEntryFields(line);
            else
                out.timing = cronEntryFields(line);
            entryExpected = false;
            continue;
        }
        if (entryExpected) {
            // Somebody else's job right after a marker: it stays where it is,
            // and the marker, which has no entry, goes.
            platform::logf("%s Error - Line after a Crontab marker is not its entry; kept, marker "
                           "dropped.\n",
                           who);
            ++out.foreignAfterMarker;
        }
        keep(line);
        entryExpected = false;
    }
    return out;
}

std::optional<ScheduleMarker> scheduleForDate(const std::string& crontab, int day, int month, const char* who)
{
    for (const ScheduleRead& r : readCrontabPairs(crontab, PairKind::Schedule, who).schedules)
        if (r.entry && fieldNumber(r.entry->day, 1, 31) == day && fieldNumber(r.entry->month, 1, 12) == month)
            return r.marker;
    return std::nullopt;
}

}  // namespace state
