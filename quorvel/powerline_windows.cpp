#include "quorvel/powerline_windows.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

#include "core/direct_command.h"
#include "platform/clock.h"
#include "platform/line_handover.h"
#include "platform/paths.h"
#include "quorvel/shell_dialog.h"
#include "state/preferences.h"

namespace ui {

namespace {

constexpr int kFollowMs = 300;
constexpr size_t kShownReports = 500;

// A watcher of the controller's own, when none runs for the device.
void ensureWatcher(const QString& device)
{
    static QPointer<QProcess> watcher;
    if (device.isEmpty() || platform::watcherRunning(device.toStdString()) ||
        (watcher && watcher->state() != QProcess::NotRunning))
        return;
    watcher = new QProcess(QCoreApplication::instance());
    watcher->setProgram(QString::fromStdString(platform::applicationFolder()) + QStringLiteral("cp290ctl"));
    watcher->setArguments({QStringLiteral("--device"), device, QStringLiteral("monitor")});
    watcher->setStandardOutputFile(QProcess::nullDevice());
    watcher->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, watcher.data(), [] {
        if (watcher) {
            watcher->terminate();
            watcher->waitForFinished(2000);
        }
    });
    watcher->start();
}

QString entryTime(const state::PowerlineEntry& e)
{
    const std::tm t = platform::localTime(e.when);
    char buf[32];
    std::strftime(buf, sizeof buf, "%a %H:%M:%S", &t);
    return QString::fromLatin1(buf);
}

// What a report did to one unit, for the Devices window.
QString stateText(const state::PowerlineEntry& e)
{
    return QStringLiteral("%1 at %2 (%3)")
        .arg(QString::fromStdString(cp290::functionName(e.function)), entryTime(e), QString::fromStdString(e.source));
}

// The newest `count` entries of the log now, then what it gains, a few times a second.
template <typename Show>
void followLog(QObject* owner, state::PowerlineFollower& follower, size_t count, Show show)
{
    for (const state::PowerlineEntry& e : state::readPowerline(count))
        show(e);
    follower.skipToEnd();
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [&follower, show] {
        for (const state::PowerlineEntry& e : follower.newEntries())
            show(e);
    });
    timer->start(kFollowMs);
}

class DevicesWindow : public ShellDialog {
public:
    DevicesWindow(QWidget* parent, const QString& device) : ShellDialog(parent, tr("Devices")), m_device(device)
    {
        auto* grid = new QGridLayout;
        const state::DeviceNames names = state::storedDeviceNames(state::Program::Quorvel);
        int row = 0;
        for (const char* head : {"Device", "Unit", "", "", "Brightness", "Last known"})
            grid->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(tr(head))), row, grid->count() % 6);
        for (int h = 1; h <= 16; ++h)
            for (int u = 1; u <= 16; ++u) {
                if (!state::DeviceNames::offeredInSearch(names.name(h, u)))
                    continue;
                ++row;
                addUnit(grid, row, h, u, QString::fromStdString(names.name(h, u)));
            }
        if (row == 0)
            grid->addWidget(new QLabel(tr("No unit has a name yet: name them in Events > Device Names.")), ++row, 0, 1, 6);
        grid->setRowStretch(row + 1, 1);  // the rows stay together at the top
        grid->setColumnStretch(5, 1);
        m_status = new QLabel;
        m_status->setWordWrap(true);
        auto* inner = new QWidget;
        inner->setLayout(grid);
        auto* scroll = new QScrollArea;
        scroll->setWidget(inner);
        scroll->setWidgetResizable(true);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(scroll);
        layout->addWidget(m_status);
        auto* close = new QPushButton(tr("Close"));
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        layout->addWidget(close, 0, Qt::AlignRight);
        resize(760, 420);
        followLog(this, m_follower, state::kPowerlineKeep, [this](const state::PowerlineEntry& e) { showEntry(e); });
    }

