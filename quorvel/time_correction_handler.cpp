#include "quorvel/time_correction_handler.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTimeEdit>
#include <QTreeView>
#include <cmath>
#include <optional>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/time_correction_window.h"
#include "platform/clock.h"
#include "state/preferences.h"
#include "state/location.h"
#include "core/correction_list.h"
#include "core/solar_time.h"

namespace ui {
namespace {

const QString kUnsavedQuestion = QStringLiteral(
    "Changes to the Time Correction List have not been Saved.  Do you really want to Quit?");

constexpr int kNumberRole = Qt::UserRole;     // sort key of the event column
constexpr int kSlotRole = Qt::UserRole + 1;   // the row's slot of the table

QString typeText(int type)
{
    switch (type) {
    case 1:
        return QStringLiteral("Sunrise");
    case 2:
        return QStringLiteral("Sunset");
    case 3:
        return QStringLiteral("Stand./Daylight");
    default:
        return QString::number(type);
    }
}

// MM/DD/YY: the third and fourth characters of the year's text.
QString dateText(const state::RefDate& d)
{
    return QString::asprintf("%02d/%02d/", d.month, d.day) + QString::number(d.year).mid(2, 2);
}

QString degreesText(double v)
{
    return QString::number(v, 'f', 4);
}

// What the location fields say: nothing (the time zone's place), a place,
// or a reason they cannot be used.
struct FieldLocation {
    std::optional<state::LocationDegrees> where;
    QString error;
};

FieldLocation readFields(const VeskWindow* w)
{
    FieldLocation f;
    const QString lat = w->latitudeField()->text().trimmed();
    const QString lon = w->longitudeField()->text().trimmed();
    if (lat.isEmpty() && lon.isEmpty())
        return f;
    if (lat.isEmpty() || lon.isEmpty()) {
        f.error = QObject::tr("Enter both latitude and longitude, or neither to use the time zone's place.");
        return f;
    }
    bool okLat = false, okLon = false;
    const double la = lat.toDouble(&okLat);
    const double lo = lon.toDouble(&okLon);
    if (!okLat || !std::isfinite(la) || std::fabs(la) > 90) {
        f.error = QObject::tr("Latitude must be a number of degrees from -90 (south) to 90 (north).");
        return f;
    }
    if (!okLon || !std::isfinite(lo) || std::fabs(lo) > 180) {
        f.error = QObject::tr("Longitude must be a number of degrees from -180 (west) to 180 (east).");
        return f;
    }
    f.where = state::LocationDegrees{la, lo};
    return f;
}

QString minutesText(const std::optional<int32_t>& m)
{
    return m ? QString::asprintf("%02d:%02d", *m / 60, *m % 60) : QObject::tr("none");
}

}  // namespace

// VeskEdWindowEventHandler: OK is the editor's only command.
class TimeCorrectionHandler::EditorHandler : public CommandHandler {
public:
    explicit EditorHandler(TimeCorrectionHandler& owner) : m_owner(owner) {}
    bool handleCommand(const QString& code) override
    {
        if (code != QLatin1String("tDIt"))
            return false;
        m_owner.editorOk();
        return true;
    }
    bool handleClose() override
    {
        QWidget* ed = m_owner.m_w.veskEd;
        ed->hide();
        if (QWidget* f = ed->focusWidget())
            f->clearFocus();
        return true;
    }

private:
    TimeCorrectionHandler& m_owner;
};

// ResetDWindowEventHandler: the two check boxes and the reset itself.
class TimeCorrectionHandler::ResetHandler : public CommandHandler {
public:
    explicit ResetHandler(TimeCorrectionHandler& owner) : m_owner(owner) {}
    bool handleCommand(const QString& code) override
    {
        QWidget* r = m_owner.m_w.reset;
        if (code == QLatin1String("rlSu") || code == QLatin1String("rlSd")) {
            setControlEnabled(r, TRsetControlID,
                              controlValue(findControl(r, TRSUControlID)) == 1 ||
                                  controlValue(findControl(r, TRSDControlID)) == 1);
            return true;
        }
        if (code == QLatin1String("rSun")) {
            m_owner.resetDates();
            return true;
        }
        return false;
    }
    bool handleClose() override
    {
        m_owner.m_w.reset->hide();
        return true;
    }

private:
    TimeCorrectionHandler& m_owner;
};

TimeCorrectionHandler::TimeCorrectionHandler(Shell& shell, const Windows& windows,
                                             state::ControllerCorrections& corrections,
                                             const state::Preferences& prefs, MainWindowHandler& mainList)
    : m_shell(shell),
      m_w(windows),
      m_corrections(corrections),
      m_prefs(prefs),
      m_mainList(mainList),
      m_editor(std::make_unique<EditorHandler>(*this)), m_reset(std::make_unique<ResetHandler>(*this))
{
}

TimeCorrectionHandler::~TimeCorrectionHandler() = default;

void TimeCorrectionHandler::attach(CommandRouter& router)
{
    const Windows& w = m_w;
    router.attach(w.vesk, this);
    router.attach(w.veskEd, m_editor.get());
    router.attach(w.reset, m_reset.get());
    QObject::connect(w.vesk->list()->selectionModel(), &QItemSelectionModel::selectionChanged, w.vesk,
                     [this] { selectionChanged(); });
    QObject::connect(w.vesk->timeControl(), &QTimeEdit::timeChanged, w.vesk, [this] {
        if (!m_filling)
            m_shell.command(m_w.vesk, QStringLiteral("tTim"));
    });
    for (QLineEdit* field : {w.vesk->latitudeField(), w.vesk->longitudeField()})
        QObject::connect(field, &QLineEdit::textChanged, w.vesk, [this] { locationEdited(); });
    w.vesk->model()->setSortRole(kNumberRole);
}

void TimeCorrectionHandler::open()
{
    const Windows& w = m_w;
    state::ControllerCorrections& c = m_corrections;
    m_plan = std::make_unique<state::CorrectionPlanning>(state::Program::Quorvel, m_prefs.app_Path);
    const bool read = m_plan->open();
    c.DST = platform::localTime(platform::now()).tm_isdst > 0 ? 1 : 0;
    m_w.main->planningMenu()->setEnabled(false);
    w.vesk->list()->sortByColumn(0, Qt::AscendingOrder);

    gotSched = m_plan->gotSched();
    setControlEnabled(w.veskEd, TPrTControlID, gotSched);

    m_filling = true;
    time_chg = false;
    setControlTime(w.vesk->timeControl(), QTime(m_plan->hour(), m_plan->minute()));
    for (int d = 1; d <= 7; ++d)
        setControlValue(findControl(w.vesk, TMonControlID + d - 1),
                        m_plan->planned() && m_plan->cronDays()[static_cast<size_t>(d)] == 1 ? 1 : 0);

    w.vesk->model()->removeRows(0, w.vesk->model()->rowCount());
    state::getVeskParms(c);
    for (int slot = 1; slot <= c.ceCount; ++slot)
        addItem(slot);
    setControlEnabled(w.vesk, TAddControlID, c.ceCount < state::kMaxCorrections);
    selectionChanged();
    showDates();

    // The stored place, with the time zone's shown greyed behind empty fields.
    const std::optional<state::LocationDegrees> stored = state::storedLocation(state::Program::Quorvel);
    const std::optional<state::Location> zone = state::zoneLocation(state::systemZoneName());
    auto fixedToDegrees = [](int32_t v) { return v / 1073741824.0 * 90.0; };
    w.vesk->latitudeField()->setPlaceholderText(zone ? degreesText(fixedToDegrees(zone->latitude)) : QString());
    w.vesk->longitudeField()->setPlaceholderText(zone ? degreesText(fixedToDegrees(zone->longitude)) : QString());
    w.vesk->latitudeField()->setText(stored ? degreesText(stored->latitude) : QString());
    w.vesk->longitudeField()->setText(stored ? degreesText(stored->longitude) : QString());
    m_filling = false;
    showSunTimes();

    setNote(read ? QString() : QString::fromUtf8(state::kSaveRefusedMessage));
    setControlEnabled(w.vesk, TSavControlID, false);
    w.vesk->show();
    w.vesk->raise();
    w.vesk->activateWindow();
}

void TimeCorrectionHandler::showDates()
{
    const Windows& w = m_w;
    const state::ControllerCorrections& c = m_corrections;
    setControlEnabled(w.vesk, TRst1ControlID, c.SUTime.held() || c.SDTime.held());
    setControlText(findControl(w.vesk, TLCSUControlID), c.SUTime.held() ? dateText(c.SUTime) : QObject::tr("none"));
    setControlText(findControl(w.vesk, TLCSDControlID), c.SDTime.held() ? dateText(c.SDTime) : QObject::tr("none"));
    setControlValue(findControl(w.reset, TRSUControlID), 0);
    setControlValue(findControl(w.reset, TRSDControlID), 0);
    setControlEnabled(w.reset, TRSUControlID, c.SUTime.held());
    setControlEnabled(w.reset, TRSDControlID, c.SDTime.held());
    setControlEnabled(w.reset, TRsetControlID, false);
}

bool TimeCorrectionHandler::handleCommand(const QString& code)
{
    const Windows& w = m_w;
    state::ControllerCorrections& c = m_corrections;
    if (code == QLatin1String("addT")) {
        mode = 1;
        QLineEdit* number = w.veskEd->numberField();
        number->clear();
        number->setEnabled(true);
        setControlValue(findControl(w.veskEd, TTypControlID), 3);
        setControlValue(findControl(w.veskEd, TPrTControlID), 1);
        setControlEnabled(w.veskEd, TDItControlID, false);
        w.veskEd->show();
        w.veskEd->raise();
        w.veskEd->activateWindow();
        number->setFocus();
    } else if (code == QLatin1String("updT")) {
        if (currIDT < 1 || currIDT > state::kMaxCorrections)
            return true;
        mode = 2;
        const state::CorrectionRecord& r = c.VeskNumRecs[static_cast<size_t>(currIDT)];
        QLineEdit* number = w.veskEd->numberField();
        number->setText(QString::number(r.eventNumber));
        number->setEnabled(false);
        setControlValue(findControl(w.veskEd, TTypControlID), r.corrType);
        setControlValue(findControl(w.veskEd, TPrTControlID), r.protect);
        setControlEnabled(w.veskEd, TDItControlID, true);
        w.veskEd->show();
        w.veskEd->raise();
        w.veskEd->activateWindow();
    } else if (code == QLatin1String("delT")) {
        deleteSelected();
    } else if (code == QLatin1String("savT")) {
        save();
    } else if (code == QLatin1String("rLdt")) {
        w.reset->show();
        w.reset->raise();
        w.reset->activateWindow();
    } else if (code == QLatin1String("tTim") || code == QLatin1String("mTcr") || code == QLatin1String("tTcr") ||
               code == QLatin1String("wTcr") || code == QLatin1String("hTcr") || code == QLatin1String("fTcr") ||
               code == QLatin1String("sTcr") || code == QLatin1String("uTcr")) {
        planChanged();
    } else {
        return false;
    }
    return true;
}

bool TimeCorrectionHandler::handleClose()
{
    if (time_chg) {
        m_shell.confirm(WarnCorrections, kUnsavedQuestion);
        return true;
    }
    discard();
    return true;
}

void TimeCorrectionHandler::discard()
{
    const Windows& w = m_w;
    w.main->planningMenu()->setEnabled(true);
    w.veskEd->hide();
    w.reset->hide();
    w.vesk->hide();
    w.vesk->model()->removeRows(0, w.vesk->model()->rowCount());
    if (m_plan)
        m_plan->close();
    m_plan.reset();
    // The main window marks what is stored, not what was dropped.
    state::getVeskParms(m_corrections);
    m_mainList.allChanged();
}

int TimeCorrectionHandler::countDays() const
{
    int n = 0;
    for (int id = TMonControlID; id <= TSunControlID; ++id)
        n += controlValue(findControl(m_w.vesk, id));
    return n;
}

void TimeCorrectionHandler::planChanged()
{
    const int n = countDays();
    const int items = m_w.vesk->model()->rowCount();
    if (items > 0)
        setControlEnabled(m_w.vesk, TSavControlID, n > 0);
}

QStandardItem* TimeCorrectionHandler::itemOf(int slot) const
{
    const QStandardItemModel* model = m_w.vesk->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->item(row, 0)->data(kSlotRole).toInt() == slot)
            return model->item(row, 0);
    return nullptr;
}

