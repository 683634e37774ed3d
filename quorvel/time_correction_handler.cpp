#include "quorvel/time_correction_handler.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QStandardItemModel>
#include <QTimeEdit>
#include <QTreeView>
#include <cmath>
#include <optional>

#include "quorvel/control_ids.h"
#include "quorvel/formats.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/time_correction_window.h"
#include "platform/clock.h"
#include "state/preferences.h"
#include "state/location.h"
#include "core/correction_list.h"
#include "core/cp290_operations.h"
#include "core/event_table.h"
#include "core/solar_time.h"
#include "core/sun_following.h"

namespace ui {
namespace {

namespace sunfollow = core::sunfollow;

const QString kTickAWeekday = QStringLiteral("Tick at least one weekday for the corrections to run, then save.");

constexpr int kNumberRole = Qt::UserRole;     // sort key of the event column
constexpr int kSlotRole = Qt::UserRole + 1;   // the row's slot of the table

// A date standing alone: weekday and month written out, in the user's locale.
QString dateText(const state::RefDate& d)
{
    return longDateText(QDate(d.year, d.month, d.day));
}

// "1 h 08 min", "15 min", "2 h".
QString spanText(int minutes)
{
    minutes = std::abs(minutes);
    if (minutes < 60)
        return QObject::tr("%1 min").arg(minutes);
    if (minutes % 60 == 0)
        return QObject::tr("%1 h").arg(minutes / 60);
    return QObject::tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// An offset from the sun time in words: "15 min before", "1 h 08 min after".
QString offsetText(int offset)
{
    if (offset == 0)
        return QObject::tr("at the sun time");
    return offset < 0 ? QObject::tr("%1 before").arg(spanText(offset)) : QObject::tr("%1 after").arg(spanText(offset));
}

QString kindWord(int kind)
{
    return kind == sunfollow::kSunrise ? QObject::tr("sunrise") : QObject::tr("sunset");
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
    return m ? localeTime(*m) : QObject::tr("none");
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
                                             const state::Preferences& prefs, MainWindowHandler& mainList,
                                             core::EventTable& table, core::Cp290Operations& ops)
    : m_shell(shell),
      m_w(windows),
      m_corrections(corrections),
      m_prefs(prefs),
      m_mainList(mainList),
      m_table(table),
      m_ops(ops),
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
    // OK once an event is picked.
    QObject::connect(w.veskEd->picker()->selectionModel(), &QItemSelectionModel::selectionChanged, w.veskEd, [this] {
        setControlEnabled(m_w.veskEd, TDItControlID, m_w.veskEd->picker()->selectionModel()->hasSelection());
    });
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
    m_today = sunfollow::sunToday(state::Program::Quorvel);
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
        fillPicker(0);
        w.veskEd->picker()->setEnabled(true);
        setControlValue(findControl(w.veskEd, TTypControlID), 3);
        setControlValue(findControl(w.veskEd, TPrTControlID), 1);
        setControlEnabled(w.veskEd, TDItControlID, false);
        w.veskEd->setWindowTitle(QObject::tr("Add an Event That Follows the Sun"));
        w.veskEd->show();
        w.veskEd->raise();
        w.veskEd->activateWindow();
        w.veskEd->picker()->setFocus();
    } else if (code == QLatin1String("updT")) {
        if (currIDT < 1 || currIDT > state::kMaxCorrections)
            return true;
        mode = 2;
        const state::CorrectionRecord& r = c.VeskNumRecs[static_cast<size_t>(currIDT)];
        // The number of an entry cannot be changed.
        fillPicker(r.eventNumber);
        w.veskEd->picker()->setEnabled(false);
        w.veskEd->setWindowTitle(QObject::tr("Change Event %1").arg(r.eventNumber));
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
        const int answer = m_shell.ask(m_w.vesk, QObject::tr("The Time Correction list has changes that are not saved."),
                                       {QObject::tr("Save"), QObject::tr("Don't Save"), QObject::tr("Cancel")}, 0);
        if (answer == 0) {
            // A save that cannot go through (its reason on the note) keeps the window open.
            if (!controlEnabled(m_w.vesk, TSavControlID)) {
                setNote(kTickAWeekday);
                return true;
            }
            save();
            if (time_chg)
                return true;
        } else if (answer != 1) {
            return true;
        }
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
    if (n > 0 && controlText(findControl(m_w.vesk, TNoteControlID)) == kTickAWeekday)
        setNote({});
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
    QList<QStandardItem*> row;
    for (int column = 0; column < VColCount; ++column) {
        row << new QStandardItem;
        row.back()->setData(slot, kSlotRole);
    }
    m_w.vesk->model()->appendRow(row);
    refreshItem(slot);
}

void TimeCorrectionHandler::refreshItem(int slot)
{
    QStandardItem* number = itemOf(slot);
    if (!number)
        return;
    const sunfollow::FollowedEvent e = sunfollow::followedEvent(m_corrections, slot, m_table, m_today);
    QStandardItemModel* model = m_w.vesk->model();
    const auto set = [&](int column, const QString& text, const QVariant& sortKey) {
        QStandardItem* item = model->item(number->row(), column);
        item->setText(text);
        item->setData(sortKey, kNumberRole);
    };
    set(VColEvent, QString::number(e.event), e.event);
    set(VColTime, e.held ? localeTime(e.time) : QObject::tr("no such event"), e.held ? e.time : -1);
    const QString devices = QString::fromStdString(e.devices);
    set(VColDevice, devices, devices);
    set(VColKind, correctionKindText(e.kind), e.kind);
    set(VColOffset, e.offset ? offsetText(*e.offset) : QString(), e.offset ? *e.offset : -10000);
    set(VColProtect, e.protect ? QObject::tr("Yes") : QString(), e.protect ? 1 : 0);
    model->item(number->row(), VColTime)
        ->setToolTip(e.held ? QString() : QObject::tr("The controller's list holds no event %1: read the CP290 (F5).")
                                               .arg(e.event));
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

void TimeCorrectionHandler::fillPicker(int selectEvent)
{
    VeskEdWindow* ed = m_w.veskEd;
    QStandardItemModel* model = ed->pickModel();
    model->removeRows(0, model->rowCount());
    for (int n = 1; n <= core::kEventCount; ++n) {
        const core::EventRecord* r = m_table.record(n);
        if (!r->used() && n != selectEvent)
            continue;
        QList<QStandardItem*> row{new QStandardItem(QString::number(n)),
                                  new QStandardItem(r->used() ? localeTime(r->hour * 60 + r->minute) : QString()),
                                  new QStandardItem(QString::fromStdString(sunfollow::deviceNamesOf(*r)))};
        row.front()->setData(n, kNumberRole);
        model->appendRow(row);
        if (n == selectEvent)
            ed->picker()->setCurrentIndex(row.front()->index());
    }
    if (selectEvent == 0)
        ed->picker()->clearSelection();
}

int TimeCorrectionHandler::pickedEvent() const
{
    const QModelIndexList rows = m_w.veskEd->picker()->selectionModel()->selectedRows(PColEvent);
    return rows.isEmpty() ? 0 : rows.front().data(kNumberRole).toInt();
}

std::optional<bool> TimeCorrectionHandler::askFarFromSun(int event, int kind)
{
    const core::EventRecord* r = m_table.record(event);
    if (!r || !r->used())
        return false;
    const std::optional<sunfollow::ImpliedOffset> implied =
        sunfollow::impliedOffset(m_today, kind, r->hour * 60 + r->minute);
    if (!implied || !implied->farFromSun)
        return false;
    QString who = QString::fromStdString(sunfollow::deviceNamesOf(*r));
    if (who.isEmpty())
        who = QObject::tr("Event %1").arg(event);
    const QString text = QObject::tr("%1 at %2 is %3 today's %4 (%5).")
                             .arg(who, localeTime(implied->eventTime), offsetText(implied->offset), kindWord(kind),
                                  localeTime(implied->sunTime));
    const int answer = m_shell.ask(m_w.veskEd, text,
                                   {QObject::tr("Keep this offset"), QObject::tr("Move it to %1").arg(kindWord(kind))}, 0);
    if (answer < 0)
        return std::nullopt;
    return answer == 1;
}

void TimeCorrectionHandler::setEventTime(int event, int minutes)
{
    const core::EventRecord* r = m_table.record(event);
    if (!r || !r->used())
        return;
    cp290::EventImage image = r->image();
    image[2] = static_cast<uint8_t>(minutes / 60);
    image[3] = static_cast<uint8_t>(minutes % 60);
    m_table.storeEvent(event, image);
    m_mainList.eventChanged(event);
    setControlEnabled(m_w.main, SavControlID, true);
    m_shell.refreshTitle();
}

void TimeCorrectionHandler::editorOk()
{
    const Windows& w = m_w;
    const int n = pickedEvent();
    if (!core::EventTable::validNumber(n)) {
        QApplication::beep();
        setControlEnabled(w.veskEd, TDItControlID, false);
        return;
    }
    const int kind = controlValue(findControl(w.veskEd, TTypControlID));
    const bool protect = controlValue(findControl(w.veskEd, TPrTControlID)) == 1;
    m_today = sunfollow::sunToday(state::Program::Quorvel);
    // An event far from today's sun time: keep that offset, or move it there.
    const std::optional<bool> move = askFarFromSun(n, kind);
    if (!move)
        return;
    if (*move) {
        QString why;
        const std::optional<int32_t> sunTime = m_today.time(kind);
        if (!sunTime || !bringUpToToday(kind, why)) {
            setNote(why.isEmpty() ? QObject::tr("There is no %1 today at this place.").arg(kindWord(kind)) : why);
            return;
        }
        setEventTime(n, *sunTime);
    }
    const sunfollow::ListResult listed = sunfollow::listFollowing(m_corrections, n, kind, protect, *move, m_today);
    if (!showListed(listed.edit))
        return;
    if (listed.edit.outcome == core::CorrectionEditOutcome::Added) {
        // The editor stays open for the next event.
        fillPicker(0);
        w.veskEd->picker()->setFocus();
    } else {
        if (QWidget* f = w.veskEd->focusWidget())
            f->clearFocus();
        w.veskEd->hide();
    }
}

bool TimeCorrectionHandler::showListed(const core::CorrectionEdit& edit)
{
    const Windows& w = m_w;
    if (edit.outcome == core::CorrectionEditOutcome::Full || edit.outcome == core::CorrectionEditOutcome::Refused)
        return false;
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
    setControlEnabled(w.vesk, TAddControlID, !core::CorrectionList(m_corrections).full());
    // Save waits for the weekdays of the runs: say so rather than leave it greyed.
    if (countDays() > 0)
        setControlEnabled(w.vesk, TSavControlID, true);
    else
        setNote(kTickAWeekday);
    time_chg = true;
    return true;
}

bool TimeCorrectionHandler::bringUpToToday(int kind, QString& why)
{
    state::ControllerCorrections& c = m_corrections;
    m_today = sunfollow::sunToday(state::Program::Quorvel);
    if (!sunfollow::behindToday(c, kind, m_today))
        return true;
    int status = 0;
    m_shell.runOperation([&] { status = sunfollow::bringUpToToday(m_ops.devicePath()); });
    if (status != 0) {
        why = QObject::tr("The events that follow %1 could not be brought up to today first, so nothing was "
                          "changed (see the log: journalctl -t Quorvel).")
                  .arg(kindWord(kind));
        return false;
    }
    // The run stored the kind's new reference date and the zone flags: take
    // them, keeping the list's other edits.
    state::ControllerCorrections stored;
    state::getVeskParms(stored);
    c.SUTime = kind == sunfollow::kSunrise ? stored.SUTime : c.SUTime;
    c.SDTime = kind == sunfollow::kSunset ? stored.SDTime : c.SDTime;
    const core::CorrectionList storedList(stored);
    for (int slot = 1; slot <= state::kMaxCorrections; ++slot) {
        state::CorrectionRecord& r = c.VeskNumRecs[static_cast<size_t>(slot)];
        if (const int from = r.eventNumber > 0 ? storedList.slotOf(r.eventNumber) : 0)
            r.zone = stored.VeskNumRecs[static_cast<size_t>(from)].zone;
    }
    // The CP290's events moved: read them, unless that would drop unsent changes.
    if (!m_table.hasUnsavedChanges())
        m_shell.runOperation([&] { m_ops.GetEventList(); });
    else
        m_shell.setNote(QObject::tr("The CP290's events that follow %1 were brought up to today; read the CP290 "
                                    "(F5) to see their times.")
                            .arg(kindWord(kind)),
                        false);
    if (isOpen()) {
        showDates();
        for (int row = 0; row < m_w.vesk->model()->rowCount(); ++row)
            refreshItem(m_w.vesk->model()->item(row, 0)->data(kSlotRole).toInt());
    }
    return true;
}

QString TimeCorrectionHandler::listFollowing(int event, int kind, bool timeSetToday)
{
    m_today = sunfollow::sunToday(state::Program::Quorvel);
    const sunfollow::ListResult listed =
        sunfollow::listFollowing(m_corrections, event, kind, std::nullopt, timeSetToday, m_today);
    if (listed.edit.outcome == core::CorrectionEditOutcome::Full)
        return QObject::tr("The Time Correction list is full (128 events); event %1 was not listed.").arg(event);
    if (listed.edit.outcome == core::CorrectionEditOutcome::Refused)
        return QObject::tr("Event %1 cannot be listed.").arg(event);
    if (isOpen())
        showListed(listed.edit);
    else if (!state::writeVeskParms(m_corrections))
        return QObject::tr("The Time Correction list could not be written to the preferences (see the log).");
    m_mainList.allChanged();
    return {};
}

QString TimeCorrectionHandler::unlist(int event)
{
    const int slot = core::CorrectionList(m_corrections).slotOf(event);
    if (slot == 0)
        return {};
    if (isOpen()) {
        if (QStandardItem* item = itemOf(slot))
            m_w.vesk->model()->removeRow(item->row());
        core::CorrectionList(m_corrections).remove({slot});
        setControlEnabled(m_w.vesk, TAddControlID, true);
        setControlEnabled(m_w.vesk, TSavControlID, m_corrections.ceCount == 0 || countDays() > 0);
        time_chg = true;
        selectionChanged();
    } else {
        const bool written = sunfollow::unfollow(event) == sunfollow::ListEditStatus::Done;
        state::getVeskParms(m_corrections);
        if (!written)
            return QObject::tr("The Time Correction list could not be written to the preferences (see the log).");
    }
    m_mainList.allChanged();
    return {};
}

std::optional<sunfollow::FollowedEvent> TimeCorrectionHandler::followed(int event) const
{
    const int slot = core::CorrectionList(m_corrections).slotOf(event);
    if (slot == 0)
        return std::nullopt;
    return sunfollow::followedEvent(m_corrections, slot, m_table, sunfollow::sunToday(state::Program::Quorvel));
}

bool TimeCorrectionHandler::isOpen() const
{
    return m_w.vesk->isVisible();
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
