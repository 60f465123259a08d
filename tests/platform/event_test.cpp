#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>

#include "host/kest_host.h"
#include "platform/thread.h"

// The stack the calling thread got, as the system reports it.
#if defined(_WIN32)
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602  // GetCurrentThreadStackLimits
#include <windows.h>

namespace {
constexpr size_t kSystemLeastStack = 64 * 1024;
size_t CurrentStackSize() {
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return high - low;
}
}  // namespace
#else
#include <pthread.h>

namespace {
const size_t kSystemLeastStack = PTHREAD_STACK_MIN;
size_t CurrentStackSize() {
  size_t size = 0;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  return size;
}
}  // namespace
#endif

namespace {

struct EventDeleter {
  void operator()(PlatformEvent* e) const { EventClose(e); }
};
using Event = std::unique_ptr<PlatformEvent, EventDeleter>;

TEST(EventTest, ASetReleasesExactlyOneWaitAndThenResets) {
  Event event(EventCreate());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(EventWait(event.get(), 0), WaitResult::kTimeout);  // created not signalled
  EXPECT_EQ(EventWait(event.get(), 10), WaitResult::kTimeout);
  ASSERT_TRUE(EventSet(event.get()));
  ASSERT_TRUE(EventSet(event.get()));  // sets do not add up
  EXPECT_EQ(EventWait(event.get(), 0), WaitResult::kSignalled);
  EXPECT_EQ(EventWait(event.get(), 0), WaitResult::kTimeout);
  ASSERT_TRUE(EventSet(event.get()));
  EXPECT_EQ(EventWait(event.get(), -1), WaitResult::kSignalled);
}

TEST(EventTest, MissingEventFailsEveryCall) {
  EXPECT_FALSE(EventSet(nullptr));
  EXPECT_EQ(EventWait(nullptr, -1), WaitResult::kFailed);
  EXPECT_NE(LastSystemError(), 0u);
  EventClose(nullptr);
}

struct Waiters {
  PlatformEvent* event;
  std::atomic<int> released{0};
};

void WaitOnce(void* raw) {
  auto* w = static_cast<Waiters*>(raw);
  if (EventWait(w->event, -1) == WaitResult::kSignalled) ++w->released;
}

TEST(EventTest, EachSetWakesOneOfSeveralWaiters) {
  Event event(EventCreate());
  Waiters waiters{event.get()};
  ThreadId a = 0, b = 0;
  ASSERT_TRUE(ThreadCreateDetached(WaitOnce, &waiters, 0, &a));
  ASSERT_TRUE(ThreadCreateDetached(WaitOnce, &waiters, 0, &b));
  ASSERT_TRUE(EventSet(event.get()));
  ASSERT_TRUE(kesthost::WaitFor([&] { return waiters.released.load() == 1; }));
  ASSERT_TRUE(EventSet(event.get()));
  ASSERT_TRUE(kesthost::WaitFor([&] { return waiters.released.load() == 2; }));
  // Neither wait left the signal behind.
  EXPECT_EQ(EventWait(event.get(), 0), WaitResult::kTimeout);
}

struct StackProbe {
  bool deep = false;
  std::atomic<bool> done{false};
  ThreadId seenId = 0;
  size_t stackSize = 0;
  bool used = false;
};

// Uses a good part of the stack, as a worker deep in its work does. Kept out of ProbeStack so
// that a small stack does not have to hold its frame.
__attribute__((noinline)) bool UseStack() {
  volatile char buffer[96 * 1024];
  std::memset(const_cast<char*>(buffer), 1, sizeof(buffer));
  return buffer[sizeof(buffer) - 1] == 1;
}

void ProbeStack(void* raw) {
  auto* probe = static_cast<StackProbe*>(raw);
  probe->seenId = CurrentThreadId();
  probe->stackSize = CurrentStackSize();
  if (probe->deep) probe->used = UseStack();
  probe->done = true;
}

TEST(ThreadTest, ThreadsGetTheStackTheyAskForAndAnIdKnownBeforeTheyRun) {
  struct Case {
    size_t requested;
    size_t atLeast;
    bool deep;
  };
  // A request below the platform minimum still gets the minimum.
  const Case cases[] = {{8192, kSystemLeastStack, false}, {256 * 1024, 256 * 1024, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    StackProbe probe;
    probe.deep = c.deep;
    ThreadId id = 0;
    ASSERT_TRUE(ThreadCreateDetached(ProbeStack, &probe, c.requested, &id));
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(kesthost::WaitFor([&] { return probe.done.load(); }));
    EXPECT_EQ(probe.seenId, id);
    EXPECT_GE(probe.stackSize, c.atLeast);
    EXPECT_EQ(probe.used, c.deep);
  }
  EXPECT_NE(CurrentThreadId(), 0u);
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
}

}  // namespace

namespace {

void SetFlagLate(void* raw) {
  // Long enough that a join that did not wait would see the flag unset.
  volatile unsigned spin = 0;
  for (unsigned i = 0; i < 20000000u; ++i) spin = spin + 1;
  static_cast<std::atomic<bool>*>(raw)->store(true);
}

TEST(ThreadTest, JoinReturnsOnlyOnceTheThreadHasEnded) {
  std::atomic<bool> finished{false};
  ThreadId id = 0;
  ThreadHandle* handle = nullptr;
  ASSERT_TRUE(ThreadCreateJoinable(SetFlagLate, &finished, 0, &id, &handle));
  EXPECT_NE(id, 0u);
  ASSERT_NE(handle, nullptr);
  ThreadJoin(handle);
  EXPECT_TRUE(finished.load());
  ThreadJoin(nullptr);
}

}  // namespace
