#pragma once
// MessWindowEventHandler: the confirmation's OK acts by the window's mode;
// closing it cancels. Each mode's OK goes to the handler that asked, which
// the shell hands in with the operations and the table the quit and CP290
// questions act on.
#include "quorvel/command_router.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"

namespace core {
class Cp290Operations;
class EventTable;
}  // namespace core

namespace ui {

class EditWindowHandler;
class MainWindowHandler;
class SchedulesHandler;
class TimeCorrectionHandler;

class MessWindowHandler : public CommandHandler {
public:
    // Who asked: the handlers whose questions the window answers.
    struct Askers {
        MainWindowHandler& main;          // WarnOpen
        EditWindowHandler& editor;        // WarnReplace
        SchedulesHandler& schedules;      // WarnSchedules
        TimeCorrectionHandler& corrections;  // WarnCorrections
    };

    MessWindowHandler(Shell& shell, const Windows& windows, core::Cp290Operations& ops,
                      const core::EventTable& table, Askers askers)
        : m_shell(shell), m_w(windows), m_ops(ops), m_table(table), m_askers(askers)
    {
    }
    bool handleCommand(const QString& code) override;
    bool handleClose() override;

private:
    Shell& m_shell;
    const Windows& m_w;
    core::Cp290Operations& m_ops;
    const core::EventTable& m_table;
    Askers m_askers;
};

}  // namespace ui
