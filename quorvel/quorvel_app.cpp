#include "quorvel/powerline_windows.h"
#include "quorvel/quorvel_app.h"

#include <QApplication>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QGuiApplication>
#include <cstdio>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QMenuBar>
#include <QWindow>
#include <algorithm>

#include "quorvel/automation_window.h"
#include "quorvel/clock_sync_window.h"
#include "quorvel/memory_question.h"
#include "quorvel/base_c_window_handler.h"
#include "quorvel/clock_window_handler.h"
#include "quorvel/command_router.h"
#include "quorvel/control_ids.h"
#include "quorvel/controls.h"
#include "quorvel/device_names_window.h"
#include "quorvel/device_names_window_handler.h"
#include "quorvel/year_ahead_window.h"
#include "quorvel/dialogs.h"
#include "quorvel/edit_window.h"
#include "quorvel/edit_window_handler.h"
#include "quorvel/event_key_filter.h"
#include "quorvel/event_list_model.h"
#include "quorvel/main_window.h"
#include "quorvel/main_window_handler.h"
#include "quorvel/mess_window_handler.h"
#include "quorvel/prefs_window_handler.h"
#include "quorvel/schedules_window.h"
#include "quorvel/screen_fit.h"
#include "quorvel/search_window_handler.h"
#include "quorvel/shell_dialog.h"
#include "quorvel/snd_window_handler.h"
#include "quorvel/status_window_handler.h"
#include "quorvel/time_correction_handler.h"
#include "quorvel/time_correction_window.h"
#include "quorvel/t_window_handler.h"
#include "core/correction_list.h"
#include "platform/paths.h"
#include "platform/syslog_log.h"
#include "state/crontab_work.h"
#include "state/settings_domain.h"

namespace ui {

namespace {

const QString kQuitQuestion = QStringLiteral(
    "Changes to the Event list have not been saved. Save them before quitting?");
const QString kScheduleFilter = QStringLiteral("Event schedule files (*.sch);;All files (*)");
const QString kSelfTestQuestion = QStringLiteral(
    "Running the Self Test will DELETE all Events stored in the CP290.");

}  // namespace

// While an operation runs, the user's input is dropped as it arrives, so
// nothing clicked or typed meanwhile runs afterwards. The sheets that carry
// Cancel (and whatever is inside them) still get theirs.
class InputDropper : public QObject {
public:
    using QObject::QObject;
    bool active = false;
    std::vector<QWidget*> allowed;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!active || !isInput(event->type()))
            return false;
        if (const auto* w = qobject_cast<const QWidget*>(watched)) {
            for (QWidget* a : allowed)
                if (w->window() == a)
                    return false;
        } else if (const auto* window = qobject_cast<const QWindow*>(watched)) {
            for (QWidget* a : allowed)
                if (a->windowHandle() == window)
                    return false;
        }
        return true;
    }

private:
    static bool isInput(QEvent::Type t)
    {
        switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }
};

namespace {

// Eats tool tips while the user has help tags switched off.
class HelpTagFilter : public QObject {
public:
    using QObject::QObject;
    bool shown = true;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return !shown && event->type() == QEvent::ToolTip;
    }
};

}  // namespace

// --- The application's handler ---------------------------------------------

