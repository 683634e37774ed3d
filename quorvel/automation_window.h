#pragma once
// The Automation window ("AutomationWindow", menu Planning, 'AUto'): what the
// crontab plans and how its runs went, and the snapshots to go back to.
//
// Principles of operation: read-only toward the crontab. Each opening or
// Refresh ('rfsA') reads core::readAutomationStatus once: it lists the
// crontab without rebuilding the work file and launches no helper, so unlike
// the three planning windows this one leaves the Planning menu alone. The
// work list (440) has one row per kind of planned work with its warnings as
// marked rows beneath it; the snapshot list (442) is newest first. Open
// ('opnA', a double-click or Enter on a row) hands the snapshot to the main
// window's File > Open path, so the same reader, checks and unsaved-changes
// question apply and Send All then puts the events back. Opened again while
// shown, the window is raised and read anew, never built twice.
#include <QString>
#include <memory>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/shell_dialog.h"
#include "quorvel/windows.h"

class QTreeWidget;

namespace core {
struct AutomationStatus;
}

namespace ui {

class MainWindowHandler;

class AutomationWindow : public ShellDialog {
public:
    explicit AutomationWindow(QWidget* parent);

    // Fills both lists from a status read by the caller.
    void setStatus(const core::AutomationStatus& s);

    // The selected snapshot's path; empty when none is selected.
    QString selectedSnapshot() const;

private:
    void fillWork(const core::AutomationStatus& s);
    void fillSnapshots(const core::AutomationStatus& s);

    QTreeWidget* m_work;
    QTreeWidget* m_snapshots;
};

class AutomationHandler : public CommandHandler {
public:
    // A snapshot opens through the main window's File > Open steps (`mainList`).
    AutomationHandler(Shell& shell, const Windows& windows, MainWindowHandler& mainList);

    // Menu command 'AUto': shows the window, or raises the one shown; both read afresh.
    void open();
    // Reads the status again when the window is shown (a planning window saved).
    void refreshIfShown();

    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    void refresh();
    void openSnapshot();
    void selectionChanged();
    AutomationWindow* window() const;

    Shell& m_shell;
    const Windows& m_w;
    MainWindowHandler& m_mainList;
};

}  // namespace ui
