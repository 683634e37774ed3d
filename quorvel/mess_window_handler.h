#pragma once
// MessWindowEventHandler: the confirmation window's answers. A question
// asked through ask() carries what its action and its Save do; Cancel or
// closing does nothing. The one older mode (the time-correction list's
// discard) still goes to its handler by the window's mode.
#include <functional>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace ui {

class TimeCorrectionHandler;

class MessWindowHandler : public CommandHandler {
public:
    MessWindowHandler(Shell& shell, const Windows& windows, TimeCorrectionHandler& corrections)
        : m_shell(shell), m_w(windows), m_corrections(corrections)
    {
    }
    // Shows the question (modeless). `action` names the action button
    // (empty: "OK"); with `save` the window offers Save, the default, and
    // the action reads "Don't Save"; without it Cancel is the default.
    void ask(const QString& text, const QString& action, std::function<void()> act,
             std::function<bool()> save = {});
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    Shell& m_shell;
    const Windows& m_w;
    TimeCorrectionHandler& m_corrections;
    std::function<void()> m_act;
    std::function<bool()> m_save;
};

}  // namespace ui
