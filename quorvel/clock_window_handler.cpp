#include "quorvel/clock_window_handler.h"

#include "quorvel/dialogs.h"
#include "quorvel/quorvel_app.h"

namespace ui {

bool ClockWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("setc"))
        return false;
    m_app.setNote({});
    m_app.runOperation([this] { m_app.ops().SetClock(); });
    m_app.windows().clock->hide();
    return true;
}

bool ClockWindowHandler::handleClose()
{
    m_app.windows().clock->hide();
    return true;
}

}  // namespace ui
