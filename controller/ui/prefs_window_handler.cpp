#include "controller/ui/prefs_window_handler.h"

#include "controller/ui/control_ids.h"
#include "controller/ui/controls.h"
#include "controller/ui/dialogs.h"
#include "controller/ui/quorvel_app.h"

namespace ui {

bool PrefsWindowHandler::handleClose()
{
    const PrefsWindow* w = m_app.windows().prefs;
    state::Preferences& p = m_app.prefs();
    p.warnPref = controlValue(findControl(w, PWarnControlID));
    p.helpPref = controlValue(findControl(w, PHelpControlID));
    p.clockPref = controlValue(findControl(w, PClckControlID));
    p.readPref = controlValue(findControl(w, PR290ControlID));
    m_app.setHelpTagsShown(p.helpPref == 1);
    state::WriteParms(p, 3);
    m_app.windows().prefs->hide();
    return true;
}

}  // namespace ui