// AppHandler: the application-level commands. The quit command comes here
// too; the quit check itself is requestQuit().
class AppHandler : public CommandHandler {
public:
    explicit AppHandler(QuorvelApp& app) : m_app(app) {}
    bool handleCommand(const QString& code) override
    {
        const Windows& w = m_app.windows();
        if (code == QLatin1String("pref")) {
            const state::Preferences& p = m_app.prefs();
            setControlValue(findControl(w.prefs, PWarnControlID), p.warnPref);
            setControlValue(findControl(w.prefs, PClckControlID), p.clockPref);
            setControlValue(findControl(w.prefs, PR290ControlID), p.readPref);
            setControlValue(findControl(w.prefs, PHelpControlID), p.helpPref);
            w.prefs->show();
            w.prefs->raise();
        } else if (code == QLatin1String("sTst")) {
            m_app.askBeforeErasing(WarnSelfTest, kSelfTestQuestion, QObject::tr("Erase and Test"), [this] {
                m_app.setNote({});
                bool cancelled = false;
                m_app.runOperation([&] {
                    cancelled = m_app.ops().SelfTest().status == core::OpStatus::Cancelled;
                });
                if (cancelled)
                    m_app.closeWindow(m_app.windows().stat);  // ready for the next test
            });
        } else if (code == QLatin1String("schd")) {
            m_app.schedHandler().open();
        } else if (code == QLatin1String("sYnc")) {
            m_app.syncHandler().open();
        } else if (code == QLatin1String("TcSl")) {
            m_app.veskHandler().open();
        } else if (code == QLatin1String("yrAh")) {
            m_app.yearAheadHandler().open();
        } else if (code == QLatin1String("dvSw")) {
            openDevicesWindow(w.main, QString::fromStdString(m_app.prefs().serPath));
        } else if (code == QLatin1String("pwLn")) {
            openPowerLineWindow(w.main, QString::fromStdString(m_app.prefs().serPath));
        } else if (code == QLatin1String("AUto")) {
            m_app.automationHandler().open();
        } else if (code == QLatin1String("quit")) {
            m_app.requestQuit();
        } else if (code == QLatin1String("abut")) {
            m_app.showAbout();
        } else if (code == QLatin1String("guid")) {
            m_app.openUserGuide();
        } else {
            return false;
        }
        return true;
    }

private:
    QuorvelApp& m_app;
};

// --- QuorvelApp ------------------------------------------------------------

QuorvelApp::QuorvelApp() : QuorvelApp(Options{}) {}

QuorvelApp::QuorvelApp(Options options)
    : m_options(std::move(options)),
      m_table(m_prefs.deviceNames),
      m_lastFolder(QString::fromStdString(platform::userFolder()))
{
    m_ops = std::make_unique<core::Cp290Operations>(m_table, *this);
    m_files = std::make_unique<core::ScheduleFiles>(m_table, *this);
}

QuorvelApp::~QuorvelApp()
{
    delete m_w.main;  // every other window is its child
}

void QuorvelApp::createWindows()
{
    m_w.main = new MainWindow;
    m_w.dev = m_w.main->drawer();
    m_w.edit = new EditWindow(m_w.main);
    m_w.mess = new MessWindow(m_w.main);
    m_w.stat = new StatusWindow(m_w.main);
    m_w.devCk = m_w.edit->drawer();
    m_w.clock = new ClockWindow(m_w.main);
    m_w.baseC = new BaseCWindow(m_w.main);
    m_w.t = new TWindow(m_w.main);
    m_w.prefs = new PrefsWindow(m_w.main);
    m_w.veskEd = new VeskEdWindow(m_w.main);
    m_w.vesk = new VeskWindow(m_w.main);
    m_w.sched = new SchedWindow(m_w.main);
    m_w.schedEd = new SchEdWindow(m_w.main);
    m_w.snd = new SndWindow(m_w.main);
    m_w.reset = new ResetWindow(m_w.main);
    m_w.sync = new SyncWindow(m_w.main);
    m_w.fnd = new SearchWindow(m_w.main);
    m_w.names = new DevNamesWindow(m_w.main);
    m_w.year = new YearAheadWindow(m_w.main);
    m_w.automation = new AutomationWindow(m_w.main);

    // Help tags on the controls a newcomer may wonder about.
    const auto tip = [](QWidget* w, const QString& text) {
        if (w)
            w->setToolTip(text);
    };
    tip(findControl(m_w.main, UpdControlID), tr("Change the selected event"));
    tip(findControl(m_w.main, DelControlID), tr("Delete the selected events from the list"));
    tip(findControl(m_w.main, SavControlID), tr("Save the events to an event schedule file"));
    tip(findControl(m_w.main, FndControlID), tr("Select the events that switch a device"));
    tip(findControl(m_w.main, PortControlID), tr("The serial device the CP290 is attached to"));
    tip(findControl(m_w.edit, ENumControlID), tr("Event number, 1 to 128"));
    tip(findControl(m_w.edit, DimControlID), tr("Dim level 1 to 15; 0 switches fully on"));
}

