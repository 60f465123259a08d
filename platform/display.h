// Whether the GUI toolkit can open a window in this process.
#pragma once

#include <string>

// True when the platform the toolkit will use (QT_QPA_PLATFORM, else X11, or Wayland in a
// Wayland session) has a reachable display server, or needs none ("offscreen", "minimal").
// Otherwise false with *why saying what is missing. The toolkit ends the process when its
// platform cannot start, so this is asked before it is started.
bool GuiDisplayAvailable(std::string* why);
