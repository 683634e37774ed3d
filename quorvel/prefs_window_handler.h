#pragma once
// PrefsWindowEventHandler: closing the preferences window stores the four options.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class PrefsWindowHandler : public CommandHandler {
public:
    explicit PrefsWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
