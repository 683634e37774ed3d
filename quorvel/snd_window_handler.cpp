#include "quorvel/snd_window_handler.h"

#include <vector>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "core/cp290_operations.h"

namespace ui {

void SndWindowHandler::choose(int id)
{
    const QWidget* snd = m_w.snd;
    if (!controlEnabled(snd, id))
        return;
    for (int c : {SallControlID, ShighControlID, SchgControlID})
        setControlValue(findControl(snd, c), c == id ? 1 : 0);
}

bool SndWindowHandler::handleCommand(const QString& code)
{
    SndWindow* snd = m_w.snd;
    if (code == QLatin1String("Sall")) {
        choose(SallControlID);
    } else if (code == QLatin1String("Shih")) {
        choose(ShighControlID);
    } else if (code == QLatin1String("Schg")) {
        choose(SchgControlID);
    } else if (code == QLatin1String("CPs2")) {
        snd->hide();
        m_shell.setNote({});
        MainWindowHandler& main = m_mainList;
        const bool all = controlValue(findControl(snd, SallControlID));
        const bool selected = controlValue(findControl(snd, ShighControlID));
        const bool changed = controlValue(findControl(snd, SchgControlID));
        const std::vector<int> events = main.selectedEvents();
        m_shell.runOperation([&] {
            if (all)
                m_ops.SendEventList(core::SendAll);
            if (selected)
                m_ops.SendEventList(core::SendSelected, events);
            if (changed)
                m_ops.SendEventList(core::SendChanged);
        });
        main.clearSelection();
        main.setUpdDel(false, false);
        main.SetEventDeviceNames(-1);
        m_shell.refreshTitle();
    } else {
        return false;
    }
    return true;
}

bool SndWindowHandler::handleClose()
{
    m_w.snd->hide();
    return true;
}

}  // namespace ui
