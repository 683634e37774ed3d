#include "quorvel/main_window_handler.h"

#include <QComboBox>
#include <QLineEdit>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>
#include <algorithm>
#include <utility>

#include "quorvel/automation_window.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/device_names_window_handler.h"
#include "quorvel/dialogs.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/event_list_model.h"
#include "quorvel/main_window.h"
#include "core/cp290_operations.h"
#include "core/event_table.h"
#include "state/preferences.h"

namespace ui {

namespace {
const QString kBlankSource(30, QLatin1Char(' '));
}

MainWindowHandler::MainWindowHandler(Shell& shell, const Windows& windows, core::EventTable& table,
                                     core::Cp290Operations& ops, const state::Preferences& prefs,
                                     DevNamesWindowHandler& names)
    : m_shell(shell), m_w(windows), m_table(table), m_ops(ops), m_prefs(prefs), m_names(names)
{
}

void MainWindowHandler::setUpList()
{
    QTreeView* list = m_w.main->list();
    m_model = new EventListModel(m_table, list);
    m_proxy = new EventSortProxy(m_table, list);
    m_proxy->setSourceModel(m_model);
    list->setModel(m_proxy);
    list->sortByColumn(EventListModel::ColEvtn, Qt::AscendingOrder);
    QHeaderView* header = list->header();
    header->setStretchLastSection(true);
    // Widths from the font, so the columns keep their texts at any scale.
    const int em = list->fontMetrics().horizontalAdvance(QLatin1Char('M'));
    header->resizeSection(EventListModel::ColEvtn, 4 * em);
    header->resizeSection(EventListModel::ColTime, 6 * em);
    header->resizeSection(EventListModel::ColDays, 12 * em);
    header->resizeSection(EventListModel::ColFunc, 6 * em);
    header->resizeSection(EventListModel::ColDimm, 3 * em);
    header->resizeSection(EventListModel::ColMode, 4 * em);
    QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, list,
                     [this] { selectionChanged(); });
    // Double-click or Enter on a row: change a used event, make a new one in a free slot.
    QObject::connect(list, &QAbstractItemView::activated, list,
                     [this](const QModelIndex& index) { activated(index.data(Qt::UserRole).toInt()); });
    // The view re-sorts on its own connection first, so the rows are in
    // their new order when this runs.
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, list,
                     [this](int column, Qt::SortOrder order) { sortChanged(column, order); });
}

bool MainWindowHandler::handleCommand(const QString& code)
{
    Shell& a = m_shell;
    const Windows& w = m_w;
    if (code == QLatin1String("addE")) {
        m_editor->openNew();
    } else if (code == QLatin1String("updE")) {
        // Only one used event can be changed; the button is off otherwise,
        // and a command sent by a script gets the same answer.
        if (m_currID != 0 && m_currID == m_currID2 && m_table.isUsed(m_currID))
            m_editor->openChange(m_currID);
    } else if (code == QLatin1String("delE")) {
        DeleteEvent();
    } else if (code == QLatin1String("dNam")) {
        m_names.open();
    } else if (code == QLatin1String("devL")) {
        w.main->setDrawerOpen(!w.main->drawerOpen());
    } else if (code == QLatin1String("CPrd")) {
        a.setNote({});
        a.runOperation([this] { m_ops.GetEventList(); });
        a.refreshTitle();
    } else if (code == QLatin1String("CPsd")) {
        showSendSheet();
    } else if (code == QLatin1String("opnS")) {
        openSchedule();
    } else if (code == QLatin1String("savS")) {
        a.SaveSchedule();
    } else if (code == QLatin1String("savA")) {
        a.saveScheduleAs();
    } else if (code == QLatin1String("fndE")) {
        w.fnd->show();
        w.fnd->raise();
        // The last text, selected: typing replaces it.
        if (auto* box = static_cast<QComboBox*>(findControl(w.fnd, CBoxControlID))) {
            box->setFocus();
            box->lineEdit()->selectAll();
        }
    } else if (code == QLatin1String("CPck")) {
        a.setNote({});
        int house = 0;
        std::string time, day;
        a.runOperation([&] { m_ops.getTimeBase(house, time, day); });
        setControlText(findControl(w.clock, CTimeControlID), QString::fromStdString(time));
        setControlText(findControl(w.clock, CDayControlID), QString::fromStdString(day));
        w.clock->show();
        w.clock->raise();
    } else if (code == QLatin1String("CPbs")) {
        a.setNote({});
        int house = 0;  // stays 0 (no letter) when the read fails or matches nothing
        std::string time, day;
        a.runOperation([&] { m_ops.getTimeBase(house, time, day); });
        setControlValue(findControl(w.baseC, BCodeControlID), house);
        w.baseC->show();
        w.baseC->raise();
    } else if (code == QLatin1String("sPrt")) {
        a.chooseSerialDevice(controlValue(findControl(w.main, PortControlID)));
    } else {
        return false;
    }
    return true;
}

