#pragma once
// The Clock Sync window ("SyncWindow") and its handler: the time (317) and
// weekdays (310..316) at which the clock-sync tool sets the CP290's clock,
// saved (318, 'savC') as the crontab's clock-sync pair through the shared
// planning steps (state/crontab_plans.h).
#include <memory>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/shell_dialog.h"
#include "quorvel/windows.h"

namespace state {
class ClockSyncPlanning;
struct Preferences;
}

class QLabel;

namespace ui {


class SyncWindow : public ShellDialog {
public:
    explicit SyncWindow(QWidget* parent);
    void setRuns(const QString& text);  // the last and next sync

private:
    QLabel* m_runs = nullptr;
};

// SyncWindowEventHandler.
class SyncWindowHandler : public CommandHandler {
public:
    SyncWindowHandler(Shell& shell, const Windows& windows, const state::Preferences& prefs);
    ~SyncWindowHandler() override;

    // Menu command 'sYnc': read the plan from the crontab and show the window.
    void open();
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    bool save();  // true once the crontab holds the plan
    void close();
    void showRuns();  // the last and next run beside the plan
    Shell& m_shell;
    const Windows& m_w;
    const state::Preferences& m_prefs;
    std::unique_ptr<state::ClockSyncPlanning> m_plan;
};

}  // namespace ui
