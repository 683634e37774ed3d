// quorvel: the windowed controller of the CP290.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "core/direct_command.h"
#include "quorvel/quorvel_app.h"
#include "link/serial_link.h"
#include "platform/paths.h"
#include "platform/program_start.h"
#include "platform/signals.h"
#include "platform/syslog_log.h"

namespace {
const char* const kUsage =
    "Usage: quorvel\n"
    "The windowed controller of the X10 CP290: edit, send, read back and save its\n"
    "timer events, set its clock and base house code, and plan daily work in your\n"
    "crontab.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 quit, 69 no serial device or no display.\n"
    "Log: journalctl -t Quorvel\n";
}  // namespace

int main(int argc, char** argv)
{
    // The ending signals are noted once the windows run (quitOnSignals).
    if (const auto status = platform::startProgram(argc, argv, {"quorvel", "Quorvel", kUsage}))
        return *status;
    // Without a display there is nothing to show, but a missing serial
    // device must still end the run with its log line and status 69.
    if (!platform::hasDisplay()) {
        cp290::DeviceTable devices;
        devices.search();
        if (!devices.anyUsable()) {
            platform::logLine("Quorvel - Serial port not found.\n");
            return ui::QuorvelApp::kExitNoDevice;
        }
        std::fputs("quorvel: no display to show the windows on (DISPLAY is not set)\n", stderr);
        return ui::QuorvelApp::kExitNoDevice;  // 69 as documented: the display is unavailable too
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(CP290_VERSION));
    core::recordReports(platform::Program::Quorvel);  // the reports its line reads go to the power-line log
    ui::QuorvelApp quorvel;
    if (const int status = quorvel.start())
        return status;
    // SIGINT, SIGTERM, SIGHUP, SIGQUIT: a running operation stops and closes
    // its line, then the event loop ends and the run ends as on Quit
    // (preferences written).
    QSocketNotifier onSignal(platform::quitOnSignals(), QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    return quorvel.run();
}
