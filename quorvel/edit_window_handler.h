#pragma once
// EditWindowEventHandler: opening the editor for a new or the selected
// event, the unit drawer's titles and checks, when OK may be pressed, and
// storing the event into the table; what it stores shows at once in the
// main window's list, which it is handed.
#include <QString>

#include "quorvel/command_router.h"
#include "quorvel/event_key_filter.h"
#include "quorvel/shell.h"
#include "quorvel/windows.h"
#include "link/cp290_protocol.h"

namespace core {
class EventTable;
}

namespace ui {

class MainWindowHandler;
class TimeCorrectionHandler;

class EditWindowHandler : public CommandHandler {
public:
    EditWindowHandler(Shell& shell, const Windows& windows, core::EventTable& table, MainWindowHandler& mainList)
        : m_shell(shell), m_w(windows), m_table(table), m_mainList(mainList)
    {
    }

    // The editor's mode: a new event, or a change of the one opened on.
    enum EditMode { ModeNone = 0, ModeAdd = 1, ModeChange = 2 };
    EditMode mode() const { return m_mode; }

    // Start-up: the key filter on the event-number field, the offset's wiring.
    void installKeyFilter();
    // Who lists the events the editor sets from the sun.
    void setFollower(TimeCorrectionHandler& follower) { m_follower = &follower; }

    void openNew();            // 'addE'
    void openChange(int n);    // 'updE' on event n

    bool handleCommand(const QString& code) override;
    bool handleClose() override;

    // Unit boxes titled with house h's names (h = house index - 1); in
    // change mode checked from the event being changed.
    void SetDeviceNames(int h);
    // The unit boxes' titles from house h's names (h = house index - 1).
    void titleUnits(int h);
    int getDevs() const;  // checked unit boxes
    int getDays() const;  // checked day boxes


    // The confirmation's OK on replacing a used event: the event is stored.
    void replaceConfirmed();
    // Puts n into the number field (a free row double-clicked).
    void offerNumber(int n);

private:
    void checkOk();  // 'dayc': OK needs a number, a unit and a day
    void keyEffect(OkEffect effect);
    void storeEvent();  // 'doIt'
    void store(int eventNo, const cp290::EventImage& image);
    // The correction kind the time follows (sunrise, sunset), 0 for a fixed time.
    int sunKind() const;
    // 'sunK', the offset changed: a sun kind shows today's sun time and sets
    // the time control to it plus the offset.
    void sunChanged();

    Shell& m_shell;
    const Windows& m_w;
    core::EventTable& m_table;
    MainWindowHandler& m_mainList;
    EditMode m_mode = ModeNone;
    // The event the change editor was opened on. The editor is not modal, so
    // the list's selection may move to another event meanwhile.
    int m_changing = 0;
    // The event waiting for the answer to "replace it?" (number 0: none).
    int m_pendingNumber = 0;
    cp290::EventImage m_pendingImage{};
    int m_pendingSunKind = 0;  // the stored event follows this kind (0: a fixed time)
    bool m_sunTimeOk = true;   // a sun kind has a time today
    TimeCorrectionHandler* m_follower = nullptr;
};

}  // namespace ui
