#pragma once
// The planning windows: virtual schedules, clock-sync plan and time
// corrections, with their editors. Here they are shells that carry the
// controls the rest of the controller already relies on (the lists, the
// correction editor's guarded event-number field); their own work fills them.
#include "controller/ui/shell_dialog.h"

class QLineEdit;

namespace ui {

class SchedWindow : public ShellDialog {
public:
    explicit SchedWindow(QWidget* parent);
};

class SchEdWindow : public ShellDialog {
public:
    explicit SchEdWindow(QWidget* parent);
};

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
