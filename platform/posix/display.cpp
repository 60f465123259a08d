#include "platform/display.h"

#include <unistd.h>

#include <cstdlib>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// DISPLAY is [host]:number[.screen]; a local server listens on /tmp/.X11-unix/X<number>.
bool XServerReachable(std::string* why) {
  std::string display = Env("DISPLAY");
  size_t colon = display.rfind(':');
  if (display.empty() || colon == std::string::npos) {
    *why = "no X display (DISPLAY not set)";
    return false;
  }
  std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;  // remote: only a connection would tell
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (!number.empty() && access(("/tmp/.X11-unix/X" + number).c_str(), F_OK) == 0) return true;
  *why = "X display '" + display + "' not running";
  return false;
}

bool WaylandReachable(std::string* why) {
  std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty()) name = "wayland-0";
  std::string path = name[0] == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
  if (access(path.c_str(), F_OK) == 0) return true;
  *why = "no Wayland compositor at '" + path + "'";
  return false;
}

bool PlatformReachable(const std::string& platform, std::string* why) {
  std::string name = platform.substr(0, platform.find(':'));  // options follow a ':'
  if (name == "offscreen" || name == "minimal") return true;
  if (name == "xcb") return XServerReachable(why);
  if (name.rfind("wayland", 0) == 0) return WaylandReachable(why);
  *why = "GUI platform '" + name + "' not supported";
  return false;
}

}  // namespace

bool GuiDisplayAvailable(std::string* why) {
  std::string chosen = Env("QT_QPA_PLATFORM");
  if (chosen.empty()) {
    chosen = Env("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
  }
  // A list is tried in order until one platform starts.
  size_t start = 0;
  while (start <= chosen.size()) {
    size_t end = chosen.find(';', start);
    if (end == std::string::npos) end = chosen.size();
    if (end > start && PlatformReachable(chosen.substr(start, end - start), why)) return true;
    start = end + 1;
  }
  return false;
}