void QuorvelApp::installHandlers()
{
    m_router = new CommandRouter(this);
    const auto attach = [this](QWidget* window, std::unique_ptr<CommandHandler> handler) {
        m_router->attach(window, handler.get());
        m_handlers.push_back(std::move(handler));
    };
    // The names window first: the main window's handler opens it. The editor
    // draws into the main list and is opened from it, so it is handed over
    // once both exist.
    auto namesHandler = std::make_unique<DevNamesWindowHandler>(*this, m_w, m_prefs, m_table);
    m_devNamesHandler = namesHandler.get();
    auto mainHandler =
        std::make_unique<MainWindowHandler>(*this, m_w, m_table, *m_ops, m_prefs, *m_devNamesHandler);
    m_mainHandler = mainHandler.get();
    attach(m_w.main, std::move(mainHandler));
    auto editHandler = std::make_unique<EditWindowHandler>(*this, m_w, m_table, *m_mainHandler);
    m_editHandler = editHandler.get();
    m_mainHandler->setEditor(*m_editHandler);
    attach(m_w.edit, std::move(editHandler));
    attach(m_w.clock, std::make_unique<ClockWindowHandler>(*this, m_w, *m_ops));
    attach(m_w.baseC, std::make_unique<BaseCWindowHandler>(*this, m_w, *m_ops));
    attach(m_w.prefs, std::make_unique<PrefsWindowHandler>(m_w, m_prefs, *this));
    m_schedHandler = std::make_unique<SchedulesHandler>(*this, m_w, *m_files, m_prefs);
    m_router->attach(m_w.sched, m_schedHandler->windowHandler());
    m_router->attach(m_w.schedEd, m_schedHandler->editorHandler());
    attach(m_w.snd, std::make_unique<SndWindowHandler>(*this, m_w, *m_ops, *m_mainHandler));
    attach(m_w.stat, std::make_unique<StatusWindowHandler>(*this, m_w));
    attach(m_w.t, std::make_unique<TWindowHandler>(*this));
    attach(m_w.fnd, std::make_unique<SearchWindowHandler>(m_w, *m_mainHandler));
    m_veskHandler = std::make_unique<TimeCorrectionHandler>(*this, m_w, m_corrections, m_prefs, *m_mainHandler,
                                                            m_table, *m_ops);
    m_veskHandler->attach(*m_router);
    m_editHandler->setFollower(*m_veskHandler);
    auto messHandler = std::make_unique<MessWindowHandler>(*this, m_w, *m_veskHandler);
    m_messHandler = messHandler.get();
    attach(m_w.mess, std::move(messHandler));
    auto syncHandler = std::make_unique<SyncWindowHandler>(*this, m_w, m_prefs);
    m_syncHandler = syncHandler.get();
    attach(m_w.sync, std::move(syncHandler));
    attach(m_w.names, std::move(namesHandler));
    auto yearHandler = std::make_unique<YearAheadHandler>(*this, m_w, m_table);
    m_yearHandler = yearHandler.get();
    attach(m_w.year, std::move(yearHandler));
    auto automationHandler = std::make_unique<AutomationHandler>(*this, m_w, *m_mainHandler);
    m_automationHandler = automationHandler.get();
    attach(m_w.automation, std::move(automationHandler));
}

