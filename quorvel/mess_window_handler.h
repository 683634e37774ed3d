#pragma once
// MessWindowEventHandler: the confirmation's OK acts by the window's mode;
// closing it cancels.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class MessWindowHandler : public CommandHandler {
public:
    explicit MessWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
