#pragma once
// StatusWindowEventHandler: closing readies the self-test window for the next test.
#include "controller/ui/command_router.h"

namespace ui {

class QuorvelApp;

class StatusWindowHandler : public CommandHandler {
public:
    explicit StatusWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
