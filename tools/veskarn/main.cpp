// veskarn: shifts the listed CP290 events by the day's movement of sunrise
// and sunset (and by an hour when daylight-saving time begins or ends), then
// quits. Cron starts it; it shows a small progress window only when a display
// is present.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "core/direct_command.h"
#include "core/correction_run.h"
#include "link/serial_link.h"
#include "state/run_history.h"
#include "tools/tool_application.h"

namespace {

// No display: the log lines are the whole outcome.
class HeadlessUi : public core::suncorrection::RunUi {
public:
    void phase(const char*) override {}
    void progress(int) override {}
    void hide() override {}
    void nothingNeeded() override {}
};

class ProgressWindow : public core::suncorrection::RunUi {
public:
    ProgressWindow()
    {
        m_window.setWindowTitle(QStringLiteral("Veskarn"));
        m_bar = new QProgressBar(&m_window);
        m_bar->setObjectName(QStringLiteral("CP29_130"));
        m_bar->setRange(0, 128);
        m_bar->setValue(0);
        m_bar->setTextVisible(false);
        m_bar->setMinimumWidth(320);
        auto* layout = new QVBoxLayout(&m_window);
        layout->setContentsMargins(20, 20, 20, 20);
        layout->addWidget(m_bar);
    }
    void phase(const char* title) override
    {
        m_window.setWindowTitle(QString::fromUtf8(title));
        m_window.show();
        m_window.raise();
        m_window.activateWindow();
        QCoreApplication::processEvents();
    }
    void progress(int value) override
    {
        m_bar->setValue(value);
        QCoreApplication::processEvents();
    }
    void hide() override { m_window.hide(); }
    void nothingNeeded() override
    {
        phase("No Time Correction Needed");
        progress(0);
        QEventLoop wait;
        QTimer::singleShot(5000, &wait, &QEventLoop::quit);
        wait.exec();
        hide();
    }
    void showStart() { phase("Veskarn"); }

private:
    QWidget m_window;
    QProgressBar* m_bar = nullptr;
};

const char* const kUsage =
    "Usage: veskarn\n"
    "Shifts the CP290's listed events by the movement of sunrise and sunset since\n"
    "they were last corrected (and by an hour when daylight-saving time began or\n"
    "ended), logs the outcome and quits. Cron starts it on the weekdays planned in\n"
    "the controller's Time Correction window. The list, the reference dates and the\n"
    "location are in Veskarn.conf; the serial device is the \"Serial Path\" stored in\n"
    "Lumbrasken.conf.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 corrections applied or none needed, 1 the CP290 failed or a\n"
    "file could not be written (the reference dates are kept and the next run\n"
    "completes the correction), 69 no serial device.\n"
    "Log: journalctl -t Veskarn\n";

}  // namespace

int main(int argc, char** argv)
{
    // Killed by cron's timeout or a person, the line goes back as it was found;
    // the reference dates are written last, so they never run ahead of the CP290,
    // and the journal written before the first download lets the next run
    // complete what this one began.
    if (const auto status = cp290::startLineProgram(argc, argv, {"veskarn", "Veskarn", kUsage}))
        return *status;
    // Until the run writes its history line, a killed run shows as interrupted.
    const state::RunStart started(state::Program::Veskarn, "veskarn");
    core::recordReports(platform::Program::Veskarn);  // the reports its line reads go to the power-line log
    auto [app, windowed] = tools::makeToolApplication(argc, argv);
    std::unique_ptr<core::suncorrection::RunUi> ui;
    if (windowed) {
        auto window = std::make_unique<ProgressWindow>();
        window->showStart();
        ui = std::move(window);
    } else {
        ui = std::make_unique<HeadlessUi>();
    }
    QTimer::singleShot(1000, app.get(), [&] { app->exit(core::suncorrection::myTimerproc(*ui)); });
    return app->exec();
}
