#include "quorvel/formats.h"
#include "quorvel/year_ahead_window.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <map>

#include "core/automation_status.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "core/event_table.h"
#include "platform/clock.h"
#include "state/run_plan.h"

namespace ui {
namespace {

constexpr int kDaysAhead = 365;
// Lines that stay apart on the pale daylight band and on white.
const QColor kEventColors[] = {QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44),
                               QColor(148, 103, 189), QColor(255, 127, 14), QColor(23, 190, 207),
                               QColor(140, 86, 75), QColor(227, 119, 194)};
const QColor kLoadColors[] = {QColor(90, 40, 130), QColor(120, 120, 120), QColor(150, 90, 30)};

double hoursOf(int minutes)
{
    return minutes / 60.0;
}

QString hhmm(double hours)
{
    const int minutes = static_cast<int>(std::lround(hours * 60));
    return timeText(QTime(minutes / 60 % 24, minutes % 60));
}

double degrees(int32_t fixed)
{
    return fixed / 1073741824.0 * 90.0;
}

}  // namespace

YearAheadWindow::YearAheadWindow(QWidget* parent)
    : ShellDialog(parent, tr("Year Ahead")), m_daylightName(tr("Daylight (sunrise to sunset)"))
{
    auto* layout = new QVBoxLayout(this);
    auto* info = withId(new QLabel, TYInfoControlID);
    info->setWordWrap(true);
    layout->addWidget(info);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_view = new QChartView(m_chart);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(820, 460);
    layout->addWidget(m_view, 1);

    auto* bottom = new QHBoxLayout;
    m_hover = withId(new QLabel(tr("Point at a line to see its date and time.")), TYHoverControlID);
    bottom->addWidget(m_hover, 1);
    bottom->addWidget(commandButton(tr("Export PNG…"), "YAex", TYExportControlID));
    bottom->addWidget(commandButton(tr("Close"), "clos"));
    layout->addLayout(bottom);
}

QString YearAheadWindow::pointText(const QString& series, qint64 msecs, double hours) const
{
    if (m_days.empty())
        return {};
    // The day whose noon is nearest: the lines join one point per day.
    const qint64 secs = msecs / 1000;
    size_t i = 0;
    while (i + 1 < m_days.size() && std::llabs(m_days[i + 1].noon - secs) < std::llabs(m_days[i].noon - secs))
        ++i;
    const core::suncorrection::PreviewDay& d = m_days[i];
    const QString date = longDateText(QDate(d.year, d.month, d.day));
    const auto minutesText = [](const std::optional<int32_t>& m) {
        return m ? hhmm(hoursOf(*m)) : tr("none");
    };
    if (series == m_daylightName)
        return tr("%1: sunrise %2, sunset %3").arg(date, minutesText(d.sunrise), minutesText(d.sunset));
    for (const core::suncorrection::PreviewEvent& e : d.events)
        if (series == tr("Event %1").arg(e.eventNumber))
            return tr("%1 - %2: %3").arg(series, date, hhmm(hoursOf(e.minutes)));
    return tr("%1 - %2: %3").arg(series, date, hhmm(hours));
}

void YearAheadWindow::clearChart()
{
    m_chart->removeAllSeries();
    for (QAbstractAxis* axis : m_chart->axes())
        m_chart->removeAxis(axis);
}

void YearAheadWindow::showPoint(const QString& series, const QPointF& p)
{
    const QString text = pointText(series, static_cast<qint64>(p.x()), p.y());
    m_hover->setText(text);
    QToolTip::showText(QCursor::pos(), text, m_view);
}

void YearAheadWindow::showNothing(const QString& why)
{
    m_days.clear();
    clearChart();
    setControlText(findControl(this, TYInfoControlID), why);
    setControlEnabled(this, TYExportControlID, false);
}

