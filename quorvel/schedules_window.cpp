#include "quorvel/schedules_window.h"

#include <QDate>
#include <cstdio>

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "quorvel/control_ids.h"
#include "quorvel/formats.h"
#include "quorvel/planning_runs.h"
#include "quorvel/controls.h"
#include "quorvel/planning_outcome.h"
#include "core/schedule_file.h"
#include "core/schedule_plan_edit.h"
#include "platform/syslog_log.h"
#include "state/crontab_plans.h"
#include "state/preferences.h"

namespace ui {

// --- The list ---------------------------------------------------------------

void ScheduleListModel::setTable(const state::ScheduleTable* table)
{
    beginResetModel();
    m_table = table;
    m_ids.clear();
    if (m_table)
        for (int i = 1; i <= state::kMaxSchedules; ++i)
            if (m_table->schedRec[static_cast<size_t>(i)].schLoad > 0)
                m_ids.push_back(i);
    // Calendar order; two entries of one date (a crontab edited by hand) by ID.
    std::stable_sort(m_ids.begin(), m_ids.end(), [this](int a, int b) {
        return m_table->schedRec[static_cast<size_t>(a)].schDate < m_table->schedRec[static_cast<size_t>(b)].schDate;
    });
    endResetModel();
}

int ScheduleListModel::idAt(int row) const
{
    return row >= 0 && row < static_cast<int>(m_ids.size()) ? m_ids[static_cast<size_t>(row)] : 0;
}

int ScheduleListModel::rowOf(int id) const
{
    const auto it = std::find(m_ids.begin(), m_ids.end(), id);
    return it == m_ids.end() ? -1 : static_cast<int>(it - m_ids.begin());
}

int ScheduleListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_ids.size());
}

int ScheduleListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ScheduleListModel::data(const QModelIndex& index, int role) const
{
    const int id = idAt(index.row());
    if (!id || !m_table)
        return {};
    if (role == Qt::UserRole)
        return id;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const state::ScheduleEntry& e = m_table->schedRec[static_cast<size_t>(id)];
    if (role == Qt::ToolTipRole)
        return QString::fromStdString(e.schPath) +
               (e.schLoad == 1 ? tr(" (replace all events)") : tr(" (only the file's events)"));
    if (index.column() == ColLoad)
        return e.schLoad == 1 ? tr("Replace all events") : tr("Only the file's events");
    if (index.column() == ColSdte) {
        int month = 0;
        int day = 0;
        if (std::sscanf(e.schDate.c_str(), "%d/%d", &month, &day) == 2 && QDate::isValid(2000, month, day))
            return dayOfYearText(month, day);
        return QString::fromStdString(e.schDate);
    }
    return QString::fromStdString(e.schName);
}

QVariant ScheduleListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == ColSdte ? tr("Date") : section == ColSsch ? tr("Schedule File") : tr("Load");
}

// --- The windows --------------------------------------------------------------

SchedWindow::SchedWindow(QWidget* parent) : ShellDialog(parent, tr("Virtual Schedules"))
{
    auto* box = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Loads an event schedule file into the CP290 on each date listed, "
                                "at the load time below."));
    intro->setWordWrap(true);
    box->addWidget(intro);
    m_runs = new QLabel;
    m_runs->setWordWrap(true);
    box->addWidget(m_runs);
    m_list = withId(new QTreeView, ListSControlID);
    m_model = new ScheduleListModel(m_list);
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setMinimumSize(380, 240);
    m_list->header()->resizeSection(ScheduleListModel::ColSdte, m_list->fontMetrics().horizontalAdvance(QStringLiteral("29 September ")) + 8);
    m_list->header()->resizeSection(ScheduleListModel::ColSsch, 200);
    box->addWidget(m_list, 1);

    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(tr("Load the schedules at:")));
    auto* time = withId(new QTimeEdit(QTime(1, 0)), STimControlID);
    time->setDisplayFormat(timeFormat());
    timeRow->addWidget(time);
    timeRow->addStretch();
    box->addLayout(timeRow);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(commandButton(tr("Add…"), "addS", SAddControlID));
    buttons->addWidget(commandButton(tr("Update…"), "updS", SUpdControlID));
    buttons->addWidget(commandButton(tr("Delete"), "delS", SDelControlID));
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    buttons->addWidget(commandButton(tr("Save"), "savS", SSavControlID));
    box->addLayout(buttons);
}

