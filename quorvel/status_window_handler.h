#pragma once
// StatusWindowEventHandler: closing readies the self-test window for the next
// test; while a test runs, Cancel or closing it stops the wait.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class StatusWindowHandler : public CommandHandler {
public:
    explicit StatusWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;  // 'stop' while a test runs
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
