#pragma once
// SndWindowEventHandler: the send sheet's three exclusive choices and the send.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class SndWindowHandler : public CommandHandler {
public:
    explicit SndWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    void choose(int id);
    QuorvelApp& m_app;
};

}  // namespace ui
