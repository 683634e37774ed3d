// cp290ctl: the controller's core from a shell or a script.
//
// Every command is one call (or two) on the same core the windows use: the
// event table, the CP290 operations and the schedule files. This file only
// parses the command line, picks the device, prints and sets the exit
// status (sysexits, listed in the help) with a one-line message on stderr.
#include <QCoreApplication>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "cp290ctl/device_command.h"
#include "cp290ctl/exit_status.h"
#include "cp290ctl/list_format.h"
#include "cp290ctl/plan_command.h"
#include "cp290ctl/restore_command.h"
#include "core/automation_status.h"
#include "core/cp290_operations.h"
#include "core/event_table.h"
#include "core/schedule_file.h"
#include "core/sun_following.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/syslog_log.h"
#include "state/preferences.h"
#include "cp290ctl/sun_command.h"
#include "cp290ctl/switch_command.h"
#include "core/year_preview.h"

namespace {

using namespace core;

const char* const kUsage =
    "Usage: cp290ctl [--device PATH] COMMAND [ARGS]\n"
    "Talks to a CP290 home-automation interface on a serial line.\n"
    "\n"
    "Commands:\n"
    "  read FILE           read all events and write them to an event schedule file\n"
    "  send FILE [--add]   send the file's events; without --add all 128 slots\n"
    "                      are sent (slots the file lacks are cleared), with --add\n"
    "                      only the file's events\n"
    "  list [FILE] [--format text|csv|json]\n"
    "                      print the CP290's events, or the file's, with the\n"
    "                      device names; times in 24 hours\n"
    "  clock [--set]       print the CP290's clock and base house code; --set first\n"
    "                      sets the clock from this computer\n"
    "  base LETTER --yes   set the base house code (A to P); erases the CP290's events\n"
    "  selftest --yes      run the self test; erases the CP290's events\n"
    "  restore [--from FILE]\n"
    "                      put back what the CP290 held before it lost its memory\n"
    "                      (base house code, events, clock), or FILE's events\n"
    "  status [--json]     the work the crontab plans: its next run, its last run,\n"
    "                      runs that never happened, and the snapshots to go back to\n"
    "%s"
    "  on UNITS            switch units on now: a house letter and unit numbers\n"
    "                      (A1, A 1-3,16) or a device name (\"Porch lamp\"); prints\n"
    "                      what the CP290 confirmed sending on the power line\n"
    "  off UNITS           switch units off now\n"
    "  dim UNITS PERCENT   dim units to a brightness (50%% or 50): level\n"
    "                      round((100 - PERCENT) x 15 / 100) of the CP290's 0-15\n"
    "  monitor [--json]    print every report of the CP290 as it comes (time,\n"
    "                      house, units and names, function, source), until Ctrl-C\n"
    "  preview [--days N] [FILE]\n"
    "                      the times the planned sun corrections will give the\n"
    "                      listed events on each of the next N days (365 by\n"
    "                      default), as CSV: date,event,time; starts from the\n"
    "                      CP290's events, or FILE's\n"
    "  device [PATH]       print or store the serial device the programs use\n"
    "%s"
    "\n"
    "Options:\n"
    "  --device PATH       serial device of the CP290 (default: the stored\n"
    "                      \"Serial Path\", else the first serial device found)\n"
    "  -h, --help          show this help\n"
    "  --version           show the version\n"
    "\n"
    "Exit status:\n"
    "  0   done\n"
    "  1   the CP290 failed: no answer, an answer not valid, a failed write or self test\n"
    "  64  usage error, a malformed or impossible date, time or number included\n"
    "  66  an input is missing or unreadable: a schedule file (with the system's reason\n"
    "      or what is wrong with it), the crontab, the location, an event not listed\n"
    "      or not in the CP290\n"
    "  69  no serial device, or the device is absent\n"
    "  73  an output cannot be written: a schedule file, the crontab, a preference file\n"
    "  75  the serial line or the crontab is in use by another program; try again later\n"
    "  77  no permission to use the serial line\n";

using cli::chooseDevice;
using cli::kExitCantCreate;
using cli::kExitFailure;
using cli::kExitNoInput;
using cli::kExitUnavailable;
using cli::usageError;

struct Args {
    std::string device;
    std::string command;
    std::vector<std::string> operands;
    bool add = false;
    bool set = false;
    bool yes = false;
    bool help = false;
    std::string days;  // preview only
    std::string format;  // list only
};

// The first failure line the core logged during the command: the most precise
// reason there is (the system's error text for an open or write).
std::string g_firstError;

int fail(const std::string& message, bool withDetail = true, int status = kExitFailure)
{
    std::string line = "cp290ctl: " + message;
    if (withDetail && !g_firstError.empty()) {
        std::string detail = g_firstError;
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' '))
            detail.pop_back();
        line += " (" + detail + ")";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    return status;
}