private:
    void addUnit(QGridLayout* grid, int row, int house, int unit, const QString& name)
    {
        grid->addWidget(new QLabel(name), row, 0);
        grid->addWidget(new QLabel(QStringLiteral("%1%2").arg(QChar('A' + house - 1)).arg(unit)), row, 1);
        auto* on = new QPushButton(tr("On"));
        auto* off = new QPushButton(tr("Off"));
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(0, 100);
        slider->setValue(100);
        slider->setFixedWidth(140);
        slider->setToolTip(tr("Brightness: let go to dim the unit to it (the CP290 has 16 levels)"));
        auto* percent = new QLabel(QStringLiteral("100%"));
        percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
        connect(slider, &QSlider::valueChanged, percent, [percent](int v) { percent->setText(QStringLiteral("%1%").arg(v)); });
        auto* dim = new QHBoxLayout;
        dim->addWidget(slider);
        dim->addWidget(percent);
        auto* last = new QLabel(tr("not seen yet"));
        grid->addWidget(on, row, 2);
        grid->addWidget(off, row, 3);
        grid->addLayout(dim, row, 4);
        grid->addWidget(last, row, 5);
        m_last[(house - 1) * 16 + unit - 1] = last;
        const auto send = [this, house, unit, name](uint8_t function, int percent) {
            cp290::DirectCommand c{house, static_cast<cp290::UnitMask>(1u << (unit - 1)), function,
                                   function == cp290::FnDim ? core::dimLevelFromPercent(percent) : 0};
            m_status->setText(tr("Sending to %1…").arg(name));
            m_status->repaint();
            cp290::Report confirmed;
            const core::OpResult r = core::sendDirectCommand(m_device.toStdString(), c, confirmed);
            m_status->setText(r.ok() ? tr("%1: the CP290 sent %2.").arg(name, QString::fromStdString(cp290::functionName(confirmed.function)))
                                     : QString::fromStdString(core::failureMessage(r, m_device.toStdString())));
        };
        connect(on, &QPushButton::clicked, this, [send] { send(cp290::FnOn, 100); });
        connect(off, &QPushButton::clicked, this, [send] { send(cp290::FnOff, 0); });
        connect(slider, &QSlider::sliderReleased, this, [send, slider] { send(cp290::FnDim, slider->value()); });
    }

    void showEntry(const state::PowerlineEntry& e)
    {
        for (int u = 1; u <= 16; ++u)
            if (e.units & (1u << (u - 1)))
                if (auto it = m_last.find((e.house - 1) * 16 + u - 1); it != m_last.end())
                    it->second->setText(stateText(e));
    }

    QString m_device;
    QLabel* m_status = nullptr;
    std::map<int, QLabel*> m_last;
    state::PowerlineFollower m_follower;
};

class PowerLineWindow : public ShellDialog {
public:
    explicit PowerLineWindow(QWidget* parent) : ShellDialog(parent, tr("Power Line"))
    {
        m_names = state::storedDeviceNames(state::Program::Quorvel);
        m_list = new QTreeWidget;
        m_list->setHeaderLabels({tr("Time"), tr("Units"), tr("Names"), tr("Function"), tr("Source")});
        m_list->setRootIsDecorated(false);
        m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(tr("What the CP290 sent on the power line, newest last: timer events, "
                                        "presses on its console and direct commands.")));
        layout->addWidget(m_list);
        auto* close = new QPushButton(tr("Close"));
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        layout->addWidget(close, 0, Qt::AlignRight);
        resize(720, 420);
        followLog(this, m_follower, kShownReports, [this](const state::PowerlineEntry& e) { add(e); });
    }

private:
    void add(const state::PowerlineEntry& e)
    {
        auto* item = new QTreeWidgetItem(
            {entryTime(e), QString::fromStdString(core::unitsLabel(e.house, e.units)),
             QString::fromStdString(core::unitNames(m_names, e.house, e.units)),
             QString::fromStdString(cp290::functionName(e.function)), QString::fromStdString(e.source)});
        m_list->addTopLevelItem(item);
        while (m_list->topLevelItemCount() > static_cast<int>(kShownReports))
            delete m_list->takeTopLevelItem(0);
        m_list->scrollToItem(item);
    }

    state::DeviceNames m_names;
    QTreeWidget* m_list = nullptr;
    state::PowerlineFollower m_follower;
};

template <class W, class... Args>
void openOnce(QPointer<W>& window, QWidget* parent, Args... args)
{
    if (!window)
        window = new W(parent, args...);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void openDevicesWindow(QWidget* parent, const QString& device)
{
    static QPointer<DevicesWindow> window;
    ensureWatcher(device);
    openOnce(window, parent, device);
}

void openPowerLineWindow(QWidget* parent, const QString& device)
{
    static QPointer<PowerLineWindow> window;
    ensureWatcher(device);
    openOnce(window, parent);
}

}  // namespace ui
