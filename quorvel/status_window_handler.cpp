#include "quorvel/status_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/quorvel_app.h"

namespace ui {

bool StatusWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("stop"))
        return false;
    m_app.requestCancel();
    return true;
}

bool StatusWindowHandler::handleClose()
{
    if (m_app.busy()) {
        m_app.requestCancel();
        return true;
    }
    StatusWindow* s = m_app.windows().stat;
    s->hide();
    QWidget* button = findControl(s, SButtControlID);
    setControlText(button, QStringLiteral("OK"));
    button->setEnabled(false);
    setControlText(findControl(s, SMessControlID), QStringLiteral("Test in Progress..."));
    return true;
}

}  // namespace ui
