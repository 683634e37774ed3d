#pragma once
// The handlers of the Time Correction window, its entry editor and the reset
// window (VeskWindowEventHandler, VeskEdWindowEventHandler,
// ResetDWindowEventHandler).
//
// Principles of operation: the window edits the controller's correction
// table (slots 1..128 with gaps, handed in by the shell) in place through
// core::CorrectionList and core::sunfollow, which hold the listing rules; the
// list shows one row per used slot (the event's time and devices from the
// controller's event table, its offset from today's sun time), the slot
// number as the row's data. An entry is added by picking an event of the
// table; one whose time is more than an hour from today's sun time asks
// whether to keep that offset or move the event to the sun time. The event
// editor lists the events it sets from the sun through the same handler.
// Opening copies and reads the crontab and reads the domain afresh; Save
// installs the correction pair through state/crontab_plans,
// writes the list and the location, and reads the crontab again; closing
// without saving reads the domain back, so the main window's marks show what
// is stored, and removes the crontab work files.
#include <QString>
#include <memory>
#include <optional>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"
#include "core/sun_following.h"
#include "state/correction_store.h"
#include "state/crontab_plans.h"

class QStandardItem;

namespace state {
struct Preferences;
}
namespace core {
class EventTable;
class Cp290Operations;
}

namespace ui {

class MainWindowHandler;

class TimeCorrectionHandler : public CommandHandler {
public:
    // `mainList` redraws the event list's marks once the list is stored or dropped.
    TimeCorrectionHandler(Shell& shell, const Windows& windows, state::ControllerCorrections& corrections,
                          const state::Preferences& prefs, MainWindowHandler& mainList, core::EventTable& table,
                          core::Cp290Operations& ops);
    ~TimeCorrectionHandler() override;

    // Wires the three windows to their handlers.
    void attach(CommandRouter& router);

    // Command 'TcSl': the opening steps.
    void open();
    // Closing after the user confirmed dropping the changes (or with none).
    void discard();

    bool handleCommand(const QString& code) override;
    bool handleClose() override;

    bool isOpen() const;
    // For the event editor. Before an event of `kind` (sunrise, sunset) is
    // set from today's sun time: when the kind's reference date is not
    // today, its listed events are brought up to today on the CP290 by the
    // correction run, and the list and the event table take what it did.
    // False, with the reason for the user, when that failed.
    bool bringUpToToday(int kind, QString& why);
    // Lists `event` for `kind` (its time just set from today's sun time when
    // `timeSetToday`). With the window open the entry joins its unsaved
    // list; else the list is stored at once. The reason it failed, or "".
    QString listFollowing(int event, int kind, bool timeSetToday);
    // Takes `event` off the list (the editor gave it a fixed time): off the
    // window's unsaved list when it is open, else off the stored one. The
    // reason it failed, or "".
    QString unlist(int event);
    // The entry listing `event`, as the list shows it; nullopt when none does.
    std::optional<core::sunfollow::FollowedEvent> followed(int event) const;

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
    void fillPicker(int selectEvent);
    int pickedEvent() const;
    // Shows an entry the list just took (or updated); false when it took none.
    bool showListed(const core::CorrectionEdit& edit);
    // The question for an event far from today's sun time: true to move it
    // to the sun time, false to keep it, nullopt when the user dismissed it.
    std::optional<bool> askFarFromSun(int event, int kind);
    void setEventTime(int event, int minutes);

    Shell& m_shell;
    const Windows& m_w;
    state::ControllerCorrections& m_corrections;
    const state::Preferences& m_prefs;
    MainWindowHandler& m_mainList;
    core::EventTable& m_table;
    core::Cp290Operations& m_ops;
    std::unique_ptr<state::CorrectionPlanning> m_plan;
    std::unique_ptr<EditorHandler> m_editor;
    std::unique_ptr<ResetHandler> m_reset;
    bool m_filling = false;
    core::sunfollow::SunToday m_today;  // as of the last opening or listing
};

}  // namespace ui
