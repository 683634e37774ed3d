#pragma once
// The Year Ahead window: the times the planned sun corrections will give the
// listed events over the next 365 days, over the daylight between sunrise
// and sunset at the stored location, with a marker on each date a virtual
// schedule loads a file. Read-only: it computes from the main window's event
// table, the correction list and the crontab, and changes none of them.
//
// Controls: the explanation (480), the point under the mouse (481), Export
// ('YAex', 482) and Close.
#include <QString>
#include <vector>

#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/shell_dialog.h"
#include "quorvel/windows.h"
#include "core/year_preview.h"

class QChart;
class QChartView;
class QLabel;
class QPointF;

namespace ui {


class YearAheadWindow : public ShellDialog {
public:
    explicit YearAheadWindow(QWidget* parent);

    // Draws the days; `loads` are the planned schedule loads.
    void showPreview(const std::vector<core::suncorrection::PreviewDay>& days, const std::vector<core::PlannedLoad>& loads);
    // Leaves the chart empty, saying why.
    void showNothing(const QString& why);

    // The chart as a PNG, written whole or not at all; false with the reason.
    bool exportPng(const QString& path, QString& why) const;

    // The text the window shows for a point of a series: the day's date
    // and the time (an event's, the load's, or sunrise and sunset).
    QString pointText(const QString& series, qint64 msecs, double hours) const;

private:
    void clearChart();
    void showPoint(const QString& series, const QPointF& p);

    std::vector<core::suncorrection::PreviewDay> m_days;
    QString m_daylightName;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLabel* m_hover = nullptr;
};

class YearAheadHandler : public CommandHandler {
public:
    // The chart starts from the main window's events (`table`).
    YearAheadHandler(Shell& shell, const Windows& windows, const core::EventTable& table)
        : m_shell(shell), m_w(windows), m_table(table)
    {
    }
    void open();  // 'yrAh'
    bool handleCommand(const QString& code) override;

private:
    Shell& m_shell;
    const Windows& m_w;
    const core::EventTable& m_table;
};

}  // namespace ui
