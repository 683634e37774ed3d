#include "quorvel/device_names_window_handler.h"

#include <QObject>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/device_names_window.h"
#include "core/event_table.h"
#include "link/cp290_protocol.h"
#include "state/preferences.h"
#include "state/settings_domain.h"

namespace ui {

void DevNamesWindowHandler::open()
{
    m_work = m_prefs.deviceNames;
    m_kinds = m_workKinds = state::readDeviceKinds(state::Program::Quorvel);
    const int house = m_table.curHC();
    setControlValue(findControl(m_w.names, DNHouseControlID), house);
    showHouse(house);
    m_w.names->show();
    m_w.names->raise();
    m_w.names->activateWindow();
}

void DevNamesWindowHandler::showHouse(int house)
{
    m_house = house;
    for (int u = 1; u <= state::kUnits; ++u) {
        const std::string& name = m_work.name(house, u);
        // The default name shows as the field's placeholder.
        setControlText(findControl(m_w.names, DNNameFirstControlID + u - 1),
                       name == state::defaultDeviceName(u) ? QString() : QString::fromStdString(name));
        setControlValue(findControl(m_w.names, DNKindFirstControlID + u - 1),
                        m_workKinds.kind(house, u) == state::UnitKind::Lamp ? 1 : 2);
    }
}

void DevNamesWindowHandler::takeFields()
{
    for (int u = 1; u <= state::kUnits; ++u) {
        const QString text =
            controlText(findControl(m_w.names, DNNameFirstControlID + u - 1)).trimmed();
        m_work.setName(m_house, u, text.isEmpty() ? state::defaultDeviceName(u) : text.toStdString());
        m_workKinds.setKind(m_house, u,
                            controlValue(findControl(m_w.names, DNKindFirstControlID + u - 1)) == 2
                                ? state::UnitKind::Appliance
                                : state::UnitKind::Lamp);
    }
}

bool DevNamesWindowHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("DNhc")) {
        takeFields();
        showHouse(controlValue(findControl(m_w.names, DNHouseControlID)));
    } else if (code == QLatin1String("DNsv")) {
        save();
    } else {
        return false;
    }
    return true;
}

bool DevNamesWindowHandler::handleClose()
{
    takeFields();
    if (m_w.names->isVisible() && (!(m_work == m_prefs.deviceNames) || !(m_workKinds == m_kinds))) {
        m_shell.askToSave(WarnUnsaved, QObject::tr("The device names or kinds were changed and not saved. "
                                                   "Save them before closing?"),
                          [this] { return save(); }, [this] { m_w.names->hide(); });
        return true;
    }
    m_w.names->hide();
    return true;
}

bool DevNamesWindowHandler::save()
{
    takeFields();
    // A changed name must fit the event editor's unit boxes; one stored
    // before, longer, is kept as it is.
    for (int h = 1; h <= state::kHouses; ++h)
        for (int u = 1; u <= state::kUnits; ++u) {
            const std::string& name = m_work.name(h, u);
            if (name.size() > static_cast<size_t>(state::kShownDeviceName) && name != m_prefs.deviceNames.name(h, u)) {
                m_shell.showError(QObject::tr("The name of unit %1%2 has %3 characters; a device name may have "
                                              "at most %4, as many as the event editor shows. Nothing was saved.")
                                      .arg(QLatin1Char(cp290::HLetters[h - 1]))
                                      .arg(u)
                                      .arg(name.size())
                                      .arg(state::kShownDeviceName)
                                      .toStdString());
                return false;
            }
        }
    if (!state::writeDeviceNames(m_work, m_prefs.deviceNames, m_prefs.curPort, state::Program::Quorvel) ||
        !state::writeDeviceKinds(m_workKinds, m_kinds, state::Program::Quorvel)) {
        m_shell.showError(QObject::tr("The device names could not be stored in %1; nothing was "
                                    "changed. Check that the folder is writable and not full.")
                            .arg(QString::fromStdString(state::domainFilePath(state::kSharedDomain)))
                            .toStdString());
        return false;
    }
    m_prefs.deviceNames = m_work;
    m_kinds = m_workKinds;
    m_shell.deviceNamesChanged();
    m_w.names->hide();
    m_shell.showDone("Device names saved");
    return true;
}

}  // namespace ui
