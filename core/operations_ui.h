#pragma once
// What the controller's operations tell the user interface. The main window
// implements it with its progress sheet, list, buttons and status window;
// cp290ctl with a progress line on a terminal; tests record the calls. Every
// method has an empty default, so NullOperationsUi is simply the base class.
#include <string>

namespace core {

class OperationsUi {
public:
    virtual ~OperationsUi() = default;

    // Progress sheet: shown with its text and the bar at 0; the bar moved to
    // an event number (redraw and re-activate the sheet); hidden, bar back to 0.
    virtual void progressShow(const std::string& text) { (void)text; }
    virtual void progressValue(int eventNumber) { (void)eventNumber; }
    virtual void progressHide() {}
    // Polled between events and slots: true stops the operation (Cancel).
    virtual bool cancelRequested() { return false; }
    // Bytes the operation still has to move over the line, both ways; at
    // 600 baud that is the time left.
    virtual void progressBytesLeft(long bytes) { (void)bytes; }

    // All 128 list items changed: redraw them and forget the current
    // selection (after an upload or a file read).
    virtual void listChanged() {}
    // The main window's save and find buttons.
    virtual void setSaveFindEnabled(bool enabled) { (void)enabled; }
    // The main window's source field ("Contents of CP290", a file's name).
    virtual void setSourceText(const std::string& text) { (void)text; }

    // Status window of the self test: shown with "Test in Progress..." and a
    // disabled button; then the outcome ("*** Passed ***" / "Sweet" or
    // "*** Failed ***" / "Bummer", button enabled).
    virtual void selfTestStarted() {}
    virtual void selfTestResult(bool passed) { (void)passed; }

    // A failure the user should hear about (line taken, device silent, file
    // not written). The log already has the details; this names the cause
    // and what to do about it.
    virtual void showError(const std::string& text) { (void)text; }
    // What worked ("3 events sent", "Clock set to Mon 10:42 PM").
    virtual void showDone(const std::string& text) { (void)text; }
};

using NullOperationsUi = OperationsUi;

// The user-facing sentences passed to showError.
namespace ui_text {
inline constexpr const char* kFileNotRead = "The event schedule file could not be opened.";
inline constexpr const char* kNameRefused = "That file name or folder path is too long or not usable.";
}  // namespace ui_text

}  // namespace core
