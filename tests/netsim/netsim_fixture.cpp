#include "tests/netsim/netsim_fixture.h"

Update Decode(uint32_t gateId, int32_t field, const VARIANT& v) {
  Update u{gateId, field, v.vt, 0, "", {}};
  switch (v.vt) {
    case VT_R4:
      u.number = v.fltVal;
      break;
    case VT_I2:
      u.number = v.iVal;
      break;
    case VT_I4:
      u.number = v.lVal;
      break;
    case VT_BOOL:
      u.number = v.boolVal;
      break;
    case VT_BSTR:
      u.text = Text(v);
      break;
    case VT_ARRAY_UI1:
      u.bytes.assign(ByteArrayData(v.parray), ByteArrayData(v.parray) + ByteArraySize(v.parray));
      break;
    default:
      break;
  }
  return u;
}

void RecordingListener::OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value,
                                                int32_t fieldIndex) {
  std::lock_guard<std::mutex> lock(mu_);
  lastThread = std::this_thread::get_id();
  updates_.push_back(Decode(gateId, fieldIndex, *value));
}

void RecordingListener::OnSystemServicePin(int32_t, int32_t, int32_t hDevice, const char* neuronId,
                                           const char*, const char* deviceName, int32_t, int32_t,
                                           int32_t) {
  std::lock_guard<std::mutex> lock(mu_);
  lastThread = std::this_thread::get_id();
  pins_.push_back(std::string(neuronId) + " " + deviceName + " " + std::to_string(hDevice));
}

void RecordingListener::OnAttachmentLca(int32_t, int32_t, int32_t, int32_t isAttached,
                                        const char* name, int32_t hObject) {
  std::lock_guard<std::mutex> lock(mu_);
  lastThread = std::this_thread::get_id();
  attachments_.push_back(std::string(name) + " " + std::to_string(hObject) + " " +
                         std::to_string(isAttached));
}

std::vector<Update> RecordingListener::Updates() {
  std::lock_guard<std::mutex> lock(mu_);
  return updates_;
}

std::vector<std::string> RecordingListener::Pins() {
  std::lock_guard<std::mutex> lock(mu_);
  return pins_;
}

std::vector<std::string> RecordingListener::Attachments() {
  std::lock_guard<std::mutex> lock(mu_);
  return attachments_;
}

void NetsimTest::SetUp() {
  lonsim::Reset();
  lonsim::UseManualClock();
  lonsim::SetNetworkRecordFile(dir_.path() + "/record");
}

void NetsimTest::TearDown() {
  if (lns_) lns_->Release();
  lonsim::Reset();
}

CLns* NetsimTest::OpenLns(const std::string& network, char delimiter) {
  CLns* lns = CLns::GetLnsObject(0, 1, 1, delimiter, "", "", "");
  EXPECT_NE(lns, nullptr);
  if (!lns) return nullptr;
  EXPECT_EQ(lns->Init(nullptr, 1), 0);
  int rc = lns->Open(network.c_str(), "", "", "");
  EXPECT_EQ(rc, 0) << lonsim::LastError();
  EXPECT_EQ(lns->AddListener(&listener_), 0);
  if (rc != 0) {
    lns->Release();
    return nullptr;
  }
  return lns;
}

CNVItem* NetsimTest::Add(const std::string& name) {
  CNVItem* item = lns_->AddNV(name.c_str(), nullptr);
  EXPECT_NE(item, nullptr) << name << ": " << lonsim::LastError();
  return item;
}

VARIANT MakeBstr(const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = BstrFromUtf16(wide.data(), static_cast<uint32_t>(wide.size()));
  return v;
}

VARIANT MakeR4(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

std::string Text(const VARIANT& v) {
  std::string s;
  const char16_t* units = BstrUtf16(v.bstrVal);
  for (uint32_t i = 0; i < SysStringLen(v.bstrVal); ++i) s += static_cast<char>(units[i]);
  return s;
}
