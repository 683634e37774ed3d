#pragma once
// SrchShtWindowEventHandler: the search sheet runs the name search on 'sSch'.
#include "quorvel/command_router.h"
#include "quorvel/windows.h"

namespace ui {

class MainWindowHandler;

class SearchWindowHandler : public CommandHandler {
public:
    static constexpr int kSearchTextMax = 50;  // bytes of the search text taken
    SearchWindowHandler(const Windows& windows, MainWindowHandler& mainList) : m_w(windows), m_mainList(mainList) {}
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    const Windows& m_w;
    MainWindowHandler& m_mainList;
};

}  // namespace ui
