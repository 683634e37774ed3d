// quorvel: the windowed controller of the CP290.
#include <QApplication>
#include <csignal>
#include <cstdio>

#include "controller/ui/quorvel_app.h"
#include "link/serial_link.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"

int main(int argc, char** argv)
{
    // Started with child signals ignored, the kernel would reap the crontab
    // helpers itself and their exit statuses would be lost.
    std::signal(SIGCHLD, SIG_DFL);
    // Without a display there is nothing to show, but a missing serial
    // device must still end the run with its log line and status 69.
    if (!platform::hasDisplay()) {
        platform::openLog("Quorvel");
        cp290::DeviceTable devices;
        devices.search();
        if (!devices.anyUsable()) {
            platform::logLine("Quorvel - Serial port not found.\n");
            return ui::QuorvelApp::kExitNoDevice;
        }
        std::fputs("quorvel: no display to show the windows on (DISPLAY is not set)\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    ui::QuorvelApp quorvel;
    if (const int status = quorvel.start())
        return status;
    return quorvel.run();
}
