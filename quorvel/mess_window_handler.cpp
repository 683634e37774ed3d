#include "quorvel/mess_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/schedules_window.h"
#include "quorvel/time_correction_handler.h"
#include "core/cp290_operations.h"
#include "core/event_table.h"

namespace ui {

bool MessWindowHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("savQ")) {
        // The quit question's Save: quit once the events are safely in a
        // file; a cancelled or failed save leaves the question open.
        if (m_shell.warnType() != WarnQuit)
            return true;
        m_shell.SaveSchedule();
        if (!m_table.hasUnsavedChanges()) {
            m_shell.answerQuit(true);
            m_w.mess->hide();
        }
        return true;
    }
    if (code != QLatin1String("delM"))
        return false;
    const Windows& w = m_w;
    const int type = m_shell.warnType();
    if (type == WarnQuit)
        m_shell.answerQuit(true);  // before the hide ends the modal loop
    w.mess->hide();
    switch (type) {
    case WarnBaseCode:
        m_shell.setNote({});
        m_shell.runOperation([&] {
            m_ops.SetBaseCode(controlValue(findControl(w.baseC, BCodeControlID)));
        });
        break;
    case WarnSelfTest: {
        m_shell.setNote({});
        bool cancelled = false;
        m_shell.runOperation([&] {
            cancelled = m_ops.SelfTest().status == core::OpStatus::Cancelled;
        });
        if (cancelled)
            m_shell.closeWindow(w.stat);  // ready for the next test
        break;
    }
    case WarnSchedules:
        m_askers.schedules.discard();
        break;
    case WarnOpen:
        m_askers.main.openConfirmed();
        break;
    case WarnCorrections:
        m_askers.corrections.discard();
        break;
    case WarnReplace:
        m_askers.editor.replaceConfirmed();
        break;
    default:
        break;
    }
    return true;
}

bool MessWindowHandler::handleClose()
{
    if (m_shell.warnType() == WarnQuit)
        m_shell.answerQuit(false);
    m_w.mess->hide();
    return true;
}

}  // namespace ui
