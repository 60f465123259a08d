// The callback thread: never the caller's, and silent once notification is off or the
// connection is released, even while changes keep coming.
#include "host/kest_host.h"
#include "tests/netsim/netsim_fixture.h"

namespace {

const std::string kCount = "Building.Floor1.Room101.nvoCount";

// Counts callbacks and those that start after the test said they must not.
class GuardListener : public ILnsListener {
 public:
  void OnNetworkVariableUpdate(uint32_t, VARIANT*, int32_t) override {
    if (closed.load()) late.fetch_add(1);
    inside.fetch_add(1);
    calls.fetch_add(1);
    for (int i = 0; i < 2000; ++i) spin.fetch_add(1, std::memory_order_relaxed);
    inside.fetch_sub(1);
  }
  void OnSystemServicePin(int32_t, int32_t, int32_t, const char*, const char*, const char*, int32_t,
                          int32_t, int32_t) override {}
  void OnAttachmentLca(int32_t, int32_t, int32_t, int32_t, const char*, int32_t) override {}

  std::atomic<bool> closed{false};
  std::atomic<int> late{0}, inside{0}, calls{0}, spin{0};
};

class DeliveryTest : public NetsimTest {
 protected:
  // Opens the demo with `guard` listening to nvoCount, and a thread changing it until stopped.
  void StartStorm(GuardListener* guard) {
    lns_ = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    ASSERT_EQ(lns_->Open("Demo", "", "", ""), 0);
    ASSERT_EQ(lns_->AddListener(guard), 0);
    CNVItem* item = lns_->AddNV(kCount.c_str(), nullptr);
    ASSERT_EQ(lns_->AddListener(item, 1u), 0);
    storm_ = std::thread([this] {
      for (int i = 0; !stop_.load(); i = (i + 1) % 60000) lonsim::SetNVValue(kCount, i);
    });
    ASSERT_TRUE(WaitForCalls(guard, 200));
  }
  void StopStorm() {
    stop_ = true;
    if (storm_.joinable()) storm_.join();
  }
  void TearDown() override {
    StopStorm();
    NetsimTest::TearDown();
  }
  static bool WaitForCalls(GuardListener* guard, int n) {
    return kesthost::WaitFor([&] { return guard->calls.load() >= n; });
  }

