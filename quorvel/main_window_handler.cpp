#include "quorvel/main_window_handler.h"

#include <QComboBox>
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
#include "quorvel/quorvel_app.h"

namespace ui {

namespace {
const QString kBlankSource(30, QLatin1Char(' '));
}

MainWindowHandler::MainWindowHandler(QuorvelApp& app) : m_app(app) {}

void MainWindowHandler::setUpList()
{
    QTreeView* list = m_app.windows().main->list();
    m_model = new EventListModel(m_app.table(), list);
    m_proxy = new EventSortProxy(list);
    m_proxy->setSourceModel(m_model);
    list->setModel(m_proxy);
    list->sortByColumn(EventListModel::ColEvtn, Qt::AscendingOrder);
    QHeaderView* header = list->header();
    header->setStretchLastSection(true);
    header->resizeSection(EventListModel::ColEvtn, 50);
    header->resizeSection(EventListModel::ColTime, 90);
    header->resizeSection(EventListModel::ColDays, 170);
    header->resizeSection(EventListModel::ColFunc, 70);
    header->resizeSection(EventListModel::ColDimm, 40);
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
    QuorvelApp& a = m_app;
    const Windows& w = a.windows();
    if (code == QLatin1String("addE")) {
        a.editHandler().openNew();
    } else if (code == QLatin1String("updE")) {
        // Only one used event can be changed; the button is off otherwise,
        // and a command sent by a script gets the same answer.
        if (m_currID != 0 && m_currID == m_currID2 && a.table().isUsed(m_currID))
            a.editHandler().openChange(m_currID);
    } else if (code == QLatin1String("delE")) {
        DeleteEvent();
    } else if (code == QLatin1String("dNam")) {
        a.devNamesHandler().open();
    } else if (code == QLatin1String("devL")) {
        w.main->setDrawerOpen(!w.main->drawerOpen());
    } else if (code == QLatin1String("CPrd")) {
        a.setNote({});
        a.runOperation([&a] { a.ops().GetEventList(); });
        a.refreshTitle();
    } else if (code == QLatin1String("CPsd")) {
        showSendSheet();
    } else if (code == QLatin1String("opnS")) {
        openSchedule();
    } else if (code == QLatin1String("savS")) {
        a.saveSchedule();
    } else if (code == QLatin1String("fndE")) {
        w.fnd->show();
        w.fnd->raise();
        if (QWidget* box = findControl(w.fnd, CBoxControlID))
            box->setFocus();
    } else if (code == QLatin1String("CPck")) {
        a.setNote({});
        int house = 0;
        std::string time, day;
        a.runOperation([&] { a.ops().getTimeBase(house, time, day); });
        setControlText(findControl(w.clock, CTimeControlID), QString::fromStdString(time));
        setControlText(findControl(w.clock, CDayControlID), QString::fromStdString(day));
        w.clock->show();
        w.clock->raise();
    } else if (code == QLatin1String("CPbs")) {
        a.setNote({});
        int house = 0;  // stays 0 (no letter) when the read fails or matches nothing
        std::string time, day;
        a.runOperation([&] { a.ops().getTimeBase(house, time, day); });
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
    if (m_app.busy() || !core::EventTable::validNumber(n))
        return;
    if (m_app.table().isUsed(n)) {
        selectEvents({n});
        m_app.command(m_app.windows().main, QStringLiteral("updE"));
    } else {
        m_app.command(m_app.windows().main, QStringLiteral("addE"));
        m_app.editHandler().offerNumber(n);
    }
}

bool MainWindowHandler::handleClose()
{
    // Closing the main window is quitting, with its question.
    m_app.requestQuit();
    return true;
}

std::vector<int> MainWindowHandler::selectedEvents() const
{
    std::vector<int> out;
    if (!m_proxy)
        return out;
    const QTreeView* list = m_app.windows().main->list();
    for (const QModelIndex& i : list->selectionModel()->selectedRows())
        out.push_back(i.data(Qt::UserRole).toInt());
    std::sort(out.begin(), out.end());
    return out;
}

bool MainWindowHandler::isSelected(int n) const
{
    const std::vector<int> s = selectedEvents();
    return std::binary_search(s.begin(), s.end(), n);
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
    m_app.windows().main->list()->selectionModel()->select(selection,
                                                           QItemSelectionModel::ClearAndSelect);
}

void MainWindowHandler::clearSelection()
{
    if (m_proxy)
        m_app.windows().main->list()->selectionModel()->clearSelection();
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
    } else if (m_currID == 0 || !m_app.table().isUsed(m_currID)) {
        setUpdDel(false, false);
        SetEventDeviceNames(-1);
    } else {
        setUpdDel(true, true);
        SetEventDeviceNames(m_currID);
    }
}

void MainWindowHandler::sortChanged(int column, Qt::SortOrder)
{
    QTreeView* list = m_app.windows().main->list();
    if (column == EventListModel::ColTime) {
        for (int r = 0; r < m_proxy->rowCount(); ++r) {
            const int n = m_proxy->index(r, 0).data(Qt::UserRole).toInt();
            if (!m_app.table().isUsed(n))
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
    const QWidget* main = m_app.windows().main;
    setControlEnabled(main, UpdControlID, update);
    setControlEnabled(main, DelControlID, remove);
}

void MainWindowHandler::SetEventDeviceNames(int n)
{
    DevWindow* drawer = m_app.windows().dev;
    const core::EventRecord* r = m_app.table().record(n);
    const int count = r ? r->devCount : -1;
    if (r && count > 0) {
        const int house = cp290::houseIndexFromCode(r->houseCode, 1);
        m_app.table().setCurHC(house);
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
    m_app.windows().dev->setUnitNumbers(units);
}

void MainWindowHandler::DeleteEvent()
{
    const std::vector<int> selected = selectedEvents();
    m_app.table().deleteEvents(selected);
    for (int n : selected)
        m_model->eventChanged(n);
    clearSelection();
    setUpdDel(false, false);
    SetEventDeviceNames(-1);
    if (m_app.table().getHighEvent() == 0)
        setControlEnabled(m_app.windows().main, SavControlID, false);
    setControlText(findControl(m_app.windows().main, SrceControlID), kBlankSource);
    m_app.refreshTitle();
}

void MainWindowHandler::FindEvents(const QString& text)
{
    clearSelection();
    selectEvents(m_app.table().findByName(text.toStdString()));
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
        m_app.windows().main->list()->scrollTo(m_proxy->index(row, 0),
                                               QAbstractItemView::PositionAtCenter);
}

void MainWindowHandler::showSendSheet()
{
    const SndWindow* snd = m_app.windows().snd;
    setControlValue(findControl(snd, SallControlID), 1);
    setControlValue(findControl(snd, ShighControlID), 0);
    setControlValue(findControl(snd, SchgControlID), 0);
    setControlEnabled(snd, ShighControlID, !selectedEvents().empty());
    setControlEnabled(snd, SchgControlID, m_app.table().hasUnsavedChanges());
    m_app.windows().snd->show();
    m_app.windows().snd->raise();
}

void MainWindowHandler::openSchedule(const QString& path)
{
    m_openPath = path;
    if (m_app.table().hasUnsavedChanges() && m_app.prefs().warnPref == 1) {
        m_app.confirm(WarnOpen, QStringLiteral("Changes to the Event list have not been Saved.  "
                                               "Do you really want to Continue?"));
        return;
    }
    openConfirmed();
}

void MainWindowHandler::openConfirmed()
{
    clearSelection();
    const QString path = std::exchange(m_openPath, QString());
    if (m_app.openSchedule(true, path) && !path.isEmpty()) {
        // A snapshot: the events are in the table, the user looks there next;
        // the Automation window it came from would cover it.
        m_app.windows().automation->hide();
        const QString done = controlText(findControl(m_app.windows().main, NoteControlID));
        m_app.setNote(done + QObject::tr(". Send… with Send All puts them back into the CP290."), false);
        m_app.windows().main->raise();
        m_app.windows().main->activateWindow();
    }
}

}  // namespace ui
