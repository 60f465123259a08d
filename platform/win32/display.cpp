// The desktop can show windows when a window can be made on it. A process without a display (a
// service's window station, or Wine without an X server) gets no window at all.
#include "platform/display.h"

#include <windows.h>

#include <cstdio>

bool GuiDisplayAvailable(std::string* why) {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe) {
    DestroyWindow(probe);
    return true;
  }
  char text[96];
  std::snprintf(text, sizeof text, "no display: no window can be created (LastError %08lx)",
                static_cast<unsigned long>(GetLastError()));
  *why = text;
  return false;
}
