#pragma once
// The shell's small windows and the main window's sheets. Layout only: each
// class builds its controls with their IDs and commands; each window's
// handler (<window>_handler.cpp) acts on them.
#include "quorvel/shell_dialog.h"

class QPushButton;

namespace ui {

// Confirmation window: the question (221), the action ('delM') and Cancel.
// Asking before erasing or discarding, Cancel is the default button and the
// action's button is named for it ("Erase and Test"). Asking to save, it also
// offers Save ('savQ', the default) and the action reads "Don't Save".
class MessWindow : public ShellDialog {
public:
    explicit MessWindow(QWidget* parent);
    // action: the action button's text (empty: "OK"); ignored when asking to save.
    void setQuestion(const QString& action, bool offerSave);

private:
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_save = nullptr;
};

// Self-test status: the result (281), the button (280) and, while the test
// runs, Cancel (401, 'stop').
class StatusWindow : public ShellDialog {
public:
    explicit StatusWindow(QWidget* parent);
};

// Clock sheet: the CP290's time (225) and day (226); 'setc' sets the clock.
class ClockWindow : public ShellDialog {
public:
    explicit ClockWindow(QWidget* parent);
};

// Base-house-code sheet: the letter menu (227); 'setb' asks to set it.
class BaseCWindow : public ShellDialog {
public:
    explicit BaseCWindow(QWidget* parent);
};

// Progress sheet of downloads and uploads: the text (139), the bar (136),
// the time left (402) and Cancel (401, 'stop').
class TWindow : public ShellDialog {
public:
    explicit TWindow(QWidget* parent);
};

// Send sheet: all (255), selected (256) or changed (257) events; 'CPs2' sends.
class SndWindow : public ShellDialog {
public:
    explicit SndWindow(QWidget* parent);
};

// Search sheet: the combo box (190); 'sSch' searches.
class SearchWindow : public ShellDialog {
public:
    explicit SearchWindow(QWidget* parent);
};

// Preferences: the four option boxes 270..273.
class PrefsWindow : public ShellDialog {
public:
    explicit PrefsWindow(QWidget* parent);
};

}  // namespace ui
