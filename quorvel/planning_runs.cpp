#include "quorvel/planning_runs.h"

#include <QObject>

#include "core/automation_status.h"
#include "platform/clock.h"
#include "quorvel/formats.h"

namespace ui {

QString planRunsText(const char* tool)
{
    const auto row = core::readAutomationRow(tool, platform::now());
    if (!row)
        return QObject::tr("Last run: none recorded. Next run: none planned.");
    QString last = QObject::tr("none recorded");
    if (row->lastRun) {
        last = dateTimeText(row->lastRun->when) + QStringLiteral(", ") +
               QString::fromLatin1(state::outcomeText(row->lastRun->outcome));
        if (!row->lastRun->summary.empty())
            last += QStringLiteral(" (") + QString::fromStdString(row->lastRun->summary) + QLatin1Char(')');
    }
    const QString next = row->nextRun ? dateTimeText(*row->nextRun) : QObject::tr("none planned");
    // Warnings stay in the Automation window, which has room for them.
    return QObject::tr("Last run: %1. Next run: %2.").arg(last, next);
}

}  // namespace ui
