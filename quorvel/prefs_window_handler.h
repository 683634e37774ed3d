#pragma once
// PrefsWindowEventHandler: closing the preferences window stores the four options.
#include "quorvel/command_router.h"
#include "quorvel/windows.h"
#include "state/preferences.h"

namespace ui {

class PrefsWindowHandler : public CommandHandler {
public:
    // `shown` takes the help-tag choice at once.
    PrefsWindowHandler(const Windows& windows, state::Preferences& prefs, state::PreferencesUi& shown)
        : m_w(windows), m_prefs(prefs), m_ui(shown)
    {
    }
    bool handleClose() override;

private:
    const Windows& m_w;
    state::Preferences& m_prefs;
    state::PreferencesUi& m_ui;
};

}  // namespace ui
