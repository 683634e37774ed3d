#pragma once
// SndWindowEventHandler: the send sheet's three exclusive choices and the send.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace core {
class Cp290Operations;
}

namespace ui {

class MainWindowHandler;

class SndWindowHandler : public CommandHandler {
public:
    SndWindowHandler(Shell& shell, const Windows& windows, core::Cp290Operations& ops, MainWindowHandler& mainList)
        : m_shell(shell), m_w(windows), m_ops(ops), m_mainList(mainList)
    {
    }
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    void choose(int id);
    Shell& m_shell;
    const Windows& m_w;
    core::Cp290Operations& m_ops;
    MainWindowHandler& m_mainList;
};

}  // namespace ui
