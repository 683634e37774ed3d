#pragma once
// Program folder tools/: tamsel, brondile and veskarn (a small main and
// progress window each over their run in core/) and the crontab helpers
// pindrel and mavrone. Uses core/ and below; no other program folder.
//
// The start of every cron tool: a widget application (for its small
// progress window) only when a display is present, else a core application,
// so a run under cron never needs one.
#include <QApplication>
#include <QCoreApplication>
#include <memory>

#include "platform/paths.h"

namespace tools {

struct ToolApplication {
    std::unique_ptr<QCoreApplication> app;
    bool windowed = false;
};

inline ToolApplication makeToolApplication(int& argc, char** argv)
{
    ToolApplication t;
    t.windowed = platform::hasDisplay();
    if (t.windowed) {
        platform::allowOffscreenFallback();
        t.app = std::make_unique<QApplication>(argc, argv);
    } else {
        t.app = std::make_unique<QCoreApplication>(argc, argv);
    }
    return t;
}

}  // namespace tools
