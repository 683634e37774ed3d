#include "core/schedule_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "platform/whole_file.h"

namespace core {

namespace {

// A schedule file holds at most 128 records; anything larger is not one, and
// reading stops there (a device node, a huge file picked by mistake).
constexpr size_t kMaxFileBytes = kEventCount * kRecordSize;

void logWriteError(int err)
{
    platform::logf("Quorvel Error  writing Schedule - %s(%d).\n", std::strerror(err), err);
}

void logOpenError(int err)
{
    platform::logf("Quorvel Error  - Opening Event Schedule file - %s(%d).\n", std::strerror(err), err);
}

FileResult failed(int err)
{
    FileResult r;
    r.status = FileStatus::Failed;
    r.error = err;
    return r;
}

FileResult refused()
{
    FileResult r;
    r.status = FileStatus::Refused;
    return r;
}

}  // namespace

std::string recordProblem(const uint8_t* b)
{
    char text[64];
    if (b[3] > 23 || b[4] > 59) {
        std::snprintf(text, sizeof text, "the time %d:%02d", b[3], b[4]);
        return text;
    }
    if (b[2] > 0x7F) {
        std::snprintf(text, sizeof text, "day bits 0x%02X", b[2]);
        return text;
    }
    if (cp290::houseIndexFromCode(b[7], 0) == 0) {
        std::snprintf(text, sizeof text, "house code 0x%02X", b[7]);
        return text;
    }
    return {};
}

std::array<uint8_t, kRecordSize> fileRecord(const EventRecord& r)
{
    const cp290::EventImage img = r.image();
    std::array<uint8_t, kRecordSize> b{};
    b[0] = static_cast<uint8_t>(r.eventNum & 0xFF);
    std::copy(img.begin(), img.end(), b.begin() + 1);
    b[9] = static_cast<uint8_t>(r.devCount & 0xFF);
    return b;
}

std::string scheduleBytes(const EventTable& table)
{
    std::string bytes;
    for (int n = 1; n <= kEventCount; ++n) {
        const EventRecord& r = *table.record(n);
        if (!r.used())
            continue;
        const auto rec = fileRecord(r);
        bytes.append(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
    return bytes;
}

FileResult writeEvent(EventTable& table, const std::string& path)
{
    if (const int err = platform::writeFileWhole(path, scheduleBytes(table), 0666)) {
        logWriteError(err);
        return failed(err);
    }

    table.clearChanged();
    FileResult r;
    for (int n = 1; n <= kEventCount; ++n)
        if (table.isUsed(n))
            r.events.push_back(n);
    return r;
}

FileResult readEvent(EventTable& table, const std::string& path)
{
    std::vector<int> skipped;
    FileResult r = readEventFile(table, path, &skipped);
    if (!r.notSchedule.empty())
        platform::logf("Quorvel Error  - Opening Event Schedule file - not an event schedule file (%s).\n",
                       r.notSchedule.c_str());
    else if (!r.ok())
        logOpenError(r.error);
    for (const int n : skipped)
        platform::logf("Quorvel - Event Schedule record with event number %d skipped.\n", n);
    return r;
}

FileResult readEventFile(EventTable& table, const std::string& path, std::vector<int>* skipped)
{
    // O_NONBLOCK keeps a FIFO from hanging the open; regular files ignore it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failed(errno);
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;

    // The whole file is read before the table is touched, so a read error
    // leaves the table as it was.
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    while (err == 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno != EINTR)
                err = errno;
            continue;
        }
        bytes.insert(bytes.end(), buf, buf + n);
        if (bytes.size() > kMaxFileBytes)
            break;
    }
    ::close(fd);
    if (err != 0)
        return failed(err);
    // Anything but whole records, at most one per event, is some other file:
    // taking part of it would fill the table with garbage.
    if (bytes.size() > kMaxFileBytes || bytes.size() % kRecordSize != 0) {
        FileResult r = failed(EINVAL);
        r.notSchedule = bytes.size() > kMaxFileBytes ? "larger than 1280 bytes" : "not whole 10-byte records";
        return r;
    }

    // A record no CP290 event can hold: the file is not one the controller
    // wrote, or it is damaged; none of it reaches the table or the device.
    for (size_t off = 0; off + kRecordSize <= bytes.size(); off += kRecordSize) {
        const std::string problem = recordProblem(bytes.data() + off);
        if (problem.empty())
            continue;
        FileResult r = failed(EINVAL);
        r.notSchedule = "record " + std::to_string(off / kRecordSize + 1) + " (event " +
                        std::to_string(bytes[off]) + ") holds " + problem;
        return r;
    }

    table.initAll();
    FileResult r;
    for (size_t off = 0; off + kRecordSize <= bytes.size(); off += kRecordSize) {
        const uint8_t* b = bytes.data() + off;
        const int n = b[0];
        if (!EventTable::validNumber(n)) {
            if (skipped)
                skipped->push_back(n);
            continue;
        }
        EventRecord& rec = *table.record(n);
        rec.eventNum = n;
        rec.setImage({b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8]});
        // The drawer shows devCount names out of 16 slots.
        rec.devCount = std::min<int>(b[9], kUnitCount);
        rec.changed = false;
        table.EventListRec(n);
        r.events.push_back(n);
    }
    return r;
}