  GuardListener guard_;  // outlives TearDown's Release
  std::thread storm_;
  std::atomic<bool> stop_{false};
};

TEST_F(DeliveryTest, CallbacksRunOnTheLibrarysThread) {
  lns_ = OpenLns("Demo");
  ASSERT_NE(lns_, nullptr);
  ASSERT_EQ(lns_->AddListener(lns_->AddNV(kCount.c_str(), nullptr), 1u), 0);
  ASSERT_TRUE(lonsim::SetNVValue(kCount, 1));
  ASSERT_TRUE(lonsim::PressServicePin("Building.Floor1.Room101"));
  lonsim::Drain();
  ASSERT_EQ(listener_.Updates().size(), 1u);
  EXPECT_NE(listener_.lastThread, std::this_thread::get_id());
  EXPECT_NE(listener_.lastThread, std::thread::id());
}

TEST_F(DeliveryTest, DrainWaitsForEveryEventRaisedSoFar) {
  lns_ = OpenLns("Demo");
  ASSERT_NE(lns_, nullptr);
  CNVItem* item = lns_->AddNV(kCount.c_str(), nullptr);
  for (uint32_t gate = 1; gate <= 3; ++gate) ASSERT_EQ(lns_->AddListener(item, gate), 0);
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(lonsim::SetNVValue(kCount, i));
  lonsim::Drain();
  std::vector<Update> got = listener_.Updates();
  ASSERT_EQ(got.size(), 15000u);
  EXPECT_EQ(got.back().number, 4999);  // in order
}

TEST_F(DeliveryTest, NoCallbackAfterNotificationIsSwitchedOffUnderAStorm) {
  GuardListener& guard = guard_;
  StartStorm(&guard);
  ASSERT_EQ(lns_->EnableNotifyListeners(0), 0);
  guard.closed = true;
  EXPECT_EQ(guard.inside.load(), 0);
  int calls = guard.calls.load();
  for (int i = 0; i < 1000; ++i) lonsim::SetNVValue(kCount, i);
  lonsim::Drain();
  EXPECT_EQ(guard.late.load(), 0);
  EXPECT_EQ(guard.calls.load(), calls);

  guard.closed = false;  // and on again
  ASSERT_EQ(lns_->EnableNotifyListeners(1), 0);
  EXPECT_TRUE(WaitForCalls(&guard, calls + 100));
  StopStorm();
}

TEST_F(DeliveryTest, NoCallbackAfterReleaseUnderAStorm) {
  GuardListener& guard = guard_;
  StartStorm(&guard);
  lns_->Release();
  lns_ = nullptr;
  guard.closed = true;
  EXPECT_EQ(guard.inside.load(), 0);
  StopStorm();
  lonsim::Drain();
  EXPECT_EQ(guard.late.load(), 0);
}

// Calls back into the library from its callback.
class ReentrantListener : public GuardListener {
 public:
  void OnNetworkVariableUpdate(uint32_t gate, VARIANT* value, int32_t field) override {
    GuardListener::OnNetworkVariableUpdate(gate, value, field);
    if (disable) lns->EnableNotifyListeners(0);
    if (release && calls.load() == 1) lns->Release();
    if (read) {
      VARIANT v;
      VariantInit(&v);
      readResult = lns->ReadNV(item, &v, kIOOptMonitored);
    }
    returned.fetch_add(1);  // the last touch of this object
  }
  CLns* lns = nullptr;
  CNVItem* item = nullptr;
  bool disable = false, release = false, read = false;
  int readResult = -1;
  std::atomic<int> returned{0};
};

TEST_F(DeliveryTest, CallbacksMayCallTheLibrary) {
  for (int mode = 0; mode < 3; ++mode) {
    ReentrantListener l;
    l.lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    ASSERT_EQ(l.lns->Open("Demo", "", "", ""), 0);
    ASSERT_EQ(l.lns->AddListener(&l), 0);
    l.item = l.lns->AddNV(kCount.c_str(), nullptr);
    ASSERT_EQ(l.lns->AddListener(l.item, 1u), 0);
    l.read = mode == 0;
    l.disable = mode == 1;
    l.release = mode == 2;
    for (int i = 0; i < 3; ++i) lonsim::SetNVValue(kCount, i);  // fails once released
    lonsim::Drain();  // a connection released from its callback is no longer drained
    ASSERT_TRUE(kesthost::WaitFor([&] { return l.returned.load() == l.calls.load(); }));
    EXPECT_EQ(l.calls.load(), mode == 0 ? 3 : 1) << mode;
    if (mode == 0) {
      EXPECT_EQ(l.readResult, 0);
    }
    if (mode != 2) l.lns->Release();
  }
}

}  // namespace

namespace {

TEST_F(DeliveryTest, RealTimeClockPollsOnItsOwn) {
  dir_.WriteFile("rt.net",
                 "device D handle 4 neuron 000000000004\n"
                 "nv D.nvoPolled output SNVT_count poll value 1\n");
  lns_ = OpenLns("rt.net");
  ASSERT_NE(lns_, nullptr);
  CNVItem* item = lns_->AddNV("D.nvoPolled", nullptr);
  ASSERT_EQ(lns_->AddListener(item, 1u), 0);
  ASSERT_EQ(lns_->PollNV(item, 20, 1), 0);
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 2));
  int64_t start = lonsim::Now();
  lonsim::UseRealTimeClock();
  EXPECT_TRUE(kesthost::WaitFor([&] { return listener_.Updates().size() == 1; }));
  EXPECT_GE(lonsim::Now(), start + 20);
  lonsim::UseManualClock();
  int64_t frozen = lonsim::Now();
  lonsim::AdvanceClock(19);
  EXPECT_EQ(lonsim::Now(), frozen + 19);
}

}  // namespace
