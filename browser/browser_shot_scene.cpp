#include "browser/browser_shot_scene.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/vpi_main.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

int WithBrowseScene(const std::function<int()>& showDialog) {
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
  int rc = -1;
  CLns* lns = nullptr;
  uint8_t client = 0;
  if (CreateShareData(&driver) == 0 && KestMkClient("TelMAR", 1, 0, &client) == 0) {
    driver.instance->shareView->delimiter = '.';
    driver.instance->shareView->clientId = client;
    lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    if (lns && lns->Init(nullptr, 1) == 0 && lns->Open("Demo", "", "", "") == 0) {
      rc = showDialog();
    }
  }
  if (lns) lns->Release();
  InstanceTeardown(driver.instance);
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return rc;
}

void SendBrowse() {
  char address[kBrowseAddressCapacity];
  BrowseParams params{address};
  VpiRequest browse{};
  browse.command = kBrowseAddress;
  browse.instanceNumber = 1;
  browse.params = &params;
  VpiMain(&browse);
}
