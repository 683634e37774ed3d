#pragma once
// Folders the programs share: the user folder (home, trailing "/") and the
// application folder (the folder holding the running executable, trailing
// "/"; CP290_APP_DIR overrides it for tests).
#include <string>

namespace platform {

std::string userFolder();
std::string applicationFolder();

// True when a graphical display is reachable (DISPLAY or WAYLAND_DISPLAY, or
// a Qt platform chosen explicitly through QT_QPA_PLATFORM).
bool hasDisplay();

}  // namespace platform
