#include "quorvel/automation_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/automation_status.h"
#include "core/snapshot.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/main_window_handler.h"
#include "platform/clock.h"

namespace ui {

namespace {

enum WorkColumn { WorkTitle, WorkNext, WorkPlan };
enum SnapshotColumn { SnapTaken, SnapTool, SnapFile, SnapChanges };

const QColor kWarningColour(0xa0, 0x00, 0x00);

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// A cell whose whole text stays readable when the column cuts it.
void setCell(QTreeWidgetItem* item, int column, const QString& text)
{
    item->setText(column, text);
    item->setToolTip(column, text);
}

QString outcomeWords(state::RunOutcome o)
{
    switch (o) {
    case state::RunOutcome::Ok:
        return QObject::tr("OK");
    case state::RunOutcome::NothingToDo:
        return QObject::tr("nothing to do");
    case state::RunOutcome::Interrupted:
        return QObject::tr("interrupted");
    case state::RunOutcome::Failed:
        break;
    }
    return QObject::tr("failed");
}

QTreeWidget* makeList(int id, const QStringList& headers)
{
    auto* list = withId(new QTreeWidget, id);
    list->setColumnCount(static_cast<int>(headers.size()));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setWordWrap(true);
    list->setUniformRowHeights(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->header()->setStretchLastSection(true);
    return list;
}

}  // namespace

// --- The window -------------------------------------------------------------

AutomationWindow::AutomationWindow(QWidget* parent) : ShellDialog(parent, tr("Automation"))
{
    auto* box = new QVBoxLayout(this);
    auto* workTitle = new QLabel(tr("<b>Planned work</b> — what cron runs, when it runs next, how the last run went"));
    box->addWidget(workTitle);
    auto* cron = withId(new QLabel, ACronControlID);
    cron->setWordWrap(true);
    cron->setStyleSheet(QStringLiteral("color: #a00000;"));
    cron->hide();
    box->addWidget(cron);
    m_work = makeList(AWrkControlID, {tr("Work"), tr("Next run"), tr("Planned")});
    m_work->setSelectionMode(QAbstractItemView::NoSelection);
    m_work->setFocusPolicy(Qt::NoFocus);
    m_work->setMinimumHeight(150);
    m_work->header()->resizeSection(WorkTitle, 190);
    m_work->header()->resizeSection(WorkNext, 170);
    box->addWidget(m_work, 3);

    auto* snapTitle = new QLabel(
        tr("<b>Snapshots</b> — the CP290's events before a tool changed them, newest first. "
           "Open one, then send it with Send All to go back."));
    snapTitle->setWordWrap(true);
    box->addWidget(snapTitle);
    m_snapshots = makeList(ASnpControlID, {tr("Taken"), tr("By"), tr("File"), tr("Changed since the one before")});
    m_snapshots->setSelectionMode(QAbstractItemView::SingleSelection);
    m_snapshots->setMinimumHeight(120);
    for (const int c : {SnapTaken, SnapTool, SnapFile})
        m_snapshots->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    box->addWidget(m_snapshots, 2);
    auto* none = withId(new QLabel, ANoSnpControlID);
    none->setWordWrap(true);
    none->setTextInteractionFlags(Qt::TextSelectableByMouse);
    none->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    none->setMinimumHeight(120);
    none->setFrameShape(QFrame::StyledPanel);  // where the list would be
    none->setMargin(8);
    none->hide();
    box->addWidget(none, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(commandButton(tr("Open"), "opnA", AOpnControlID));
    buttons->addWidget(commandButton(tr("Refresh"), "rfsA", ARfsControlID));
    buttons->addStretch();
    // What the planned sun corrections will do next: the application's command.
    buttons->addWidget(commandButton(tr("Year Ahead…"), "yrAh", AYearControlID));
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    box->addLayout(buttons);
    resize(900, 600);
}

void AutomationWindow::setStatus(const core::AutomationStatus& s)
{
    auto* cron = findControl(this, ACronControlID);
    QStringList warnings;
    if (!s.crontabRead)
        warnings << tr("The crontab could not be read, so what it plans is not known. "
                       "The last runs come from the run history. Refresh to try again.");
    if (!s.deviceMemory.empty())
        warnings << QString::fromStdString(s.deviceMemory);
    setControlText(cron, warnings.join(QStringLiteral("\n")));
    cron->setVisible(!warnings.isEmpty());
    fillWork(s);
    fillSnapshots(s);
}

void AutomationWindow::fillWork(const core::AutomationStatus& s)
{
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    // Titles without a warning keep the place of its icon, so they line up.
    QPixmap blank(m_work->iconSize().isValid() ? m_work->iconSize() : QSize(16, 16));
    blank.fill(Qt::transparent);
    m_work->clear();
    for (const core::AutomationRow& r : s.rows) {
        auto* item = new QTreeWidgetItem(m_work);
        setCell(item, WorkTitle, qs(r.title));
        item->setToolTip(WorkTitle, tr("%1, run by %2").arg(qs(r.title), qs(r.tool)));
        setCell(item, WorkPlan, r.planned ? qs(r.plan) : s.crontabRead ? tr("Not planned") : tr("Not known"));
        setCell(item, WorkNext, r.nextRun ? qs(core::runTimeText(*r.nextRun)) : tr("—"));
        item->setIcon(WorkTitle, r.warnings.empty() ? QIcon(blank) : warning);
        // The last run and each warning on a line of their own under the
        // work, across the whole list, so a long summary stays readable.
        auto* last = new QTreeWidgetItem(item);
        last->setFirstColumnSpanned(true);
        last->setIcon(WorkTitle, QIcon(blank));
        if (r.lastRun) {
            QString text = tr("Last run: %1 %2")
                               .arg(qs(core::runTimeText(r.lastRun->when)), outcomeWords(r.lastRun->outcome));
            if (!r.lastRun->summary.empty())
                text += QStringLiteral(": ") + qs(r.lastRun->summary);
            setCell(last, WorkTitle, text);
            if (r.lastRun->outcome == state::RunOutcome::Failed ||
                r.lastRun->outcome == state::RunOutcome::Interrupted) {
                last->setForeground(WorkTitle, kWarningColour);
                last->setIcon(WorkTitle, warning);
            }
        } else {
            setCell(last, WorkTitle, tr("Last run: none recorded"));
        }
        for (const std::string& w : r.warnings) {
            // The red last-run line above already says it failed, and why.
            if (r.lastRun && w == core::failedRunWarning(*r.lastRun))
                continue;
            QString text = qs(w);
            if (!text.isEmpty())
                text[0] = text[0].toUpper();
            auto* line = new QTreeWidgetItem(item);
            setCell(line, WorkTitle, text);
            line->setIcon(WorkTitle, warning);
            line->setForeground(WorkTitle, kWarningColour);
            line->setFirstColumnSpanned(true);
        }
    }
    m_work->expandAll();
}

void AutomationWindow::fillSnapshots(const core::AutomationStatus& s)
{
    m_snapshots->clear();
    for (const core::SnapshotRow& r : s.snapshots) {
        auto* item = new QTreeWidgetItem(m_snapshots);
        const QString path = qs(r.path);
        item->setData(SnapTaken, Qt::UserRole, path);
        QString tool;
        const auto stamp = core::snapshotStamp(r.path);
        if (stamp) {
            setCell(item, SnapTaken, qs(core::runTimeText(stamp->when)));
            tool = qs(stamp->tool);
            // The work the tool does, as the list above names it.
            for (const core::AutomationRow& w : s.rows)
                if (w.tool == stamp->tool)
                    tool = qs(w.title);
        }
        item->setText(SnapTool, tool);
        item->setToolTip(SnapTool, tr("Written by %1 before it changed the CP290's events")
                                       .arg(stamp ? qs(stamp->tool) : tr("a tool")));
        if (r.changes.empty()) {
            item->setText(SnapChanges, tr("—"));
            item->setToolTip(SnapChanges, tr("The oldest snapshot listed: nothing older to compare with"));
        } else {
            setCell(item, SnapChanges, qs(r.changes));
        }
        item->setText(SnapFile, path.section(QLatin1Char('/'), -1));
        item->setToolTip(SnapFile, path);
    }
    const bool none = s.snapshots.empty();
    auto* empty = findControl(this, ANoSnpControlID);
    setControlText(empty, none ? tr("No snapshots yet in %1\n\nThe schedule loader and the sun-correction tool save "
                                    "the CP290's events here before they change them.")
                                     .arg(qs(core::snapshotFolder()))
                               : QString());
    empty->setVisible(none);
    m_snapshots->setVisible(!none);
}

QString AutomationWindow::selectedSnapshot() const
{
    const QList<QTreeWidgetItem*> items = m_snapshots->selectedItems();
    return items.isEmpty() ? QString() : items.first()->data(SnapTaken, Qt::UserRole).toString();
}

// --- The handler --------------------------------------------------------------

AutomationHandler::AutomationHandler(Shell& shell, const Windows& windows, MainWindowHandler& mainList)
    : m_shell(shell), m_w(windows), m_mainList(mainList)
{
    auto* list = static_cast<QTreeWidget*>(findControl(window(), ASnpControlID));
    QObject::connect(list, &QTreeWidget::itemSelectionChanged, window(), [this] { selectionChanged(); });
    // A double-click or Enter on a row is Open.
    QObject::connect(list, &QTreeWidget::itemActivated, window(),
                     [this] { m_shell.command(window(), QStringLiteral("opnA")); });
    selectionChanged();
}

AutomationWindow* AutomationHandler::window() const
{
    return m_w.automation;
}

void AutomationHandler::open()
{
    refresh();
    window()->show();
    window()->raise();
    window()->activateWindow();
}

void AutomationHandler::refreshIfShown()
{
    if (window()->isVisible())
        refresh();
}

void AutomationHandler::refresh()
{
    // The same row stays selected when it is still listed.
    const QString keep = window()->selectedSnapshot();
    window()->setStatus(core::readAutomationStatus(platform::now(), core::kSnapshotKeep));
    auto* list = static_cast<QTreeWidget*>(findControl(window(), ASnpControlID));
    for (int i = 0; !keep.isEmpty() && i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->data(0, Qt::UserRole).toString() == keep)
            list->setCurrentItem(list->topLevelItem(i));
    selectionChanged();
}

void AutomationHandler::selectionChanged()
{
    setControlEnabled(window(), AOpnControlID, !window()->selectedSnapshot().isEmpty());
}

void AutomationHandler::openSnapshot()
{
    const QString path = window()->selectedSnapshot();
    if (!path.isEmpty())
        m_mainList.openSchedule(path);
}

bool AutomationHandler::handleCommand(const QString& code)
{
    if (code == QLatin1String("opnA"))
        openSnapshot();
    else if (code == QLatin1String("rfsA"))
        refresh();
    else
        return false;
    return true;
}

bool AutomationHandler::handleClose()
{
    window()->hide();
    return true;
}

}  // namespace ui
