#include "quorvel/prefs_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"

namespace ui {

bool PrefsWindowHandler::handleClose()
{
    const PrefsWindow* w = m_w.prefs;
    state::Preferences& p = m_prefs;
    p.warnPref = controlValue(findControl(w, PWarnControlID));
    p.helpPref = controlValue(findControl(w, PHelpControlID));
    p.clockPref = controlValue(findControl(w, PClckControlID));
    p.readPref = controlValue(findControl(w, PR290ControlID));
    m_ui.setHelpTagsShown(p.helpPref == 1);
    state::WriteParms(p, 3);
    m_w.prefs->hide();
    return true;
}

}  // namespace ui