ScheduleFiles::ScheduleFiles(EventTable& table, OperationsUi& ui) : m_table(table), m_ui(ui) {}

std::string ScheduleFiles::proposedSaveName() const
{
    return m_schFile.empty() ? std::string("untitled.sch") : m_schFile;
}

namespace {
// Names and paths are taken whole or not at all: cut short, they would name another file.
bool fits(const std::string& path, const std::string& name, size_t nameMax, OperationsUi& ui)
{
    if (path.size() > kPathMax) {
        platform::logf("Quorvel Error - Event Schedule path too long (%zu characters).\n", path.size());
        ui.showError(ui_text::kNameRefused);
        return false;
    }
    if (name.empty() || name.size() > nameMax || name == "." || name == "..") {
        platform::logf("Quorvel Error - Event Schedule file name not usable (%zu characters).\n", name.size());
        ui.showError(ui_text::kNameRefused);
        return false;
    }
    return true;
}
}  // namespace

FileResult ScheduleFiles::openConfirmed(const std::string& path, bool readIt)
{
    const std::string name = platform::fileNameOf(path);
    // In the main window the name also becomes schFile, so it must fit there.
    if (!fits(path, name, readIt ? kSchFileMax : kCurrSfileMax, m_ui))
        return refused();
    m_currSfile = name;
    if (!readIt) {
        m_currSpath = path;
        return FileResult{};
    }
    FileResult r = readEvent(m_table, path);
    if (!r.notSchedule.empty()) {
        m_ui.showError("\"" + m_currSfile + "\" is not an event schedule file, or it is damaged: " +
                       r.notSchedule + ". Nothing was loaded.");
        return r;
    }
    if (!r.ok()) {
        m_ui.showError(std::string(ui_text::kFileNotRead) +
                       (r.error ? std::string(" (") + std::strerror(r.error) + ")" : std::string()));
        return r;
    }
    m_ui.listChanged();
    m_ui.setSaveFindEnabled(true);
    m_ui.setSourceText(m_currSfile);
    m_schFile = m_currSfile;
    m_ui.showDone("Opened " + m_currSfile + ": " + std::to_string(r.events.size()) +
                  (r.events.size() == 1 ? " event" : " events"));
    return r;
}

FileResult ScheduleFiles::saveConfirmed(const std::string& path)
{
    const std::string name = platform::fileNameOf(path);
    if (!fits(path, name, kSchFileMax, m_ui))
        return refused();
    if (std::any_of(name.begin(), name.end(), [](char c) { return c < 0x20 || c > 0x7E; })) {
        platform::logLine("Quorvel Error - Event Schedule file name is not ASCII text.\n");
        m_ui.showError(ui_text::kNameRefused);
        return refused();
    }
    m_schFile = name;
    FileResult r = writeEvent(m_table, path);
    if (!r.ok())
        m_ui.showError("The event schedule file " + path + " could not be written" +
                       (r.error ? std::string(": ") + std::strerror(r.error) : std::string()) +
                       ". The events are still in the list; save them elsewhere with Save As.");
    else
        m_ui.showDone("Saved to " + m_schFile);
    m_ui.setSourceText(m_schFile);
    return r;
}

}  // namespace core
