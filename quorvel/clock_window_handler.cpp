#include "quorvel/clock_window_handler.h"

#include "quorvel/dialogs.h"
#include "core/cp290_operations.h"

namespace ui {

bool ClockWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("setc"))
        return false;
    m_shell.setNote({});
    m_shell.runOperation([this] { m_ops.SetClock(); });
    m_w.clock->hide();
    return true;
}

bool ClockWindowHandler::handleClose()
{
    m_w.clock->hide();
    return true;
}

}  // namespace ui
