#pragma once
// StatusWindowEventHandler: closing readies the self-test window for the next
// test; while a test runs, Cancel or closing it stops the wait.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace ui {

class StatusWindowHandler : public CommandHandler {
public:
    StatusWindowHandler(Shell& shell, const Windows& windows) : m_shell(shell), m_w(windows) {}
    bool handleCommand(const QString& code) override;  // 'stop' while a test runs
    bool handleClose() override;

private:
    Shell& m_shell;
    const Windows& m_w;
};

}  // namespace ui
