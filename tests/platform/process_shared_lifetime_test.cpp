// The shared values last as long as a process that mapped them lives: a process that maps the
// segment after every earlier one has ended starts from zero, as at the first load of a module.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/named_lock.h"
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

bool NameExists() {
  int fd = shm_open(ProcessSharedName(), O_RDONLY, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// No segment outlives the processes that used it: the last one to end removes its name.
TEST(ProcessSharedLifetime, TheLastProcessToEndRemovesTheName) {
  ProcessSharedRemove();
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t holder = fork();
  if (holder == 0) {
    ProcessSharedData();
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    std::exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(InChild([] {
              ProcessSharedData();
              std::exit(0);  // ends as a process does, while the holder still uses the segment
              return 0;
            }),
            0);
  EXPECT_TRUE(NameExists());
  (void)!write(done[1], &c, 1);
  waitpid(holder, nullptr, 0);
  EXPECT_FALSE(NameExists());
  ProcessSharedRemove();
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

// Two processes map the segment for the first time together. The first has found nobody alive
// and is about to reset the values when the second maps it, attaches and claims the worker slot:
// the reset must not wipe that claim, and exactly one of them holds the slot.
int pipes[4][2];  // to the parent from B and A, from the parent to B and A
constexpr int kFromB = 0, kFromA = 1, kToB = 2, kToA = 3;

void Say(int pipe, char c) {
  (void)!write(pipes[pipe][1], &c, 1);
}
char Hear(int pipe) {
  char c = 0;
  return read(pipes[pipe][0], &c, 1) == 1 ? c : '?';
}

// Maps the segment, claims the worker slot, reports Y or N, and lives until told to end.
[[noreturn]] void ClaimAndStay(int from, int to) {
  int32_t none = 0;
  bool claimed = ProcessSharedData()->threadRunning.compare_exchange_strong(none, 2);
  Say(from, claimed ? 'Y' : 'N');
  Hear(to);
  _exit(0);
}

TEST(ProcessSharedLifetime, TwoProcessesAttachingTogetherNeverBothHoldTheWorkerSlot) {
  for (auto& p : pipes) ASSERT_EQ(pipe(p), 0);
  ProcessSharedRemove();
  pid_t b = fork();
  if (b == 0) {
    ProcessSharedSetAttachHook([](const char* step) {
      if (std::string(step) != "attach:scanned") return;
      Say(kFromB, 'S');  // nobody alive: about to reset
      Hear(kToB);
    });
    ClaimAndStay(kFromB, kToB);
  }
  ASSERT_EQ(Hear(kFromB), 'S');
  pid_t a = fork();
  if (a == 0) {
    ProcessSharedSetAttachHook([](const char* step) {
      if (std::string(step) == "attach:waiting") Say(kFromA, 'W');
    });
    ClaimAndStay(kFromA, kToA);
  }
  // A either waits for B's attach, or (unsound) attaches and claims at once.
  char first = Hear(kFromA);
  Say(kToB, 'G');
  std::string claims{Hear(kFromB), first == 'W' ? Hear(kFromA) : first};
  EXPECT_EQ(first, 'W');
  EXPECT_TRUE(claims == "YN" || claims == "NY") << claims;
  Say(kToA, 'E');
  Say(kToB, 'E');
  waitpid(a, nullptr, 0);
  waitpid(b, nullptr, 0);
  ProcessSharedRemove();
  for (auto& p : pipes) close(p[0]), close(p[1]);
}

// The segment and the named locks are the owner's alone: another local user could otherwise
// hold the worker slot, block ColdStart or switch monitoring.
TEST(ProcessSharedLifetime, SharedObjectsAreCreatedForTheirOwnerOnly) {
  ProcessSharedRemove();
  EXPECT_EQ(InChild([] {
              ProcessSharedData();
              NamedLockClose(NamedLockOpen("/telmar.test.lock"));
              int modes = 0;
              for (const char* name : {ProcessSharedName(), "/telmar.test.lock"}) {
                struct stat st {};
                int fd = shm_open(name, O_RDONLY, 0);
                if (fd < 0 || fstat(fd, &st) != 0) return 99;
                close(fd);
                modes |= static_cast<int>(st.st_mode & 0777);
              }
              shm_unlink("/telmar.test.lock");
              // 0: read and write for the owner, nothing for anyone else.
              return (modes & 077) + ((modes & 0700) == 0600 ? 0 : 100);
            }),
            0);
  ProcessSharedRemove();
}

}  // namespace
