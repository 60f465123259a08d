#include "platform/thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr ThreadMessage kPoison{0xDEADBEEF, 0x5A5A, -0x5A5A};

bool Unchanged(const ThreadMessage& m) {
  return m.id == kPoison.id && m.wParam == kPoison.wParam && m.lParam == kPoison.lParam;
}

// Every test leaves the calling thread without a queue.
class ThreadQueueTest : public ::testing::Test {
 protected:
  void TearDown() override { ThreadQueueDestroy(); }
};

TEST_F(ThreadQueueTest, PostingNeedsAQueue) {
  ThreadId self = CurrentThreadId();
  EXPECT_FALSE(ThreadQueuePost(self, 2024, 1, 2));
  EXPECT_FALSE(ThreadQueuePost(0, 2024, 1, 2));
  ThreadMessage m = kPoison;
  EXPECT_FALSE(ThreadQueueTake(&m));
  EXPECT_TRUE(Unchanged(m));

  ThreadQueueCreate();
  EXPECT_TRUE(ThreadQueuePost(self, 2024, 1, 2));
  EXPECT_FALSE(ThreadQueuePost(self + 1000, 2024, 1, 2));  // nobody's id
}

TEST_F(ThreadQueueTest, MessagesComeOutOnceInOrderWithFullWidthParameters) {
  ThreadQueueCreate();
  ThreadId self = CurrentThreadId();
  const std::vector<ThreadMessage> sent = {
      {2024, UINTPTR_MAX, INTPTR_MIN}, {2025, 1, 17}, {2026, 0, INTPTR_MAX}, {2027, 42, -1}};
  for (const ThreadMessage& m : sent) ASSERT_TRUE(ThreadQueuePost(self, m.id, m.wParam, m.lParam));
  ThreadQueueCreate();  // a second create keeps what is queued
  for (const ThreadMessage& expected : sent) {
    ThreadMessage m = kPoison;
    ASSERT_TRUE(ThreadQueueTake(&m));
    EXPECT_EQ(m.id, expected.id);
    EXPECT_EQ(m.wParam, expected.wParam);
    EXPECT_EQ(m.lParam, expected.lParam);
  }
  ThreadMessage m = kPoison;
  EXPECT_FALSE(ThreadQueueTake(&m));
  EXPECT_TRUE(Unchanged(m));
}

TEST_F(ThreadQueueTest, DestroyDropsTheQueueAndWhatIsInIt) {
  ThreadQueueCreate();
  ThreadId self = CurrentThreadId();
  ASSERT_TRUE(ThreadQueuePost(self, 2024, 1, 2));
  ThreadQueueDestroy();
  EXPECT_FALSE(ThreadQueuePost(self, 2025, 1, 2));
  ThreadQueueCreate();
  ThreadMessage m = kPoison;
  EXPECT_FALSE(ThreadQueueTake(&m));
}

TEST_F(ThreadQueueTest, EachThreadTakesOnlyItsOwnMessages) {
  ThreadQueueCreate();
  ThreadId self = CurrentThreadId();
  std::atomic<ThreadId> otherId{0};
  std::atomic<bool> posted{false};
  std::atomic<int> otherTook{-1};
  std::atomic<bool> otherTookMine{true};
  std::thread other([&] {
    ThreadQueueCreate();
    otherId = CurrentThreadId();
    while (!posted) std::this_thread::yield();
    ThreadMessage m = kPoison;
    otherTook = ThreadQueueTake(&m) ? static_cast<int>(m.id) : 0;
    otherTookMine = ThreadQueueTake(&m);
    ThreadQueueDestroy();
  });
  while (otherId == 0) std::this_thread::yield();
  ASSERT_NE(otherId.load(), self);
  EXPECT_TRUE(ThreadQueuePost(otherId, 3001, 0, 0));
  EXPECT_TRUE(ThreadQueuePost(self, 3002, 0, 0));
  posted = true;
  other.join();
  EXPECT_EQ(otherTook.load(), 3001);
  EXPECT_FALSE(otherTookMine.load());
  ThreadMessage m = kPoison;
  ASSERT_TRUE(ThreadQueueTake(&m));
  EXPECT_EQ(m.id, 3002u);
}

}  // namespace