void SchedWindow::setRuns(const QString& text)
{
    m_runs->setText(text);
}

SchEdWindow::SchEdWindow(QWidget* parent) : ShellDialog(parent, tr("Schedule Entry"))
{
    auto* month = withId(new QComboBox, MonSControlID);
    month->addItems({tr("January"), tr("February"), tr("March"), tr("April"), tr("May"), tr("June"), tr("July"),
                     tr("August"), tr("September"), tr("October"), tr("November"), tr("December")});
    setCommand(month, "monS");
    auto* day = withId(new QComboBox, DaySControlID);
    setCommand(day, "dayS");
    auto* date = new QHBoxLayout;
    date->addWidget(month);
    date->addWidget(day);
    date->addStretch();

    auto* file = withId(new QLabel, FileSControlID);
    file->setMinimumWidth(200);
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file, 1);
    fileRow->addWidget(commandButton(tr("Choose…"), "getS"));

    auto* load = withId(new QComboBox, EventSControlID);
    load->addItems({tr("Replace all events (erase the others)"), tr("Only the file's events (keep the others)")});

    auto* form = new QFormLayout(this);
    form->addRow(tr("Date:"), date);
    form->addRow(tr("Schedule file:"), fileRow);
    form->addRow(tr("Load:"), load);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    QPushButton* ok = commandButton(tr("OK"), "Sdot", SDoItControlID);
    ok->setDefault(true);
    buttons->addWidget(ok);
    form->addRow(buttons);
    fillDays(1, 1);
}

void SchEdWindow::fillDays(int month, int day)
{
    auto* days = static_cast<QComboBox*>(findControl(this, DaySControlID));
    int last = 31;
    while (last > 28 && !state::dateExists(month, last))
        --last;
    days->clear();
    for (int d = 1; d <= last; ++d)
        days->addItem(QString::number(d));
    setControlValue(days, std::clamp(day, 1, last));
}

// --- The handlers ----------------------------------------------------------------

class SchedWindowHandler : public CommandHandler {
public:
    explicit SchedWindowHandler(SchedulesHandler& s) : m_s(s) {}
    bool handleCommand(const QString& code) override { return m_s.windowCommand(code); }
    bool handleClose() override { return m_s.windowClose(); }

private:
    SchedulesHandler& m_s;
};

class SchedEdWindowHandler : public CommandHandler {
public:
    explicit SchedEdWindowHandler(SchedulesHandler& s) : m_s(s) {}
    bool handleCommand(const QString& code) override { return m_s.editorCommand(code); }
    bool handleClose() override
    {
        m_s.editor()->hide();
        return true;
    }

private:
    SchedulesHandler& m_s;
};

SchedulesHandler::SchedulesHandler(Shell& shell, const Windows& windows, core::ScheduleFiles& files,
                                   const state::Preferences& prefs)
    : m_shell(shell),
      m_w(windows),
      m_files(files),
      m_prefs(prefs),
      m_windowHandler(std::make_unique<SchedWindowHandler>(*this)),
      m_editorHandler(std::make_unique<SchedEdWindowHandler>(*this))
{
    auto* time = static_cast<QTimeEdit*>(findControl(window(), STimControlID));
    QObject::connect(time, &QTimeEdit::timeChanged, time, [this] {
        if (!m_filling)
            m_shell.command(window(), QStringLiteral("sTim"));
    });
    QObject::connect(window()->list()->selectionModel(), &QItemSelectionModel::selectionChanged, window(),
                     [this] { selectionChanged(); });
}

SchedulesHandler::~SchedulesHandler() = default;

SchedWindow* SchedulesHandler::window() const
{
    return m_w.sched;
}

SchEdWindow* SchedulesHandler::editor() const
{
    return m_w.schedEd;
}

