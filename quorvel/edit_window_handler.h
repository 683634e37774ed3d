#pragma once
// EditWindowEventHandler: opening the editor for a new or the selected
// event, the unit drawer's titles and checks, when OK may be pressed, and
// storing the event into the table.
#include <QString>

#include "quorvel/command_router.h"
#include "quorvel/event_key_filter.h"
#include "link/cp290_protocol.h"

namespace ui {

class QuorvelApp;

class EditWindowHandler : public CommandHandler {
public:
    explicit EditWindowHandler(QuorvelApp& app) : m_app(app) {}

    // Start-up: the key filter on the event-number field.
    void installKeyFilter();

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

    static constexpr int kUnitTitleMax = 21;  // characters of a name on a unit box

    // The confirmation's OK on replacing a used event: the event is stored.
    void replaceConfirmed();
    // Puts n into the number field (a free row double-clicked).
    void offerNumber(int n);

private:
    void checkOk();  // 'dayc': OK needs a number, a unit and a day
    void keyEffect(OkEffect effect);
    void storeEvent();  // 'doIt'
    void store(int eventNo, const cp290::EventImage& image);

    QuorvelApp& m_app;
    // The event the change editor was opened on. The editor is not modal, so
    // the list's selection may move to another event meanwhile.
    int m_changing = 0;
    // The event waiting for the answer to "replace it?" (number 0: none).
    int m_pendingNumber = 0;
    cp290::EventImage m_pendingImage{};
};

}  // namespace ui
