#include "quorvel/prefs_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/quorvel_app.h"

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
