// A running driver's side of a browse command, set up by hand: an instance with its shared
// block (delimiter '.', a registered host client), the option file with its macros, and an
// open simulated network whose tree the dialog shows.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "browser/browse_address.h"
#include "browser/dialog_script.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/host_records.h"
#include "host/kest_host.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

namespace browsetest {

inline const std::string kSpaceTemp = "Building.Floor1.Room101.nvoSpaceTemp";
inline const std::string kRoom = "Building.Floor1.Room101";

using Script = std::function<void(const TelmarDialogApi* api, TelmarDialog* dlg)>;

class BrowseFixture : public ::testing::Test {
 protected:
  // macroLines: the lines below "[Macros]"; network: "Demo" or a file written into the
  // directory.
  void StartDriver(const std::string& macroLines = "", const std::string& network = "Demo") {
    lonsim::Reset();
    lonsim::SetNetworkRecordFile(dir_.path() + "/lonsim.network");
    kesthost::Reset();
    dir_.WriteFile("TELMAR01.int", "[Lns]\nNetwork=" + network + "\n[Macros]\n" + macroLines);
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.instanceNumber = 1;
    ASSERT_EQ(InstanceSetup(&request_), 0);
    inst_ = request_.instance;
    ASSERT_EQ(CreateShareData(&request_), 0);
    uint8_t client = 0;
    ASSERT_EQ(KestMkClient("TelMAR", 1, 0, &client), 0);
    share_ = inst_->shareView;
    share_->delimiter = '.';
    share_->clientId = client;
    lns_ = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    ASSERT_NE(lns_, nullptr);
    ASSERT_EQ(lns_->Init(nullptr, 1), 0);
    ASSERT_EQ(lns_->Open(network.c_str(), "", "", ""), 0) << lonsim::LastError();
    kesthost::ClearLog();
  }

  void TearDown() override {
    SetDialogScript(nullptr, nullptr);
    if (lns_) lns_->Release();
    lns_ = nullptr;
    if (inst_) {
      InstanceTeardown(inst_);  // closes and removes the shared block
      GlobalInst = nullptr;
      inst_ = nullptr;
    }
    lonsim::Reset();
  }

  // Runs command 16 with the script; the host's buffer starts poisoned.
  uint32_t Browse(const Script& script) {
    script_ = script;
    scriptRuns_ = 0;
    SetDialogScript(&BrowseFixture::Trampoline, this);
    std::memset(buffer_, 'Z', sizeof buffer_);
    buffer_[sizeof buffer_ - 1] = '\0';
    BrowseParams params{buffer_};
    VpiRequest request{};
    request.command = kBrowseAddress;
    request.instanceNumber = 1;
    request.params = &params;
    return BrowseAddress(&request);
  }

  std::string Buffer() const { return std::string(buffer_, strnlen(buffer_, sizeof buffer_)); }
  bool BufferUntouched() const { return Buffer() == std::string(sizeof buffer_ - 1, 'Z'); }
  std::string PendingValue() const { return ShareText(share_->pendingValue); }
  std::string PendingName() const { return ShareText(share_->pendingName); }
  void SetPending(const std::string& name, const std::string& value) {
    ASSERT_TRUE(SetShareText(share_->pendingName, name));
    ASSERT_TRUE(SetShareText(share_->pendingValue, value));
  }

  static std::string Text(const TelmarDialogApi* api, TelmarDialog* dlg, int id) {
    char text[512];
    std::memset(text, 'Z', sizeof text);
    int n = api->getText(dlg, id, text, sizeof text);
    return n < 0 ? "(unknown)" : std::string(text);
  }

  ScopedTempDir dir_;
  alignas(std::max_align_t) unsigned char block_[sizeof(DriverInstance)] = {};
  VpiRequest request_{};
  DriverInstance* inst_ = nullptr;
  ShareData* share_ = nullptr;
  CLns* lns_ = nullptr;
  char buffer_[kBrowseAddressCapacity + 64];
  Script script_;
  int scriptRuns_ = 0;

 private:
  static int Trampoline(const TelmarDialogApi* api, TelmarDialog* dlg, void* context) {
    auto* self = static_cast<BrowseFixture*>(context);
    ++self->scriptRuns_;
    self->script_(api, dlg);
    return 0;
  }
};

}  // namespace browsetest
