// Fixture of the simulated-network tests: a fresh library state, the manual clock, a private
// record file, and a listener that records what it is told.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lon/lns.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

struct Update {
  uint32_t gateId;
  int32_t field;
  VARTYPE vt;
  double number;               // VT_R4, VT_I2, VT_I4, VT_BOOL
  std::string text;            // VT_BSTR
  std::vector<uint8_t> bytes;  // VT_ARRAY|VT_UI1
};

class RecordingListener : public ILnsListener {
 public:
  void OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value, int32_t fieldIndex) override;
  void OnSystemServicePin(int32_t, int32_t, int32_t hDevice, const char* neuronId, const char*,
                          const char* deviceName, int32_t, int32_t, int32_t) override;
  void OnAttachmentLca(int32_t, int32_t, int32_t, int32_t isAttached, const char* name,
                       int32_t hObject) override;

  std::vector<Update> Updates();
  std::vector<std::string> Pins();         // "neuronId deviceName hDevice"
  std::vector<std::string> Attachments();  // "name hObject isAttached"
  std::thread::id lastThread;

 private:
  std::mutex mu_;
  std::vector<Update> updates_;
  std::vector<std::string> pins_, attachments_;
};

// Converts a VARIANT into an Update for comparisons.
Update Decode(uint32_t gateId, int32_t field, const VARIANT& v);

class NetsimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens a CLns on `network` with the listener registered; fails the test when it cannot.
  CLns* OpenLns(const std::string& network, char delimiter = '.');
  CNVItem* Add(const std::string& name);

  ScopedTempDir dir_;
  CLns* lns_ = nullptr;
  RecordingListener listener_;
};

VARIANT MakeBstr(const std::string& text);
VARIANT MakeR4(float v);
std::string Text(const VARIANT& v);  // BSTR as ISO 8859-1 text
