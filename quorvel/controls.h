#pragma once
// Finding and reading controls by ID, and the command codes they send.
//
// Principles of operation: every control of a window carries its control
// number as the dynamic property "cp290ControlId"; every button, menu item or
// pop-up that sends a command carries its four-character code as
// "cp290Command". findControl() searches a window and everything inside it
// (drawers are panels inside their windows). The value and text accessors
// give every kind of control one meaning, the one the handlers use: a pop-up's
// value is its item number counted from 1 (0 = no item), a check box's is 0
// or 1, a spin box's or progress bar's its number.
#include <QString>
#include <QTime>

class QObject;
class QWidget;

namespace ui {

void setControlId(QObject* control, int id);
int controlId(const QObject* control);  // 0 when it has none

// The control with this ID in the window or its drawers; nullptr when none.
QWidget* findControl(const QWidget* window, int id);

void setCommand(QObject* sender, const char* code);
QString commandOf(const QObject* sender);  // empty when it sends none

int controlValue(const QWidget* control);
void setControlValue(QWidget* control, int value);

QString controlText(const QWidget* control);
void setControlText(QWidget* control, const QString& text);

QTime controlTime(const QWidget* control);
void setControlTime(QWidget* control, const QTime& time);

// Enable/disable by ID; quietly nothing when the window lacks the control.
void setControlEnabled(const QWidget* window, int id, bool enabled);
bool controlEnabled(const QWidget* window, int id);

}  // namespace ui