void SchedulesHandler::open()
{
    m_plan = std::make_unique<state::SchedulePlanning>(state::Program::Quorvel, m_prefs.app_Path);
    m_shell.openPlanningWindow(window());
    if (!m_plan->open())
        m_shell.showError(kCrontabNotReadText);
    rebuildList();
    const state::ScheduleTable& t = m_plan->table();
    setControlEnabled(window(), SAddControlID, core::canAddSchedule(t));
    m_filling = true;
    setControlTime(findControl(window(), STimControlID), QTime(m_plan->hour(), m_plan->minute()));
    m_filling = false;
    m_schedChg = false;
    setControlEnabled(window(), SSavControlID, false);
    selectionChanged();
    window()->setRuns(planRunsText("brondile"));
}

void SchedulesHandler::discard()
{
    m_shell.closePlanningWindow(window());
    editor()->hide();
    window()->model()->setTable(nullptr);
    if (m_plan)
        m_plan->close();
    m_plan.reset();
}

bool SchedulesHandler::windowCommand(const QString& code)
{
    if (!m_plan)
        return false;
    if (code == QLatin1String("addS"))
        add();
    else if (code == QLatin1String("updS"))
        update();
    else if (code == QLatin1String("delS"))
        remove();
    else if (code == QLatin1String("savS"))
        save();
    else if (code == QLatin1String("sTim")) {
        if (window()->model()->rowCount() > 0)
            setControlEnabled(window(), SSavControlID, true);
    } else
        return false;
    return true;
}

bool SchedulesHandler::windowClose()
{
    if (m_plan && (m_schedChg || controlEnabled(window(), SSavControlID))) {
        // The window stays open until the question is answered.
        m_shell.askToSave(WarnSchedules, QString::fromLatin1(kScheduleCloseQuestion),
                          [this] { return save() && (discard(), true); }, [this] { discard(); });
        return true;
    }
    discard();
    return true;
}

bool SchedulesHandler::editorCommand(const QString& code)
{
    if (code == QLatin1String("getS")) {
        chooseFile();
        return true;
    }
    if (code == QLatin1String("Sdot"))
        return doIt();
    if (code == QLatin1String("monS")) {
        // Only the days of the chosen month are offered.
        editor()->fillDays(controlValue(findControl(editor(), MonSControlID)),
                           controlValue(findControl(editor(), DaySControlID)));
        return true;
    }
    return code == QLatin1String("dayS");
}

void SchedulesHandler::add()
{
    m_mode = EditMode::Add;
    SchEdWindow* ed = editor();
    setControlValue(findControl(ed, MonSControlID), 1);
    ed->fillDays(1, 1);
    setControlEnabled(ed, MonSControlID, true);
    setControlEnabled(ed, DaySControlID, true);
    setControlText(findControl(ed, FileSControlID), QString());
    m_chosenPath.clear();
    setControlValue(findControl(ed, EventSControlID), 1);
    setControlEnabled(ed, SDoItControlID, false);
    setControlText(findControl(ed, SDoItControlID), QObject::tr("Add"));
    ed->setWindowTitle(QObject::tr("Add Schedule"));
    ed->show();
    ed->raise();
    ed->activateWindow();
}

void SchedulesHandler::update()
{
    const std::vector<int> ids = selectedIds();
    if (ids.size() != 1)
        return;
    const state::ScheduleEntry& e = m_plan->table().schedRec[static_cast<size_t>(ids[0])];
    m_mode = EditMode::Change;
    SchEdWindow* ed = editor();
    const int month = std::atoi(e.schMonth.c_str());
    setControlValue(findControl(ed, MonSControlID), month);
    ed->fillDays(month, std::atoi(e.schDay.c_str()));
    // An entry's date cannot be changed.
    setControlEnabled(ed, MonSControlID, false);
    setControlEnabled(ed, DaySControlID, false);
    setControlText(findControl(ed, FileSControlID), QString::fromStdString(e.schName));
    m_chosenPath = e.schPath;
    setControlValue(findControl(ed, EventSControlID), e.schLoad);
    setControlEnabled(ed, SDoItControlID, true);
    setControlText(findControl(ed, SDoItControlID), QObject::tr("Update"));
    ed->setWindowTitle(QObject::tr("Update Schedule"));
    ed->show();
    ed->raise();
    ed->activateWindow();
}

