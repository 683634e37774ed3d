#include "quorvel/edit_window_handler.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>
#include <QTime>

#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/edit_window.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/time_correction_handler.h"
#include "quorvel/time_correction_window.h"
#include "core/event_table.h"
#include "core/sun_following.h"

namespace ui {

namespace {
constexpr int kFuncOn = 1;
constexpr int kFuncOff = 2;
constexpr int kFixedTime = 1;  // ETimeKindControlID: 1 fixed, 2 at sunrise, 3 at sunset
}  // namespace

void EditWindowHandler::installKeyFilter()
{
    EventNumberGuard::install(m_w.edit->numberField(),
                              [this](OkEffect effect) { keyEffect(effect); });
    auto* offset = static_cast<QSpinBox*>(findControl(m_w.edit, EOffsetControlID));
    QObject::connect(offset, &QSpinBox::valueChanged, m_w.edit, [this] { sunChanged(); });
}

int EditWindowHandler::sunKind() const
{
    switch (controlValue(findControl(m_w.edit, ETimeKindControlID))) {
    case 2: return core::sunfollow::kSunrise;
    case 3: return core::sunfollow::kSunset;
    default: return 0;
    }
}

void EditWindowHandler::sunChanged()
{
    EditWindow* e = m_w.edit;
    const int kind = sunKind();
    setControlEnabled(e, TimeControlID, kind == 0);
    findControl(e, EOffsetControlID)->setVisible(kind != 0);
    QWidget* label = findControl(e, ESunTimeControlID);
    label->setVisible(kind != 0);
    m_sunTimeOk = true;
    if (kind != 0) {
        const core::sunfollow::SunToday today = core::sunfollow::sunToday(state::Program::Quorvel);
        const int offset = controlValue(findControl(e, EOffsetControlID));
        const QString word = kind == core::sunfollow::kSunrise ? QObject::tr("sunrise") : QObject::tr("sunset");
        const std::optional<int32_t> sun = today.time(kind);
        const std::optional<int32_t> t = core::sunfollow::followTime(today, kind, offset);
        m_sunTimeOk = t.has_value();
        if (t)
            setControlTime(findControl(e, TimeControlID), QTime(*t / 60, *t % 60));
        if (!today.place)
            setControlText(label, QObject::tr("No place is known for the sun's times: enter your latitude and "
                                              "longitude in Planning > Time Correction."));
        else if (!sun)
            setControlText(label, QObject::tr("There is no %1 today at this place.").arg(word));
        else if (!t)
            setControlText(label, QObject::tr("Today's %1 is at %2; that offset leaves the day.")
                                      .arg(word, localeTime(*sun)));
        else
            setControlText(label, QObject::tr("Today's %1 is at %2. The event follows %1 all year.")
                                      .arg(word, localeTime(*sun)));
    }
    checkOk();
}

void EditWindowHandler::openNew()
{
    EditWindow* e = m_w.edit;
    MainWindowHandler& main = m_mainList;
    m_mode = ModeAdd;
    if (main.currID() != 0) {
        main.clearSelection();
        main.setUpdDel(false, false);
    }
    m_table.setCurHC(1);
    setControlValue(findControl(e, HouseControlID), 1);
    SetDeviceNames(0);
    setControlText(findControl(e, ENumControlID), QString::number(m_table.getNextNum(0)));
    setControlValue(findControl(e, DimControlID), 0);
    setControlEnabled(e, DimControlID, true);
    setControlValue(findControl(e, ModeControlID), 1);
    setControlValue(findControl(e, FuncControlID), kFuncOn);
    for (int id = MonControlID; id <= SunControlID; ++id)
        setControlValue(findControl(e, id), 1);
    setControlValue(findControl(e, ETimeKindControlID), kFixedTime);
    setControlValue(findControl(e, EOffsetControlID), 0);
    sunChanged();
    setControlEnabled(e, DoItControlID, false);
    e->setWindowTitle(QObject::tr("New Event"));
    e->show();
    e->raise();
    e->activateWindow();
    e->numberField()->setFocus();
    e->numberField()->selectAll();
}

void EditWindowHandler::openChange(int n)
{
    const core::EventRecord* r = m_table.record(n);
    if (!r)
        return;
    EditWindow* e = m_w.edit;
    m_mode = ModeChange;
    m_changing = n;
    setControlEnabled(e, DoItControlID, true);
    for (int d = 0; d < 7; ++d)
        setControlValue(findControl(e, MonControlID + d), (r->days >> d) & 1);
    setControlTime(findControl(e, TimeControlID), QTime(r->hour % 24, r->minute % 60));
    const bool off = (r->levelFunc & 0x0F) == 3;
    setControlValue(findControl(e, FuncControlID), off ? kFuncOff : kFuncOn);
    setControlEnabled(e, DimControlID, !off);
    setControlValue(findControl(e, DimControlID), (r->levelFunc >> 4) & 0x0F);
    // Security when the mode's low nibble says so (as the list's "S"), so a
    // mode byte other than 8 or 9 read from a device still maps to an item.
    setControlValue(findControl(e, ModeControlID), (r->eventMode & 0x0F) == 9 ? 2 : 1);
    const int house = cp290::houseIndexFromCode(r->houseCode, 1);
    m_table.setCurHC(house);
    setControlValue(findControl(e, HouseControlID), house);
    SetDeviceNames(house - 1);
    setControlText(findControl(e, ENumControlID), QString::number(r->eventNum));
    // An event that follows sunrise or sunset opens with its offset of today.
    const std::optional<core::sunfollow::FollowedEvent> followed = m_follower ? m_follower->followed(n) : std::nullopt;
    const bool sun = followed && followed->offset &&
                     (followed->kind == core::sunfollow::kSunrise || followed->kind == core::sunfollow::kSunset);
    setControlValue(findControl(e, EOffsetControlID), sun ? *followed->offset : 0);
    setControlValue(findControl(e, ETimeKindControlID), sun ? followed->kind + 1 : kFixedTime);
    sunChanged();
    setControlEnabled(e, DoItControlID, m_sunTimeOk);
    e->setWindowTitle(QObject::tr("Change Event %1").arg(n));
    e->show();
    e->raise();
    e->activateWindow();
    e->numberField()->setFocus();
}

void EditWindowHandler::SetDeviceNames(int h)
{
    EditWindow* e = m_w.edit;
    const core::EventRecord* r =
        m_mode == ModeChange ? m_table.record(m_changing) : nullptr;
    for (int i = 0; i < 16; ++i) {
        QWidget* box = findControl(e, UnitFirstControlID + i);
        bool on = false;
        if (r)
            on = i < 8 ? (r->units1to8 & (0x80 >> i)) : (r->units9to16 & (0x80 >> (i - 8)));
        setControlValue(box, on ? 1 : 0);
    }
    titleUnits(h);
    if (m_mode == ModeAdd)
        setControlEnabled(e, DoItControlID, false);
}

void EditWindowHandler::titleUnits(int h)
{
    EditWindow* e = m_w.edit;
    for (int i = 0; i < 16; ++i) {
        QWidget* box = findControl(e, UnitFirstControlID + i);
        // "1 Porch lamp"; a unit nobody named shows its number alone.
        const std::string& stored = m_table.deviceNames().name(h + 1, i + 1);
        const QString full = stored == state::defaultDeviceName(i + 1) ? QString() : QString::fromStdString(stored);
        setControlText(box, (QString::number(i + 1) + QLatin1Char(' ') + full.left(state::kShownDeviceName)).trimmed());
        box->setToolTip(full);
    }
}

int EditWindowHandler::getDevs() const
{
    int count = 0;
    for (int i = 0; i < 16; ++i)
        count += controlValue(findControl(m_w.edit, UnitFirstControlID + i));
    return count;
}

int EditWindowHandler::getDays() const
{
    int count = 0;
    for (int id = MonControlID; id <= SunControlID; ++id)
        count += controlValue(findControl(m_w.edit, id));
    return count;
}

void EditWindowHandler::checkOk()
{
    EditWindow* e = m_w.edit;
    const bool ok = !e->numberField()->text().isEmpty() && getDevs() > 0 && getDays() > 0 && m_sunTimeOk;
    setControlEnabled(e, DoItControlID, ok);
}

void EditWindowHandler::keyEffect(OkEffect effect)
{
    if (effect == OkEffect::Disable)
        setControlEnabled(m_w.edit, DoItControlID, false);
    else if (effect == OkEffect::Recheck)
        checkOk();
}

bool EditWindowHandler::handleCommand(const QString& code)
{
    EditWindow* e = m_w.edit;
    if (code == QLatin1String("doIt")) {
        storeEvent();
    } else if (code == QLatin1String("dayc")) {
        checkOk();
    } else if (code == QLatin1String("devc")) {
        // The focus stays on the units, so the next one is a Tab away.
        checkOk();
    } else if (code == QLatin1String("onff")) {
        const bool off = controlValue(findControl(e, FuncControlID)) == kFuncOff;
        if (off)
            setControlValue(findControl(e, DimControlID), 0);
        setControlEnabled(e, DimControlID, !off);
    } else if (code == QLatin1String("CPHc")) {
        const int house = controlValue(findControl(e, HouseControlID));
        m_table.setCurHC(house);
        SetDeviceNames(m_table.curHC() - 1);
        e->setDrawerOpen(true);
    } else if (code == QLatin1String("devE")) {
        e->setDrawerOpen(!e->drawerOpen());
    } else if (code == QLatin1String("sunK")) {
        sunChanged();
    } else {
        return false;
    }
    return true;
}

bool EditWindowHandler::handleClose()
{
    EditWindow* e = m_w.edit;
    e->numberField()->clearFocus();
    e->hide();
    return true;
}

void EditWindowHandler::storeEvent()
{
    EditWindow* e = m_w.edit;
    MainWindow* mainWindow = m_w.main;
    setControlText(findControl(mainWindow, SrceControlID), QString(30, QLatin1Char(' ')));

    const int eventNo = e->numberField()->text().toInt();  // empty: 0
    e->numberField()->setFocus();
    if (!core::EventTable::validNumber(eventNo))
        return;
    // An event set from today's sun time: the kind's listed events first come
    // up to today (as a run would bring them), then the time is today's.
    const int kind = sunKind();
    if (kind != 0) {
        QString why;
        if (!m_sunTimeOk || !m_follower || !m_follower->bringUpToToday(kind, why)) {
            m_shell.setNote(why);
            return;
        }
        sunChanged();
    }
    m_pendingSunKind = kind;

    core::EventSettings s;
    s.house = controlValue(findControl(e, HouseControlID));
    s.level = controlValue(findControl(e, DimControlID));
    s.off = controlValue(findControl(e, FuncControlID)) == kFuncOff;
    s.security = controlValue(findControl(e, ModeControlID)) == 2;
    for (int i = 0; i < 16; ++i)
        if (controlValue(findControl(e, UnitFirstControlID + i)))
            s.units |= 1 << i;
    for (int d = 0; d < 7; ++d)
        if (controlValue(findControl(e, MonControlID + d)))
            s.days |= 1 << d;
    const QTime time = controlTime(findControl(e, TimeControlID));
    s.hour = time.hour();
    s.minute = time.minute();
    const cp290::EventImage image = core::eventImage(s);

    // Storing onto another event that is in use replaces it: ask first.
    const bool replaces = m_table.isUsed(eventNo) &&
                          (m_mode != ModeChange || eventNo != m_changing);
    if (replaces) {
        const core::EventRecord& old = *m_table.record(eventNo);
        m_pendingNumber = eventNo;
        m_pendingImage = image;
        m_shell.askBeforeErasing(WarnReplace, QObject::tr("Event %1 is already used (%2 %3, %4). Replace it?")
                          .arg(eventNo)
                          .arg(QString::fromStdString(old.timeStr),
                               QString::fromStdString(old.dayStr).trimmed(),
                               QString::fromStdString(old.devNames[0])),
                                 QObject::tr("Replace"), [this] { replaceConfirmed(); });
        return;
    }
    store(eventNo, image);
}

void EditWindowHandler::replaceConfirmed()
{
    if (m_pendingNumber == 0)
        return;
    const int n = m_pendingNumber;
    m_pendingNumber = 0;
    store(n, m_pendingImage);
}

void EditWindowHandler::offerNumber(int n)
{
    if (!core::EventTable::validNumber(n))
        return;
    EditWindow* e = m_w.edit;
    setControlText(findControl(e, ENumControlID), QString::number(n));
    e->numberField()->selectAll();
}

void EditWindowHandler::store(int eventNo, const cp290::EventImage& image)
{
    EditWindow* e = m_w.edit;
    MainWindow* mainWindow = m_w.main;
    MainWindowHandler& main = m_mainList;
    // Names, texts, the unit count and the changed flag follow from the image.
    m_table.storeEvent(eventNo, image);
    main.SetEventDeviceNames(eventNo);
    main.eventChanged(eventNo);
    // An event that followed sunrise or sunset and now has a fixed time no
    // longer follows the sun.
    // What the note says afterwards: what following the sun did, else that the event is stored.
    QString note = QObject::tr("Event %1 stored; Send… puts it into the CP290").arg(eventNo);
    bool noteIsError = false;
    const std::optional<core::sunfollow::FollowedEvent> was = m_follower ? m_follower->followed(eventNo) : std::nullopt;
    if (m_pendingSunKind == 0 && was &&
        (was->kind == core::sunfollow::kSunrise || was->kind == core::sunfollow::kSunset)) {
        const QString why = m_follower->unlist(eventNo);
        note = why.isEmpty() ? QObject::tr("Event %1 has a fixed time now and no longer follows the sun.").arg(eventNo)
                             : why;
        noteIsError = !why.isEmpty();
    }
    if (m_pendingSunKind != 0 && m_follower) {
        const QString why = m_follower->listFollowing(eventNo, m_pendingSunKind, true);
        const std::optional<bool> planned = core::sunfollow::correctionRunPlanned();
        if (!why.isEmpty()) {
            note = why;
            noteIsError = true;
        } else if (planned && !*planned) {
            note = QObject::tr("Event %1 follows %2. No correction run is planned yet: plan one in "
                               "Planning > Time Correction.")
                       .arg(eventNo)
                       .arg(m_pendingSunKind == core::sunfollow::kSunrise ? QObject::tr("sunrise") : QObject::tr("sunset"));
        }
        m_pendingSunKind = 0;
    }

    if (m_mode == ModeChange) {
        if (eventNo != m_changing)
            main.clearSelection();
        e->numberField()->clearFocus();
        e->hide();
    } else {
        main.revealCentred(eventNo);
        setControlText(findControl(e, ENumControlID),
                       QString::number(m_table.getNextNum(eventNo)));
        e->numberField()->setFocus();
        e->numberField()->selectAll();
    }
    setControlEnabled(mainWindow, SavControlID, true);
    // Events the user just made can be searched too.
    setControlEnabled(mainWindow, FndControlID, true);
    m_shell.setNote(note, noteIsError);
    m_shell.refreshTitle();
}

}  // namespace ui
