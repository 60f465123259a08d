// A Windows desktop always has a display. (The window backend of the dialog decides whether it
// can show a window; until a native one exists, dialogs run through their scripts.)
#include "platform/display.h"

bool GuiDisplayAvailable(std::string*) {
  return true;
}
