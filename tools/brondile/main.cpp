// brondile: loads the event schedule file planned for today into the CP290
// and quits. Cron starts it; it shows a small window only when a display is
// present.
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstring>
#include <memory>

#include "core/direct_command.h"
#include "link/serial_link.h"
#include "state/run_history.h"
#include "tools/tool_application.h"
#include "core/schedule_loader.h"

namespace {

const char* const kUsage =
    "Usage: brondile [--catch-up]\n"
    "Loads the event schedule file planned for today into the CP290 and quits.\n"
    "Cron starts it on the dates planned in the controller's Schedules window\n"
    "(or with cp290ctl plan schedule). The CP290's events are kept as a snapshot\n"
    "first; events protected in the Time Correction window are never sent.\n"
    "\n"
    "  --catch-up     load the most recent planned schedule whose load did not\n"
    "                 complete, when its date is within the last 7 days and no\n"
    "                 later planned date has come; otherwise end at once (cron\n"
    "                 runs this every hour while a schedule is planned)\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 loaded or nothing to load, 1 failed, 69 no serial device.\n"
    "Log: journalctl -t Brondile\n";

// The progress window: file name (131), status (132), last slot sent (130).
class ProgressWindow : public QWidget, public core::loader::LoaderUi {
public:
    ProgressWindow()
    {
        setWindowTitle(QStringLiteral("Brondile"));
        auto* box = new QVBoxLayout(this);
        m_file = new QLabel(QStringLiteral("Looking for today's schedule…"));
        m_file->setProperty("cp290ControlId", 131);
        m_status = new QLabel;
        m_status->setProperty("cp290ControlId", 132);
        m_progress = new QProgressBar;
        m_progress->setProperty("cp290ControlId", 130);
        m_progress->setRange(0, 128);
        m_progress->setValue(0);
        m_progress->setFormat(QStringLiteral("Event %v of %m"));
        box->addWidget(m_file);
        box->addWidget(m_status);
        box->addWidget(m_progress);
        setMinimumWidth(320);
    }
    void showFile(const std::string& name) override { update(m_file, "Schedule: " + name); }
    void showStatus(const std::string& text) override { update(m_status, text); }
    void progress(int slot) override
    {
        m_progress->setValue(slot);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    void update(QLabel* label, const std::string& text)
    {
        label->setText(QString::fromStdString(text));
        raise();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    QLabel* m_file;
    QLabel* m_status;
    QProgressBar* m_progress;
};

}  // namespace

int main(int argc, char** argv)
{
    if (const auto status = cp290::startLineProgram(argc, argv, {"brondile", "Brondile", kUsage}))
        return *status;
    bool catchUp = false;
    for (int i = 1; i < argc; ++i)
        catchUp = catchUp || std::strcmp(argv[i], "--catch-up") == 0;
    // Until the run writes its history line, a killed run shows as interrupted.
    const state::RunStart started(state::Program::Brondile, "brondile");
    core::recordReports(platform::Program::Brondile);  // the reports its line reads go to the power-line log
    auto [app, windowed] = tools::makeToolApplication(argc, argv);

    std::unique_ptr<ProgressWindow> window;
    core::loader::LoaderUi headless;
    core::loader::LoaderUi* ui = &headless;
    if (windowed) {
        window = std::make_unique<ProgressWindow>();
        window->show();
        ui = window.get();
    }

    QTimer::singleShot(1000, app.get(),
                       [&] { app->exit(catchUp ? core::loader::catchUp(*ui) : core::loader::myTimerproc(*ui)); });
    return app->exec();
}