int failOp(const OpResult& r, const std::string& device)
{
    return fail(describe(r, device), true, cli::exitStatusOf(r));
}

bool parse(int argc, char** argv, Args& a, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "-h" || s == "--help") {
            a.help = true;
        } else if (s == "--device") {
            if (i + 1 >= argc) {
                error = "--device needs a path";
                return false;
            }
            a.device = argv[++i];
        } else if (s.rfind("--device=", 0) == 0) {
            a.device = s.substr(9);
        } else if (s == "--days" || s.rfind("--days=", 0) == 0) {
            if (s == "--days" && i + 1 >= argc) {
                error = "--days needs a number";
                return false;
            }
            a.days = s == "--days" ? argv[++i] : s.substr(7);
        } else if (s == "--format" || s.rfind("--format=", 0) == 0) {
            if (s == "--format" && i + 1 >= argc) {
                error = "--format needs text, csv or json";
                return false;
            }
            a.format = s == "--format" ? argv[++i] : s.substr(9);
        } else if (s == "--add") {
            a.add = true;
        } else if (s == "--set") {
            a.set = true;
        } else if (s == "--yes") {
            a.yes = true;
        } else if (s.size() > 1 && s[0] == '-') {
            error = "unknown option " + s;
            return false;
        } else if (a.command.empty()) {
            a.command = s;
        } else {
            a.operands.push_back(s);
        }
    }
    return true;
}

// Progress on a terminal: one line rewritten in place.
class TerminalUi : public OperationsUi {
public:
    TerminalUi() : m_tty(::isatty(STDERR_FILENO) == 1) {}
    void progressShow(const std::string& text) override
    {
        m_text = text;
        if (m_tty) {
            std::fprintf(stderr, "%s ...", m_text.c_str());
            m_shown = true;
        }
    }
    void progressValue(int n) override
    {
        if (m_tty)
            std::fprintf(stderr, "\r%s ... event %d of %d", m_text.c_str(), n, kEventCount);
    }
    void progressHide() override
    {
        if (m_tty && m_shown)
            std::fprintf(stderr, "\n");
        m_shown = false;
    }

private:
    bool m_tty;
    bool m_shown = false;
    std::string m_text;
};

// Why a schedule file could not be read, for people: the system's reason,
// or what is wrong with a file that is not an event schedule file.
int fileNotRead(const std::string& path, const FileResult& r)
{
    if (!r.notSchedule.empty())
        return fail(path + " is not an event schedule file: " + r.notSchedule, false, kExitNoInput);
    return fail("cannot read " + path + ": " + std::strerror(r.error), false, kExitNoInput);
}

