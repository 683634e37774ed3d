#include "controller/ui/status_window_handler.h"

#include "controller/ui/control_ids.h"
#include "controller/ui/controls.h"
#include "controller/ui/dialogs.h"
#include "controller/ui/quorvel_app.h"

namespace ui {

bool StatusWindowHandler::handleClose()
{
    StatusWindow* s = m_app.windows().stat;
    s->hide();
    QWidget* button = findControl(s, SButtControlID);
    setControlText(button, QStringLiteral("OK"));
    button->setEnabled(false);
    setControlText(findControl(s, SMessControlID), QStringLiteral("Test in Progress..."));
    return true;
}

}  // namespace ui
