#pragma once
// The main window's list of the 128 event slots.
//
// Principles of operation: EventListModel shows the event table as it stands
// (row n - 1 = event n, always 128 rows) in six columns (number, time, days,
// function, dim level, mode, with what a listed event follows: "sunset"); it
// only reads the texts the table built when the record was stored, and a
// seventh, the devices the event switches ("A1 Porch lamp, A3"). A changed
// event (not yet sent or saved) shows "*" after its number. EventSortProxy
// gives the list its sort order: by time (hour * 100 + minute, free slots
// count as 0) for the Time column, by house and units for the Devices column,
// by event number for every other column. The event number is the item's ID
// under Qt::UserRole.
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <functional>

namespace core {
class EventTable;
}

namespace ui {

class EventListModel : public QAbstractTableModel {
public:
    enum Column { ColEvtn, ColTime, ColDays, ColFunc, ColDimm, ColMode, ColDevs, ColumnCount };
    static constexpr int kRows = 128;

    // correctionMark(n): what the correction list makes event n follow
    // ("sunset", "sunrise", "DST"), empty when it is not listed.
    using CorrectionMark = std::function<QString(int)>;

    explicit EventListModel(const core::EventTable& table, QObject* parent = nullptr);
    void setCorrectionMark(CorrectionMark mark) { m_correctionMark = std::move(mark); }

    // The text the list shows for event n in a column.
    QString text(int eventNumber, int column) const;

    // Redraw one event's row, or all of them.
    void eventChanged(int eventNumber);
    void allChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const core::EventTable& m_table;
    CorrectionMark m_correctionMark;
};

class EventSortProxy : public QSortFilterProxyModel {
public:
    EventSortProxy(const core::EventTable& table, QObject* parent) : QSortFilterProxyModel(parent), m_table(table) {}
    // The time key: hour * 100 + minute, 0 for a free slot.
    static int timeKey(const core::EventTable& table, int eventNumber);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    const core::EventTable& m_table;
};

}  // namespace ui
