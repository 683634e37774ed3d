#pragma once
// DevNamesWindow: the names of the 16 units of each house code. Layout only;
// device_names_window_handler.h gives it its meaning.
#include "quorvel/shell_dialog.h"

namespace ui {

// House letter menu (410, 'DNhc' on change), unit names 411..426, their kinds
// 711..726 (lamp, appliance), Save ('DNsv').
class DevNamesWindow : public ShellDialog {
public:
    explicit DevNamesWindow(QWidget* parent);
};

}  // namespace ui
