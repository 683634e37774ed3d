#include "quorvel/event_list_model.h"

#include <QTime>

#include "core/event_table.h"
#include "quorvel/formats.h"

namespace ui {
namespace {
constexpr const char* kHeaders[] = {"No.", "Time", "Days", "Function", "Dim", "Mode", "Devices"};
constexpr int kTimeKeyRole = Qt::UserRole + 1;
}  // namespace

EventListModel::EventListModel(const core::EventTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
}

QString EventListModel::text(int n, int column) const
{
    const core::EventRecord* r = m_table.record(n);
    if (!r)
        return {};
    // A free slot shows its number only, whatever bytes it holds.
    if (!r->used() && column != ColEvtn)
        return {};
    switch (column) {
    case ColEvtn: return QString::number(n) + (r->changed ? QStringLiteral(" *") : QString());
    case ColTime: return timeText(QTime(r->hour, r->minute));
    case ColDevs: return QString::fromStdString(core::devicesText(*r, m_table.deviceNames()));
    case ColDays: return QString::fromStdString(r->dayStr);
    case ColFunc: return QString::fromStdString(core::functionText(r->levelFunc));
    case ColDimm: return QString::fromStdString(core::levelText(r->levelFunc));
    case ColMode: {
        QString s = QString::fromStdString(core::securityText(r->eventMode));
        // What the event follows when the correction list holds it.
        const QString mark = r->used() && m_correctionMark ? m_correctionMark(n) : QString();
        return s.isEmpty() || mark.isEmpty() ? s + mark : s + QLatin1Char(' ') + mark;
    }
    default: return {};
    }
}

void EventListModel::eventChanged(int n)
{
    if (n < 1 || n > kRows)
        return;
    emit dataChanged(index(n - 1, 0), index(n - 1, ColumnCount - 1));
}

void EventListModel::allChanged()
{
    emit dataChanged(index(0, 0), index(kRows - 1, ColumnCount - 1));
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kRows;
}

int EventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int n = index.row() + 1;
    switch (role) {
    case Qt::DisplayRole: return text(n, index.column());
    case Qt::ToolTipRole:
        if (index.column() == ColEvtn && m_table.record(n)->changed)
            return tr("Changed: not yet sent to the CP290");
        return index.column() == ColDevs ? text(n, ColDevs) : QVariant();
    case Qt::UserRole: return n;
    case kTimeKeyRole: return EventSortProxy::timeKey(m_table, n);
    case Qt::TextAlignmentRole:
        if (index.column() == ColEvtn || index.column() == ColDimm)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default: return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return QString::fromLatin1(kHeaders[section]);
    return {};
}

int EventSortProxy::timeKey(const core::EventTable& table, int n)
{
    const core::EventRecord* r = table.record(n);
    return r && r->used() ? r->hour * 100 + r->minute : 0;
}

bool EventSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int nl = left.data(Qt::UserRole).toInt();
    const int nr = right.data(Qt::UserRole).toInt();
    if (left.column() == EventListModel::ColDevs) {
        const core::EventRecord& a = *m_table.record(nl);
        const core::EventRecord& b = *m_table.record(nr);
        if (core::devicesBefore(a, b) || core::devicesBefore(b, a))
            return core::devicesBefore(a, b);
    }
    if (left.column() == EventListModel::ColTime) {
        const int kl = left.data(kTimeKeyRole).toInt();
        const int kr = right.data(kTimeKeyRole).toInt();
        if (kl != kr)
            return kl < kr;
    }
    // Equal times (and every other column) fall back on the number, which
    // keeps the order strict.
    return nl < nr;
}

}  // namespace ui
