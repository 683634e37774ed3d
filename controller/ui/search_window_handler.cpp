#include "controller/ui/search_window_handler.h"

#include "controller/core/event_table.h"
#include "controller/ui/control_ids.h"
#include "controller/ui/controls.h"
#include "controller/ui/dialogs.h"
#include "controller/ui/main_window.h"
#include "controller/ui/main_window_handler.h"
#include "controller/ui/quorvel_app.h"

namespace ui {

bool SearchWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("sSch"))
        return false;
    SearchWindow* fnd = m_app.windows().fnd;
    // At most 50 bytes of the text, never a split character.
    const std::string text = controller::truncateUtf8(
        controlText(findControl(fnd, CBoxControlID)).toStdString(), kSearchTextMax);
    m_app.mainHandler().FindEvents(QString::fromStdString(text));
    fnd->hide();
    setControlEnabled(m_app.windows().main, FndControlID, true);
    return true;
}

bool SearchWindowHandler::handleClose()
{
    m_app.windows().fnd->hide();
    return true;
}

}  // namespace ui
