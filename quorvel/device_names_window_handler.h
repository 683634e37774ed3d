#pragma once
// The Device Names window's handler: shows a working copy of the names and
// kinds house by house; Save stores all sixteen houses in domain Lumbrasken and, once
// they are on disk, makes them the controller's names (list, drawer, editor,
// search); closing with edits asks whether to save them.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"
#include "state/device_kinds.h"
#include "state/device_names.h"
#include "state/preferences.h"

namespace core {
class EventTable;
}

namespace ui {

class DevNamesWindowHandler : public CommandHandler {
public:
    // `table` gives the house the window opens on.
    DevNamesWindowHandler(Shell& shell, const Windows& windows, state::Preferences& prefs,
                          const core::EventTable& table)
        : m_shell(shell), m_w(windows), m_prefs(prefs), m_table(table)
    {
    }

    void open();  // 'dNam'
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    void showHouse(int house);
    void takeFields();  // the fields into the working copy
    bool save();  // true once the names are stored

    Shell& m_shell;
    const Windows& m_w;
    state::Preferences& m_prefs;
    const core::EventTable& m_table;
    state::DeviceNames m_work;
    state::DeviceKinds m_kinds;      // as stored
    state::DeviceKinds m_workKinds;
    int m_house = 1;
};

}  // namespace ui