void SchedulesHandler::chooseFile()
{
    m_shell.GetSchedule(ScheduleTarget::ScheduleEditor);
    const std::string candidate = m_files.currSpath();
    if (!candidate.empty() && candidate != m_chosenPath) {
        const std::string problem = state::schedulePathProblem(candidate, m_prefs.app_Path);
        if (problem.empty()) {
            m_chosenPath = candidate;
        } else {
            platform::logf("Quorvel Error - Schedule file not usable: %s.\n", problem.c_str());
            m_shell.showError("This file cannot be planned: " + problem + ". Choose another file or rename it.");
        }
    }
    // What the editor shows is the file that will be saved, never a refused one.
    const size_t slash = m_chosenPath.rfind('/');
    setControlText(findControl(editor(), FileSControlID),
                   QString::fromStdString(slash == std::string::npos ? m_chosenPath : m_chosenPath.substr(slash + 1)));
    setControlEnabled(editor(), SDoItControlID, !m_chosenPath.empty());
}

bool SchedulesHandler::doIt()
{
    if (!m_plan || m_chosenPath.empty())
        return false;
    core::ScheduleRequest request;
    request.month = controlValue(findControl(editor(), MonSControlID));
    request.day = controlValue(findControl(editor(), DaySControlID));
    request.path = m_chosenPath;
    request.load = controlValue(findControl(editor(), EventSControlID));
    request.adding = m_mode == EditMode::Add;
    if (!request.adding) {
        const std::vector<int> ids = selectedIds();
        request.changeId = ids.empty() ? 0 : ids.front();
    }
    const core::ScheduleEdit edit = core::storeSchedule(m_plan->table(), request);
    if (edit.outcome != core::ScheduleEditOutcome::Added && edit.outcome != core::ScheduleEditOutcome::Changed)
        return false;
    rebuildList();
    if (edit.outcome == core::ScheduleEditOutcome::Added) {
        // The editor stays open for the next date.
        setControlEnabled(window(), SAddControlID, core::canAddSchedule(m_plan->table()));
        selectionChanged();
    } else {
        // A planned date is updated, never planned twice.
        m_mode = EditMode::Change;
        selectIds({edit.id});
        editor()->hide();
    }
    setControlEnabled(window(), SSavControlID, true);
    m_schedChg = true;
    return true;
}

void SchedulesHandler::remove()
{
    core::removeSchedules(m_plan->table(), selectedIds());
    rebuildList();
    selectIds({});
    setControlEnabled(window(), SSavControlID, true);
    setControlEnabled(window(), SAddControlID, true);
    m_schedChg = true;
}

bool SchedulesHandler::save()
{
    const QTime time = controlTime(findControl(window(), STimControlID));
    const state::InstallResult r = m_plan->save(time.hour(), time.minute());
    if (r != state::InstallResult::Installed) {
        // The list keeps the user's changes; Save stays available.
        m_shell.showError(planningOutcomeText(r, m_plan->refusalMessage()));
        return false;
    }
    rebuildList();
    selectIds({});
    setControlEnabled(window(), SAddControlID, core::canAddSchedule(m_plan->table()));
    setControlEnabled(window(), SSavControlID, false);
    m_schedChg = false;
    window()->setRuns(planRunsText("brondile"));
    return true;
}

void SchedulesHandler::rebuildList()
{
    const std::vector<int> keep = selectedIds();
    window()->model()->setTable(m_plan ? &m_plan->table() : nullptr);
    selectIds(keep);
}

std::vector<int> SchedulesHandler::selectedIds() const
{
    std::vector<int> ids;
    const QTreeView* list = window()->list();
    for (const QModelIndex& i : list->selectionModel()->selectedRows())
        ids.push_back(window()->model()->idAt(i.row()));
    std::sort(ids.begin(), ids.end());
    return ids;
}

void SchedulesHandler::selectIds(const std::vector<int>& ids)
{
    QItemSelectionModel* sel = window()->list()->selectionModel();
    sel->clearSelection();
    for (const int id : ids) {
        const int row = window()->model()->rowOf(id);
        if (row >= 0)
            sel->select(window()->model()->index(row, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    selectionChanged();
}

void SchedulesHandler::selectionChanged()
{
    const size_t n = selectedIds().size();
    setControlEnabled(window(), SUpdControlID, n == 1);
    setControlEnabled(window(), SDelControlID, n >= 1);
}

}  // namespace ui