int QuorvelApp::start()
{
    platform::openLog("Quorvel");
    createWindows();
    installHandlers();
    m_memoryQuestion = std::make_unique<MemoryQuestion>(
        m_w.main, *m_ops, [this](const std::function<void()>& operation) { runOperation(operation); });
    m_memoryQuestion->install();
    QTimer::singleShot(m_options.launchDelayMs, this, [this] { myTimerproc(); });
    auto appHandler = std::make_unique<AppHandler>(*this);
    m_appHandler = appHandler.get();
    m_router->setApplicationHandler(m_appHandler);
    m_handlers.push_back(std::move(appHandler));

    m_devices.search();
    if (!m_devices.anyUsable()) {
        platform::logLine("Quorvel - Serial port not found.\n");
        noDevice();
        return kExitNoDevice;
    }

    m_table.initAll();
    m_editHandler->installKeyFilter();
    m_w.main->setDrawerOpen(false);
    m_w.edit->setDrawerOpen(true);  // the units are needed for every new event

    m_mainHandler->setUpList();
    m_mainHandler->model()->setCorrectionMark([this](int n) {
        const int slot = core::CorrectionList(m_corrections).slotOf(n);
        return slot ? correctionKindText(m_corrections.VeskNumRecs[static_cast<size_t>(slot)].corrType) : QString();
    });
    m_mainHandler->SetEventDeviceNames(-1);
    m_mainHandler->setUpdDel(false, false);
    setSaveFindEnabled(false);
    qApp->setQuitOnLastWindowClosed(false);
    m_helpFilter = new HelpTagFilter(this);
    qApp->installEventFilter(m_helpFilter);
    qApp->installEventFilter(new ScreenFitter(this));
    m_dropper = new InputDropper(this);
    m_dropper->allowed = {m_w.t, m_w.stat};
    qApp->installEventFilter(m_dropper);
    m_w.main->show();

    m_prefs.app_Path = platform::applicationFolder();
    std::vector<std::string> devices;
    for (int i = 1; i <= m_devices.numPorts(); ++i)
        devices.push_back(m_devices.path(i));
    state::ReadParms(m_prefs, devices, *this);
    state::WriteParms(m_prefs, 1);
    state::getVeskParms(m_corrections);
    m_ops->setDevicePath(m_prefs.serPath);
    refreshTitle();
    return 0;
}

int QuorvelApp::run()
{
    m_running = true;
    QApplication::exec();
    m_running = false;
    state::WriteParms(m_prefs, 2);
    return 0;
}

void QuorvelApp::deviceNamesChanged()
{
    m_table.refreshNames();
    m_mainHandler->allChanged();
    const int n = m_mainHandler->currID();
    m_mainHandler->SetEventDeviceNames(n != 0 && n == m_mainHandler->currID2() && m_table.isUsed(n) ? n : -1);
    m_editHandler->titleUnits(controlValue(findControl(m_w.edit, HouseControlID)) - 1);
    auto* search = static_cast<QComboBox*>(findControl(m_w.fnd, CBoxControlID));
    const QString typed = search->currentText();
    search->clear();
    for (int h = 1; h <= state::kHouses; ++h)
        for (int u = 1; u <= state::kUnits; ++u)
            if (state::DeviceNames::offeredInSearch(m_prefs.deviceNames.name(h, u)))
                search->addItem(QString::fromStdString(m_prefs.deviceNames.name(h, u)));
    search->setCurrentText(typed);
}

void QuorvelApp::showAbout()
{
    QMessageBox::about(
        m_w.main, tr("About Quorvel"),
        tr("<p><b>Quorvel</b> %1 - the windowed controller of the CP290 home-automation "
           "interface.</p>"
           "<p>Licensed under the MIT licence.</p>"
           "<p>Settings: %2<br>Logs: the system log under the name Quorvel "
           "(<tt>journalctl -t Quorvel</tt>)<br>Programs: %3</p>"
           "<p>Help &gt; User Guide (F1) tells how to work with your CP290.</p>")
            .arg(QCoreApplication::applicationVersion(),
                 QString::fromStdString(state::preferencesFolder()).toHtmlEscaped(),
                 QString::fromStdString(m_prefs.app_Path).toHtmlEscaped()));
}

