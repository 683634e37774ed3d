#include "quorvel/clock_sync_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <algorithm>
#include <iterator>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "quorvel/control_ids.h"
#include "quorvel/formats.h"
#include "quorvel/planning_runs.h"
#include "quorvel/controls.h"
#include "quorvel/main_window.h"
#include "quorvel/planning_outcome.h"
#include "state/crontab_plans.h"
#include "state/preferences.h"

namespace ui {
namespace {

constexpr const char* kDayCommands[] = {"mRst", "tRst", "wRst", "hRst", "fRst", "sRst", "uRst"};

}  // namespace

SyncWindow::SyncWindow(QWidget* parent) : ShellDialog(parent, tr("Clock Sync"))
{
    auto* box = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Set the CP290's clock from this computer's clock on these days:"));
    intro->setWordWrap(true);
    box->addWidget(intro);

    auto* days = new QGridLayout;
    const QString names[] = {tr("Monday"), tr("Tuesday"), tr("Wednesday"), tr("Thursday"),
                             tr("Friday"), tr("Saturday"), tr("Sunday")};
    for (int d = 0; d < 7; ++d)
        days->addWidget(commandCheckBox(names[d], kDayCommands[d], CMonControlID + d), d % 4, d / 4);
    box->addLayout(days);

    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(tr("At:")));
    auto* time = withId(new QTimeEdit(QTime(1, 0)), CTimControlID);
    time->setDisplayFormat(timeFormat());
    timeRow->addWidget(time);
    timeRow->addStretch();
    box->addLayout(timeRow);
    auto* note = new QLabel(tr("Saving with no day checked stops the clock sync."));
    note->setWordWrap(true);
    note->setEnabled(false);
    box->addWidget(note);
    m_runs = new QLabel;
    m_runs->setWordWrap(true);
    box->addWidget(m_runs);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    QPushButton* save = commandButton(tr("Save"), "savC", CSavControlID);
    save->setDefault(true);
    buttons->addWidget(save);
    box->addLayout(buttons);
    setMinimumWidth(340);
}

SyncWindowHandler::SyncWindowHandler(Shell& shell, const Windows& windows, const state::Preferences& prefs)
    : m_shell(shell), m_w(windows), m_prefs(prefs)
{
    // The clock control sends 'rTim' when changed, as the check boxes send theirs.
    auto* time = static_cast<QTimeEdit*>(findControl(m_w.sync, CTimControlID));
    QObject::connect(time, &QTimeEdit::timeChanged, time, [this] {
        m_shell.command(m_w.sync, QStringLiteral("rTim"));
    });
}

SyncWindowHandler::~SyncWindowHandler() = default;

void SyncWindowHandler::open()
{
    QWidget* w = m_w.sync;
    m_plan = std::make_unique<state::ClockSyncPlanning>(state::Program::Quorvel, m_prefs.app_Path);
    m_shell.openPlanningWindow(w);  // disables the planning menu first
    if (!m_plan->open())
        m_shell.showError(kCrontabNotReadText);
    setControlTime(findControl(w, CTimControlID), QTime(m_plan->hour(), m_plan->minute()));
    for (int d = 1; d <= 7; ++d)
        setControlValue(findControl(w, CMonControlID + d - 1), m_plan->cronDays()[static_cast<size_t>(d)]);
    setControlEnabled(w, CSavControlID, false);
    showRuns();
}

void SyncWindowHandler::showRuns()
{
    m_w.sync->setRuns(planRunsText("tamsel"));
}

void SyncWindow::setRuns(const QString& text)
{
    m_runs->setText(text);
}

bool SyncWindowHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("savC")) {
        save();
        return true;
    }
    if (code == QLatin1String("rTim") || std::any_of(std::begin(kDayCommands), std::end(kDayCommands),
                                                     [&](const char* c) { return code == QLatin1String(c); })) {
        setControlEnabled(m_w.sync, CSavControlID, true);
        return true;
    }
    return false;
}

bool SyncWindowHandler::save()
{
    if (!m_plan)
        return false;
    QWidget* w = m_w.sync;
    const QTime t = controlTime(findControl(w, CTimControlID));
    std::array<int32_t, 8> days{};
    for (int d = 1; d <= 7; ++d)
        days[static_cast<size_t>(d)] = controlValue(findControl(w, CMonControlID + d - 1)) ? 1 : 0;
    const state::InstallResult r = m_plan->save(t.hour(), t.minute(), days);
    if (r != state::InstallResult::Installed) {
        // The user's choice stays on screen to save again.
        m_shell.showError(planningOutcomeText(r, m_plan->refusalMessage()));
        return false;
    }
    setControlEnabled(w, CSavControlID, false);
    showRuns();
    return true;
}

bool SyncWindowHandler::handleClose()
{
    if (m_plan && controlEnabled(m_w.sync, CSavControlID)) {
        m_shell.askToSave(WarnUnsaved, QObject::tr("The clock sync plan has changes that were not saved. "
                                                   "Save them before closing?"),
                          [this] { return save() && (close(), true); }, [this] { close(); });
        return true;
    }
    close();
    return true;
}

void SyncWindowHandler::close()
{
    m_shell.closePlanningWindow(m_w.sync);
    if (m_plan)
        m_plan->close();
    m_plan.reset();
}

}  // namespace ui
