#pragma once
// BaseCWindowEventHandler: 'setb' asks before the CP290's events are erased.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class BaseCWindowHandler : public CommandHandler {
public:
    explicit BaseCWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