void QuorvelApp::openUserGuide()
{
    if (!m_guide) {
        m_guide = new ShellDialog(m_w.main, tr("Quorvel - User Guide"));
        auto* text = new QTextBrowser;
        text->setOpenExternalLinks(true);
        QFile file(QStringLiteral(":/doc/user-guide.md"));
        if (file.open(QIODevice::ReadOnly))
            text->setMarkdown(QString::fromUtf8(file.readAll()));
        auto* box = new QVBoxLayout(m_guide);
        box->addWidget(text);
        m_guide->resize(720, 560);
    }
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
}

void QuorvelApp::noDevice()
{
    const QString text = tr(
        "No serial device was found, so Quorvel cannot reach the CP290.\n\n"
        "Plug in the CP290's serial adapter and start Quorvel again, or start the "
        "emulator (cp290-sim) and point CP290_SERIAL_DEVICES at its device.");
    // On a platform that shows nothing (offscreen, minimal) a box would wait
    // for a click nobody can give; the log line and the exit status say it.
    const QString platformName = QGuiApplication::platformName();
    const bool visible = platformName != QLatin1String("offscreen") &&
                         platformName != QLatin1String("minimal");
    if (m_options.noDeviceNotice)
        m_options.noDeviceNotice(text);
    else if (platform::hasDisplay() && visible)
        QMessageBox::critical(nullptr, QStringLiteral("Quorvel"), text);
    else
        std::fprintf(stderr, "quorvel: %s\n", qPrintable(text));
}

bool QuorvelApp::requestQuit()
{
    if (m_quitting)
        return true;
    if (m_table.hasUnsavedChanges() && m_prefs.warnPref == 1) {
        m_QuitIt = false;
        m_w.mess->hide();
        askToSave(WarnQuit, kQuitQuestion,
                  [this] { return m_QuitIt = SaveSchedule(); },
                  [this] { m_QuitIt = true; });
        m_w.mess->hide();
        m_w.mess->setWindowModality(Qt::ApplicationModal);
        m_w.mess->exec();
        m_w.mess->setWindowModality(Qt::NonModal);
        if (!m_QuitIt)
            return false;
    }
    m_quitting = true;
    if (m_running)
        QCoreApplication::exit(0);
    return true;
}

bool QuorvelApp::command(QWidget* window, const QString& code)
{
    return m_router->sendCommand(window, code);
}

void QuorvelApp::closeWindow(QWidget* window)
{
    m_router->sendClose(window);
}

QWidget* QuorvelApp::window(const QString& name) const
{
    const std::pair<const char*, QWidget*> names[] = {
        {"MainWindow", m_w.main},     {"DevWindow", m_w.dev},        {"EditWindow", m_w.edit},
        {"MessWindow", m_w.mess},     {"StatusWindow", m_w.stat},    {"DevCkWindow", m_w.devCk},
        {"ClockWindow", m_w.clock},   {"BaseCWindow", m_w.baseC},    {"tWindow", m_w.t},
        {"PrefsWindow", m_w.prefs},   {"VeskEdWindow", m_w.veskEd},  {"VeskWindow", m_w.vesk},
        {"SchedWindow", m_w.sched},   {"SchEdWindow", m_w.schedEd},  {"SndWindow", m_w.snd},
        {"ResetWindow", m_w.reset},   {"SyncWindow", m_w.sync},      {"SearchWindow", m_w.fnd},
        {"DevNamesWindow", m_w.names}, {"YearWindow", m_w.year},  {"AutomationWindow", m_w.automation},
    };
    for (const auto& [n, w] : names)
        if (name == QLatin1String(n))
            return w;
    return nullptr;
}

