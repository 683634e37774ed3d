#pragma once
// EditWindow: the event editor, with the unit drawer (DevCkWindow) along its
// bottom edge. Layout only; edit_window_handler.h gives it its meaning.
#include "quorvel/shell_dialog.h"

class QLineEdit;
class QPushButton;

namespace ui {

// Check boxes 200..215 for units 1..16, titled with the house's device names.
class DevCkWindow : public QWidget {
public:
    explicit DevCkWindow(QWidget* parent = nullptr);
};

class EditWindow : public ShellDialog {
public:
    explicit EditWindow(QWidget* parent);

    QLineEdit* numberField() const { return m_number; }
    DevCkWindow* drawer() const { return m_drawer; }
    void setDrawerOpen(bool open);
    bool drawerOpen() const;

private:
    QLineEdit* m_number = nullptr;
    DevCkWindow* m_drawer = nullptr;
    QPushButton* m_drawerButton = nullptr;
};

}  // namespace ui
