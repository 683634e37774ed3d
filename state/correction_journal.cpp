#include "state/correction_journal.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/whole_file.h"
#include "state/state_files.h"

namespace state {
namespace {

constexpr const char* kHeader = "cp290 sun correction journal 1";
constexpr off_t kMaxJournalBytes = 64 * 1024;

std::string dateText(const RefDate& d)
{
    return std::to_string(d.month) + "/" + std::to_string(d.day) + "/" + std::to_string(d.year);
}

// "name m/d/y", the date held or all -1.
bool parseDate(const std::string& line, const char* name, RefDate& d)
{
    int mo = 0, da = 0, yr = 0;
    char end = 0;
    const std::string format = std::string(name) + " %d/%d/%d%c";
    if (std::sscanf(line.c_str(), format.c_str(), &mo, &da, &yr, &end) != 3)
        return false;
    const bool none = mo == -1 && da == -1 && yr == -1;
    if (!none && (mo < 1 || mo > 12 || da < 1 || da > 31 || yr < 1 || yr > 9999))
        return false;
    d = RefDate{static_cast<int16_t>(yr), static_cast<int16_t>(mo), static_cast<int16_t>(da)};
    return true;
}

bool parseEvent(const std::string& line, JournalEvent& e)
{
    std::istringstream in(line);
    std::string word[5], base, found, target, rest;
    in >> word[0] >> e.eventNumber >> word[1] >> e.zone >> word[2] >> base >> word[3] >> found >> word[4] >> target;
    return in && !(in >> rest) && word[0] == "event" && word[1] == "zone" && word[2] == "base" &&
           word[3] == "found" && word[4] == "target" && e.eventNumber >= 1 && e.eventNumber <= kMaxCorrections &&
           parseEventImageHex(base, e.base) && parseEventImageHex(found, e.found) && parseEventImageHex(target, e.target);
}

}  // namespace

const JournalEvent* CorrectionJournal::find(int eventNumber) const
{
    for (const JournalEvent& e : events)
        if (e.eventNumber == eventNumber)
            return &e;
    return nullptr;
}

std::string correctionJournalPath()
{
    return platform::suiteStateFolder() + "veskarn.journal";
}

JournalRead readCorrectionJournal()
{
    JournalRead r;
    const std::string path = correctionJournalPath();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            r.state = JournalState::Unusable;
            r.why = "cannot be examined";
        }
        return r;
    }
    r.state = JournalState::Unusable;
    if (!S_ISREG(st.st_mode)) {
        r.why = "is not a regular file";
        return r;
    }
    if (st.st_size > kMaxJournalBytes) {
        r.why = "is larger than 64 KiB";
        return r;
    }
    const std::optional<std::string> text = platform::readOwnFile(path);
    if (!text) {
        r.why = "cannot be read";
        return r;
    }
    std::istringstream in(*text);
    std::string header, sunrise, sunset, line;
    if (!std::getline(in, header) || header != kHeader || !std::getline(in, sunrise) ||
        !parseDate(sunrise, "sunrise", r.journal.SUTime) || !std::getline(in, sunset) ||
        !parseDate(sunset, "sunset", r.journal.SDTime)) {
        r.why = "does not start as a journal";
        return r;
    }
    while (std::getline(in, line)) {
        JournalEvent e;
        if (!parseEvent(line, e) || r.journal.find(e.eventNumber)) {
            r.why = "holds a line that is no event's";
            return r;
        }
        r.journal.events.push_back(e);
    }
    r.state = JournalState::Read;
    return r;
}

int writeCorrectionJournal(const CorrectionJournal& j)
{
    std::string text =
        std::string(kHeader) + "\nsunrise " + dateText(j.SUTime) + "\nsunset " + dateText(j.SDTime) + "\n";
    for (const JournalEvent& e : j.events)
        text += "event " + std::to_string(e.eventNumber) + " zone " + std::to_string(e.zone) + " base " +
                eventImageHex(e.base) + " found " + eventImageHex(e.found) + " target " + eventImageHex(e.target) + "\n";
    if (const int err = platform::makeFolders(platform::suiteStateFolder()); err != 0)
        return err;
    // A symbolic link in the journal's place is replaced, never written through.
    const std::string path = correctionJournalPath();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(path.c_str()) != 0)
        return errno;
    return platform::writeOwnFileWhole(path, text);
}

int clearCorrectionJournal()
{
    return ::unlink(correctionJournalPath().c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

}  // namespace state
