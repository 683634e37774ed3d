#include "quorvel/base_c_window_handler.h"

#include <QObject>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/dialogs.h"
#include "core/cp290_operations.h"

namespace ui {

bool BaseCWindowHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("setb"))
        return false;
    // With no letter chosen (the code could not be read) there is no base
    // code to set; the house table's slot 0 is not one the user meant.
    if (controlValue(findControl(m_w.baseC, BCodeControlID)) == 0) {
        m_shell.setNote(QObject::tr("Choose a base house code letter first."));
        return true;
    }
    m_w.baseC->hide();
    const int letter = controlValue(findControl(m_w.baseC, BCodeControlID));
    m_shell.askBeforeErasing(WarnBaseCode,
                             QStringLiteral("Setting the Base House Code will DELETE all "
                                            "Events stored in the CP290."),
                             QObject::tr("Erase and Set Code"), [this, letter] {
                                 m_shell.setNote({});
                                 m_shell.runOperation([&] { m_ops.SetBaseCode(letter); });
                             });
    return true;
}

bool BaseCWindowHandler::handleClose()
{
    m_w.baseC->hide();
    return true;
}

}  // namespace ui
