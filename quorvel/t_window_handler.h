#pragma once
// The progress sheet's handler: Cancel ('stop') or closing it asks the
// operation under way to stop at its next safe point.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class TWindowHandler : public CommandHandler {
public:
    explicit TWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
