#include "quorvel/status_window_handler.h"

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"

namespace ui {

bool StatusWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("stop"))
        return false;
    m_shell.requestCancel();
    return true;
}

bool StatusWindowHandler::handleClose()
{
    if (m_shell.busy()) {
        m_shell.requestCancel();
        return true;
    }
    StatusWindow* s = m_w.stat;
    s->hide();
    QWidget* button = findControl(s, SButtControlID);
    setControlText(button, QStringLiteral("OK"));
    button->setEnabled(false);
    setControlText(findControl(s, SMessControlID), QStringLiteral("Test in Progress..."));
    return true;
}

}  // namespace ui