void QuorvelApp::answerQuit(bool goOn)
{
    m_QuitIt = goOn;
}

void QuorvelApp::confirm(int type, const QString& text)
{
    m_warnType = type;
    m_messHandler->ask(text, {}, {});
}

void QuorvelApp::askBeforeErasing(int type, const QString& text, const QString& action,
                                  std::function<void()> act)
{
    m_warnType = type;
    m_messHandler->ask(text, action, std::move(act));
}

void QuorvelApp::askToSave(int type, const QString& text, std::function<bool()> save,
                           std::function<void()> discard)
{
    m_warnType = type;
    m_messHandler->ask(text, {}, std::move(discard), std::move(save));
}

bool QuorvelApp::GetSchedule(ScheduleTarget target, QString path)
{
    const bool readIt = target == ScheduleTarget::EventTable;
    const bool chosen = path.isEmpty();
    if (!chosen) {
        // Given by the program (a snapshot): the dialog's folder stays the user's.
    } else if (m_options.chooseOpenFile) {
        path = m_options.chooseOpenFile();
    } else {
        QFileDialog dialog(readIt ? static_cast<QWidget*>(m_w.main) : m_w.schedEd,
                           tr("Open Event Schedule"), m_lastFolder, kScheduleFilter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setWindowModality(Qt::WindowModal);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first();
    }
    if (path.isEmpty())
        return false;  // cancelled
    if (chosen)
        m_lastFolder = QFileInfo(path).absolutePath();
    setNote({});
    // For the schedule editor only the path is taken; the editor shows it.
    const core::FileResult r = m_files->openConfirmed(path.toStdString(), readIt);
    // Save writes back to a file the user chose; a snapshot is kept as it is.
    if (readIt && r.ok())
        m_savePath = chosen ? path : QString();
    refreshTitle();
    return r.ok();
}

QString QuorvelApp::chooseSavePath(QWidget* parent, const QString& title, const QString& proposedName)
{
    QString path;
    if (m_options.chooseSaveFile) {
        path = m_options.chooseSaveFile(proposedName);
    } else {
        QFileDialog dialog(parent, title, m_lastFolder,
                           proposedName.endsWith(QLatin1String(".sch")) ? kScheduleFilter : QString());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.selectFile(proposedName);
        if (proposedName.endsWith(QLatin1String(".sch")))
            dialog.setDefaultSuffix(QStringLiteral("sch"));
        dialog.setWindowModality(Qt::WindowModal);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first();
    }
    if (!path.isEmpty())
        m_lastFolder = QFileInfo(path).absolutePath();
    return path;
}

bool QuorvelApp::SaveSchedule()
{
    if (m_savePath.isEmpty())
        return saveScheduleAs();
    setNote({});
    const bool saved = m_files->saveConfirmed(m_savePath.toStdString()).ok();
    refreshTitle();
    return saved;
}

bool QuorvelApp::saveScheduleAs()
{
    const QString path = chooseSavePath(m_w.main, tr("Save Event Schedule As"),
                                        QString::fromStdString(m_files->proposedSaveName()));
    if (path.isEmpty())
        return false;
    setNote({});
    const bool saved = m_files->saveConfirmed(path.toStdString()).ok();
    if (saved)
        m_savePath = path;
    refreshTitle();
    return saved;
}

void QuorvelApp::myTimerproc()
{
    if (m_busy) {
        // An operation started by hand is under way; the launch work waits.
        QTimer::singleShot(500, this, [this] { myTimerproc(); });
        return;
    }
    runOperation([this] {
        if (m_prefs.clockPref == 1)
            m_ops->SetClock();
        if (m_prefs.readPref == 1)
            m_ops->GetEventList();
    });
    // Setting the clock and reading check the CP290's memory themselves.
    if (m_prefs.clockPref != 1 && m_prefs.readPref != 1)
        m_memoryQuestion->checkAtLaunch();
    refreshTitle();
}

void QuorvelApp::runOperation(const std::function<void()>& operation)
{
    if (m_busy)
        return;
    m_busy = true;
    m_cancel = false;
    QWidget* content = m_w.main->centralWidget();
    content->setEnabled(false);
    m_w.main->menuBar()->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_dropper->active = true;
    pump();
    operation();
    // Input that came during the last stretch is dropped now, not replayed.
    pump();
    m_dropper->active = false;
    QApplication::restoreOverrideCursor();
    m_w.main->menuBar()->setEnabled(true);
    content->setEnabled(true);
    m_busy = false;
}

void QuorvelApp::refreshTitle()
{
    QString title = QStringLiteral("Quorvel");
    if (!m_origin.isEmpty())
        title += QStringLiteral(" - ") + m_origin;
    m_w.main->setWindowTitle(title + QStringLiteral("[*]"));
    m_w.main->setWindowModified(m_table.hasUnsavedChanges());
}

void QuorvelApp::setNote(const QString& text, bool error)
{
    QWidget* note = findControl(m_w.main, NoteControlID);
    note->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    setControlText(note, text);
    note->setToolTip(text);  // whole, however narrow the window
}

void QuorvelApp::chooseSerialDevice(int port)
{
    if (port < 1 || port > m_devices.numPorts())
        return;
    m_prefs.curPort = port;
    m_prefs.serPath = state::pathForDevice(m_prefs, m_devices.path(port));
    m_prefs.serPathChosen = true;
    m_ops->setDevicePath(m_prefs.serPath);
}

void QuorvelApp::openPlanningWindow(QWidget* window)
{
    m_w.main->planningMenu()->setEnabled(false);
    window->show();
    window->raise();
    window->activateWindow();
}

void QuorvelApp::closePlanningWindow(QWidget* window)
{
    m_w.main->planningMenu()->setEnabled(true);
    window->hide();
    // What the closed window saved shows at once in the Automation window.
    m_automationHandler->refreshIfShown();
}

void QuorvelApp::pump()
{
    // Draw the sheet while the operation holds the event loop. Input is
    // delivered, and dropped by the InputDropper unless it is a Cancel:
    // excluding it here would only queue it for after the operation.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// --- core::OperationsUi ----------------------------------------------

void QuorvelApp::progressShow(const std::string& text)
{
    setControlText(findControl(m_w.t, CopyControlID), QString::fromStdString(text));
    setControlValue(findControl(m_w.t, PrgsControlID), 0);
    m_w.t->show();
    m_w.t->raise();
    pump();
}

void QuorvelApp::progressValue(int eventNumber)
{
    setControlValue(findControl(m_w.t, PrgsControlID), eventNumber);
    m_w.t->raise();
    pump();
}

void QuorvelApp::progressHide()
{
    m_w.t->hide();
    setControlValue(findControl(m_w.t, PrgsControlID), 0);
    setControlText(findControl(m_w.t, TimeLeftControlID), {});
}

bool QuorvelApp::cancelRequested()
{
    pump();  // a click on Cancel since the last look
    return m_cancel;
}

void QuorvelApp::progressBytesLeft(long bytes)
{
    // 600 baud, ten bits a byte.
    const long seconds = (bytes + 59) / 60;
    QString text;
    if (seconds >= 60)
        text = tr("About %1 min %2 s left").arg(seconds / 60).arg(seconds % 60);
    else if (seconds > 0)
        text = tr("About %1 s left").arg(seconds);
    setControlText(findControl(m_w.t, TimeLeftControlID), text);
}

void QuorvelApp::listChanged()
{
    m_mainHandler->clearSelection();
    m_mainHandler->setUpdDel(false, false);
    m_mainHandler->SetEventDeviceNames(-1);
    m_mainHandler->allChanged();
    refreshTitle();
}

void QuorvelApp::setSaveFindEnabled(bool enabled)
{
    setControlEnabled(m_w.main, SavControlID, enabled);
    setControlEnabled(m_w.main, FndControlID, enabled);
}

void QuorvelApp::setSourceText(const std::string& text)
{
    const QString source = QString::fromStdString(text);
    setControlText(findControl(m_w.main, SrceControlID), source);
    // The title keeps naming where the events came from; a blank source
    // (an event edited or deleted) shows as the unsaved mark instead.
    if (source == QLatin1String("Contents of CP290"))
        m_savePath.clear();  // the CP290's events go to a file the user names
    if (!source.trimmed().isEmpty())
        m_origin = source == QLatin1String("Contents of CP290") ? QStringLiteral("CP290") : source;
    refreshTitle();
}

void QuorvelApp::selfTestStarted()
{
    findControl(m_w.stat, CancelControlID)->show();
    m_w.stat->show();
    m_w.stat->raise();
    pump();
}

void QuorvelApp::selfTestResult(bool passed)
{
    setControlText(findControl(m_w.stat, SMessControlID),
                   passed ? QStringLiteral("*** Passed ***") : QStringLiteral("*** Failed ***"));
    QWidget* button = findControl(m_w.stat, SButtControlID);
    setControlText(button, passed ? QStringLiteral("Sweet") : QStringLiteral("Bummer"));
    button->setEnabled(true);
    findControl(m_w.stat, CancelControlID)->hide();
}

void QuorvelApp::showError(const std::string& text)
{
    const QString message = QString::fromStdString(text);
    setNote(message);
    if (!m_errorBox) {
        m_errorBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quorvel"), QString(),
                                     QMessageBox::Ok, m_w.main);
        m_errorBox->setWindowModality(Qt::WindowModal);
    }
    m_errorBox->setText(message);
    m_errorBox->open();
}

int QuorvelApp::ask(QWidget* parent, const QString& text, const QStringList& buttons, int preferred)
{
    if (m_options.answer)
        return m_options.answer(text, buttons, preferred);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvel"), text, QMessageBox::NoButton, parent);
    box.setWindowModality(Qt::WindowModal);
    std::vector<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        QPushButton* b = box.addButton(buttons[i], QMessageBox::ActionRole);
        added.push_back(b);
        if (i == preferred)
            box.setDefaultButton(b);
    }
    // Escape and the close box answer "dismissed".
    QPushButton* escape = box.addButton(QMessageBox::Cancel);
    escape->hide();
    box.setEscapeButton(escape);
    box.exec();
    const auto chosen = std::find(added.begin(), added.end(), box.clickedButton());
    return chosen == added.end() ? -1 : static_cast<int>(chosen - added.begin());
}

void QuorvelApp::showDone(const std::string& text)
{
    setNote(QString::fromStdString(text), false);
}

// --- state::PreferencesUi --------------------------------------------------

void QuorvelApp::fillPortMenu()
{
    auto* port = static_cast<QComboBox*>(findControl(m_w.main, PortControlID));
    port->clear();
    for (int i = 1; i <= m_devices.numPorts(); ++i)
        port->addItem(QString::fromStdString(m_devices.path(i)));
}

void QuorvelApp::showPort(int32_t curPort)
{
    setControlValue(findControl(m_w.main, PortControlID), curPort);
}

void QuorvelApp::addSearchName(const std::string& name)
{
    static_cast<QComboBox*>(findControl(m_w.fnd, CBoxControlID))
        ->addItem(QString::fromStdString(name));
}

void QuorvelApp::setHelpTagsShown(bool shown)
{
    if (m_helpFilter)
        static_cast<HelpTagFilter*>(m_helpFilter)->shown = shown;
}

bool QuorvelApp::helpTagsShown() const
{
    return !m_helpFilter || static_cast<HelpTagFilter*>(m_helpFilter)->shown;
}

}  // namespace ui