int printList(const EventTable& table, cli::ListFormat format)
{
    std::fputs(cli::formatEvents(table, format).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : fail("cannot write the list: " + std::string(std::strerror(errno)), false, kExitCantCreate);
}

int houseFromLetter(const std::string& s)
{
    if (s.size() != 1)
        return 0;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    const char* p = std::strchr(cp290::HLetters, c);
    return c && p ? static_cast<int>(p - cp290::HLetters) + 1 : 0;
}

// The CSV on stdout; what the plan leaves out on stderr, for the person.
int printPreview(core::suncorrection::PreviewSources& sources, const EventTable& table, int days)
{
    sources.input.events = core::suncorrection::toolTableFrom(table);
    if (!sources.crontabRead)
        std::fprintf(stderr, "cp290ctl: the crontab could not be read; the times are shown without corrections\n");
    else if (!sources.input.runs)
        std::fprintf(stderr, "cp290ctl: no sun-correction run is planned (cp290ctl plan corrections); the times "
                             "stay as they are\n");
    const std::vector<core::suncorrection::PreviewDay> out = core::suncorrection::previewDays(sources.input, platform::now(), days);
    std::fputs(core::suncorrection::previewCsv(out).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : fail("cannot write the preview: " + std::string(std::strerror(errno)), false);
}

int run(const Args& a)
{
    const std::string& cmd = a.command;
    const size_t wantOperands = cmd == "read" || cmd == "send" || cmd == "base" ? 1 : 0;
    const size_t maxOperands = cmd == "list" || cmd == "preview" ? 1 : wantOperands;
    if (cmd != "read" && cmd != "send" && cmd != "list" && cmd != "clock" && cmd != "base" && cmd != "selftest" &&
        cmd != "preview")
        return usageError("unknown command '" + cmd + "'");
    if (a.operands.size() < wantOperands || a.operands.size() > maxOperands)
        return usageError("wrong number of arguments for " + cmd);
    if (!a.days.empty() && cmd != "preview")
        return usageError("--days applies to preview only");
    int days = 365;
    if (!a.days.empty()) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(a.days.c_str(), &end, 10);
        if (errno != 0 || !end || *end != '\0' || v < 1 || v > core::suncorrection::kMaxPreviewDays)
            return usageError(platform::format("--days takes a number of days from 1 to %d", core::suncorrection::kMaxPreviewDays));
        days = static_cast<int>(v);
    }
    const std::optional<cli::ListFormat> format = cli::listFormat(a.format.empty() ? "text" : a.format);
    if (!a.format.empty() && cmd != "list")
        return usageError("--format applies to list only");
    if (!format)
        return usageError("--format takes text, csv or json");
    if (a.add && cmd != "send")
        return usageError("--add applies to send only");
    if (a.set && cmd != "clock")
        return usageError("--set applies to clock only");
    if (a.yes && cmd != "base" && cmd != "selftest")
        return usageError("--yes applies to base and selftest only");
    if ((cmd == "base" || cmd == "selftest") && !a.yes)
        return usageError(cmd + " erases every event stored in the CP290; add --yes to go on");
    const int house = cmd == "base" ? houseFromLetter(a.operands[0]) : 0;
    if (cmd == "base" && house == 0)
        return usageError("base house code must be a letter A to P");

    state::DeviceNames names = core::sunfollow::storedDeviceNames();
    EventTable table(names);
    TerminalUi ui;
    Cp290Operations ops(table, ui);

    // The list and the place first, so a preview that cannot be made never waits for the device.
    std::optional<core::suncorrection::PreviewSources> preview;
    if (cmd == "preview") {
        preview = core::suncorrection::readPreviewSources();
        if (preview->nothingListed) {
            // Nothing to play: the header alone, without opening the CP290.
            std::fputs(core::suncorrection::previewCsv({}).c_str(), stdout);
            std::fprintf(stderr, "cp290ctl: %s\n", preview->problem.c_str());
            return 0;
        }
        if (!preview->problem.empty())
            return fail(preview->problem, false, kExitNoInput);
    }
    if (cmd == "preview" && !a.operands.empty()) {
        const FileResult r = readEvent(table, a.operands[0]);
        if (!r.ok())
            return fileNotRead(a.operands[0], r);
        return printPreview(*preview, table, days);
    }
    if (cmd == "list" && !a.operands.empty()) {
        const FileResult r = readEvent(table, a.operands[0]);
        if (!r.ok())
            return fileNotRead(a.operands[0], r);
        return printList(table, *format);
    }
    if (cmd == "send") {
        // Read the file before touching the device, so a bad file sends nothing.
        const FileResult r = readEvent(table, a.operands[0]);
        if (!r.ok())
            return fileNotRead(a.operands[0], r);
        g_firstError.clear();
        ops.setDevicePath(chooseDevice(a.device));
        if (ops.devicePath().empty())
            return fail("no serial device found; use --device PATH", true, kExitUnavailable);
        const OpResult s = a.add ? ops.SendEventList(SendSelected, r.events) : ops.SendEventList(SendAll);
        return s.ok() ? 0 : failOp(s, ops.devicePath());
    }

    ops.setDevicePath(chooseDevice(a.device));
    if (ops.devicePath().empty())
        return fail("no serial device found; use --device PATH", true, kExitUnavailable);

    if (cmd == "read" || cmd == "list" || cmd == "preview") {
        const OpResult r = ops.GetEventList();
        if (!r.ok())
            return failOp(r, ops.devicePath());
        if (cmd == "preview")
            return printPreview(*preview, table, days);
        if (cmd == "list")
            return printList(table, *format);
        const FileResult w = writeEvent(table, a.operands[0]);
        return w.ok() ? 0 : fail("cannot write " + a.operands[0] + ": " + std::strerror(w.error), false, kExitCantCreate);
    }
    if (cmd == "clock") {
        if (a.set) {
            const OpResult r = ops.SetClock();
            if (!r.ok())
                return failOp(r, ops.devicePath());
        }
        int houseIndex = 0;
        std::string time, day;
        const OpResult r = ops.getTimeBase(houseIndex, time, day);
        if (!r.ok())
            return failOp(r, ops.devicePath());
        std::printf("Time:            %s\nDay:             %s\nBase house code: %c\n", time.c_str(),
                    day.c_str(), houseIndex ? cp290::HLetters[houseIndex - 1] : '?');
        return 0;
    }
    if (cmd == "base") {
        const OpResult r = ops.SetBaseCode(house);
        return r.ok() ? 0 : failOp(r, ops.devicePath());
    }
    // selftest
    if (::isatty(STDERR_FILENO) == 1)
        std::fprintf(stderr, "Self test running (up to 20 s) ...\n");
    const OpResult r = ops.SelfTest();
    if (!r.ok())
        return failOp(r, ops.devicePath());
    std::printf("Self test passed\n");
    return 0;
}

// Read-only: lists the crontab, reads the history and the snapshots.
int runStatus(const std::vector<std::string>& args)
{
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json")
            json = true;
        else
            return usageError("status takes only --json, not " + a);
    }
    const AutomationStatus st = readAutomationStatus(platform::now());
    std::fputs((json ? statusJson(st) : statusText(st)).c_str(), stdout);
    if (!st.crontabRead)
        return fail("the crontab could not be read", true, kExitFailure);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string usage = platform::format(kUsage, cli::kSunUsage, cli::kPlanUsage);
    // The controller's own tool: its lines belong with the controller's.
    // Interrupted mid-operation, the line goes back as it was found.
    if (const auto status = cp290::startLineProgram(argc, argv, {"cp290ctl", "Quorvel", usage.c_str()}))
        return *status;
    QCoreApplication app(argc, argv);
    platform::setLogSink([](const std::string& line) {
        if (g_firstError.empty() && line.find("Error") != std::string::npos)
            g_firstError = line;
    });

    cli::installLostMemoryNotice();
    // plan has arguments of its own; everything after it is its business.
    std::string device;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "--device") {
            if (++i < argc)
                device = argv[i];
        } else if (s.rfind("--device=", 0) == 0) {
            device = s.substr(9);
        } else if (s.empty() || s[0] != '-') {
            const std::vector<std::string> rest(argv + i + 1, argv + argc);
            if (s == "restore")
                return cli::runRestoreCommand(device, rest, {chooseDevice, failOp});
            if (s == "on" || s == "off" || s == "dim")
                return cli::runSwitchCommand(s, rest, device, chooseDevice);
            if (s == "monitor")
                return cli::runMonitorCommand(rest, device, chooseDevice);
            if (s == "plan")
                return cli::runPlanCommand(rest);
            if (s == "status")
                return runStatus(rest);
            if (s == "sun")
                return cli::runSunCommand(rest, device);
            if (s == "device")
                return cli::runDeviceCommand(rest);
            break;
        }
    }

    Args args;
    std::string error;
    if (!parse(argc, argv, args, error))
        return usageError(error);
    if (args.help) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    if (args.command.empty())
        return usageError("no command given");
    return run(args);
}