void YearAheadWindow::showPreview(const std::vector<core::suncorrection::PreviewDay>& days,
                                  const std::vector<core::PlannedLoad>& loads)
{
    clearChart();
    m_days = days;
    if (days.empty())
        return;
    auto* xAxis = new QDateTimeAxis;
    xAxis->setFormat(QStringLiteral("MMM yyyy"));
    xAxis->setTickCount(7);
    xAxis->setRange(QDateTime::fromSecsSinceEpoch(days.front().noon), QDateTime::fromSecsSinceEpoch(days.back().noon));
    auto* yAxis = new QValueAxis;
    yAxis->setRange(0, 24);
    yAxis->setTickCount(9);
    yAxis->setLabelFormat(QStringLiteral("%02.0f:00"));
    m_chart->addAxis(xAxis, Qt::AlignBottom);
    m_chart->addAxis(yAxis, Qt::AlignLeft);

    const auto attach = [&](QAbstractSeries* s) {
        m_chart->addSeries(s);
        s->attachAxis(xAxis);
        s->attachAxis(yAxis);
    };
    const auto hoverable = [this](QXYSeries* s) {
        connect(s, &QXYSeries::hovered, this, [this, s](const QPointF& p, bool on) {
            if (!on)
                return;
            showPoint(s->name(), p);
        });
    };

    // Daylight as the background: sunrise below, sunset above.
    auto* sunrise = new QLineSeries;
    auto* sunset = new QLineSeries;
    for (const core::suncorrection::PreviewDay& d : days) {
        if (d.sunrise && d.sunset) {
            sunrise->append(static_cast<double>(d.noon) * 1000, hoursOf(*d.sunrise));
            sunset->append(static_cast<double>(d.noon) * 1000, hoursOf(*d.sunset));
        }
    }
    auto* daylight = new QAreaSeries(sunset, sunrise);
    // The area does not own its edges; they go when it goes.
    sunrise->setParent(daylight);
    sunset->setParent(daylight);
    daylight->setName(m_daylightName);
    connect(daylight, &QAreaSeries::hovered, this, [this](const QPointF& p, bool on) {
        if (on)
            showPoint(m_daylightName, p);
    });
    daylight->setColor(QColor(255, 236, 160, 150));
    daylight->setBorderColor(QColor(230, 180, 60));
    attach(daylight);

    // One line per listed event; a time that wraps past midnight starts a
    // new piece rather than drawing a line across the whole day.
    std::map<int, std::vector<QLineSeries*>> pieces;
    std::map<int, double> last;
    for (const core::suncorrection::PreviewDay& d : days) {
        for (const core::suncorrection::PreviewEvent& e : d.events) {
            const double h = hoursOf(e.minutes);
            std::vector<QLineSeries*>& list = pieces[e.eventNumber];
            if (list.empty() || std::abs(h - last[e.eventNumber]) > 12)
                list.push_back(new QLineSeries);
            list.back()->append(static_cast<double>(d.noon) * 1000, h);
            last[e.eventNumber] = h;
        }
    }
    size_t colorIndex = 0;
    for (auto& [number, list] : pieces) {
        const QColor color = kEventColors[colorIndex++ % std::size(kEventColors)];
        for (QLineSeries* piece : list) {
            piece->setName(tr("Event %1").arg(number));
            attach(piece);
            piece->setPen(QPen(color, 2));
            // One legend entry per event, however many pieces its line has.
            if (piece != list.front())
                for (QLegendMarker* m : m_chart->legend()->markers(piece))
                    m->setVisible(false);
            hoverable(piece);
        }
    }

    // A marker where a virtual schedule loads a file, at its load time; one
    // series per file, so pointing at a marker names the file.
    const std::time_t from = days.front().noon - 12 * 3600;
    const std::time_t to = days.back().noon + 12 * 3600;
    size_t loadIndex = 0;
    for (const core::PlannedLoad& load : loads) {
        auto* marks = new QScatterSeries;
        marks->setName(tr("Load %1 (%2)")
                           .arg(QString::fromStdString(load.name), load.load == 1 ? tr("replace all events") : tr("only the file's events")));
        marks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        marks->setMarkerSize(10);
        for (const std::time_t t : state::plannedTimes(load.when, from, to))
            marks->append(static_cast<double>(t) * 1000, load.when.hour + load.when.minute / 60.0);
        if (marks->count() == 0) {
            delete marks;
            continue;
        }
        attach(marks);
        marks->setColor(kLoadColors[loadIndex++ % std::size(kLoadColors)]);
        marks->setBorderColor(Qt::white);
        hoverable(marks);
    }
    setControlEnabled(this, TYExportControlID, true);
}

bool YearAheadWindow::exportPng(const QString& path, QString& why) const
{
    const QFileInfo target(path);
    if (target.exists() && !target.isWritable()) {
        why = tr("%1 may not be written; nothing was saved.").arg(path);
        return false;
    }
    QSaveFile file(path);
    const QPixmap picture = m_view->grab();
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        why = tr("%1 could not be written (%2); nothing was saved.").arg(path, file.errorString());
        return false;
    }
    return true;
}

void YearAheadHandler::open()
{
    YearAheadWindow* w = m_w.year;
    core::suncorrection::PreviewSources sources = core::suncorrection::readPreviewSources();
    if (!sources.problem.empty()) {
        const QString text = QString::fromStdString(sources.problem);
        w->showNothing(text.left(1).toUpper() + text.mid(1) + ".");
    } else {
        sources.input.events = core::suncorrection::toolTableFrom(m_table);
        const std::vector<core::suncorrection::PreviewDay> days =
            core::suncorrection::previewDays(sources.input, platform::now(), kDaysAhead);
        const bool anyEvent = !days.empty() && !days.front().events.empty();
        QString info;
        if (!anyEvent)
            info = QObject::tr("None of the events in the correction list is in the event table: read the "
                               "CP290 (or open a schedule) first. Daylight and schedule loads are shown.");
        else if (!sources.crontabRead)
            info = QObject::tr("The crontab could not be read, so no correction run is known: the times stay "
                               "as the event table has them.");
        else if (!sources.input.runs)
            info = QObject::tr("No sun-correction run is planned (Planning > Time Correction): the times stay "
                               "as the event table has them.");
        else
            info = QObject::tr("The times the sun corrections planned for %1 will give the listed events over "
                               "the next %2 days, starting from the events in the main window.")
                       .arg(QString::fromStdString(core::weeklyText(*sources.input.runs)))
                       .arg(kDaysAhead);
        const double lat = degrees(sources.input.where.latitude), lon = degrees(sources.input.where.longitude);
        info += QObject::tr(" Daylight at %1° %2, %3° %4.")
                    .arg(std::abs(lat), 0, 'f', 2)
                    .arg(lat >= 0 ? QObject::tr("N") : QObject::tr("S"))
                    .arg(std::abs(lon), 0, 'f', 2)
                    .arg(lon >= 0 ? QObject::tr("E") : QObject::tr("W"));
        setControlText(findControl(w, TYInfoControlID), info);
        w->showPreview(days, sources.loads);
    }
    w->show();
    w->raise();
    w->activateWindow();
}

bool YearAheadHandler::handleCommand(const QString& code)
{
    if (code != QLatin1String("YAex"))
        return false;
    const QString path = m_shell.chooseSavePath(m_w.year, QObject::tr("Export Year Ahead"),
                                              QStringLiteral("year-ahead.png"));
    if (path.isEmpty())
        return true;
    QString why;
    if (m_w.year->exportPng(path, why))
        m_shell.showDone(QObject::tr("Chart saved to %1").arg(path).toStdString());
    else
        m_shell.showError(why.toStdString());
    return true;
}

}  // namespace ui
