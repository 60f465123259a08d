#include "platform/process_shared.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace {

constexpr int32_t kParentMark = 0x5EED;
constexpr int32_t kChildMark = 0x0C41D;

// Runs this program again with only the given test; returns its exit status, or -1.
int RunChild(const char* filter, pid_t* childPid) {
  std::string filterArg = std::string("--gtest_filter=") + filter;
  char alsoDisabled[] = "--gtest_also_run_disabled_tests";
  char self[] = "/proc/self/exe";
  char* argv[] = {self, filterArg.data(), alsoDisabled, nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) return -1;
  *childPid = pid;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class ProcessSharedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ProcessShared* shared = ProcessSharedData();
    shared->stationActive.store(0);
    ProcessSharedRemove();
  }
};

// Run only by ValuesAreSeenByAnotherProcessOfTheSameModule, in the second process.
TEST_F(ProcessSharedTest, DISABLED_SecondProcess) {
  ProcessShared* shared = ProcessSharedData();
  if (shared->stationActive.load() != kParentMark) GTEST_SKIP() << "run by the parent test only";
  shared->stationActive.store(kChildMark);
  shared->threadOwner.store(CurrentProcessId());
  // Keep the segment: the parent removes it.
  exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_F(ProcessSharedTest, ValuesAreSeenByAnotherProcessOfTheSameModule) {
  ProcessShared* shared = ProcessSharedData();
  ASSERT_EQ(shared, ProcessSharedData());
  EXPECT_EQ(std::string(ProcessSharedName()).rfind("/telmar.shared.", 0), 0u);
  int32_t savedOwner = shared->threadOwner.load();
  shared->stationActive.store(kParentMark);
  pid_t child = 0;
  ASSERT_EQ(RunChild("ProcessSharedTest.DISABLED_SecondProcess", &child), 0);
  EXPECT_EQ(shared->stationActive.load(), kChildMark);
  EXPECT_EQ(shared->threadOwner.load(), static_cast<int32_t>(child));
  // That process has ended: its ownership counts for nothing.
  EXPECT_FALSE(ProcessAlive(child));
  shared->threadOwner.store(savedOwner);
}

TEST(ProcessAliveTest, TellsLiveFromDeadAndInvalidIds) {
  EXPECT_EQ(CurrentProcessId(), static_cast<int32_t>(getpid()));
  EXPECT_TRUE(ProcessAlive(CurrentProcessId()));
  EXPECT_TRUE(ProcessAlive(1));  // alive even where we may not signal it
  EXPECT_FALSE(ProcessAlive(0));
  EXPECT_FALSE(ProcessAlive(-1));
}

}  // namespace
