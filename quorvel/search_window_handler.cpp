#include "quorvel/search_window_handler.h"

#include <QComboBox>
#include <QLineEdit>

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
    setControlEnabled(m_w.main, FndControlID, true);
    if (m_mainList.FindEvents(QString::fromStdString(text)) == 0) {
        // Nothing matched: the sheet stays, its text selected to type anew.
        static_cast<QComboBox*>(findControl(fnd, CBoxControlID))->lineEdit()->selectAll();
        return true;
    }
    fnd->hide();
    return true;
}

bool SearchWindowHandler::handleClose()
{
    m_w.fnd->hide();
    return true;
}

}  // namespace ui
