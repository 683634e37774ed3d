#pragma once
// The handlers of the Time Correction window, its entry editor and the reset
// window (VeskWindowEventHandler, VeskEdWindowEventHandler,
// ResetDWindowEventHandler).
//
// Principles of operation: the window edits the controller's correction
// table (slots 1..128 with gaps, handed in by the shell) in place through
// core::CorrectionList, which holds the add-or-update rule; the list shows
// one row per used slot, the slot number as the row's data.
// Opening copies and reads the crontab and reads the domain afresh; Save
// installs the correction pair through state/crontab_plans,
// writes the list and the location, and reads the crontab again; closing
// without saving reads the domain back, so the main window's marks show what
// is stored, and removes the crontab work files.
#include <QString>
#include <memory>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"
#include "state/correction_store.h"
#include "state/crontab_plans.h"

class QStandardItem;

namespace state {
struct Preferences;
}

namespace ui {

class MainWindowHandler;

class TimeCorrectionHandler : public CommandHandler {
public:
    // `mainList` redraws the event list's marks once the list is stored or dropped.
    TimeCorrectionHandler(Shell& shell, const Windows& windows, state::ControllerCorrections& corrections,
                          const state::Preferences& prefs, MainWindowHandler& mainList);
    ~TimeCorrectionHandler() override;

    // Wires the three windows to their handlers.
    void attach(CommandRouter& router);

    // Command 'TcSl': the opening steps.
    void open();
    // Closing after the user confirmed dropping the changes (or with none).
    void discard();

    bool handleCommand(const QString& code) override;
    bool handleClose() override;

    // The state the window keeps (tests read it).
    int mode = 0;
    int currIDT = 0;
    int currIDT2 = 0;
    bool time_chg = false;
    bool gotSched = false;

    class EditorHandler;
    class ResetHandler;

private:
    void selectionChanged();
    void addItem(int slot);
    void refreshItem(int slot);
    QStandardItem* itemOf(int slot) const;
    int countDays() const;
    void planChanged();
    void editorOk();
    void deleteSelected();
    void save();
    void resetDates();
    void showDates();
    void locationEdited();
    void showSunTimes();
    void setNote(const QString& text);

    Shell& m_shell;
    const Windows& m_w;
    state::ControllerCorrections& m_corrections;
    const state::Preferences& m_prefs;
    MainWindowHandler& m_mainList;
    std::unique_ptr<state::CorrectionPlanning> m_plan;
    std::unique_ptr<EditorHandler> m_editor;
    std::unique_ptr<ResetHandler> m_reset;
    bool m_filling = false;
};

}  // namespace ui
