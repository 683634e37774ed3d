#pragma once
// Folders the programs share: the user folder (home, trailing "/") and the
// application folder (the folder holding the running executable, trailing
// "/"; CP290_APP_DIR overrides it for tests).
#include <string>

namespace platform {

std::string userFolder();
std::string applicationFolder();
// The suite's own state: $XDG_STATE_HOME/cp290/ (~/.local/state/cp290/ when
// unset), trailing "/". Not created here.
std::string suiteStateFolder();

// Creates the folder and every missing folder above it (mode 0700, less the
// umask); folders already there are fine. 0, or the errno of the failing level.
int makeFolders(const std::string& folder);

// The last component of a path (the file's name without its folder).
std::string fileNameOf(const std::string& path);

// True when a graphical display is reachable (DISPLAY or WAYLAND_DISPLAY, or
// a Qt platform chosen explicitly through QT_QPA_PLATFORM).
bool hasDisplay();

// Unless a Qt platform was chosen explicitly, lets Qt fall back to drawing
// off screen when the display cannot be reached: a stale DISPLAY under cron
// would otherwise abort a tool before it has done its work. Call before the
// application object is made.
void allowOffscreenFallback();

}  // namespace platform
