#include "quorvel/search_window_handler.h"

#include "core/event_table.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"

namespace ui {

bool SearchWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("sSch"))
        return false;
    SearchWindow* fnd = m_w.fnd;
    // At most 50 bytes of the text, never a split character.
    const std::string text = core::truncateUtf8(
        controlText(findControl(fnd, CBoxControlID)).toStdString(), kSearchTextMax);
    m_mainList.FindEvents(QString::fromStdString(text));
    fnd->hide();
    setControlEnabled(m_w.main, FndControlID, true);
    return true;
}

bool SearchWindowHandler::handleClose()
{
    m_w.fnd->hide();
    return true;
}

}  // namespace ui
