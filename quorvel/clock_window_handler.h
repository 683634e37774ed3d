#pragma once
// ClockWindowEventHandler: 'setc' sets the CP290's clock from the computer's.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class ClockWindowHandler : public CommandHandler {
public:
    explicit ClockWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
