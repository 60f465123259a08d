// Cross-process locks wait only as long as they are told: a holder that never gives its lock up
// (a process stopped while it holds one) must not stall the waiter for ever.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "platform/file_lock.h"
#include "platform/named_lock.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"
#include "tests/support/temp_dir.h"

namespace {

// Two openings exclude each other as two processes do: the second gives up at its limit, and
// gets the lock once the first has let it go. The holder is another thread: a Win32 mutex lets
// the thread that owns it in again.
TEST(LockLimit, ASecondOpeningGivesUpAtItsLimitAndGetsTheLockOnceFree) {
  const std::string name = PrivateObjectName("lock_test.lock");
  NamedLock* first = NamedLockOpen(name.c_str());
  NamedLock* second = NamedLockOpen(name.c_str());
  ASSERT_TRUE(first && second);
  std::promise<void> held, release;
  std::thread holder([&] {
    NamedLockAcquire(first, -1);
    held.set_value();
    release.get_future().wait();
    NamedLockRelease(first);
  });
  held.get_future().wait();
  EXPECT_FALSE(NamedLockAcquire(second, 0));
  EXPECT_FALSE(NamedLockAcquire(second, 30));
  EXPECT_NE(LastSystemError(), 0u);
  release.set_value();
  holder.join();
  EXPECT_TRUE(NamedLockAcquire(second, 30));
  NamedLockClose(second);
  NamedLockClose(first);

  ScopedTempDir dir;
  dir.WriteFile("locked.int", "[Macros]\n");
  const std::string path = dir.path() + "/locked.int";
  std::FILE* a = std::fopen(path.c_str(), "rb+");
  std::FILE* b = std::fopen(path.c_str(), "rb+");
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(FileLock(a, -1));
  EXPECT_FALSE(FileLock(b, 0));
  EXPECT_FALSE(FileLock(b, 30));
  EXPECT_NE(LastSystemError(), 0u);
  FileUnlock(a);
  EXPECT_TRUE(FileLock(b, 30));
  std::fclose(b);
  std::fclose(a);
}

}  // namespace
