#pragma once
// Program folder quorvel/: the controller's windows. Handlers read their
// controls, call core/ or state/ and write the result back. Uses core/ and the
// layers below it; no other program folder.
//
// The controller's shell: start-up, the windows wired to their
// handlers, the launch timer, the application commands, the quit check and
// storing the serial device at quit. Each window's handler lives in its own
// file beside the window (mess_window_handler, snd_window_handler, ...).
//
// Principles of operation: start() builds every window (layout classes),
// attaches each to its handler through one CommandRouter, searches the
// serial devices (none: exit status 69), shows the main window and reads the
// preferences; run() runs the event loop and stores the port choice when it
// ends. The logic lives in core/ and state/; this class implements
// their user-interface callbacks (progress sheet, list, buttons, status
// window, port menu, help tags) and translates commands into calls on them.
// It owns the handlers and wires them; each window handler sees it only as
// the Shell (shell.h) and is handed the windows, the data and the other
// handlers it works with.
// The file dialogs and the no-device notice can be replaced (tests, scripts);
// the quit question is a real modal loop that a timer can answer through the
// window's command codes.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "core/cp290_operations.h"
#include "core/event_table.h"
#include "core/operations_ui.h"
#include "core/schedule_file.h"
#include "link/serial_link.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"
#include "state/correction_store.h"
#include "state/preferences.h"

class QDialog;
class QMessageBox;
class QWidget;

namespace ui {

class AutomationHandler;
class CommandHandler;
class CommandRouter;
class DevNamesWindowHandler;
class EditWindowHandler;
class MemoryQuestion;
class MainWindowHandler;
class SchedulesHandler;
class SyncWindowHandler;
class TimeCorrectionHandler;
class YearAheadHandler;

class QuorvelApp : public QObject, public core::OperationsUi, public state::PreferencesUi, public Shell {
public:
    struct Options {
        int launchDelayMs = 2000;
        // File choice of the open and save dialogs: a full path, or empty
        // when the user cancels. Unset: the desktop's file dialogs.
        std::function<QString()> chooseOpenFile;
        std::function<QString(const QString& proposedName)> chooseSaveFile;
        // Tells the user that no serial device exists. Unset: a message box
        // when a display is present.
        std::function<void(const QString&)> noDeviceNotice;
    };

    static constexpr int kExitNoDevice = 69;

    QuorvelApp();
    explicit QuorvelApp(Options options);
    ~QuorvelApp() override;

    // Start-up up to the event loop: 0, or the exit status to end with.
    int start();
    // The event loop; stores the port choice when it ends. The exit status.
    int run();

    // The quit check: asks when the table has unsaved changes and warnPref
    // is 1. True when the application goes on quitting (the event loop, if
    // running, is told to end).
    bool requestQuit() override;
    bool quitting() const { return m_quitting; }

    // Routes a command as a control of `window` would (null: application).
    bool command(QWidget* window, const QString& code) override;
    void closeWindow(QWidget* window) override;

    const Windows& windows() const { return m_w; }
    // A window by its interface name ("MainWindow", "SndWindow", ...).
    QWidget* window(const QString& name) const;

    core::EventTable& table() { return m_table; }
    core::Cp290Operations& ops() { return *m_ops; }
    state::Preferences& prefs() { return m_prefs; }
    state::ControllerCorrections& corrections() { return m_corrections; }
    MainWindowHandler& mainHandler() { return *m_mainHandler; }
    EditWindowHandler& editHandler() { return *m_editHandler; }
    TimeCorrectionHandler& veskHandler() { return *m_veskHandler; }
    SchedulesHandler& schedHandler() { return *m_schedHandler; }
    SyncWindowHandler& syncHandler() { return *m_syncHandler; }
    YearAheadHandler& yearAheadHandler() { return *m_yearHandler; }
    AutomationHandler& automationHandler() { return *m_automationHandler; }
    MemoryQuestion& memoryQuestion() { return *m_memoryQuestion; }

    // The device names were stored anew: the list's records, the drawer, the
    // editor's unit boxes and the search window take them at once.
    void deviceNamesChanged() override;
    // Help menu: the About box (version, licence, where settings and logs
    // are) and the README in the desktop's viewer.
    void showAbout();
    void openReadme();

