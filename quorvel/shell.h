#pragma once
// What a window handler may ask of the shell that owns it (QuorvelApp): the
// confirmation window, the main window's note and title, running a CP290
// operation with the windows busy, routing a command, the planning windows'
// one-at-a-time rule, the quit check, the port choice and the event
// schedule file dialogs. Handlers hold this interface and the windows they
// are handed, never the shell itself, so the shell can own and wire them.
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QWidget;

namespace ui {

// Confirmation modes (warnType).
enum WarnType {
    WarnNone = 0,
    WarnQuit = 1,
    WarnBaseCode = 2,
    WarnSelfTest = 3,
    WarnSchedules = 4,
    WarnOpen = 5,
    WarnCorrections = 6,
    WarnReplace = 7,  // our own: storing a new event onto a used number
    WarnUnsaved = 8,  // our own: a window with unsaved changes is closing
};

// Whom the open dialog serves (ReadIt): the event table reads the file, the
// schedule editor only takes its path.
enum class ScheduleTarget { EventTable, ScheduleEditor };

class Shell {
public:
    virtual ~Shell() = default;

    // Shows the confirmation window (modeless) in a mode with its question;
    // its OK is handled by the mode (askBeforeErasing is the way for new questions).
    virtual void confirm(int type, const QString& text) = 0;
    // Asks before an action that erases or discards: Cancel is the default
    // button (Enter loses nothing), the other is named for the action
    // ("Erase and Test", "Discard Changes") and runs `act`.
    virtual void askBeforeErasing(int type, const QString& text, const QString& action,
                                  std::function<void()> act) = 0;
    // Asks what to do with unsaved changes: Save (the default), Don't Save,
    // Cancel. Save runs `save`, which answers true once the changes are
    // stored (a cancelled or failed save leaves the question open); Don't
    // Save runs `discard`; Cancel does nothing.
    virtual void askToSave(int type, const QString& text, std::function<bool()> save,
                           std::function<void()> discard) = 0;
    // The mode the confirmation window was last shown in (warnType).
    virtual int warnType() const = 0;
    // The quit question's answer (QuitIt): true goes on quitting.
    virtual void answerQuit(bool goOn) = 0;
    // A failure for the user: the main window's note and a message box.
    virtual void showError(const std::string& text) = 0;
    // The line in the main window that reports a failure (error) or what
    // worked; "" clears it.
    virtual void setNote(const QString& text, bool error = true) = 0;
    // What worked, on the main window's note.
    virtual void showDone(const std::string& text) = 0;
    // Keeps the window title (program, schedule file, unsaved mark) current.
    virtual void refreshTitle() = 0;

    // Runs one CP290 operation with the windows visibly busy.
    virtual void runOperation(const std::function<void()>& operation) = 0;
    virtual bool busy() const = 0;
    // Cancel: the operation under way stops at its next safe point.
    virtual void requestCancel() = 0;
    // Routes a command as a control of `window` would (null: application).
    virtual bool command(QWidget* window, const QString& code) = 0;
    // Closes the window as its close box would.
    virtual void closeWindow(QWidget* window) = 0;

    // The quit check; true when the application goes on quitting.
    virtual bool requestQuit() = 0;
    // The port menu's choice: curPort and serPath follow it.
    virtual void chooseSerialDevice(int port) = 0;

    // A planning window opens with the planning menu disabled and closes
    // enabling it, so only one of them works on the crontab files at a time.
    virtual void openPlanningWindow(QWidget* window) = 0;
    virtual void closePlanningWindow(QWidget* window) = 0;

    // The open dialog for `target`; `path` given: that file, no dialog. True
    // when a file was taken (read into the table, or chosen for the editor).
    virtual bool GetSchedule(ScheduleTarget target, QString path = {}) = 0;
    // Save: to the file the table came from, without a dialog; the save
    // dialog when there is none (a new table, one read from the CP290 or a
    // snapshot). Save As: always the dialog. True when the file was written.
    virtual bool SaveSchedule() = 0;
    virtual bool saveScheduleAs() = 0;
    // A path to save to, from the save dialog over `parent`; empty when the
    // user cancels. The dialog's folder is remembered.
    virtual QString chooseSavePath(QWidget* parent, const QString& title, const QString& proposedName) = 0;

    // A question over `parent` that waits for its answer: the index of the
    // button chosen among `buttons` (`preferred` is the default, taken by
    // Enter), -1 when it was dismissed (Escape, the close box).
    virtual int ask(QWidget* parent, const QString& text, const QStringList& buttons, int preferred) = 0;

    // The device names were stored anew: every window showing them takes them.
    virtual void deviceNamesChanged() = 0;
};

}  // namespace ui
