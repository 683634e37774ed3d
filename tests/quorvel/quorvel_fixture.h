#pragma once
// A quorvel in-process against the emulator: temporary HOME and
// XDG_CONFIG_HOME, CP290_SERIAL_DEVICES naming the emulator's line, file
// dialogs answered by the test. Windows and controls are reached by their
// interface names and control IDs, commands sent by code.
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/quorvel_app.h"
#include "tests/support/test_support.h"

class QWidget;

namespace uitest {

class QuorvelTest : public testing_support::SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Preferences stored before start().
    void storeOptions(int warn, int clock, int read, int help);
    void storeDeviceNames(char house, const std::vector<std::string>& names);

    // Starts the controller; launch delay long unless given.
    void startApp(int launchDelayMs = 3600 * 1000);

    ui::QuorvelApp& app() { return *m_app; }
    QWidget* win(const char* name) const;
    QWidget* ctl(const char* window, int id) const;
    // Sends a command as a control of the window would; fails the test when nobody handles it.
    void cmd(const char* window, const char* code);
    // Clicks the window's own button that sends the code, as a person would.
    void click(const char* window, const char* code);
    int value(const char* window, int id) const;
    QString text(const char* window, int id) const;
    bool enabled(const char* window, int id) const;
    void setValue(const char* window, int id, int v);

    // The editor: units checked, days as bits, time, then 'doIt'.
    struct EventInput {
        int number = 0;          // 0: keep the number the editor offers
        int house = 1;           // 1..16
        std::vector<int> units{1};
        int days = 0x7F;
        int hour = 6;
        int minute = 30;
        bool off = false;
        int dim = 0;
        bool security = false;
    };
    void fillEditor(const EventInput& e);
    void storeInEditor(const EventInput& e);  // fill + a click on OK

    // Test answers of the file dialogs.
    QString openAnswer;
    QString saveAnswer;
    QString proposedName;
    std::vector<QString> notices;
    // Questions asked, and the button index each is answered with, in
    // order; once they are used up, `otherAnswers` (-1: dismissed).
    std::vector<QString> questions;
    std::vector<int> answers;
    int otherAnswers = -1;

    testing_support::TempDir m_home;
    std::unique_ptr<ui::QuorvelApp> m_app;
};

// The list's event numbers in display order.
std::vector<int> displayOrder(ui::QuorvelApp& app);

sim::EventImage image(int mode, int days, int hour, int minute, int u1, int u2, int house, int lf);

}  // namespace uitest
