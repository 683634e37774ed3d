// tamsel: sets the CP290's clock from the computer's clock and quits. Cron
// starts it; it shows a small window only when a display is present.
#include <QLabel>
#include <QTimer>
#include <memory>

#include "core/direct_command.h"
#include "link/serial_link.h"
#include "state/run_history.h"
#include "tools/tool_application.h"
#include "core/clock_sync.h"

namespace {
const char* const kUsage =
    "Usage: tamsel\n"
    "Sets the CP290's clock from this computer's clock, logs the outcome and quits.\n"
    "Cron starts it on the weekdays planned in the controller's Clock Sync window.\n"
    "The serial device is the \"Serial Path\" stored in Lumbrasken.conf.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 clock set, 1 the CP290 failed, 69 no serial device.\n"
    "Log: journalctl -t Tamsel\n";
}  // namespace

int main(int argc, char** argv)
{
    if (const auto status = cp290::startLineProgram(argc, argv, {"tamsel", "Tamsel", kUsage}))
        return *status;
    // Until the run writes its history line, a killed run shows as interrupted.
    const state::RunStart started(state::Program::Tamsel, "tamsel");
    core::recordReports(platform::Program::Tamsel);  // the reports its line reads go to the power-line log
    auto [app, windowed] = tools::makeToolApplication(argc, argv);

    std::unique_ptr<QLabel> window;
    if (windowed) {
        window = std::make_unique<QLabel>(QStringLiteral("Setting the CP290's clock…"));
        window->setWindowTitle(QStringLiteral("Tamsel"));
        window->setMargin(24);
        window->show();
    }

    const std::string serPath = core::clocksync::ReadPortParms();
    if (const int status = core::clocksync::checkDevice(serPath))
        return status;

    QTimer::singleShot(1000, app.get(), [&] { app->exit(core::clocksync::myTimerproc(serPath)); });
    return app->exec();
}
