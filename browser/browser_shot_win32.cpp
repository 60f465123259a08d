// telmar-browser-shot.exe: opens the native browser dialog against the simulated demo network as
// a running driver would offer it, selects an NV with the options "Implicit" and "Real", and has
// its picture taken from the screen: run it through cmake/wine-xvfb-run with TELMAR_XVFB_SHOT set
// (docs/README.md).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "browser/win32_dialog_hook.h"
#include "browser/win32_own_desktop.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/vpi_main.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

bool ShootDialog(void* window, const std::vector<std::string>& path);

int main() {
  int status = RunAgainOnOwnDesktop();
  if (status >= 0) return status;
  // The driver's side: its option file in a directory of our own, its shared block, the network.
  const std::filesystem::path previous = std::filesystem::current_path();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("telmar-shot-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::ofstream("TELMAR01.int") << "[Lns]\nNetwork=Demo\n[Macros]\n";
  lonsim::SetNetworkRecordFile((dir / "lonsim.network").string());

  alignas(std::max_align_t) static unsigned char block[sizeof(DriverInstance)];
  VpiRequest driver{};
  driver.instance = reinterpret_cast<DriverInstance*>(block);
  driver.instanceNumber = 1;
  InstanceSetup(&driver);
  int rc = 1;
  CLns* lns = nullptr;
  uint8_t client = 0;
  if (CreateShareData(&driver) == 0 && KestMkClient("TelMAR", 1, 0, &client) == 0) {
    driver.instance->shareView->delimiter = '.';
    driver.instance->shareView->clientId = client;
    lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    if (lns && lns->Init(nullptr, 1) == 0 && lns->Open("Demo", "", "", "") == 0) {
      bool shot = false;
      SetWin32DialogShownHook([&](void* window) {
        shot = ShootDialog(window, {"Building", "Floor1", "Room101", "nvoSpaceTemp"});
      });
      char address[kBrowseAddressCapacity];
      BrowseParams params{address};
      VpiRequest browse{};
      browse.command = kBrowseAddress;
      browse.instanceNumber = 1;
      browse.params = &params;
      VpiMain(&browse);
      SetWin32DialogShownHook(nullptr);
      if (shot) {
        rc = 0;
      } else {
        std::fprintf(stderr, "telmar-browser-shot: the dialog could not be shown\n");
      }
    }
  }
  if (lns) lns->Release();
  InstanceTeardown(driver.instance);
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return rc;
}
