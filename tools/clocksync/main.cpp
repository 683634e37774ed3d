// tamsel: sets the CP290's clock from the computer's clock and quits. Cron
// starts it; it shows a small window only when a display is present.
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>
#include <memory>

#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "tools/clocksync/clock_sync.h"

int main(int argc, char** argv)
{
    platform::openLog("Tamsel");
    const bool windowed = platform::hasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (windowed) {
        platform::allowOffscreenFallback();
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    std::unique_ptr<QLabel> window;
    if (windowed) {
        window = std::make_unique<QLabel>(QStringLiteral("Setting the CP290's clock…"));
        window->setWindowTitle(QStringLiteral("Tamsel"));
        window->setMargin(24);
        window->show();
    }

    const std::string serPath = clocksync::ReadPortParms();
    if (const int status = clocksync::checkDevice(serPath))
        return status;

    QTimer::singleShot(1000, app.get(), [&] { app->exit(clocksync::myTimerproc(serPath)); });
    return app->exec();
}