void MainWindowHandler::activated(int n)
{
    if (m_shell.busy() || !core::EventTable::validNumber(n))
        return;
    if (m_table.isUsed(n)) {
        selectEvents({n});
        m_shell.command(m_w.main, QStringLiteral("updE"));
    } else {
        m_shell.command(m_w.main, QStringLiteral("addE"));
        m_editor->offerNumber(n);
    }
}

bool MainWindowHandler::handleClose()
{
    // Closing the main window is quitting, with its question.
    m_shell.requestQuit();
    return true;
}

std::vector<int> MainWindowHandler::selectedEvents() const
{
    std::vector<int> out;
    if (!m_proxy)
        return out;
    const QTreeView* list = m_w.main->list();
    for (const QModelIndex& i : list->selectionModel()->selectedRows())
        out.push_back(i.data(Qt::UserRole).toInt());
    std::sort(out.begin(), out.end());
    return out;
}

void MainWindowHandler::selectEvents(const std::vector<int>& events)
{
    QItemSelection selection;
    for (int n : events) {
        if (n < 1 || n > EventListModel::kRows)
            continue;
        const QModelIndex first = m_proxy->mapFromSource(m_model->index(n - 1, 0));
        const QModelIndex last =
            m_proxy->mapFromSource(m_model->index(n - 1, EventListModel::ColumnCount - 1));
        selection.select(first, last);
    }
    m_w.main->list()->selectionModel()->select(selection,
                                                           QItemSelectionModel::ClearAndSelect);
}

void MainWindowHandler::clearSelection()
{
    if (m_proxy)
        m_w.main->list()->selectionModel()->clearSelection();
    m_currID = m_currID2 = 0;
}

void MainWindowHandler::selectionChanged()
{
    // The smallest and largest selected numbers, whatever the display order,
    // so a delete over the range never misses a selected event.
    const std::vector<int> s = selectedEvents();
    m_currID = s.empty() ? 0 : s.front();
    m_currID2 = s.empty() ? 0 : s.back();
    if (m_currID != m_currID2) {
        setUpdDel(false, true);
        SetEventDeviceNames(-1);
    } else if (m_currID == 0 || !m_table.isUsed(m_currID)) {
        setUpdDel(false, false);
        SetEventDeviceNames(-1);
    } else {
        setUpdDel(true, true);
        SetEventDeviceNames(m_currID);
    }
}

void MainWindowHandler::sortChanged(int column, Qt::SortOrder)
{
    QTreeView* list = m_w.main->list();
    if (column == EventListModel::ColTime) {
        for (int r = 0; r < m_proxy->rowCount(); ++r) {
            const int n = m_proxy->index(r, 0).data(Qt::UserRole).toInt();
            if (!m_table.isUsed(n))
                continue;
            // The first used event at the top, the free slots above it out of sight.
            if (r == 0)
                list->scrollToTop();
            else
                list->scrollTo(m_proxy->index(r, 0), QAbstractItemView::PositionAtTop);
            return;
        }
    } else if (column == EventListModel::ColEvtn) {
        list->scrollToTop();
    }
}

int MainWindowHandler::rowOf(int n) const
{
    if (n < 1 || n > EventListModel::kRows)
        return -1;
    return m_proxy->mapFromSource(m_model->index(n - 1, 0)).row();
}

void MainWindowHandler::setUpdDel(bool update, bool remove)
{
    const QWidget* main = m_w.main;
    setControlEnabled(main, UpdControlID, update);
    setControlEnabled(main, DelControlID, remove);
}

