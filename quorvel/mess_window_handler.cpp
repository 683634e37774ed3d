#include "quorvel/mess_window_handler.h"

#include <utility>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "quorvel/time_correction_handler.h"

namespace ui {

void MessWindowHandler::ask(const QString& text, const QString& action, std::function<void()> act,
                            std::function<bool()> save)
{
    m_act = std::move(act);
    m_save = std::move(save);
    MessWindow* mess = m_w.mess;
    mess->setQuestion(action, static_cast<bool>(m_save));
    setControlText(findControl(mess, MessControlID), text);
    mess->show();
    mess->raise();
    mess->activateWindow();
    mess->setQuestion(action, static_cast<bool>(m_save));  // focus on the safe choice once shown
}

bool MessWindowHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("savQ")) {
        // Closes once the changes are stored; a cancelled or failed save
        // leaves the question open.
        if (m_save && m_save()) {
            m_act = nullptr;
            m_save = nullptr;
            m_w.mess->hide();
        }
        return true;
    }
    if (code != QLatin1String("delM"))
        return false;
    const std::function<void()> act = std::exchange(m_act, nullptr);
    m_save = nullptr;
    m_w.mess->hide();
    if (act)
        act();
    else if (m_shell.warnType() == WarnCorrections)
        m_corrections.discard();
    return true;
}

bool MessWindowHandler::handleClose()
{
    m_act = nullptr;
    m_save = nullptr;
    m_w.mess->hide();
    return true;
}

}  // namespace ui
