#pragma once
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
#include "state/correction_store.h"
#include "state/preferences.h"

class QDialog;
class QMessageBox;
class QWidget;

namespace ui {

class AutomationHandler;
class AutomationWindow;
class BaseCWindow;
class ClockWindow;
class CommandRouter;
class DevCkWindow;
class DevNamesWindow;
class DevNamesWindowHandler;
class YearAheadHandler;
class YearAheadWindow;
class DevWindow;
class EditWindow;
class EditWindowHandler;
class MainWindow;
class MainWindowHandler;
class MessWindow;
class PrefsWindow;
class ResetWindow;
class SchEdWindow;
class SchedWindow;
class SchedulesHandler;
class SearchWindow;
class SndWindow;
class StatusWindow;
class SyncWindow;
class SyncWindowHandler;
class TWindow;
class TimeCorrectionHandler;
class VeskEdWindow;
class VeskWindow;
class CommandHandler;

// The windows, in the order start-up creates them.
struct Windows {
    MainWindow* main = nullptr;          // "MainWindow"
    DevWindow* dev = nullptr;            // "DevWindow", drawer of the main window
    EditWindow* edit = nullptr;          // "EditWindow"
    MessWindow* mess = nullptr;          // "MessWindow"
    StatusWindow* stat = nullptr;        // "StatusWindow"
    DevCkWindow* devCk = nullptr;        // "DevCkWindow", drawer of the editor
    ClockWindow* clock = nullptr;        // "ClockWindow"
    BaseCWindow* baseC = nullptr;        // "BaseCWindow"
    TWindow* t = nullptr;                // "tWindow"
    PrefsWindow* prefs = nullptr;        // "PrefsWindow"
    VeskEdWindow* veskEd = nullptr;      // "VeskEdWindow"
    VeskWindow* vesk = nullptr;          // "VeskWindow"
    SchedWindow* sched = nullptr;        // "SchedWindow"
    SchEdWindow* schedEd = nullptr;      // "SchEdWindow"
    SndWindow* snd = nullptr;            // "SndWindow"
    ResetWindow* reset = nullptr;        // "ResetWindow"
    SyncWindow* sync = nullptr;          // "SyncWindow"
    SearchWindow* fnd = nullptr;         // "SearchWindow"
    DevNamesWindow* names = nullptr;     // "DevNamesWindow", our own: the unit names
    YearAheadWindow* year = nullptr;     // our own: the sun corrections of the year ahead
    AutomationWindow* automation = nullptr;  // "AutomationWindow", our own: runs and snapshots
};

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
};

class QuorvelApp : public QObject, public core::OperationsUi, public state::PreferencesUi {
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
    bool requestQuit();
    bool quitting() const { return m_quitting; }

    // Routes a command as a control of `window` would (null: application).
    bool command(QWidget* window, const QString& code);
    void closeWindow(QWidget* window);

    const Windows& windows() const { return m_w; }
    // A window by its interface name ("MainWindow", "SndWindow", ...).
    QWidget* window(const QString& name) const;

    core::EventTable& table() { return m_table; }
    core::Cp290Operations& ops() { return *m_ops; }
    core::ScheduleFiles& files() { return *m_files; }
    state::Preferences& prefs() { return m_prefs; }
    state::ControllerCorrections& corrections() { return m_corrections; }
    const cp290::DeviceTable& devices() const { return m_devices; }
    MainWindowHandler& mainHandler() { return *m_mainHandler; }
    EditWindowHandler& editHandler() { return *m_editHandler; }
    TimeCorrectionHandler& veskHandler() { return *m_veskHandler; }
    SchedulesHandler& schedHandler() { return *m_schedHandler; }
    SyncWindowHandler& syncHandler() { return *m_syncHandler; }
    DevNamesWindowHandler& devNamesHandler() { return *m_devNamesHandler; }
    YearAheadHandler& yearAheadHandler() { return *m_yearHandler; }
    AutomationHandler& automationHandler() { return *m_automationHandler; }

    // The device names were stored anew: the list's records, the drawer, the
    // editor's unit boxes and the search window take them at once.
    void deviceNamesChanged();
    // Help menu: the About box (version, licence, where settings and logs
    // are) and the README in the desktop's viewer.
    void showAbout();
    void openReadme();

    // The shell state the windows share (warnType, QuitIt, ReadIt, mode)
    // is read and set only through these operations.
    int warnType() const { return m_warnType; }
    // Shows the confirmation window (modeless) in a mode with its question.
    void confirm(int type, const QString& text);
    // The quit question's answer (QuitIt): true goes on quitting.
    void answerQuit(bool goOn);
    // The open dialog, for the event table (ReadIt 1) or for the schedule
    // editor's file choice (ReadIt 0); `path` given: that file, no dialog.
    // True when a file was taken (read into the table, or chosen).
    bool openSchedule(bool intoTable, const QString& path = {});
    bool readIt() const { return m_ReadIt; }
    // The save dialog for the event table.
    void saveSchedule();
    // The editors' shared mode: add or change.
    enum EditMode { ModeNone = 0, ModeAdd = 1, ModeChange = 2 };
    void setMode(EditMode mode) { m_mode = mode; }
    int mode() const { return m_mode; }

    // Runs one CP290 operation with the window visibly busy: controls
    // disabled, a busy cursor, and the user's input dropped (never queued and
    // replayed afterwards) apart from the Cancel of the progress sheet and
    // the status window. An operation asked for while one runs is not started.
    void runOperation(const std::function<void()>& operation);
    bool busy() const { return m_busy; }
    // Cancel: the operation under way stops at its next safe point.
    void requestCancel() { m_cancel = true; }

    // The launch timer's routine: set the clock, then read the events.
    void myTimerproc();
    // Keeps the window title (program, schedule file, unsaved mark) current.
    void refreshTitle();
    // The port menu's choice: curPort and serPath follow it.
    void chooseSerialDevice(int port);
    // The line in the main window that reports a failure (error) or what
    // worked; "" clears it.
    void setNote(const QString& text, bool error = true);
    // A path to save to, from the save dialog over `parent` (or the test's
    // chooser); empty when the user cancels. Remembers the folder.
    QString chooseSavePath(QWidget* parent, const QString& title, const QString& proposedName);

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

    // A planning window opens with the planning menu disabled and closes
    // enabling it, so only one of them works on the crontab files at a time.
    void openPlanningWindow(QWidget* window);
    void closePlanningWindow(QWidget* window);

private:
    // The open and save dialogs (ReadIt says whom the open serves).
    bool GetSchedule(QString path);
    void SaveSchedule();
    void createWindows();
    void installHandlers();
    // How many correction-list entries follow event n (the list's "T" marks).
    int correctionCount(int n) const;
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
    bool m_ReadIt = false;
    int m_mode = ModeNone;
};

}  // namespace ui
