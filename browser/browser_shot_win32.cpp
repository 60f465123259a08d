// telmar-browser-shot.exe: opens the native browser dialog against the simulated demo network as
// a running driver would offer it, selects an NV with the options "Implicit" and "Real", and has
// its picture taken from the screen: run it through cmake/wine-xvfb-run with TELMAR_XVFB_SHOT set
// (docs/README.md).
#include <cstdio>
#include <string>
#include <vector>

#include "browser/browser_shot_scene.h"
#include "browser/win32_dialog_hook.h"
#include "browser/win32_own_desktop.h"

bool ShootDialog(void* window, const std::vector<std::string>& path);

int main() {
  int status = RunAgainOnOwnDesktop();
  if (status >= 0) return status;
  int rc = WithBrowseScene([] {
    bool shot = false;
    SetWin32DialogShownHook([&](void* window) {
      shot = ShootDialog(window, {"Building", "Floor1", "Room101", "nvoSpaceTemp"});
    });
    SendBrowse();
    SetWin32DialogShownHook(nullptr);
    if (!shot) {
      std::fprintf(stderr, "telmar-browser-shot: the dialog could not be shown\n");
      return 1;
    }
    return 0;
  });
  return rc < 0 ? 1 : rc;
}
