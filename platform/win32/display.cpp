// The desktop can show windows when the process's window station is the visible one and a window
// can be made on its desktop. A service runs on a window station of its own that no user sees:
// a dialog there would wait for ever for a click, so that counts as no display. A process without
// a display server (Wine without an X server) gets no window at all.
#include "platform/display.h"

#include <windows.h>

#include <cstdio>

bool GuiDisplayAvailable(std::string* why) {
  char text[112];
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station &&
      GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr) != FALSE &&
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    *why = "no display: the process's window station is not visible (a service's)";
    return false;
  }
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe) {
    DestroyWindow(probe);
    return true;
  }
  std::snprintf(text, sizeof text, "no display: no window can be created (LastError %08lx)",
                static_cast<unsigned long>(GetLastError()));
  *why = text;
  return false;
}
