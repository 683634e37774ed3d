#pragma once
// The Devices window and the Power Line window (Events menu).
//
// Devices: every named unit of each house (a name not beginning "Device"),
// with On, Off and a brightness slider that switch it now through the CP290
// (core/direct_command.h), and its last known state with when and why it
// changed, from the power-line log. Power Line: the reports of the CP290 as
// they come, newest last, with their source.
//
// Both follow the power-line log (state/powerline_log.h) a few times a
// second. Someone must hold the line to read the reports: when no watcher
// runs for the controller's device, opening either window starts one - a
// "cp290ctl monitor" of its own, ended with the controller - which gives
// the line to the controller's operations whenever they ask.
#include <QString>

class QWidget;

namespace ui {

class Shell;

// 'dvSw': the Devices window; 'pwLn': the Power Line window. `device` is the
// controller's serial device.
void openDevicesWindow(QWidget* parent, const QString& device);
void openPowerLineWindow(QWidget* parent, const QString& device);

}  // namespace ui
