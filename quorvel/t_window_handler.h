#pragma once
// The progress sheet's handler: Cancel ('stop') or closing it asks the
// operation under way to stop at its next safe point.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"

namespace ui {

class TWindowHandler : public CommandHandler {
public:
    explicit TWindowHandler(Shell& shell) : m_shell(shell) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    Shell& m_shell;
};

}  // namespace ui
