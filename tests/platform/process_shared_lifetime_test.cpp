// The shared values last as long as a process that mapped them lives: a process that maps the
// segment after every earlier one has ended starts from zero, as at the first load of a module.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/process_shared.h"

namespace {

// Runs fn in a child process (which maps the segment itself) and returns its exit code.
template <typename Fn>
int InChild(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// This program's parent never maps the segment, so each child decides on its own.
TEST(ProcessSharedLifetime, ValuesOfEndedProcessesAreDroppedAndLiveOnesKept) {
  // A first process leaves the station active and a worker claim behind, then ends.
  ASSERT_EQ(InChild([] {
              ProcessShared* s = ProcessSharedData();
              s->stationActive = 1;
              s->threadRunning = 2;
              s->threadOwner = static_cast<int32_t>(getpid());
              return 0;
            }),
            0);
  // The next process starts from zero values.
  EXPECT_EQ(InChild([] {
              ProcessShared* s = ProcessSharedData();
              return s->stationActive.load() * 100 + s->threadRunning.load() * 10 +
                     (s->threadOwner.load() != 0);
            }),
            0);
  // While a process that mapped the segment lives, another one sees its values.
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t holder = fork();
  if (holder == 0) {
    ProcessSharedData()->stationActive = 1;
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(InChild([] { return ProcessSharedData()->stationActive.load(); }), 1);
  (void)!write(done[1], &c, 1);
  waitpid(holder, nullptr, 0);
  InChild([] {
    ProcessSharedRemove();
    return 0;
  });
}

}  // namespace
