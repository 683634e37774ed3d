#pragma once
// SrchShtWindowEventHandler: the search sheet runs the name search on 'sSch'.
#include "quorvel/command_router.h"

namespace ui {

class QuorvelApp;

class SearchWindowHandler : public CommandHandler {
public:
    static constexpr int kSearchTextMax = 50;  // bytes of the search text taken
    explicit SearchWindowHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    QuorvelApp& m_app;
};

}  // namespace ui
