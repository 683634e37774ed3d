#pragma once
// BaseCWindowEventHandler: 'setb' asks before the CP290's events are erased.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace ui {

class BaseCWindowHandler : public CommandHandler {
public:
    BaseCWindowHandler(Shell& shell, const Windows& windows) : m_shell(shell), m_w(windows) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    Shell& m_shell;
    const Windows& m_w;
};

}  // namespace ui
