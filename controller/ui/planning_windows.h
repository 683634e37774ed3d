#pragma once
// The time-correction planning windows, with their editor (the schedules
// and clock-sync windows have files of their own). Here they are shells that carry the
// controls the rest of the controller already relies on (the lists, the
// correction editor's guarded event-number field); their own work fills them.
#include "controller/ui/shell_dialog.h"

class QLineEdit;

namespace ui {

class VeskWindow : public ShellDialog {
public:
    explicit VeskWindow(QWidget* parent);
};

class VeskEdWindow : public ShellDialog {
public:
    explicit VeskEdWindow(QWidget* parent);
    QLineEdit* numberField() const { return m_number; }

private:
    QLineEdit* m_number = nullptr;
};

class ResetWindow : public ShellDialog {
public:
    explicit ResetWindow(QWidget* parent);
};

}  // namespace ui
