#include "quorvel/t_window_handler.h"

namespace ui {

bool TWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("stop"))
        return false;
    m_shell.requestCancel();
    return true;
}

bool TWindowHandler::handleClose()
{
    m_shell.requestCancel();
    return true;
}

}  // namespace ui
