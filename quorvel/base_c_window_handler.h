#pragma once
// BaseCWindowEventHandler: 'setb' asks before the CP290's events are erased.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace core {
class Cp290Operations;
}

namespace ui {

class BaseCWindowHandler : public CommandHandler {
public:
    BaseCWindowHandler(Shell& shell, const Windows& windows, core::Cp290Operations& ops)
        : m_shell(shell), m_w(windows), m_ops(ops)
    {
    }
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    Shell& m_shell;
    const Windows& m_w;
    core::Cp290Operations& m_ops;
};

}  // namespace ui
