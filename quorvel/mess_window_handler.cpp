#include "quorvel/mess_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/schedules_window.h"
#include "quorvel/time_correction_handler.h"
#include "quorvel/quorvel_app.h"

namespace ui {

bool MessWindowHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("savQ")) {
        // The quit question's Save: quit once the events are safely in a
        // file; a cancelled or failed save leaves the question open.
        if (m_app.warnType() != WarnQuit)
            return true;
        m_app.SaveSchedule();
        if (!m_app.table().hasUnsavedChanges()) {
            m_app.answerQuit(true);
            m_app.windows().mess->hide();
        }
        return true;
    }
    if (code != QLatin1String("delM"))
        return false;
    const Windows& w = m_app.windows();
    const int type = m_app.warnType();
    if (type == WarnQuit)
        m_app.answerQuit(true);  // before the hide ends the modal loop
    w.mess->hide();
    switch (type) {
    case WarnBaseCode:
        m_app.setNote({});
        m_app.runOperation([&] {
            m_app.ops().SetBaseCode(controlValue(findControl(w.baseC, BCodeControlID)));
        });
        break;
    case WarnSelfTest: {
        m_app.setNote({});
        bool cancelled = false;
        m_app.runOperation([&] {
            cancelled = m_app.ops().SelfTest().status == core::OpStatus::Cancelled;
        });
        if (cancelled)
            m_app.closeWindow(w.stat);  // ready for the next test
        break;
    }
    case WarnSchedules:
        m_app.schedHandler().discard();
        break;
    case WarnOpen:
        m_app.mainHandler().openConfirmed();
        break;
    case WarnCorrections:
        m_app.veskHandler().discard();
        break;
    case WarnReplace:
        m_app.editHandler().replaceConfirmed();
        break;
    default:
        break;
    }
    return true;
}

bool MessWindowHandler::handleClose()
{
    if (m_app.warnType() == WarnQuit)
        m_app.answerQuit(false);
    m_app.windows().mess->hide();
    return true;
}

}  // namespace ui
