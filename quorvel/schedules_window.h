#pragma once
// The Schedules window ("SchedWindow") and its editor ("SchEdWindow"): up to
// 50 dated schedules, each loading an event schedule file into the CP290 on
// one day of the year at the one shared load time, saved as the crontab's
// schedule pairs through the shared planning steps (state/crontab_plans.h).
//
// The list (234) shows the entries in date order, the entry's index as its
// item ID; the load time (233) sends 'sTim'; Add (236), Update (231), Delete
// (232) and Save (230) send 'addS', 'updS', 'delS', 'savS'. The editor's
// month (260) and day (261) offer only dates that exist (29 February does);
// 'getS' chooses the file (262) through the open dialog, the load mode (264)
// is 1 (all events) or 2 (the file's events), and 'Sdot' (263) adds or
// updates the entry through core/schedule_plan_edit.h, which holds the
// same-date and full-table rules.
#include <QAbstractTableModel>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/shell_dialog.h"
#include "quorvel/windows.h"

namespace core {
class ScheduleFiles;
}
namespace state {
struct Preferences;
struct ScheduleTable;
class SchedulePlanning;
}  // namespace state

class QLabel;
class QTreeView;

namespace ui {

// The entries in use, sorted by schDate (then item ID).
class ScheduleListModel : public QAbstractTableModel {
public:
    enum Column { ColSdte, ColSsch, ColLoad, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    // Rebuilds the rows from the table (null: empty).
    void setTable(const state::ScheduleTable* table);
    int idAt(int row) const;
    int rowOf(int id) const;  // -1 when not listed

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const state::ScheduleTable* m_table = nullptr;
    std::vector<int> m_ids;
};

class SchedWindow : public ShellDialog {
public:
    explicit SchedWindow(QWidget* parent);
    QTreeView* list() const { return m_list; }
    ScheduleListModel* model() const { return m_model; }
    void setRuns(const QString& text);  // the last and next load

private:
    QLabel* m_runs = nullptr;
    QTreeView* m_list;
    ScheduleListModel* m_model;
};

class SchEdWindow : public ShellDialog {
public:
    explicit SchEdWindow(QWidget* parent);
    // The day control offers the days of the chosen month; the day is kept
    // when the month has it, else the month's last day is taken.
    void fillDays(int month, int day);
};

const char* const kScheduleCloseQuestion =
    "Changes to the Schedule List have not been saved. Save them before closing?";

// SchedWindowEventHandler and SchedEdWindowEventHandler share this state.
class SchedulesHandler {
public:
    // `files` takes the path the open dialog chose for the editor.
    SchedulesHandler(Shell& shell, const Windows& windows, core::ScheduleFiles& files,
                     const state::Preferences& prefs);
    ~SchedulesHandler();

    CommandHandler* windowHandler() { return m_windowHandler.get(); }
    CommandHandler* editorHandler() { return m_editorHandler.get(); }

    // Menu command 'schd'.
    void open();
    // The discard steps (close without changes, or confirmed).
    void discard();

    std::vector<int> selectedIds() const;
    void selectIds(const std::vector<int>& ids);

private:
    friend class SchedWindowHandler;
    friend class SchedEdWindowHandler;
    bool windowCommand(const QString& code);
    bool windowClose();
    bool editorCommand(const QString& code);
    void add();
    void update();
    void remove();
    bool save();  // true once the crontab holds the list
    void chooseFile();
    bool doIt();
    void selectionChanged();
    void rebuildList();
    SchedWindow* window() const;
    SchEdWindow* editor() const;

    // The editor's mode: adding a date, or changing the selected entry.
    enum class EditMode { Add, Change };

    Shell& m_shell;
    const Windows& m_w;
    core::ScheduleFiles& m_files;
    const state::Preferences& m_prefs;
    std::unique_ptr<CommandHandler> m_windowHandler;
    std::unique_ptr<CommandHandler> m_editorHandler;
    std::unique_ptr<state::SchedulePlanning> m_plan;
    bool m_schedChg = false;
    std::string m_chosenPath;  // currSpath, once it passed the crontab's rules
    bool m_filling = false;    // controls being set by the program, not the user
    EditMode m_mode = EditMode::Add;
};

}  // namespace ui