    // The shell state the windows share (warnType, QuitIt) is read
    // and set only through these operations.
    int warnType() const override { return m_warnType; }
    // Shows the confirmation window (modeless) in a mode with its question.
    void confirm(int type, const QString& text) override;
    // The quit question's answer (QuitIt): true goes on quitting.
    void answerQuit(bool goOn) override;
    // The open dialog for the event table or for the schedule editor's file
    // choice (whom it serves also owns the dialog); `path` given: that file,
    // no dialog. True when a file was taken (read into the table, or chosen).
    bool GetSchedule(ScheduleTarget target, QString path = {}) override;
    // The save dialog for the event table.
    void SaveSchedule() override;

    // Runs one CP290 operation with the window visibly busy: controls
    // disabled, a busy cursor, and the user's input dropped (never queued and
    // replayed afterwards) apart from the Cancel of the progress sheet and
    // the status window. An operation asked for while one runs is not started.
    void runOperation(const std::function<void()>& operation) override;
    bool busy() const override { return m_busy; }
    // Cancel: the operation under way stops at its next safe point.
    void requestCancel() override { m_cancel = true; }

    // The launch timer's routine, run once launchDelayMs after start():
    // set the CP290's clock (clockPref), then read its events (readPref).
    void myTimerproc();
    void refreshTitle() override;
    void chooseSerialDevice(int port) override;
    void setNote(const QString& text, bool error = true) override;
    // A path to save to, from the save dialog over `parent` (or the test's
    // chooser); empty when the user cancels. Remembers the folder.
    QString chooseSavePath(QWidget* parent, const QString& title, const QString& proposedName) override;

    // core::OperationsUi
    void progressShow(const std::string& text) override;
    void progressValue(int eventNumber) override;
    void progressHide() override;
    bool cancelRequested() override;
    void progressBytesLeft(long bytes) override;
    void listChanged() override;
    void setSaveFindEnabled(bool enabled) override;
    void setSourceText(const std::string& text) override;
    void selfTestStarted() override;
    void selfTestResult(bool passed) override;
    void showError(const std::string& text) override;
    void showDone(const std::string& text) override;

    // state::PreferencesUi
    void fillPortMenu() override;
    void showPort(int32_t curPort) override;
    void addSearchName(const std::string& name) override;
    void setHelpTagsShown(bool shown) override;
    bool helpTagsShown() const;

    // Shell: the planning windows one at a time.
    void openPlanningWindow(QWidget* window) override;
    void closePlanningWindow(QWidget* window) override;

private:
    void createWindows();
    void installHandlers();
    void noDevice();
    void pump();

    Options m_options;
    state::Preferences m_prefs;  // before the table, which takes its device names
    core::EventTable m_table;
    std::unique_ptr<core::Cp290Operations> m_ops;
    std::unique_ptr<core::ScheduleFiles> m_files;
    state::ControllerCorrections m_corrections;
    cp290::DeviceTable m_devices;

    Windows m_w;
    CommandRouter* m_router = nullptr;
    std::vector<std::unique_ptr<CommandHandler>> m_handlers;
    MainWindowHandler* m_mainHandler = nullptr;
    EditWindowHandler* m_editHandler = nullptr;
    SyncWindowHandler* m_syncHandler = nullptr;
    std::unique_ptr<SchedulesHandler> m_schedHandler;
    std::unique_ptr<TimeCorrectionHandler> m_veskHandler;
    DevNamesWindowHandler* m_devNamesHandler = nullptr;
    YearAheadHandler* m_yearHandler = nullptr;
    AutomationHandler* m_automationHandler = nullptr;
    std::unique_ptr<MemoryQuestion> m_memoryQuestion;
    CommandHandler* m_appHandler = nullptr;
    QObject* m_helpFilter = nullptr;
    QMessageBox* m_errorBox = nullptr;
    QDialog* m_readme = nullptr;
    QString m_lastFolder;
    bool m_quitting = false;
    bool m_running = false;
    bool m_busy = false;
    bool m_cancel = false;
    class InputDropper* m_dropper = nullptr;
    // Where the table's events came from: a file's name, or "CP290".
    QString m_origin;
    int m_warnType = WarnNone;
    bool m_QuitIt = false;
};

}  // namespace ui
