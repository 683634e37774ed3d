#pragma once
// The Device Names window's handler: shows a working copy of the names house
// by house; Save stores all sixteen houses in domain Lumbrasken and, once
// they are on disk, makes them the controller's names (list, drawer, editor,
// search); Cancel or closing drops the edits.
#include "quorvel/command_router.h"
#include "state/device_names.h"

namespace ui {

class QuorvelApp;

class DevNamesWindowHandler : public CommandHandler {
public:
    explicit DevNamesWindowHandler(QuorvelApp& app) : m_app(app) {}

    void open();  // 'dNam'
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    void showHouse(int house);
    void takeFields();  // the fields into the working copy
    void save();

    QuorvelApp& m_app;
    state::DeviceNames m_work;
    int m_house = 1;
};

}  // namespace ui
