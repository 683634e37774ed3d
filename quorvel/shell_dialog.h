#pragma once
// Base of the controller's dialogs, sheets and planning windows, and the
// small builders their layout functions share.
//
// A dialog's Escape and close box both become its close event, so the
// window's handler sees every way of closing (QDialog's reject() would hide
// it silently). Sheets are window-modal on the main window and shown without
// a nested event loop; only the quit question runs one.
#include <QDialog>

class QAbstractButton;
class QCheckBox;
class QPushButton;

namespace ui {

class ShellDialog : public QDialog {
public:
    enum Kind { Window, Sheet };
    ShellDialog(QWidget* parent, const QString& title, Kind kind = Window);

    void reject() override { close(); }

protected:
    void closeEvent(QCloseEvent* event) override;
};

// A push button that sends a command; id 0 = no control ID.
QPushButton* commandButton(const QString& text, const char* code, int id = 0);
QCheckBox* commandCheckBox(const QString& text, const char* code, int id);

// Tags a widget with its control ID and hands it back (layout functions).
template <class W>
W* withId(W* widget, int id);

}  // namespace ui

#include "quorvel/controls.h"

template <class W>
W* ui::withId(W* widget, int id)
{
    setControlId(widget, id);
    return widget;
}
