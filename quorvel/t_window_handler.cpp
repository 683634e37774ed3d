#include "quorvel/t_window_handler.h"

#include "quorvel/quorvel_app.h"

namespace ui {

bool TWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("stop"))
        return false;
    m_app.requestCancel();
    return true;
}

bool TWindowHandler::handleClose()
{
    m_app.requestCancel();
    return true;
}

}  // namespace ui