void MainWindowHandler::SetEventDeviceNames(int n)
{
    DevWindow* drawer = m_w.dev;
    const core::EventRecord* r = m_table.record(n);
    const int count = r ? r->devCount : -1;
    if (r && count > 0) {
        const int house = cp290::houseIndexFromCode(r->houseCode, 1);
        m_table.setCurHC(house);
        setControlText(findControl(drawer, HCControlID), QString(QLatin1Char(cp290::HLetters[house - 1])));
        setControlText(findControl(drawer, EvtNControlID), QString::number(n));
    } else {
        setControlText(findControl(drawer, HCControlID), {});
        setControlText(findControl(drawer, EvtNControlID), {});
    }
    for (int k = 0; k < 16; ++k) {
        const QString name = r && k < count ? QString::fromStdString(r->devNames[k]) : QString();
        setControlText(findControl(drawer, DevNameFirstControlID + k), name);
    }
    std::vector<int> units = r && count > 0 ? r->unitNumbers() : std::vector<int>{};
    if (units.size() > static_cast<size_t>(std::max(count, 0)))
        units.resize(static_cast<size_t>(count));
    m_w.dev->setUnitNumbers(units);
}

void MainWindowHandler::DeleteEvent()
{
    const std::vector<int> selected = selectedEvents();
    m_table.deleteEvents(selected);
    for (int n : selected)
        m_model->eventChanged(n);
    clearSelection();
    setUpdDel(false, false);
    SetEventDeviceNames(-1);
    if (m_table.getHighEvent() == 0)
        setControlEnabled(m_w.main, SavControlID, false);
    setControlText(findControl(m_w.main, SrceControlID), kBlankSource);
    if (!selected.empty())
        m_shell.setNote(QObject::tr("Deleted %1; Send… puts the change into the CP290")
                            .arg(selected.size() == 1 ? QObject::tr("1 event") : QObject::tr("%1 events").arg(selected.size())),
                        false);
    m_shell.refreshTitle();
}

int MainWindowHandler::FindEvents(const QString& text)
{
    clearSelection();
    const std::vector<int> found = m_table.findByName(text.toStdString());
    selectEvents(found);
    const int n = static_cast<int>(found.size());
    m_shell.setNote(n == 0 ? QObject::tr("No event matches '%1'").arg(text)
                           : (n == 1 ? QObject::tr("1 event matches '%1'") : QObject::tr("%1 events match '%2'").arg(n))
                                 .arg(text),
                    false);
    return n;
}

void MainWindowHandler::eventChanged(int n)
{
    m_model->eventChanged(n);
}

void MainWindowHandler::allChanged()
{
    m_model->allChanged();
}

void MainWindowHandler::revealCentred(int n)
{
    const int row = rowOf(n);
    if (row >= 0)
        m_w.main->list()->scrollTo(m_proxy->index(row, 0),
                                               QAbstractItemView::PositionAtCenter);
}

void MainWindowHandler::showSendSheet()
{
    const SndWindow* snd = m_w.snd;
    setControlValue(findControl(snd, SallControlID), 1);
    setControlValue(findControl(snd, ShighControlID), 0);
    setControlValue(findControl(snd, SchgControlID), 0);
    setControlEnabled(snd, ShighControlID, !selectedEvents().empty());
    setControlEnabled(snd, SchgControlID, m_table.hasUnsavedChanges());
    m_w.snd->show();
    m_w.snd->raise();
}

void MainWindowHandler::openSchedule(const QString& path)
{
    m_openPath = path;
    if (m_table.hasUnsavedChanges() && m_prefs.warnPref == 1) {
        m_shell.askBeforeErasing(WarnOpen,
                                 QObject::tr("Changes to the Event list have not been saved. Opening "
                                             "another file discards them."),
                                 QObject::tr("Discard Changes"), [this] { openConfirmed(); });
        return;
    }
    openConfirmed();
}

void MainWindowHandler::openConfirmed()
{
    clearSelection();
    const QString path = std::exchange(m_openPath, QString());
    if (m_shell.GetSchedule(ScheduleTarget::EventTable, path) && !path.isEmpty()) {
        // A snapshot: the events are in the table, the user looks there next;
        // the Automation window it came from would cover it.
        m_w.automation->hide();
        const QString done = controlText(findControl(m_w.main, NoteControlID));
        m_shell.setNote(done + QObject::tr(". Send… with Send All puts them back into the CP290."), false);
        m_w.main->raise();
        m_w.main->activateWindow();
    }
}

}  // namespace ui
