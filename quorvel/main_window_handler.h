#pragma once
// The main window's handler: the list's selection, sort and scroll rules,
// the device-names drawer, delete, open, search and send. The send and search
// sheets have their own handlers (snd_window_handler.h, search_window_handler.h).
// The shell hands it the table, the operations and the preferences it works
// on, and the two handlers its commands open: the names window at once, the
// event editor (which draws into this list) once it is built.
#include <QString>
#include <vector>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace core {
class Cp290Operations;
class EventTable;
}  // namespace core
namespace state {
struct Preferences;
}

namespace ui {

class DevNamesWindowHandler;
class EditWindowHandler;
class EventListModel;
class EventSortProxy;

class MainWindowHandler : public CommandHandler {
public:
    MainWindowHandler(Shell& shell, const Windows& windows, core::EventTable& table, core::Cp290Operations& ops,
                      const state::Preferences& prefs, DevNamesWindowHandler& names);
    void setEditor(EditWindowHandler& editor) { m_editor = &editor; }

    // Puts the list model on the main window's list (start-up).
    void setUpList();

    bool handleCommand(const QString& code) override;
    bool handleClose() override;

    // First and last selected event (smallest and largest number); 0 when
    // nothing is selected.
    int currID() const { return m_currID; }
    int currID2() const { return m_currID2; }
    std::vector<int> selectedEvents() const;  // ascending
    void selectEvents(const std::vector<int>& events);  // replaces the selection
    void clearSelection();

    // The change and delete buttons together.
    void setUpdDel(bool update, bool remove);
    // The drawer shows event n's house, number and unit names; -1 blanks it.
    void SetEventDeviceNames(int n);
    void DeleteEvent();
    // Selects the events whose names hold the text and says how many; the count.
    int FindEvents(const QString& text);
    // The row of event n: redraw it; show it in the list's middle.
    void eventChanged(int n);
    void allChanged();
    void revealCentred(int n);
    // Display row (0..127) of event n in the current sort.
    int rowOf(int n) const;

    EventListModel* model() const { return m_model; }
    // A row double-clicked or entered: event n.
    void activated(int n);

    // File > Open: asks first when unsaved changes would be lost, then reads
    // the file into the table. `path` empty: the open dialog chooses; given
    // (a snapshot), that file is read through the same steps.
    void openSchedule(const QString& path = {});
    // The unsaved-changes question answered with OK.
    void openConfirmed();

private:
    void selectionChanged();
    void sortChanged(int column, Qt::SortOrder order);
    void showSendSheet();

    Shell& m_shell;
    const Windows& m_w;
    core::EventTable& m_table;
    core::Cp290Operations& m_ops;
    const state::Preferences& m_prefs;
    EditWindowHandler* m_editor = nullptr;
    DevNamesWindowHandler& m_names;
    EventListModel* m_model = nullptr;
    EventSortProxy* m_proxy = nullptr;
    int m_currID = 0;
    int m_currID2 = 0;
    QString m_openPath;  // the file the pending open question is about
};

}  // namespace ui