void TimeCorrectionHandler::addItem(int slot)
{
    auto* number = new QStandardItem;
    auto* type = new QStandardItem;
    number->setData(slot, kSlotRole);
    type->setData(slot, kSlotRole);
    type->setData(slot, kNumberRole);  // other columns sort by slot
    m_w.vesk->model()->appendRow({number, type});
    refreshItem(slot);
}

void TimeCorrectionHandler::refreshItem(int slot)
{
    QStandardItem* number = itemOf(slot);
    if (!number)
        return;
    const state::CorrectionRecord& r = m_corrections.VeskNumRecs[static_cast<size_t>(slot)];
    QStandardItemModel* model = m_w.vesk->model();
    number->setText(QString::number(r.eventNumber));
    number->setData(r.eventNumber, kNumberRole);
    model->item(number->row(), 1)->setText(typeText(r.corrType));
    // Keep the list in its sort after a change.
    const QTreeView* list = m_w.vesk->list();
    model->sort(list->header()->sortIndicatorSection(), list->header()->sortIndicatorOrder());
}

void TimeCorrectionHandler::selectionChanged()
{
    const VeskWindow* w = m_w.vesk;
    const QModelIndexList rows = w->list()->selectionModel()->selectedRows(0);
    currIDT = currIDT2 = 0;
    if (!rows.isEmpty()) {
        int first = rows.front().row(), last = first;
        for (const QModelIndex& i : rows) {
            first = std::min(first, i.row());
            last = std::max(last, i.row());
        }
        currIDT = w->model()->item(first, 0)->data(kSlotRole).toInt();
        currIDT2 = w->model()->item(last, 0)->data(kSlotRole).toInt();
    }
    setControlEnabled(w, TUpdControlID, currIDT != 0 && currIDT == currIDT2);
    setControlEnabled(w, TDelControlID, currIDT != 0);
}

void TimeCorrectionHandler::editorOk()
{
    const Windows& w = m_w;
    // The key filter lets a person type only numbers, but OK must not act on
    // an empty field or a number without an event.
    const int n = w.veskEd->numberField()->text().left(4).toInt();
    if (n < 1 || n > state::kMaxCorrections) {
        QApplication::beep();
        setControlEnabled(w.veskEd, TDItControlID, false);
        return;
    }
    core::CorrectionList list(m_corrections);
    const core::CorrectionEdit edit = list.addOrUpdate(n, controlValue(findControl(w.veskEd, TTypControlID)),
                                                       controlValue(findControl(w.veskEd, TPrTControlID)));
    if (edit.outcome == core::CorrectionEditOutcome::Full || edit.outcome == core::CorrectionEditOutcome::Refused)
        return;
    if (edit.outcome == core::CorrectionEditOutcome::Added) {
        addItem(edit.slot);
    } else {
        // A number already listed updated that entry instead of adding a second.
        mode = 2;
        if (QStandardItem* item = itemOf(edit.slot)) {
            QTreeView* view = w.vesk->list();
            view->selectionModel()->select(item->index(),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        currIDT = currIDT2 = edit.slot;
        refreshItem(edit.slot);
    }
    if (mode == 1) {
        // The editor stays open for the next number.
        w.veskEd->numberField()->setFocus();
    } else {
        if (QWidget* f = w.veskEd->focusWidget())
            f->clearFocus();
        w.veskEd->hide();
    }
    setControlEnabled(w.vesk, TAddControlID, !list.full());
    if (countDays() > 0)
        setControlEnabled(w.vesk, TSavControlID, true);
    time_chg = true;
}

void TimeCorrectionHandler::deleteSelected()
{
    const VeskWindow* w = m_w.vesk;
    state::ControllerCorrections& c = m_corrections;
    std::vector<int> rows;
    for (const QModelIndex& i : w->list()->selectionModel()->selectedRows(0))
        rows.push_back(i.row());
    std::sort(rows.rbegin(), rows.rend());
    std::vector<int> chosen;
    for (const int row : rows) {
        chosen.push_back(w->model()->item(row, 0)->data(kSlotRole).toInt());
        w->model()->removeRow(row);
    }
    core::CorrectionList{c}.remove(chosen);
    setControlEnabled(w, TAddControlID, true);
    if (c.ceCount == 0 || (c.ceCount > 0 && countDays() > 0))
        setControlEnabled(w, TSavControlID, true);
    time_chg = true;
    selectionChanged();
}

void TimeCorrectionHandler::save()
{
    const VeskWindow* w = m_w.vesk;
    state::ControllerCorrections& c = m_corrections;
    const FieldLocation place = readFields(w);
    if (!place.error.isEmpty()) {
        setNote(place.error + QObject::tr(" Nothing was saved."));
        return;
    }
    if (!m_plan)
        return;

    // An empty list plans no run: the installed crontab no longer starts the tool.
    std::array<int32_t, 8> days{};
    for (int d = 1; d <= 7; ++d)
        days[static_cast<size_t>(d)] = controlValue(findControl(w, TMonControlID + d - 1)) == 1 ? 1 : 0;
    const QTime t = controlTime(w->timeControl());
    const state::InstallResult installed =
        m_plan->save(t.hour(), t.minute(), core::CorrectionList(c).runDays(days));
    gotSched = m_plan->gotSched();
    // The list and the place are the user's work whatever became of the plan.
    const bool listWritten = state::writeVeskParms(c);
    // Show the dates as now stored (a new kind's first date is the save date).
    state::ControllerCorrections stored;
    state::getVeskParms(stored);
    c.SUTime = stored.SUTime;
    c.SDTime = stored.SDTime;
    showDates();
    const bool placeWritten = state::storeLocation(state::Program::Quorvel, place.where);
    m_mainList.allChanged();
    // Closing still asks while anything shown is not what is stored.
    if (!listWritten || !placeWritten) {
        setNote(QObject::tr("The correction list or the location could not be written to the preferences "
                            "(see the log); your changes are still here. Save again once the disk has room."));
        return;
    }
    setControlEnabled(w, TSavControlID, false);
    if (installed == state::InstallResult::Installed) {
        time_chg = false;
        setNote({});
    } else {
        setNote(QObject::tr("The list was saved, but not the plan: %1")
                    .arg(QString::fromUtf8(m_plan->refusalMessage())));
    }
}

void TimeCorrectionHandler::resetDates()
{
    const Windows& w = m_w;
    state::ControllerCorrections& c = m_corrections;
    const state::RefDate today = state::today();
    if (controlValue(findControl(w.reset, TRSUControlID)) == 1) {
        setControlText(findControl(w.vesk, TLCSUControlID), dateText(today));
        c.SUTime.clear();
    }
    if (controlValue(findControl(w.reset, TRSDControlID)) == 1) {
        setControlText(findControl(w.vesk, TLCSDControlID), dateText(today));
        c.SDTime.clear();
    }
    w.reset->hide();
}

void TimeCorrectionHandler::locationEdited()
{
    if (m_filling)
        return;
    time_chg = true;
    setControlEnabled(m_w.vesk, TSavControlID, true);
    showSunTimes();
}

void TimeCorrectionHandler::showSunTimes()
{
    const VeskWindow* w = m_w.vesk;
    QWidget* label = findControl(w, TSunTimesControlID);
    const FieldLocation place = readFields(w);
    if (!place.error.isEmpty()) {
        setControlText(label, place.error);
        return;
    }
    std::optional<state::Location> where;
    QString source;
    const std::string zone = state::systemZoneName();
    if (place.where) {
        where = state::Location{state::degreesToFixed(place.where->latitude),
                                state::degreesToFixed(place.where->longitude)};
    } else if ((where = state::zoneLocation(zone))) {
        source = QObject::tr("\nAt the place of time zone %1.").arg(QString::fromStdString(zone));
    }
    if (!where) {
        setControlText(label, QObject::tr("No place known for the time zone: enter latitude and longitude."));
        return;
    }
    const state::RefDate d = state::today();
    const sun::SunTimes t = sun::sunTimesOn(*where, d.year, d.month, d.day);
    setControlText(label, QObject::tr("Today: sunrise %1, sunset %2.%3")
                              .arg(minutesText(t.sunrise), minutesText(t.sunset), source));
}

void TimeCorrectionHandler::setNote(const QString& text)
{
    setControlText(findControl(m_w.vesk, TNoteControlID), text);
}

}  // namespace ui
